#include "platform/privateprofile.h"

#include "platform/textfile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <optional>

namespace vestrel {

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray TrimBlanks(QByteArrayView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toByteArray();
}

bool SameName(const QByteArray& a, const QByteArray& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Line {
    enum class Kind { Other, Section, Key };
    Kind kind = Kind::Other;
    QByteArray text;  // the line as read, without its line end
    QByteArray name;  // section or key name, trimmed
    QByteArray value; // key value, trimmed
};

Line ParseLine(const QByteArray& text) {
    Line line;
    line.text = text;
    const QByteArray trimmed = TrimBlanks(text);
    if (trimmed.startsWith('[')) {
        line.kind = Line::Kind::Section;
        const qsizetype close = trimmed.indexOf(']');
        line.name =
            TrimBlanks(QByteArrayView(trimmed).sliced(1, (close < 0 ? trimmed.size() : close) - 1));
        return line;
    }
    if (trimmed.startsWith(';'))
        return line;
    const qsizetype eq = trimmed.indexOf('=');
    if (eq >= 0) {
        line.kind = Line::Kind::Key;
        line.name = TrimBlanks(QByteArrayView(trimmed).first(eq));
        line.value = TrimBlanks(QByteArrayView(trimmed).sliced(eq + 1));
    }
    return line;
}

// The file as lines, with the byte order mark it started with.
struct Profile {
    bool bom = false;
    QList<Line> lines;

    // Index of the first header of the section, or -1.
    qsizetype findSection(const QByteArray& name) const {
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
    qsizetype findKey(qsizetype header, const QByteArray& name) const {
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

std::optional<Profile> ReadProfile(const char* file) {
    if (!file || !*file)
        return std::nullopt;
    QFile in(FilePath(file));
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = in.readAll();
    Profile profile;
    if (bytes.startsWith(kBom)) {
        profile.bom = true;
        bytes.remove(0, kBom.size());
    }
    QList<QByteArray> parts = bytes.split('\n');
    // A final line end leaves an empty piece behind it that is no line of its own.
    if (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    for (QByteArray& part : parts) {
        if (part.endsWith('\r'))
            part.chop(1);
        profile.lines.append(ParseLine(part));
    }
    return profile;
}

bool WriteProfile(const Profile& profile, const char* file) {
    QByteArray bytes;
    if (profile.bom)
        bytes += kBom;
    for (const Line& line : profile.lines) {
        bytes += line.text;
        bytes += "\r\n";
    }
    QSaveFile out(FilePath(file));
    // Never write the target in place: a failure must leave the old file whole.
    out.setDirectWriteFallback(false);
    // Unbuffered, so that a short write (a full disk) shows in write()'s count: through the
    // buffer the lost bytes would go unnoticed and commit() would put a cut file in place.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    // The temporary file takes over the permissions of the file it replaces; the file holds a
    // password, so only its owner may read it, whatever it had before.
    if (!out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    if (out.write(bytes) != bytes.size())
        return false; // the destructor discards the temporary file
    return out.commit();
}

// Copies one text and its NUL, cut to size - 1 characters.
unsigned CopyValue(const QByteArray& text, char* buffer, unsigned size) {
    if (!buffer || size == 0)
        return 0;
    const unsigned n = std::min<unsigned>(static_cast<unsigned>(text.size()), size - 1);
    std::memcpy(buffer, text.constData(), n);
    buffer[n] = '\0';
    return n;
}

// Copies names, each followed by a NUL, plus a final NUL; a list that does not fit is cut to
// size - 2 characters and ended by two NULs.
unsigned CopyList(const QList<QByteArray>& names, char* buffer, unsigned size) {
    if (!buffer || size == 0)
        return 0;
    QByteArray list;
    for (const QByteArray& name : names) {
        list += name;
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
    const unsigned n = size - 2;
    std::memcpy(buffer, list.constData(), n);
    buffer[n] = '\0';
    buffer[n + 1] = '\0';
    return n;
}

bool HasLineBreak(const char* text) {
    return text && (std::strchr(text, '\r') || std::strchr(text, '\n'));
}

} // namespace

unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                  char* buffer, unsigned size, const char* file) {
    const QByteArray fallback = def ? QByteArray(def) : QByteArray();
    const std::optional<Profile> profile = ReadProfile(file);
    if (!profile)
        return CopyValue(fallback, buffer, size);
    if (!section) {
        QList<QByteArray> names;
        for (const Line& line : profile->lines)
            if (line.kind == Line::Kind::Section)
                names.append(line.name);
        return CopyList(names, buffer, size);
    }
    const qsizetype header = profile->findSection(TrimBlanks(section));
    if (header < 0)
        return CopyValue(fallback, buffer, size);
    if (!key) {
        QList<QByteArray> names;
        const qsizetype end = profile->sectionEnd(header);
        for (qsizetype i = header + 1; i < end; ++i)
            if (profile->lines[i].kind == Line::Kind::Key)
                names.append(profile->lines[i].name);
        return CopyList(names, buffer, size);
    }
    const qsizetype at = profile->findKey(header, TrimBlanks(key));
    return CopyValue(at < 0 ? fallback : profile->lines[at].value, buffer, size);
}

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file) {
    if (!section || !file || !*file)
        return 0;
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        return 0;
    const QByteArray sectionName = TrimBlanks(section);
    if (sectionName.contains(']'))
        return 0;
    const QByteArray keyName = key ? TrimBlanks(key) : QByteArray();
    if (key && (keyName.contains('=') || keyName.startsWith('[') || keyName.startsWith(';')))
        return 0;

    std::optional<Profile> existing = ReadProfile(file);
    // A file that is there but cannot be read is never replaced by one that holds only this
    // key: that would lose every other setting.
    if (!existing && QFileInfo::exists(FilePath(file)))
        return 0;
    Profile profile = existing.value_or(Profile{});
    const qsizetype header = profile.findSection(sectionName);

    if (!key) {
        if (header < 0)
            return 1; // nothing to remove
        // Every section of that name goes, or a later one would take its place.
        for (qsizetype at = header; at >= 0; at = profile.findSection(sectionName))
            profile.lines.remove(at, profile.sectionEnd(at) - at);
        return WriteProfile(profile, file) ? 1 : 0;
    }
    if (!value) {
        qsizetype at = header < 0 ? -1 : profile.findKey(header, keyName);
        if (at < 0)
            return 1;
        // A key written twice by hand is removed with all its lines.
        for (; at >= 0; at = profile.findKey(header, keyName))
            profile.lines.remove(at);
        return WriteProfile(profile, file) ? 1 : 0;
    }

    const Line entry = ParseLine(keyName + '=' + QByteArray(value));
    if (header < 0) {
        profile.lines.append(ParseLine('[' + sectionName + ']'));
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
    return WriteProfile(profile, file) ? 1 : 0;
}

} // namespace vestrel
