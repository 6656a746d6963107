#include "support/tds/standin.h"

#include "support/tds/media.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QVariant>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace vestrel::test {

namespace {

enum : quint8 {
    kSqlBatch = 0x01,
    kReply = 0x04,
    kAttention = 0x06,
    kLogin7 = 0x10,
    kPrelogin = 0x12,
};
enum : quint16 {
    kDoneFinal = 0x0000,
    kDoneMore = 0x0001,
    kDoneError = 0x0002,
    kDoneCount = 0x0010,
    kDoneAttn = 0x0020,
};
// DONE's CurCmd: the statement's token, as SQL Server's own TDS test server names them
// (0xC1 SELECT). No Microsoft text gives one for BACKUP or RESTORE, nor for the DONE of a
// login or of an attention acknowledgement: those carry 0.
enum : quint16 { kCmdNone = 0x0000, kCmdSelect = 0x00C1 };
// The first session id SQL Server gives a user connection (1-50 are its own).
constexpr quint16 kFirstUserSpid = 51;

qint64 NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The column types of the result sets the stand-in sends.
enum class Sql { NVarChar, TinyInt, SmallInt, Int, Bit, DateTime };
struct Column {
    QString name;
    Sql type;
    int chars = 0; // NVarChar's length
};

// Token stream of one reply, little-endian as TDS wants it. TDS 7.1 (SQL Server 2000) has
// smaller fields in two tokens: a 2-byte line number in INFO and ERROR, a 4-byte row count in
// DONE, DONEPROC and DONEINPROC (7.2 made them 4 and 8 bytes).
class Tokens {
public:
    explicit Tokens(bool tds71 = false) : tds71(tds71) {}

    void U8(quint8 v) { data.append(char(v)); }
    void U16(quint16 v) {
        U8(v & 0xff);
        U8(v >> 8);
    }
    void U32(quint32 v) {
        U16(v & 0xffff);
        U16(v >> 16);
    }
    void Utf16(const QString& s) {
        for (QChar c : s)
            U16(c.unicode());
    }
    void BVarchar(const QString& s) {
        U8(quint8(s.size()));
        Utf16(s);
    }
    void UsVarchar(const QString& s) {
        U16(quint16(s.size()));
        Utf16(s);
    }
    void Message(bool error, int number, int cls, const QString& text) {
        Tokens body;
        body.U32(quint32(number));
        body.U8(1); // state
        body.U8(quint8(cls));
        body.UsVarchar(text);
        body.BVarchar(u"STANDIN"_s);
        body.BVarchar(QString());
        if (tds71)
            body.U16(1); // line
        else
            body.U32(1);
        U8(error ? 0xAA : 0xAB);
        U16(quint16(body.data.size()));
        data += body.data;
    }
    void Done(quint16 status, quint16 command = kCmdNone, quint32 rows = 0) {
        U8(0xFD);
        U16(status);
        U16(command);
        U32(rows);
        if (!tds71)
            U32(0); // the high half of 7.2's 8-byte count
    }
    // COLMETADATA: every column nullable, no user type.
    void ColMetadata(const QList<Column>& columns) {
        U8(0x81);
        U16(quint16(columns.size()));
        for (const Column& column : columns) {
            if (tds71)
                U16(0); // UserType
            else
                U32(0);
            U16(0x0001); // fNullable
            switch (column.type) {
            case Sql::NVarChar:
                U8(0xE7);
                U16(quint16(2 * column.chars));
                data.append("\x09\x04\xd0\x00\x34", 5); // SQL_Latin1_General_CP1_CI_AS
                break;
            case Sql::TinyInt:
            case Sql::SmallInt:
            case Sql::Int:
                U8(0x26); // INTN
                U8(IntBytes(column.type));
                break;
            case Sql::Bit:
                U8(0x68); // BITN
                U8(1);
                break;
            case Sql::DateTime:
                U8(0x6F); // DATETIMN
                U8(8);
                break;
            }
            BVarchar(column.name);
        }
    }
    // ROW: one value per column, an invalid QVariant for NULL.
    void Row(const QList<Column>& columns, const QVariantList& values) {
        U8(0xD1);
        for (qsizetype i = 0; i < columns.size(); ++i) {
            const QVariant& value = values.at(i);
            switch (columns[i].type) {
            case Sql::NVarChar:
                if (!value.isValid()) {
                    U16(0xFFFF);
                } else {
                    U16(quint16(2 * value.toString().size()));
                    Utf16(value.toString());
                }
                break;
            case Sql::TinyInt:
            case Sql::SmallInt:
            case Sql::Int:
            case Sql::Bit: {
                if (!value.isValid()) {
                    U8(0);
                    break;
                }
                const int bytes = columns[i].type == Sql::Bit ? 1 : IntBytes(columns[i].type);
                U8(quint8(bytes));
                const quint32 number = quint32(value.toInt());
                for (int b = 0; b < bytes; ++b)
                    U8(quint8(number >> (8 * b)));
                break;
            }
            case Sql::DateTime:
                Q_ASSERT(!value.isValid()); // only NULL dates are sent
                U8(0);
                break;
            }
        }
    }
    static quint8 IntBytes(Sql type) {
        return type == Sql::TinyInt ? 1 : type == Sql::SmallInt ? 2 : 4;
    }
    void EnvChange(quint8 type, const QString& now, const QString& before) {
        Tokens body;
        body.U8(type);
        body.BVarchar(now);
        body.BVarchar(before);
        U8(0xE3);
        U16(quint16(body.data.size()));
        data += body.data;
    }
    // ENVCHANGE 7, the SQL collation: B_VARBYTE new value, empty old value.
    void CollationChange(const QByteArray& collation) {
        U8(0xE3);
        U16(quint16(1 + 1 + collation.size() + 1));
        U8(7);
        U8(quint8(collation.size()));
        data += collation;
        U8(0);
    }
    // A result set of one unnamed int column and one row: COLMETADATA, ROW.
    void IntRow(qint32 value) {
        U8(0x81); // COLMETADATA
        U16(1);
        if (tds71)
            U16(0); // UserType
        else
            U32(0);
        U16(0x0000); // Flags: not nullable
        U8(0x26);    // INTNTYPE
        U8(4);
        BVarchar(QString()); // no column name
        U8(0xD1);            // ROW
        U8(4);
        U32(quint32(value));
    }
    void LoginAck() {
        Tokens body;
        body.U8(1);
        if (tds71) {
            body.data.append("\x71\x00\x00\x01", 4); // TDS 7.1
            body.BVarchar(u"Microsoft SQL Server"_s);
            body.data.append("\x08\x00\x07\xf7", 4); // 8.00.2039, SQL Server 2000 SP4
        } else {
            body.data.append("\x74\x00\x00\x04", 4); // TDS 7.4
            body.BVarchar(u"Microsoft SQL Server"_s);
            body.data.append("\x10\x00\x10\x00", 4);
        }
        U8(0xAD);
        U16(quint16(body.data.size()));
        data += body.data;
    }
    bool tds71 = false;
    QByteArray data;
};

// The 3014 text: SQL Server's MB/sec is the pages' 8 KB each, in MB of 1,048,576 bytes, over
// the seconds it reports (three decimals, at least 0.001).
QString BackupProcessed(int pages, qint64 elapsedNs) {
    const double seconds = std::max(0.001, std::round(double(elapsedNs) / 1e6) / 1e3);
    const double mbPerSecond = pages * 8192.0 / 1048576.0 / seconds;
    return u"BACKUP DATABASE successfully processed %1 pages in %2 seconds (%3 MB/sec)."_s
        .arg(pages)
        .arg(seconds, 0, 'f', 3)
        .arg(mbPerSecond, 0, 'f', 3);
}

QString Utf16At(const QByteArray& p, int offset, int chars) {
    if (offset < 0 || chars < 0 || offset + 2 * chars > p.size())
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(p.constData() + offset), chars);
}

