#pragma once

namespace vestrel {

// The private-profile (INI) functions of the Windows API, for every platform, with the same
// arguments and results. Texts are 8-bit text in the system's code page; the file name too.
//
// An INI file is a text of "[section]" lines, each followed by "key=value" lines. Names compare
// without regard to letter case (ASCII and Latin-1 letters); blanks and tabs around names and
// values are not part of them. Lines read may end in CR LF or LF and a UTF-8 byte order mark
// at the start is skipped (and kept on rewrite); comment lines (";"), blank lines and any other
// line that is neither a section nor a key are kept as they are when the file is rewritten.
// Lines before the first section belong to no section. When a section appears more than once,
// the first one is the one read and written. Every call reads the file from disk: nothing is
// cached.

// With a key: copies the key's value, or def when the file, the section or the key is missing,
// into buffer. With a null key: the names of the section's keys, each followed by a NUL, plus a
// final NUL. With a null section and key: the names of the file's sections likewise. When the
// section (or, for the section list, the file) is missing, the lists also fall back to def.
// A null def counts as the empty text. Returns the number of characters copied, not counting
// the final NUL. A value longer than size - 1 is cut to size - 1 characters; a list longer than
// the buffer is cut to size - 2 characters and ended by two NULs.
unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                  char* buffer, unsigned size, const char* file);

// Writes value under key in section, creating the file, the section (at the end of the file)
// and the key (after the last key of its section) when they are absent; a key that exists keeps
// its place. A null value removes the key (every line of it in the section); a null key removes
// the whole section with its lines (every section of that name).
// The file is written with CR LF line ends through a temporary file in the same folder that then
// replaces it, so a failed write leaves the old file as it was; the file is readable and
// writable by its owner only (it holds a password). Returns non-zero on success and 0 on
// failure: a null section or file name, a text holding CR or LF (it would break the line
// structure), a section name holding "]", a key name holding "=", or a failed write.
int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file);

} // namespace vestrel
