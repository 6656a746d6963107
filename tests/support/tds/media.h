#pragma once

// The stand-in's backup media file: a small format of its own in the shape of SQL Server's
// media sets. A media header names the media set and this file's place in it (one family per
// disk of a striped backup); backup sets follow in the order they were written, each with its
// position, its length and a CRC-32 of its contents; an end marker closes the media. Appending
// a set replaces the end marker, so a file whose write was cut short has none.
//
//   VESTREL-STANDIN-MEDIA\n
//   media-set=<16 hex digits>\n
//   family=<i>/<n>\n
//   SET <position:4> <length:12> <crc32:8 hex>\n <length bytes>     (once per backup set;
//                                          position 0 while the set is being written)
//   END-OF-MEDIA\n
//
// A set's contents start with text lines ("VESTREL-STANDIN-BACKUP", "database=<name>",
// "stripe=<i>/<n>", "checksum=yes|no") followed by the database's pages.

#include <QByteArray>
#include <QList>
#include <QString>

namespace vestrel::test::media {

struct Set {
    int position = 0;
    qint64 offset = 0;      // of the contents, just after the SET line
    qint64 length = 0;      // as the SET line says
    quint32 crc = 0;        // as the SET line says
    bool truncated = false; // the file ends before the contents do
    bool intact = false;    // complete, and its CRC matches
    QString database;
    bool checksum = false; // written WITH CHECKSUM
};

struct Media {
    bool isMedia = false; // starts with a well-formed media header
    qint64 headerLength = 0;
    QByteArray mediaSetId;
    int family = 0;
    int families = 0;
    QList<Set> sets;
    bool complete = false; // the end marker follows the last set
    qint64 endOffset = 0;  // where the end marker starts (where the next set goes)
};

Media Read(const QByteArray& data);
// Reads a file; a missing or unreadable one is no media.
Media ReadFile(const QString& path);

QByteArray Header(const QByteArray& mediaSetId, int family, int families);
// The SET line of a set; fixed width, so it can be written first and filled in at the end.
QByteArray SetLine(int position, qint64 length, quint32 crc);
QByteArray SetContentsStart(const QString& database, int stripe, int stripes, bool checksum);
QByteArray EndMarker();
QByteArray NewMediaSetId();

quint32 Crc32(const QByteArray& data);

} // namespace vestrel::test::media