quint16 U16At(const QByteArray& p, int offset) {
    return quint16(quint8(p[offset])) | quint16(quint8(p[offset + 1])) << 8;
}

} // namespace

struct TdsStandin::State {
    StandinScript script;
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    quint16 port = 0;
    QString listenError;
    std::thread acceptor;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::thread> connections;
    std::vector<int> clientFds;
    bool stopping = false;
    bool paused = false;
    bool stalled = false;
    bool resumed = false;
    QList<SeenLogin> logins;
    QStringList batches;
    QList<BackupStatement> backups;
    QList<VerifyStatement> verifies;
    QList<qint64> progressSent;
    QList<int> attentions;
    // Each connection's session id and the id of the next packet of the reply it is sending;
    // an entry is used only by its connection's thread.
    struct Peer {
        quint16 spid = 0;
        quint8 packetId = 1;
    };
    std::map<int, Peer> peers;
    quint16 nextSpid = kFirstUserSpid;
    std::unique_ptr<TdsTlsLayer> tls; // between each client and Serve unless NotSupported

    void Accept() {
        for (;;) {
            pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            const int fd = accept(listenFd, nullptr, nullptr);
            if (fd < 0)
                continue;
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard lock(mutex);
            if (stopping) {
                close(fd);
                return;
            }
            const int plain = tls ? tls->Wrap(fd) : fd;
            if (plain < 0)
                continue;
            clientFds.push_back(plain);
            peers[plain] = Peer{nextSpid++, 1};
            connections.emplace_back([this, plain] { Serve(plain); });
        }
    }

    // One client message, reassembled from its packets.
    static bool ReadMessage(int fd, quint8* type, QByteArray* payload) {
        payload->clear();
        for (;;) {
            char header[8];
            if (!ReadAll(fd, header, 8))
                return false;
            const int length = (quint8(header[2]) << 8) | quint8(header[3]);
            if (length < 8)
                return false;
            QByteArray part(length - 8, Qt::Uninitialized);
            if (!ReadAll(fd, part.data(), size_t(part.size())))
                return false;
            *type = quint8(header[0]);
            *payload += part;
            if (header[1] & 0x01)
                return true;
        }
    }

