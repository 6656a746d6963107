#pragma once

#include "settings/cinifile.h"
#include "settings/settings.h"

#include <QString>

namespace vestrel {

// The activity log: Command.log in the program folder. Appends one line, the time stamp,
// " > " and the text, ended by CR LF; the file is opened, appended to and closed for every
// line and never read. Returns false, with the reason in *error, when the line could not be
// written; nothing is written then.
[[nodiscard]] bool WriteLog(const QString& text, QString* error = nullptr);

// The log file's path.
QString LogFilePath();

// Settings: the one INI object over config.ini, the settings record and the hour flags.
extern CIniFile oIni;
extern SettingsRecord Settings;
extern HourFlags ArrayTempo;

// Fills Settings and ArrayTempo from oIni; throws Error when "Integrated Security" is no Boolean.
void LoadSettings();

} // namespace vestrel
