#pragma once

#include <QString>

namespace vestrel {

// The private-profile (INI) functions of the Windows API, for every platform, with the same
// arguments and results. Texts are 8-bit text in the system's code page; the file name too.
//
// An INI file is a text of "[section]" lines, each followed by "key=value" lines. Names compare
// without regard to letter case; blanks around names and values are not part of them (blank,
// tab, and CR, VT and FF as Windows trims them), and one pair of matching quotes ('x' or "x")
// around a value is not part of it either. Lines end with CR LF, LF or a CR alone. Comment
// lines (";"), blank lines and any other line that is neither a section nor a key are kept as
// they are when the file is rewritten. Lines before the first section belong to no section.
// When a section appears more than once, the first one is the one read and written. Every call
// reads the file from disk: nothing is cached.
//
// The file's encoding: UTF-16 (either byte order) when it starts with that byte order mark;
// otherwise UTF-8 when its bytes are valid UTF-8 (a UTF-8 byte order mark or not), else
// Windows-1252, the ANSI code page of the Windows edition's users. A file is written back in
// the encoding it has, its byte order mark kept; a new file, or one in ASCII alone, takes the
// system code page (UTF-8 here). Texts pass to and from the caller in the system code page.

// With a key: copies the key's value, or def when the file, the section or the key is missing,
// into buffer. With a null key: the names of the section's keys, each followed by a NUL, plus a
// final NUL. With a null section and key: the names of the file's sections likewise. When the
// section (or, for the section list, the file) is missing, the lists also fall back to def.
// A null def counts as the empty text; def's trailing blanks are not copied. Returns the number of
// bytes copied, not counting the final NUL. A value longer than size - 1 bytes is cut to size - 1
// bytes (less where that would split a character); a list longer than the buffer is cut to size - 2
// bytes and ended by two NULs.
unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                  char* buffer, unsigned size, const char* file);

// Writes value under key in section, creating the file, the section (at the end of the file)
// and the key (after the last key of its section) when they are absent; a key that exists keeps
// its place. A null value removes the key (every line of it in the section); a null key removes
// the whole section with its lines (every section of that name). A value that stands between
// matching quotes is written inside one more pair of double quotes, so that it reads back
// whole (also through Windows' own functions).
// The file is written with CR LF line ends through a temporary file in the same folder that then
// replaces it, so a failed write leaves the old file as it was; where the folder allows no new
// file but the file may be written, the file is rewritten in place and flushed. The file is
// readable and writable by its owner only (it holds a password). Returns non-zero on success
// and 0 on failure, with the reason in PrivateProfileLastError(): a null section or file name,
// a text holding CR or LF (it would break the line structure), a section name holding "]", a
// key name holding "=", a text that is not valid in the system code page, a character the
// file's encoding cannot hold, a file that is there but cannot be read, or a failed write.
int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file);

// Why the last WritePrivateProfileStringA of this thread returned 0 (GetLastError's role).
enum class ProfileError {
    None,
    InvalidName,  // no section or file name, "]" in a section name, "=" in a key name
    LineBreak,    // CR or LF in a name or the value
    InvalidText,  // a text that is not valid in the system code page
    Unencodable,  // a character that the file's encoding cannot hold
    Unreadable,   // the file is there but cannot be read
    AccessDenied, // the file, or its folder for a new file, may not be written
    NoFolder,     // the file's folder does not exist
    NotAFile,     // the path names a folder
    DiskFull,     // no room left on the disk
    WriteFailed   // any other failed write
};
ProfileError PrivateProfileLastError();
// The system's own text about a failed write, where it gave one.
QString PrivateProfileLastErrorDetail();

} // namespace vestrel
