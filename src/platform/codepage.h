#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace vestrel {

// The encodings an INI file may have: what the Windows edition writes (the ANSI code page,
// Windows-1252 on the Western systems, or Unicode, UTF-16 with a byte order mark) and what
// this platform writes (UTF-8).
enum class TextEncoding { Utf8, Windows1252, Utf16LE, Utf16BE };

// The encoding of the system code page: UTF-8 here, Windows-1252 where the system's 8-bit
// code page is not UTF-8.
TextEncoding SystemEncoding();

// Decoded file content: the byte order mark it started with (kept as it was on rewrite), the
// encoding of the rest and the text.
struct DecodedText {
    QByteArray bom;
    TextEncoding encoding = TextEncoding::Utf8;
    QString text;
};

// A byte order mark of UTF-16 (either order) selects UTF-16. Otherwise the bytes, after a
// UTF-8 byte order mark if there is one, are UTF-8 when they are valid UTF-8, else
// Windows-1252. Text in ASCII alone takes the system code page.
DecodedText DecodeText(const QByteArray& bytes);

// The text in the encoding, or nothing when a character cannot be written in it.
std::optional<QByteArray> EncodeText(const QString& text, TextEncoding encoding);

// Windows-1252 in both directions. Every byte has a character: the five bytes the code page
// leaves undefined stand for the control characters of the same number, as Windows maps them,
// so any file reads and writes back byte for byte.
QString FromWindows1252(const QByteArray& bytes);
std::optional<QByteArray> ToWindows1252(const QString& text);

// The bytes are valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const QByteArray& bytes);

} // namespace vestrel
