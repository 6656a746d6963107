#include "support/tds/media.h"

#include <QFile>
#include <QRandomGenerator>
#include <array>

namespace vestrel::test::media {

namespace {

const QByteArray kMagic = "VESTREL-STANDIN-MEDIA\n";
const QByteArray kEnd = "END-OF-MEDIA\n";
constexpr qint64 kSetLineLength = 31; // "SET 0001 000000000000 00000000\n"

// The next line from `offset`, without its "\n"; false when there is no complete line.
bool Line(const QByteArray& data, qint64* offset, QByteArray* line) {
    const qsizetype end = data.indexOf('\n', *offset);
    if (end < 0)
        return false;
    *line = data.mid(*offset, end - *offset);
    *offset = end + 1;
    return true;
}

// "i/n" with 1 <= i <= n.
bool Fraction(const QByteArray& text, int* i, int* n) {
    const QList<QByteArray> parts = text.split('/');
    bool okI = false;
    bool okN = false;
    if (parts.size() != 2)
        return false;
    *i = parts[0].toInt(&okI);
    *n = parts[1].toInt(&okN);
    return okI && okN && *i >= 1 && *i <= *n;
}

void ReadSetContents(const QByteArray& contents, Set* set) {
    qint64 offset = 0;
    QByteArray line;
    if (!Line(contents, &offset, &line) || line != "VESTREL-STANDIN-BACKUP")
        return;
    while (Line(contents, &offset, &line)) {
        if (line.startsWith("database="))
            set->database = QString::fromUtf8(line.mid(9));
        else if (line.startsWith("checksum="))
            set->checksum = line.mid(9) == "yes";
        if (line.startsWith("checksum="))
            return; // the last line before the pages
    }
}

} // namespace

quint32 Crc32(const QByteArray& data) {
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

Media Read(const QByteArray& data) {
    Media media;
    if (!data.startsWith(kMagic))
        return media;
    qint64 offset = kMagic.size();
    QByteArray line;
    if (!Line(data, &offset, &line) || !line.startsWith("media-set=") || line.size() != 26)
        return media;
    media.mediaSetId = line.mid(10);
    if (!Line(data, &offset, &line) || !line.startsWith("family=") ||
        !Fraction(line.mid(7), &media.family, &media.families))
        return media;
    media.isMedia = true;
    media.headerLength = offset;
    for (;;) {
        media.endOffset = offset;
        if (data.mid(offset, kEnd.size()) == kEnd) {
            media.complete = offset + kEnd.size() == data.size();
            return media;
        }
        if (data.size() - offset < kSetLineLength || data.mid(offset, 4) != "SET ")
            return media; // cut short, or not a set
        const QByteArray head = data.mid(offset, kSetLineLength);
        const QList<QByteArray> fields = head.trimmed().split(' ');
        bool okPosition = false;
        bool okLength = false;
        bool okCrc = false;
        Set set;
        if (fields.size() != 4 || head.back() != '\n')
            return media;
        set.position = fields[1].toInt(&okPosition);
        set.length = fields[2].toLongLong(&okLength);
        set.crc = fields[3].toUInt(&okCrc, 16);
        if (!okPosition || !okLength || !okCrc)
            return media;
        set.offset = offset + kSetLineLength;
        const QByteArray contents = data.mid(set.offset, set.length);
        // Position 0 is the SET line of a set whose write never finished.
        set.truncated = contents.size() < set.length || set.position == 0;
        set.intact = !set.truncated && Crc32(contents) == set.crc;
        ReadSetContents(contents, &set);
        media.sets << set;
        if (set.truncated)
            return media;
        offset = set.offset + set.length;
    }
}

Media ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Read(file.readAll());
}

QByteArray Header(const QByteArray& mediaSetId, int family, int families) {
    return kMagic + "media-set=" + mediaSetId + "\nfamily=" + QByteArray::number(family) + '/' +
           QByteArray::number(families) + '\n';
}

QByteArray SetLine(int position, qint64 length, quint32 crc) {
    return "SET " + QByteArray::number(position).rightJustified(4, '0') + ' ' +
           QByteArray::number(length).rightJustified(12, '0') + ' ' +
           QByteArray::number(crc, 16).rightJustified(8, '0') + '\n';
}

QByteArray SetContentsStart(const QString& database, int stripe, int stripes, bool checksum) {
    return "VESTREL-STANDIN-BACKUP\ndatabase=" + database.toUtf8() +
           "\nstripe=" + QByteArray::number(stripe) + '/' + QByteArray::number(stripes) +
           "\nchecksum=" + (checksum ? "yes" : "no") + '\n';
}

QByteArray EndMarker() {
    return kEnd;
}

QByteArray NewMediaSetId() {
    return QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
}

} // namespace vestrel::test::media