    // Sends reply bytes at once; `last` marks the end of the reply. Every packet header carries
    // the connection's session id; the packets of one reply are numbered from 1 (modulo 256).
    bool Send(int fd, const QByteArray& data, bool last) {
        constexpr int kMax = 4096 - 8;
        Peer* peer = nullptr;
        {
            std::lock_guard lock(mutex);
            peer = &peers[fd];
        }
        qsizetype offset = 0;
        do {
            const qsizetype chunk = std::min<qsizetype>(kMax, data.size() - offset);
            const bool eom = last && offset + chunk == data.size();
            QByteArray packet;
            packet.append(char(kReply));
            packet.append(char(eom ? 0x01 : 0x00));
            packet.append(char((chunk + 8) >> 8));
            packet.append(char((chunk + 8) & 0xff));
            packet.append(char(peer->spid >> 8));
            packet.append(char(peer->spid & 0xff));
            packet.append(char(eom ? std::exchange(peer->packetId, quint8(1)) : peer->packetId++));
            packet.append('\x00'); // window
            packet.append(data.constData() + offset, chunk);
            if (send(fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL) != packet.size())
                return false;
            offset += chunk;
        } while (offset < data.size());
        return true;
    }

    // Where a path of the server's is on this machine.
    QString Local(const QString& disk) const {
        const QString path = script.windowsPaths ? QString(disk).replace(u'\\', u'/') : disk;
        return script.fileRoot.isEmpty() ? path : QDir::cleanPath(script.fileRoot + u'/' + path);
    }

    // SQL Server's words for the operating system's reason a device cannot be opened.
    QString OsError(int error, const QString& disk) const {
        if (error == EACCES || error == EPERM)
            return u"5(Access is denied.)"_s;
        if (error == ENOENT && QFileInfo(Local(disk)).dir().exists())
            return u"2(The system cannot find the file specified.)"_s;
        return u"3(The system cannot find the path specified.)"_s;
    }

    // Opens a device as the server's account does; -1 with errno set when it cannot.
    int OpenDevice(const QString& disk, int flags) const {
        return ::open(QFile::encodeName(Local(disk)).constData(), flags | O_CLOEXEC, 0666);
    }

    void Serve(int fd) {
        // The kernel keeps the file system identity per thread: this one acts as the server's
        // account towards files, the rest of the process stays as it is.
        if (script.fileGid >= 0)
            setfsgid(gid_t(script.fileGid));
        if (script.fileUid >= 0)
            setfsuid(uid_t(script.fileUid));
        quint8 type = 0;
        QByteArray payload;
        while (ReadMessage(fd, &type, &payload)) {
            bool keep = true;
            if (type == kPrelogin)
                keep = Prelogin(fd);
            else if (type == kLogin7)
                keep = Login(fd, payload);
            else if (type == kSqlBatch)
                keep = Batch(fd, payload);
            else if (type == kAttention) {
                // Nothing runs any more: only the acknowledgement.
                RecordAttention(-1);
                keep = Acknowledge(fd);
            } else {
                Tokens t = Reply();
                t.Done(kDoneFinal);
                keep = Send(fd, t.data, true);
            }
            if (!keep)
                break;
        }
        std::lock_guard lock(mutex);
        std::erase(clientFds, fd);
        peers.erase(fd);
        shutdown(fd, SHUT_RDWR);
        close(fd);
    }

    // A reply in the token layouts of the TDS version the stand-in plays.
    Tokens Reply() const { return Tokens(script.sqlServer2000); }

    bool Prelogin(int fd) {
        QByteArray reply;
        // VERSION at 11 (6 bytes), ENCRYPTION at 17 (1 byte), terminator.
        reply.append("\x00\x00\x0b\x00\x06", 5);
        reply.append("\x01\x00\x11\x00\x01", 5);
        reply.append('\xff');
        reply.append("\x10\x00\x10\x00\x00\x00", 6);
        reply.append('\x02'); // encryption not supported
        return Send(fd, reply, true);
    }

