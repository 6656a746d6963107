#pragma once

#include <QString>
#include <cstddef>

namespace vestrel {

// Fills a fixed 8-bit text field of a notification record (the tip: 64 bytes in the short
// record, 128 in the full one; the balloon text 256, its title 64) with the text in the
// system code page: the ANSI code page on Windows, where a character the code page lacks
// becomes '?'; UTF-8 elsewhere, where a character takes one to four bytes, so a 64-byte field
// holds as few as 16 characters. Then one NUL, then spaces to the field's width.
//
// A text that does not fit is cut at whole characters: the last character that does not fit
// entirely is left out with everything after it, never split into bytes, and a letter keeps
// its combining accents (what the eye sees as one character goes or stays whole). A text that
// fills the field exactly has no NUL; the shell then reads the field to its end.
void SetAnsiField(char* field, std::size_t width, const QString& text);

} // namespace vestrel
