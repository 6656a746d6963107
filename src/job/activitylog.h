#pragma once

#include <QDateTime>
#include <QString>

namespace vestrel {

// The activity log: Command.log in the program's log folder. Appends one line, the time stamp,
// " > " and the text, ended by CR LF; the file is opened, appended to and closed for every
// line and never read. Returns false, with the reason in *error, when the line could not be
// written; nothing is written then.
[[nodiscard]] bool WriteLog(const QString& text, QString* error = nullptr);

// The log file's path.
QString LogFilePath();

// The rule line that frames the log's blocks.
QString LogRule();

// prefix + the date text + " alle ore " + the time text: the log's "Inizio Backup in data …" and
// its kin.
QString StampText(const QString& prefix, const QDateTime& when);

// "C:\Backup_" + the date text without "/" + "_" + the time text without ".": the file a job
// writes when no file name is set.
QString DefaultBackupFileName(const QDateTime& when);

} // namespace vestrel
