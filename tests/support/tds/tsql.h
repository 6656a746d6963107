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
    QStringList options;   // the WITH options as written, upper-cased ("STATS", "CHECKSUM", ...)
    bool checksum = false; // CHECKSUM (the last of CHECKSUM / NO_CHECKSUM counts)
    bool init = false;     // INIT, or FORMAT, which implies it
    bool format = false;   // FORMAT
};

// RESTORE VERIFYONLY FROM DISK = ... [WITH ...].
struct VerifyStatement {
    QStringList disks;
    int file = 1;            // FILE = n; the first backup set when not given
    bool checksum = false;   // CHECKSUM
    bool noChecksum = false; // NO_CHECKSUM
    QStringList options;
};

// RESTORE HEADERONLY FROM DISK = ... [WITH ...].
struct HeaderOnlyStatement {
    QStringList disks;
    int file = 0; // FILE = n; every backup set on the media when not given
    QStringList options;
};

// Why a statement was refused: SQL Server's parse errors.
struct ParseError {
    int number = 102; // 102 "Incorrect syntax near ...", 155 "... is not a recognized ... option."
    QString text;
};

// True when `text` is a BACKUP statement (it starts with the keyword BACKUP).
bool IsBackup(const QString& text);
// True when `text` is a RESTORE VERIFYONLY statement.
bool IsVerifyOnly(const QString& text);
// True when `text` is a RESTORE HEADERONLY statement.
bool IsHeaderOnly(const QString& text);
// Parses BACKUP DATABASE ... TO DISK = ... [, DISK = ...] [WITH option [, ...]].
// On failure returns false and sets `near` to the text where parsing stopped.
bool ParseBackup(const QString& text, BackupStatement* out, QString* near);
bool ParseBackup(const QString& text, BackupStatement* out, ParseError* error);
// Parses RESTORE VERIFYONLY FROM DISK = ... [, DISK = ...] [WITH option [, ...]].
bool ParseVerifyOnly(const QString& text, VerifyStatement* out, ParseError* error);
// Parses RESTORE HEADERONLY FROM DISK = ... [, DISK = ...] [WITH option [, ...]].
bool ParseHeaderOnly(const QString& text, HeaderOnlyStatement* out, ParseError* error);
// True when `text` is a RESTORE LABELONLY statement.
bool IsLabelOnly(const QString& text);
// Parses RESTORE LABELONLY FROM DISK = ... [WITH option [, ...]].
bool ParseLabelOnly(const QString& text, VerifyStatement* out, ParseError* error);

} // namespace vestrel::test
