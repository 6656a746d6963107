#include "platform/privateprofile.h"

#include "platform/codepage.h"
#include "platform/textfile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <cstring>
#include <optional>

namespace vestrel {

namespace {

thread_local ProfileError lastError = ProfileError::None;
thread_local QString lastErrorDetail;

void SetLastError(ProfileError error, const QString& detail = QString()) {
    lastError = error;
    lastErrorDetail = detail;
}

int Refuse(ProfileError error, const QString& detail = QString()) {
    SetLastError(error, detail);
    return 0;
}

int Succeed() {
    SetLastError(ProfileError::None);
    return 1;
}

// Blanks around names and values: blank and tab, and the other spacing controls Windows
// trims with them (CR, VT, FF).
bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

QString TrimBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

bool IsQuoted(QStringView text) {
    return text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
           text.back() == text.front();
}

// A value as it is read: one pair of matching quotes around it is not part of it.
QString Unquoted(const QString& value) {
    return IsQuoted(value) ? value.sliced(1, value.size() - 2) : value;
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Line {
    enum class Kind { Other, Section, Key };
    Kind kind = Kind::Other;
    QString text;  // the line as read, without its line end
    QString name;  // section or key name, trimmed
    QString value; // key value, trimmed, quotes still on
};

Line ParseLine(const QString& text) {
    Line line;
    line.text = text;
    const QString trimmed = TrimBlanks(text);
    if (trimmed.startsWith(u'[')) {
        line.kind = Line::Kind::Section;
        const qsizetype close = trimmed.indexOf(u']');
        line.name =
            TrimBlanks(QStringView(trimmed).sliced(1, (close < 0 ? trimmed.size() : close) - 1));
        return line;
    }
    if (trimmed.startsWith(u';'))
        return line;
    const qsizetype eq = trimmed.indexOf(u'=');
    if (eq >= 0) {
        line.kind = Line::Kind::Key;
        line.name = TrimBlanks(QStringView(trimmed).first(eq));
        line.value = TrimBlanks(QStringView(trimmed).sliced(eq + 1));
    }
    return line;
}

// The file as lines, with the encoding and the byte order mark it came with.
struct Profile {
    QByteArray bom;
    TextEncoding encoding = SystemEncoding();
    QList<Line> lines;

    // Index of the first header of the section, or -1.
    qsizetype findSection(const QString& name) const {
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].kind == Line::Kind::Section && SameName(lines[i].name, name))
                return i;
        return -1;
    }
    // One past the last line that belongs to the section whose header is at index header.
    qsizetype sectionEnd(qsizetype header) const {
        qsizetype i = header + 1;
        while (i < lines.size() && lines[i].kind != Line::Kind::Section)
            ++i;
        return i;
    }
    qsizetype findKey(qsizetype header, const QString& name) const {
        const qsizetype end = sectionEnd(header);
        for (qsizetype i = header + 1; i < end; ++i)
            if (lines[i].kind == Line::Kind::Key && SameName(lines[i].name, name))
                return i;
        return -1;
    }
};

QString FilePath(const char* file) {
    return FromSystemCodePage(QByteArray(file));
}

QString Text(const char* text) {
    return text ? FromSystemCodePage(QByteArray(text)) : QString();
}

std::optional<Profile> ReadProfile(const char* file) {
    if (!file || !*file)
        return std::nullopt;
    QFile in(FilePath(file));
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    DecodedText decoded = DecodeText(in.readAll());
    Profile profile;
    profile.bom = decoded.bom;
    profile.encoding = decoded.encoding;
    // A line ends with CR LF, LF, or a CR alone.
    const QString& text = decoded.text;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\n' && text[i] != u'\r')
            continue;
        profile.lines.append(ParseLine(text.sliced(start, i - start)));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    // Text after the last line end is a line of its own; a final line end leaves none.
    if (start < text.size())
        profile.lines.append(ParseLine(text.sliced(start)));
    return profile;
}

// Writes the profile in its own encoding, with CR LF line ends.
int WriteProfile(const Profile& profile, const char* file) {
    QString text;
    for (const Line& line : profile.lines) {
        text += line.text;
        text += u"\r\n";
    }
    const std::optional<QByteArray> encoded = EncodeText(text, profile.encoding);
    if (!encoded)
        return Refuse(ProfileError::Unencodable);
    FileWriteError why = FileWriteError::None;
    QString detail;
    if (!ReplaceFileContents(FilePath(file), profile.bom + *encoded, &why, &detail)) {
        switch (why) {
        case FileWriteError::AccessDenied:
            return Refuse(ProfileError::AccessDenied, detail);
        case FileWriteError::NoFolder:
            return Refuse(ProfileError::NoFolder, detail);
        case FileWriteError::NotAFile:
            return Refuse(ProfileError::NotAFile, detail);
        case FileWriteError::DiskFull:
            return Refuse(ProfileError::DiskFull, detail);
        case FileWriteError::None:
        case FileWriteError::Other:
            break;
        }
        return Refuse(ProfileError::WriteFailed, detail);
    }
    return Succeed();
}

// Where the system code page is UTF-8, a text cut to n bytes must not end inside a character.
qsizetype CharacterBoundary(const QByteArray& bytes, qsizetype n) {
    if (SystemEncoding() != TextEncoding::Utf8)
        return n;
    while (n > 0 && n < bytes.size() && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// Copies one text and its NUL, cut to size - 1 bytes.
unsigned CopyBytes(const QByteArray& text, char* buffer, unsigned size) {
    if (!buffer || size == 0)
        return 0;
    const unsigned n = static_cast<unsigned>(CharacterBoundary(
        text, std::min<qsizetype>(text.size(), static_cast<qsizetype>(size) - 1)));
    std::memcpy(buffer, text.constData(), n);
    buffer[n] = '\0';
    return n;
}

unsigned CopyValue(const QString& value, char* buffer, unsigned size) {
    return CopyBytes(ToSystemCodePage(value), buffer, size);
}

// Copies names, each followed by a NUL, plus a final NUL; a list that does not fit is cut to
// size - 2 bytes and ended by two NULs.
unsigned CopyList(const QList<QString>& names, char* buffer, unsigned size) {
    if (!buffer || size == 0)
        return 0;
    QByteArray list;
    for (const QString& name : names) {
        list += ToSystemCodePage(name);
        list += '\0';
    }
    if (static_cast<qsizetype>(size) > list.size()) {
        std::memcpy(buffer, list.constData(), static_cast<size_t>(list.size()));
        buffer[list.size()] = '\0';
        return static_cast<unsigned>(list.size());
    }
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    const auto n = static_cast<unsigned>(CharacterBoundary(list, size - 2));
    std::memcpy(buffer, list.constData(), n);
    buffer[n] = '\0';
    buffer[n + 1] = '\0';
    return n;
}

bool HasLineBreak(const char* text) {
    return text && (std::strchr(text, '\r') || std::strchr(text, '\n'));
}

bool IsValidText(const char* text) {
    return !text || IsSystemCodePageText(QByteArray(text));
}

} // namespace

ProfileError PrivateProfileLastError() {
    return lastError;
}

QString PrivateProfileLastErrorDetail() {
    return lastErrorDetail;
}

unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                  char* buffer, unsigned size, const char* file) {
    // The default goes back as the caller gave it, less its trailing blanks (as Windows does).
    QByteArray fallback = def ? QByteArray(def) : QByteArray();
    while (!fallback.isEmpty() && IsBlank(QLatin1Char(fallback.back())))
        fallback.chop(1);
    const std::optional<Profile> profile = ReadProfile(file);
    if (!profile)
        return CopyBytes(fallback, buffer, size);
    if (!section) {
        QList<QString> names;
        for (const Line& line : profile->lines)
            if (line.kind == Line::Kind::Section)
                names.append(line.name);
        return CopyList(names, buffer, size);
    }
    const qsizetype header = profile->findSection(TrimBlanks(Text(section)));
    if (header < 0)
        return CopyBytes(fallback, buffer, size);
    if (!key) {
        QList<QString> names;
        const qsizetype end = profile->sectionEnd(header);
        for (qsizetype i = header + 1; i < end; ++i)
            if (profile->lines[i].kind == Line::Kind::Key)
                names.append(profile->lines[i].name);
        return CopyList(names, buffer, size);
    }
    const qsizetype at = profile->findKey(header, TrimBlanks(Text(key)));
    return at < 0 ? CopyBytes(fallback, buffer, size)
                  : CopyValue(Unquoted(profile->lines[at].value), buffer, size);
}

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file) {
    if (!section || !file || !*file)
        return Refuse(ProfileError::InvalidName);
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        return Refuse(ProfileError::LineBreak);
    if (!IsValidText(section) || !IsValidText(key) || !IsValidText(value) || !IsValidText(file))
        return Refuse(ProfileError::InvalidText);
    const QString sectionName = TrimBlanks(Text(section));
    if (sectionName.contains(u']'))
        return Refuse(ProfileError::InvalidName);
    const QString keyName = key ? TrimBlanks(Text(key)) : QString();
    if (key && (keyName.contains(u'=') || keyName.startsWith(u'[') || keyName.startsWith(u';')))
        return Refuse(ProfileError::InvalidName);

    std::optional<Profile> existing = ReadProfile(file);
    // A file that is there but cannot be read is never replaced by one that holds only this
    // key: that would lose every other setting.
    if (!existing && QFileInfo::exists(FilePath(file)))
        return Refuse(ProfileError::Unreadable);
    Profile profile = existing.value_or(Profile{});
    const qsizetype header = profile.findSection(sectionName);

    if (!key) {
        if (header < 0)
            return Succeed(); // nothing to remove
        // Every section of that name goes, or a later one would take its place.
        for (qsizetype at = header; at >= 0; at = profile.findSection(sectionName))
            profile.lines.remove(at, profile.sectionEnd(at) - at);
        return WriteProfile(profile, file);
    }
    if (!value) {
        qsizetype at = header < 0 ? -1 : profile.findKey(header, keyName);
        if (at < 0)
            return Succeed();
        // A key written twice by hand is removed with all its lines.
        for (; at >= 0; at = profile.findKey(header, keyName))
            profile.lines.remove(at);
        return WriteProfile(profile, file);
    }

    // A value that stands between matching quotes would lose them on reading: one more pair
    // keeps it whole, here and for Windows' own functions.
    QString text = Text(value);
    if (IsQuoted(TrimBlanks(text)))
        text = u'"' + text + u'"';
    const Line entry = ParseLine(keyName + u'=' + text);
    if (header < 0) {
        profile.lines.append(ParseLine(u'[' + sectionName + u']'));
        profile.lines.append(entry);
    } else if (const qsizetype at = profile.findKey(header, keyName); at >= 0) {
        profile.lines[at] = entry;
    } else {
        // After the section's last line that is not blank, so that blank lines that part it
        // from the next section stay where they are.
        qsizetype insertAt = profile.sectionEnd(header);
        while (insertAt > header + 1 && TrimBlanks(profile.lines[insertAt - 1].text).isEmpty())
            --insertAt;
        profile.lines.insert(insertAt, entry);
    }
    return WriteProfile(profile, file);
}

} // namespace vestrel