    bool Login(int fd, const QByteArray& p) {
        if (p.size() < 94)
            return false;
        const auto field = [&](int at) { return Utf16At(p, U16At(p, at), U16At(p, at + 2)); };
        SeenLogin login;
        login.user = field(40);
        login.app = field(48);
        login.database = field(68);
        QByteArray raw = p.mid(U16At(p, 44), 2 * U16At(p, 46));
        for (char& c : raw) {
            const quint8 b = quint8(c) ^ 0xA5;
            c = char(quint8((b << 4) | (b >> 4)));
        }
        login.password =
            QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2);
        {
            std::lock_guard lock(mutex);
            logins << login;
        }
        if (script.loginNeverAnswers) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return stopping; });
            return false;
        }
        Tokens t = Reply();
        if (login.password != script.password ||
            (!script.user.isEmpty() && login.user != script.user)) {
            t.Message(true, 18456, 14, u"Login failed for user '%1'."_s.arg(login.user));
            t.Done(kDoneError);
            return Send(fd, t.data, true);
        }
        // SQL Server's answer to a login, in its order: the database, the collation, the
        // language with their messages, LOGINACK, the packet size.
        const QString database = login.database.isEmpty() ? u"master"_s : login.database;
        t.EnvChange(1, database, u"master"_s);
        t.Message(false, 5701, 10, u"Changed database context to '%1'."_s.arg(database));
        t.CollationChange(QByteArray("\x09\x04\xd0\x00\x34", 5)); // SQL_Latin1_General_CP1_CI_AS
        t.EnvChange(2, u"us_english"_s, QString());
        t.Message(false, 5703, 10, u"Changed language setting to us_english."_s);
        t.LoginAck();
        t.EnvChange(4, u"4096"_s, u"4096"_s);
        t.Done(kDoneFinal);
        return Send(fd, t.data, true);
    }

    bool Batch(int fd, const QByteArray& p) {
        if (p.size() < 4)
            return false;
        // ALL_HEADERS came with TDS 7.2: a 7.1 batch is the text alone.
        const quint32 headers =
            script.sqlServer2000 ? 0 : quint32(U16At(p, 0)) | quint32(U16At(p, 2)) << 16;
        const QString text = Utf16At(p, int(headers), int((p.size() - headers) / 2));
        {
            std::lock_guard lock(mutex);
            batches << text;
        }
        if (IsBackup(text))
            return RunBackup(fd, text);
        if (IsVerifyOnly(text))
            return RunVerifyOnly(fd, text);
        if (IsHeaderOnly(text))
            return RunHeaderOnly(fd, text);
        static const QRegularExpression selectNumber(u"^\\s*SELECT\\s+(-?\\d{1,9})\\s*;?\\s*$"_s,
                                                     QRegularExpression::CaseInsensitiveOption);
        if (const QRegularExpressionMatch m = selectNumber.match(text); m.hasMatch()) {
            Tokens t = Reply();
            t.IntRow(m.captured(1).toInt());
            t.Done(kDoneCount, kCmdSelect, 1);
            return Send(fd, t.data, true);
        }
        if (IsLabelOnly(text))
            return RunLabelOnly(fd, text);
        Tokens t = Reply();
        t.Done(kDoneFinal);
        return Send(fd, t.data, true);
    }

    bool Fail(int fd, const QList<std::pair<int, QString>>& errors) {
        Tokens t = Reply();
        for (const auto& [number, text] : errors)
            t.Message(true, number, number == 102 || number == 155 ? 15 : 16, text);
        t.Done(kDoneError);
        return Send(fd, t.data, true);
    }

    bool Info(int fd, int number, const QString& text) {
        Tokens t = Reply();
        t.Message(false, number, 0, text);
        t.Done(kDoneMore);
        if (number == 3211) {
            std::lock_guard lock(mutex);
            progressSent << NowNs();
        }
        return Send(fd, t.data, false);
    }

    void HoldIfPaused(int percent) {
        if (percent != script.pauseAtPercent)
            return;
        std::unique_lock lock(mutex);
        paused = true;
        changed.notify_all();
        changed.wait(lock, [&] { return resumed || stopping; });
    }

    // Options SQL Server 2000 does not know (they came with 2005).
    bool RefusedBy2000(int fd, const QStringList& options, const QString& kind) {
        static const QStringList newer = {
            u"CHECKSUM"_s,  u"NO_CHECKSUM"_s, u"CONTINUE_AFTER_ERROR"_s, u"STOP_ON_ERROR"_s,
            u"COPY_ONLY"_s, u"COMPRESSION"_s, u"NO_COMPRESSION"_s};
        for (const QString& option : options)
            if (newer.contains(option)) {
                Fail(fd, {{155, u"'%1' is not a recognized %2 option."_s.arg(option, kind)}});
                return true;
            }
        return false;
    }

    // Where a disk's new backup set goes: what is kept of the file before it, and its position.
    struct Placement {
        QByteArray keep;
        int position = 1;
    };

    // SQL Server's rules for the media on each disk: FORMAT writes a new media header, INIT
    // keeps the header and overwrites the sets, NOINIT (the default) appends a set to the
    // media; a missing or empty file becomes a new media; anything else is refused. Returns
    // the errors, or none with `placements` filled in.
    QList<std::pair<int, QString>> PlaceBackup(const BackupStatement& statement,
                                               std::vector<Placement>* placements) {
        const QByteArray mediaSetId = media::NewMediaSetId();
        const int families = int(statement.disks.size());
        for (int i = 0; i < families; ++i) {
            const QString& disk = statement.disks[i];
            QFile file;
            QByteArray data;
            if (const int device = OpenDevice(disk, O_RDONLY);
                device >= 0 && file.open(device, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
                data = file.readAll();
            const media::Media existing = media::Read(data);
            Placement placement;
            if (statement.format || data.isEmpty()) {
                placement.keep = media::Header(mediaSetId, i + 1, families);
            } else if (!existing.isMedia) {
                return {{3241, u"The media family on device '%1' is incorrectly formed. SQL "
                               u"Server cannot process this media family."_s.arg(disk)}};
            } else if (existing.families != families) {
                return {{3132, u"The media set has %1 media families but only %2 are provided. "
                               u"All members must be provided."_s.arg(existing.families)
                                   .arg(families)}};
            } else if (statement.init) {
                placement.keep = data.left(existing.headerLength);
            } else if (!existing.complete) {
                if (script.sqlServer2000)
                    return {{3266, u"The backup data in '%1' is incorrectly formatted. Backups "
                                   u"cannot be appended, but existing backup sets may still be "
                                   u"usable."_s.arg(disk)}};
                return {{3266, u"The backup data at the end of '%1' is incorrectly formatted. "
                               u"Backup sets on the media might be damaged and unusable. To "
                               u"determine the backup sets on the media, use RESTORE "
                               u"HEADERONLY. To determine the usability of the backup sets, "
                               u"run RESTORE VERIFYONLY. If all of the backup sets are "
                               u"incomplete, reformat the media using BACKUP WITH FORMAT, which "
                               u"destroys all the backup sets."_s.arg(disk)}};
            } else {
                placement.keep = data.left(existing.endOffset);
                placement.position =
                    existing.sets.isEmpty() ? 1 : existing.sets.last().position + 1;
            }
            placements->push_back(placement);
        }
        return {};
    }

    // Fills in the finished set's line and closes the media; then damages it when told to.
    bool FinishSet(const QString& disk, const Placement& placement) {
        QFile file;
        const int device = OpenDevice(disk, O_RDWR);
        if (device < 0 || !file.open(device, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle))
            return false;
        QByteArray data = file.readAll();
        const qint64 lineAt = placement.keep.size();
        const qint64 contentsAt = lineAt + media::SetLine(0, 0, 0).size();
        const QByteArray contents = data.mid(contentsAt);
        file.seek(lineAt);
        file.write(media::SetLine(placement.position, contents.size(), media::Crc32(contents)));
        file.seek(file.size());
        file.write(media::EndMarker());
        if (script.damageWrittenSet == StandinScript::Damage::Truncate) {
            file.resize(contentsAt + contents.size() / 2);
        } else if (script.damageWrittenSet == StandinScript::Damage::FlipByte) {
            const qint64 at = contentsAt + contents.size() / 2;
            file.seek(at);
            const char byte = char(contents.at(contents.size() / 2) ^ 0x01);
            file.write(&byte, 1);
        }
        return true;
    }

    void RecordAttention(int percent) {
        std::lock_guard lock(mutex);
        attentions << percent;
    }

    // While a request runs the server keeps listening to the client (an ATTENTION comes
    // out-of-band of the reply). Waits up to waitMs for one and reads it; another request
    // stays queued in the socket. Returns false when the client has gone.
    static bool HeardAttention(int fd, int waitMs, bool* attention) {
        *attention = false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            // Rounded up: a wait cut down to whole milliseconds would not wait at all for a
            // delay of 1 ms.
            const int left = int(std::max<qint64>(0, std::chrono::ceil<std::chrono::milliseconds>(
                                                         until - std::chrono::steady_clock::now())
                                                         .count()));
            pollfd p = {fd, POLLIN, 0};
            const int ready = poll(&p, 1, left);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return true;
            char type = 0;
            const ssize_t n = recv(fd, &type, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n == 0)
                return false;
            if (n > 0 && quint8(type) == kAttention) {
                quint8 read = 0;
                QByteArray payload;
                if (!ReadMessage(fd, &read, &payload))
                    return false;
                *attention = true;
                return true;
            }
            // A queued request: waits out the time without reading it.
            std::this_thread::sleep_for(std::max(std::chrono::steady_clock::duration::zero(),
                                                 until - std::chrono::steady_clock::now()));
            return true;
        }
    }

    // The answer to an ATTENTION that stopped a BACKUP: the statement's response ends with its
    // abort messages and a final DONE with the error bit, then the acknowledgement, a DONE with
    // DONE_ATTN, follows as a message of its own (MS-TDS: the client reads the interrupted
    // response to its end, then waits for the acknowledgement). The same when nothing had been
    // sent yet. The media keeps the set it was writing unfinished (no set line, no end marker).
    bool Aborted(int fd, const QString& terminating) {
        Tokens t = Reply();
        t.Message(true, 3204, 16, u"The backup or restore was aborted."_s);
        t.Message(true, 3013, 16, terminating);
        t.Done(kDoneError);
        if (!Send(fd, t.data, true))
            return false;
        return Acknowledge(fd);
    }

    bool Acknowledge(int fd) {
        Tokens t = Reply();
        t.Done(kDoneAttn);
        return Send(fd, t.data, true);
    }

    // Returns false: once released, the connection is closed.
    bool Stall() {
        std::unique_lock lock(mutex);
        stalled = true;
        changed.notify_all();
        changed.wait(lock, [&] { return stopping; });
        return false;
    }

    bool RunBackup(int fd, const QString& text) {
        QElapsedTimer elapsed;
        elapsed.start();
        const QString terminating = u"BACKUP DATABASE is terminating abnormally."_s;
        BackupStatement statement;
        ParseError parseError;
        if (!ParseBackup(text, &statement, &parseError))
            return Fail(fd, {{parseError.number, parseError.text}});
        if (script.sqlServer2000 && RefusedBy2000(fd, statement.options, u"BACKUP"_s))
            return true;
        {
            std::lock_guard lock(mutex);
            backups << statement;
        }
        if (!script.databases.isEmpty() && !script.databases.contains(statement.database))
            return Fail(fd, {{911, u"Database '%1' does not exist. Make sure that the name is "
                                   u"entered correctly."_s.arg(statement.database)},
                             {3013, terminating}});
        std::vector<Placement> placements;
        QList<std::pair<int, QString>> refused = PlaceBackup(statement, &placements);
        if (!refused.isEmpty()) {
            refused.append({3013, terminating});
            return Fail(fd, refused);
        }
        std::vector<std::unique_ptr<QFile>> files;
        for (const QString& disk : statement.disks) {
            auto file = std::make_unique<QFile>();
            const int device = OpenDevice(disk, O_WRONLY | O_CREAT | O_TRUNC);
            if (device < 0)
                return Fail(fd, {{3201, u"Cannot open backup device '%1'. Operating system "
                                        u"error %2."_s.arg(disk, OsError(errno, disk))},
                                 {3013, terminating}});
            file->open(device, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
            files.push_back(std::move(file));
        }
        for (size_t i = 0; i < files.size(); ++i) {
            files[i]->write(placements[i].keep);
            files[i]->write(media::SetLine(0, 0, 0));
            files[i]->write(media::SetContentsStart(statement.database, int(i + 1),
                                                    int(files.size()), statement.checksum));
            files[i]->flush();
        }
        const QByteArray page(1024, '\x5a');
        const auto stopped = [&](int percent) {
            RecordAttention(percent);
            for (auto& file : files)
                file->close();
            return Aborted(fd, terminating);
        };
        for (int percent = 10; percent <= 91; percent += 11) {
            if (percent > 40 && (script.failAt40Percent || script.dropAt40Percent)) {
                if (script.dropAt40Percent)
                    return false; // the connection goes down mid-backup
                return Fail(fd, {{3202, u"Write on \"%1\" failed: 112(There is not enough space "
                                        u"on the disk.)."_s.arg(statement.disks.first())},
                                 {3013, terminating}});
            }
            // A hung server (stallAtPercent) reads nothing at all.
            bool attention = false;
            if (script.stallAtPercent < 0) {
                if (!HeardAttention(fd, script.progressDelayMs, &attention))
                    return false;
            } else if (script.progressDelayMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(script.progressDelayMs));
            }
            if (attention)
                return stopped(percent);
            for (auto& file : files) {
                file->write(page);
                file->flush();
            }
            if (!Info(fd, 3211, u"%1 percent processed."_s.arg(percent)))
                return false;
            HoldIfPaused(percent);
            if (percent == script.stallAtPercent)
                return Stall();
        }
        bool attention = false;
        if (script.stallAtPercent < 0 && !HeardAttention(fd, 0, &attention))
            return false;
        if (attention)
            return stopped(100);
        const int pages = 8 * int(files.size());
        const int position = placements.front().position;
        if (!Info(fd, 4035,
                  u"Processed %1 pages for database '%2', file '%2' on file %3."_s.arg(pages)
                      .arg(statement.database)
                      .arg(position)) ||
            !Info(fd, 4035,
                  u"Processed 1 pages for database '%1', file '%1_log' on file %2."_s
                      .arg(statement.database)
                      .arg(position)) ||
            !Info(fd, 3211, u"100 percent processed."_s))
            return false;
        for (auto& file : files)
            file->close();
        for (size_t i = 0; i < files.size(); ++i)
            FinishSet(statement.disks[int(i)], placements[i]);
        Tokens t = Reply();
        if (script.errorWithoutMessage) {
            t.Done(kDoneError);
            return Send(fd, t.data, true);
        }
        if (script.omitFinalMessage) {
            t.Done(kDoneFinal);
            return Send(fd, t.data, true);
        }
        t.Message(false, 3014, 0, BackupProcessed(pages + 1, elapsed.nsecsElapsed()));
        t.Done(kDoneFinal);
        return Send(fd, t.data, true);
    }

    // Opens and reads a backup device for a RESTORE as SQL Server does: a device it cannot open,
    // one that holds no media, or (families > 0) a media set with another number of families
    // is answered with SQL Server's errors, and *keep then says whether the connection stays.
    std::optional<media::Media> ReadDevice(int fd, const QString& disk, const QString& terminating,
                                           int families, bool* keep) {
        QFile device;
        if (const int opened = OpenDevice(disk, O_RDONLY);
            opened < 0 || !device.open(opened, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            *keep = Fail(fd, {{3201, u"Cannot open backup device '%1'. Operating system "
                                     u"error %2."_s.arg(disk, OsError(errno, disk))},
                              {3013, terminating}});
            return std::nullopt;
        }
        media::Media found = media::Read(device.readAll());
        if (!found.isMedia) {
            *keep = Fail(fd, {{3241, u"The media family on device '%1' is incorrectly "
                                     u"formed. SQL Server cannot process this media "
                                     u"family."_s.arg(disk)},
                              {3013, terminating}});
            return std::nullopt;
        }
        if (families > 0 && found.families != families) {
            *keep =
                Fail(fd, {{3132, u"The media set has %1 media families but only %2 are "
                                 u"provided. All members must be provided."_s.arg(found.families)
                                     .arg(families)},
                          {3013, terminating}});
            return std::nullopt;
        }
        return found;
    }

    // RESTORE LABELONLY: SQL Server's errors for a device it cannot open or that holds no
    // media. The label of a real media (a result set) is not played: the reply then ends with
    // no rows.
    bool RunLabelOnly(int fd, const QString& text) {
        const QString terminating = u"RESTORE LABELONLY is terminating abnormally."_s;
        VerifyStatement statement;
        ParseError parseError;
        if (!ParseLabelOnly(text, &statement, &parseError))
            return Fail(fd, {{parseError.number, parseError.text}});
        for (const QString& disk : statement.disks) {
            bool keep = true;
            if (!ReadDevice(fd, disk, terminating, -1, &keep))
                return keep;
        }
        Tokens t = Reply();
        t.Done(kDoneFinal);
        return Send(fd, t.data, true);
    }

    // RESTORE VERIFYONLY: the chosen backup set (FILE = n, the first when not given) must be
    // whole on every disk of its media set, and its contents must match their CRC.
    bool RunVerifyOnly(int fd, const QString& text) {
        const QString terminating = u"VERIFY DATABASE is terminating abnormally."_s;
        VerifyStatement statement;
        ParseError parseError;
        if (!ParseVerifyOnly(text, &statement, &parseError))
            return Fail(fd, {{parseError.number, parseError.text}});
        if (script.sqlServer2000 && RefusedBy2000(fd, statement.options, u"RESTORE"_s))
            return true;
        {
            std::lock_guard lock(mutex);
            verifies << statement;
        }
        const int families = int(statement.disks.size());
        for (const QString& disk : statement.disks) {
            bool keep = true;
            const std::optional<media::Media> read =
                ReadDevice(fd, disk, terminating, families, &keep);
            if (!read)
                return keep;
            const media::Media& found = *read;
            const auto set = std::find_if(found.sets.begin(), found.sets.end(),
                                          [&](auto& s) { return s.position == statement.file; });
            const bool unfinished = !found.sets.isEmpty() && found.sets.last().truncated;
            if (set == found.sets.end() && unfinished)
                return Fail(fd, {{3203, u"Read on \"%1\" failed: 38(Reached the end of the "
                                        u"file.)"_s.arg(disk)},
                                 {3013, terminating}});
            if (set == found.sets.end())
                return Fail(
                    fd,
                    {{4038,
                      u"Cannot find file ID %1 on device '%2'."_s.arg(statement.file).arg(disk)},
                     {3013, terminating}});
            const bool last = set + 1 == found.sets.end();
            if (set->truncated || (last && !found.complete))
                return Fail(fd, {{3203, u"Read on \"%1\" failed: 38(Reached the end of the "
                                        u"file.)"_s.arg(disk)},
                                 {3013, terminating}});
            if (statement.checksum && !set->checksum)
                return Fail(fd, {{3187, u"RESTORE WITH CHECKSUM cannot be specified because "
                                        u"the backup set does not contain checksum "
                                        u"information."_s},
                                 {3013, terminating}});
            if (!set->intact) {
                if (set->checksum && !statement.noChecksum)
                    return Fail(fd, {{3189, u"Damage to the backup set was detected."_s},
                                     {3013, terminating}});
                return Fail(fd, {{3242, u"The file on device '%1' is not a valid Microsoft "
                                        u"Tape Format backup set."_s.arg(disk)},
                                 {3013, terminating}});
            }
        }
        Tokens t = Reply();
        t.Message(false, 3262, 0,
                  script.sqlServer2000
                      ? u"The backup set is valid."_s
                      : u"The backup set on file %1 is valid."_s.arg(statement.file));
        t.Done(kDoneFinal);
        return Send(fd, t.data, true);
    }

    // RESTORE HEADERONLY: a row for each backup set on the media (or the one FILE = n names),
    // with the leading columns of SQL Server's result set, in its order and types, up to
    // DatabaseName. The media does not keep who wrote a set: UserName is NULL.
    bool RunHeaderOnly(int fd, const QString& text) {
        const QString terminating = u"RESTORE HEADERONLY is terminating abnormally."_s;
        HeaderOnlyStatement statement;
        ParseError parseError;
        if (!ParseHeaderOnly(text, &statement, &parseError))
            return Fail(fd, {{parseError.number, parseError.text}});
        if (script.sqlServer2000 && RefusedBy2000(fd, statement.options, u"RESTORE"_s))
            return true;
        const int families = int(statement.disks.size());
        QList<media::Set> sets;
        for (const QString& disk : statement.disks) {
            bool keep = true;
            const std::optional<media::Media> read =
                ReadDevice(fd, disk, terminating, families, &keep);
            if (!read)
                return keep;
            const media::Media& found = *read;
            if (sets.isEmpty())
                for (const media::Set& set : found.sets)
                    if (set.position > 0 && (statement.file == 0 || set.position == statement.file))
                        sets.append(set);
        }
        if (statement.file > 0 && sets.isEmpty())
            return Fail(fd, {{4038, u"Cannot find file ID %1 on device '%2'."_s.arg(statement.file)
                                        .arg(statement.disks.first())},
                             {3013, terminating}});
        const QList<Column> columns = {
            {u"BackupName"_s, Sql::NVarChar, 128}, {u"BackupDescription"_s, Sql::NVarChar, 255},
            {u"BackupType"_s, Sql::SmallInt},      {u"ExpirationDate"_s, Sql::DateTime},
            {u"Compressed"_s, Sql::Bit},           {u"Position"_s, Sql::SmallInt},
            {u"DeviceType"_s, Sql::TinyInt},       {u"UserName"_s, Sql::NVarChar, 128},
            {u"ServerName"_s, Sql::NVarChar, 128}, {u"DatabaseName"_s, Sql::NVarChar, 128},
        };
        Tokens t = Reply();
        t.ColMetadata(columns);
        for (const media::Set& set : sets)
            t.Row(columns,
                  {QVariant(), QVariant(), 1 /* database */, QVariant(), 0, set.position,
                   102 /* a disk named by its path */, QVariant(), u"STANDIN"_s, set.database});
        t.Done(kDoneCount, kCmdNone, quint32(sets.size()));
        return Send(fd, t.data, true);
    }
};

TdsStandin::TdsStandin(StandinScript script) : state_(std::make_unique<State>()) {
    state_->script = std::move(script);
    if (state_->script.encryption != StandinEncryption::NotSupported)
        state_->tls = std::make_unique<TdsTlsLayer>(state_->script.encryption);
    if (pipe(state_->wakePipe) != 0)
        qFatal("stand-in: pipe failed");
    state_->listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(state_->script.port);
    const int one = 1;
    setsockopt(state_->listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(state_->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(state_->listenFd, 16) != 0) {
        if (state_->script.port == 0)
            qFatal("stand-in: cannot listen on 127.0.0.1");
        state_->listenError = QString::fromLocal8Bit(strerror(errno));
        return; // a port that is taken: ListenError() says why
    }
    socklen_t length = sizeof address;
    getsockname(state_->listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    state_->port = ntohs(address.sin_port);
    state_->acceptor = std::thread([s = state_.get()] { s->Accept(); });
}

TdsStandin::~TdsStandin() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        for (int fd : state_->clientFds)
            shutdown(fd, SHUT_RDWR);
        state_->changed.notify_all();
    }
    const char wake = 1;
    [[maybe_unused]] const ssize_t n = write(state_->wakePipe[1], &wake, 1);
    if (state_->acceptor.joinable())
        state_->acceptor.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(state_->mutex);
        connections.swap(state_->connections);
    }
    for (std::thread& t : connections)
        t.join();
    close(state_->listenFd);
    close(state_->wakePipe[0]);
    close(state_->wakePipe[1]);
}

