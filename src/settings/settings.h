#pragma once

#include "settings/cinifile.h"

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

// Fills the record and the hour flags from the file, key by key. A missing file or key gives the
// default. An "Integrated Security" text that is no Boolean throws and ends the load there: the
// four values read before it are set, the file name and the hour flags are left alone.
void LoadSettings(CIniFile& ini, SettingsRecord& settings, HourFlags& flags);

} // namespace vestrel
