#pragma once

#include "settings/cinifile.h"

#include <QList>
#include <QString>
#include <array>

namespace vestrel {

// The connection and file settings, as config.ini holds them.
struct SettingsRecord {
    QString sDataSource;              // "Data Source"
    QString sInitialCatalog;          // "Initial Catalog"
    QString sUserID;                  // "User ID"
    QString sPassword;                // "Password", plain text
    bool bIntegratedSecurity = false; // "Integrated Security"
    QString sBackupFile;              // "FileName"
    // "COPIE": how many verified backups to keep, as the file has it (the job reads it with
    // CopiesToKeep). One unless the file says otherwise.
    QString sCopies = QStringLiteral("1");
};

// Entry i is true when hour i of the day (i:00 to i:59) is an activity hour.
using HourFlags = std::array<bool, 24>;

// The hour flags as stored under "ARRAY_TEMPO": "1|" or "0|" for each hour 0..23, 48
// characters.
QString EncodeHourFlags(const HourFlags& flags);

// Reads the stored form back. The text is split at every "|", empty pieces included; piece k
// sets hour k, and only a piece that is exactly "0" turns the hour off. Hours without a piece
// keep their value, pieces from the 25th on are ignored and an empty text changes nothing.
void DecodeHourFlags(const QString& text, HourFlags& flags);

// The text of "Integrated Security" as a Boolean: a number is false when it is 0 and true
// otherwise (blanks around it allowed, also &H hexadecimal and &O octal); True and False in
// any letter case give their value. Anything else, the empty text included, throws
// Error("Tipo non corrispondente").
bool TextToBoolean(const QString& text);

// One setting of config.ini: where the file keeps it, where it lives in memory, how its text
// converts, and the window's control that shows and edits it. A new setting is a member of
// the record, a row of the table and, when the window shows it, its control. A setting
// without a control lives in config.ini alone: read at start, never written by "&Salva", so
// the file keeps what the user wrote there.
struct SettingEntry {
    enum class Kind {
        Text,     // the text as it stands
        Boolean,  // read with TextToBoolean; written as the check box state digit "0" or "1"
        HourFlags // the hour flags (not in the record), coded as EncodeHourFlags says
    };
    QString section;
    QString key;
    Kind kind = Kind::Text;
    QString SettingsRecord::*text = nullptr; // Text
    bool SettingsRecord::*flag = nullptr;    // Boolean
    QString defaultText;                     // what a missing key reads as
    QString control;                         // the control's name in the main window, or none
    int loadStep = 0; // LoadSettings reads in this order; a failed conversion ends it there

    bool InWindow() const { return !control.isEmpty(); }
};

// Every setting, in the order "&Salva" writes those the window shows.
const QList<SettingEntry>& SettingsTable();

// The longest value config.ini gives back whole: the value is read into 255 bytes of the
// file's code page, its terminating NUL included.
inline constexpr int kMaxSettingBytes = 254;
// Why `text` cannot be kept as `entry`'s value in config.ini (it would be read back cut),
// empty when it can.
QString TooLongToKeep(const SettingEntry& entry, const QString& text);
// Throws Error when the backup file name could not be kept in config.ini whole: the run
// refuses a name the next start would read back as another file's.
void CheckBackupFileName(const QString& file);

// Puts a stored text into the record or the hour flags. Throws Error for a Boolean that is
// no Boolean.
void ApplyStoredText(const SettingEntry& entry, const QString& text, SettingsRecord& settings,
                     HourFlags& flags);

// Fills the record and the hour flags from the file, key by key, each value whole (however
// long: a value too long to keep is refused where it is used, never cut). A missing file or
// key gives the default. An "Integrated Security" text that is no Boolean throws and ends the load
// there: the four values read before it are set, the file name and the hour flags are left alone.
void LoadSettings(CIniFile& ini, SettingsRecord& settings, HourFlags& flags);

// The program's settings for the whole run: the one INI object over config.ini, the settings
// record and the hour flags.
extern CIniFile oIni;
extern SettingsRecord Settings;
extern HourFlags ArrayTempo;

} // namespace vestrel
