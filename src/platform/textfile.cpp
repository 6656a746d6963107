#include "platform/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vestrel {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool SyncToDisk(QFile& file) {
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

void Fail(FileWriteError reason, const QString& text, FileWriteError* why, QString* detail) {
    if (why)
        *why = reason;
    if (detail)
        *detail = text;
}

// Why a file could not be opened or written. Where the system says it (errno, kept by Qt's
// failed call), from that; otherwise from what the file system shows.
FileWriteError OpenFailure(const QString& path) {
#ifndef Q_OS_WIN
    switch (errno) {
    case EACCES:
    case EPERM:
    case EROFS:
        return FileWriteError::AccessDenied;
    case ENOENT:
    case ENOTDIR:
        return FileWriteError::NoFolder;
    case EISDIR:
        return FileWriteError::NotAFile;
    case ENOSPC:
    case EDQUOT:
        return FileWriteError::DiskFull;
    default:
        break;
    }
#endif
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists() || !folder.isDir())
        return FileWriteError::NoFolder;
    if (info.exists() && !info.isFile())
        return FileWriteError::NotAFile;
    if (info.exists() ? !info.isWritable() : !folder.isWritable())
        return FileWriteError::AccessDenied;
    return FileWriteError::Other;
}

FileWriteError WriteFailure(const QFileDevice& file) {
#ifndef Q_OS_WIN
    if (errno == ENOSPC || errno == EDQUOT)
        return FileWriteError::DiskFull;
#endif
    return file.error() == QFileDevice::ResourceError ? FileWriteError::DiskFull
                                                      : FileWriteError::Other;
}

// The file rewritten where it is: the new bytes over the old ones, then cut to their length.
// Nothing is truncated before the new content is in, and a failure writes the old content
// back, which fits where it was.
bool RewriteInPlace(const QString& path, const QByteArray& bytes, FileWriteError* why,
                    QString* detail) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        Fail(OpenFailure(path), file.errorString(), why, detail);
        return false;
    }
    const QByteArray old = file.readAll();
    // The file holds a password: owner-only where we may say so (someone else's file that we
    // may write keeps its mode).
    file.setPermissions(kOwnerOnly);
    if (file.seek(0) && file.write(bytes) == bytes.size() && file.resize(bytes.size()) &&
        SyncToDisk(file))
        return true;
    Fail(WriteFailure(file), file.errorString(), why, detail);
    if (file.seek(0) && file.write(old) == old.size())
        (void)file.resize(old.size());
    (void)SyncToDisk(file);
    return false;
}

} // namespace

QByteArray ToSystemCodePage(const QString& text) {
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

QString FromSystemCodePage(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::System);
    return decoder.decode(bytes);
}

bool IsSystemCodePageText(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError() && ToSystemCodePage(text) == bytes;
}

bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const bool written = file.write(bytes) == bytes.size();
    // close() flushes; a full disk shows up here, not in write().
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool ReplaceFileContents(const QString& path, const QByteArray& bytes, FileWriteError* why,
                         QString* detail) {
    Fail(FileWriteError::None, QString(), why, detail);
    errno = 0;
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        Fail(FileWriteError::NotAFile, QString(), why, detail);
        return false;
    }
    QSaveFile out(path);
    // Never write the target in place on this path: a failure must leave the old file whole.
    out.setDirectWriteFallback(false);
    // Unbuffered, so that a short write (a full disk) shows in write()'s count: through the
    // buffer the lost bytes would go unnoticed and commit() would put a cut file in place.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // No temporary file in this folder: the file itself may still be writable.
        if (info.isFile())
            return RewriteInPlace(path, bytes, why, detail);
        Fail(OpenFailure(path), out.errorString(), why, detail);
        return false;
    }
    // The temporary file takes over the permissions of the file it replaces; the file holds a
    // password, so only its owner may read it, whatever it had before.
    if (!out.setPermissions(kOwnerOnly)) {
        Fail(FileWriteError::Other, out.errorString(), why, detail);
        return false;
    }
    if (out.write(bytes) != bytes.size()) {
        Fail(WriteFailure(out), out.errorString(), why, detail);
        return false; // the destructor discards the temporary file
    }
    if (!out.commit()) {
        Fail(WriteFailure(out), out.errorString(), why, detail);
        return false;
    }
    return true;
}

} // namespace vestrel
