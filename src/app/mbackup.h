#pragma once

#include <QString>

namespace vestrel {

// The activity log: Command.log in the program folder. Appends one line, the time stamp,
// " > " and the text, ended by CR LF; the file is opened, appended to and closed for every
// line and never read. Returns false, with the reason in *error, when the line could not be
// written; nothing is written then.
[[nodiscard]] bool WriteLog(const QString& text, QString* error = nullptr);

// The log file's path.
QString LogFilePath();

} // namespace vestrel
