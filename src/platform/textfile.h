#pragma once

#include <QByteArray>
#include <QString>

namespace vestrel {

// Texts written to files are 8-bit text in the system's code page (the ANSI code page on
// Windows, the locale's character set elsewhere).
QByteArray ToSystemCodePage(const QString& text);
QString FromSystemCodePage(const QByteArray& bytes);

// Opens the file for appending (creating it when missing), writes the bytes and closes it.
// Returns false, with the reason in *error, when the file cannot be opened or written.
[[nodiscard]] bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error);

} // namespace vestrel