QString TdsStandin::ListenError() const {
    return state_->listenError;
}

quint16 TdsStandin::Port() const {
    return state_->port;
}

QString TdsStandin::ServerName() const {
    return u"127.0.0.1,"_s + QString::number(state_->port);
}

QList<SeenLogin> TdsStandin::Logins() const {
    std::lock_guard lock(state_->mutex);
    return state_->logins;
}

QStringList TdsStandin::Batches() const {
    std::lock_guard lock(state_->mutex);
    return state_->batches;
}

QList<BackupStatement> TdsStandin::Backups() const {
    std::lock_guard lock(state_->mutex);
    return state_->backups;
}

QList<VerifyStatement> TdsStandin::Verifies() const {
    std::lock_guard lock(state_->mutex);
    return state_->verifies;
}

QList<qint64> TdsStandin::ProgressSentNs() const {
    std::lock_guard lock(state_->mutex);
    return state_->progressSent;
}

QList<int> TdsStandin::Attentions() const {
    std::lock_guard lock(state_->mutex);
    return state_->attentions;
}

int TdsStandin::OpenConnections() const {
    std::lock_guard lock(state_->mutex);
    return int(state_->clientFds.size());
}

QList<SeenTls> TdsStandin::TlsSessions() const {
    return state_->tls ? state_->tls->Sessions() : QList<SeenTls>();
}

bool TdsStandin::WaitPaused(int timeoutMs) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return state_->paused; });
}

bool TdsStandin::WaitStalled(int timeoutMs) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return state_->stalled; });
}

void TdsStandin::Resume() {
    std::lock_guard lock(state_->mutex);
    state_->resumed = true;
    state_->changed.notify_all();
}

} // namespace vestrel::test
