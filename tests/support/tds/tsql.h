#pragma once

#include <QString>
#include <QStringList>

namespace vestrel::test {

// What the stand-in understood of a BACKUP DATABASE statement, read with T-SQL's rules:
// [identifiers] with "]]" for "]", N'literals' with "''" for "'", -- and /* */ comments.
struct BackupStatement {
    QString database;
    QStringList disks;
    int stats = 0;
};

// True when `text` is a BACKUP statement (it starts with the keyword BACKUP).
bool IsBackup(const QString& text);
// Parses a BACKUP DATABASE ... TO DISK = ... [, DISK = ...] [WITH STATS = n] statement.
// On failure returns false and sets `near` to the text where parsing stopped.
bool ParseBackup(const QString& text, BackupStatement* out, QString* near);

} // namespace vestrel::test
