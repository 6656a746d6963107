#pragma once

#include <QByteArray>
#include <QString>

namespace vestrel {

// Texts written to files are 8-bit text in the system's code page (the ANSI code page on
// Windows, the locale's character set elsewhere).
QByteArray ToSystemCodePage(const QString& text);
QString FromSystemCodePage(const QByteArray& bytes);
// The bytes are a valid text in the system's code page (they convert without a loss).
bool IsSystemCodePageText(const QByteArray& bytes);

// Opens the file for appending (creating it when missing), writes the bytes and closes it.
// Returns false, with the reason in *error, when the file cannot be opened or written.
[[nodiscard]] bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error);

// Why a file could not be written.
enum class FileWriteError {
    None,
    AccessDenied, // the file, or its folder where the file is new, may not be written
    NoFolder,     // the folder does not exist
    NotAFile,     // the path names a folder or something else that is no plain file
    DiskFull,     // no room left on the disk
    Other         // any other failure; the system's text says more
};

// Replaces the whole content of a file that holds a password: readable and writable by its
// owner only. The new content goes to a temporary file in the same folder that then replaces
// the file in one step, so a failure leaves the old file as it was. Where the folder allows
// no new file but the file itself may be written (a config.ini made writable for the user in
// a folder that is not), the file is rewritten in place and flushed to the disk; a failure
// there puts the old content back as far as it can. Returns false with the reason in *why
// and the system's text in *detail.
[[nodiscard]] bool ReplaceFileContents(const QString& path, const QByteArray& bytes,
                                       FileWriteError* why, QString* detail);

} // namespace vestrel
