#include "platform/filelock.h"

#include <QDir>
#include <QFile>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vestrel {

FileLock::FileLock(QString path) : path_(std::move(path)) {}

#ifdef _WIN32

FileLock::Result FileLock::TryLock(const QString& owner, QString* why) {
    if (held_)
        return Result::Locked;
    const std::wstring name = QDir::toNativeSeparators(path_).toStdWString();
    // Others may read who holds it, never open it for writing while it is held.
    // A link at the name is opened as itself, never followed.
    HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            QFile file(path_);
            *why = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                                  : QString();
            return Result::Busy;
        }
        *why = QStringLiteral("errore di sistema %1").arg(error);
        return Result::Failed;
    }
    // What stands at the name may be someone else's file: it is not ours to change unless it
    // is a plain file of one name.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        info.nNumberOfLinks != 1) {
        CloseHandle(handle);
        *why = QStringLiteral("al suo posto c'\u00e8 un file che non \u00e8 un file di blocco "
                              "di questo utente");
        return Result::Failed;
    }
    const QByteArray text = owner.toUtf8();
    DWORD written = 0;
    SetEndOfFile(handle);
    WriteFile(handle, text.constData(), DWORD(text.size()), &written, nullptr);
    handle_ = handle;
    held_ = true;
    return Result::Locked;
}

FileLock::~FileLock() {
    if (!held_)
        return;
    CloseHandle(static_cast<HANDLE>(handle_));
    // Fails harmlessly when the next holder has opened it already.
    DeleteFileW(QDir::toNativeSeparators(path_).toStdWString().c_str());
}

#else

namespace {

// Open-file-description locks conflict between two opens of the file even in one process
// and are released only when the last descriptor of that open goes; flock where the kernel
// has none.
int LockWhole(int fd) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
    if (::fcntl(fd, F_OFD_SETLK, &whole) == 0)
        return 0;
    if (errno != EINVAL)
        return -1;
#endif
    return ::flock(fd, LOCK_EX | LOCK_NB);
}

} // namespace

FileLock::Result FileLock::TryLock(const QString& owner, QString* why) {
    if (held_)
        return Result::Locked;
    const QByteArray name = QFile::encodeName(path_);
    // A holder removes the file on release: a lock taken on a file that is gone by then is
    // no lock, so go again on the new one.
    for (int attempt = 0; attempt < 5; ++attempt) {
        // Never through a link, never truncating on open: what stands at the name may be
        // someone else's file, and it is not ours to change until it proves to be ours.
        const int fd =
            ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) {
            *why = errno == ELOOP
                       ? QStringLiteral("al suo posto c'\u00e8 un collegamento simbolico")
                       : QString::fromLocal8Bit(std::strerror(errno));
            return Result::Failed;
        }
        struct stat own {};
        if (::fstat(fd, &own) != 0 || !S_ISREG(own.st_mode) || own.st_uid != ::geteuid() ||
            own.st_nlink != 1) {
            ::close(fd);
            *why = QStringLiteral("al suo posto c'\u00e8 un file che non \u00e8 un file di blocco "
                                  "di questo utente");
            return Result::Failed;
        }
        if (LockWhole(fd) != 0) {
            const int error = errno;
            if (error == EAGAIN || error == EACCES || error == EWOULDBLOCK) {
                QByteArray holder(512, '\0');
                const ssize_t got = ::pread(fd, holder.data(), size_t(holder.size()), 0);
                holder.truncate(got > 0 ? got : 0);
                ::close(fd);
                *why = QString::fromUtf8(holder).trimmed();
                return Result::Busy;
            }
            ::close(fd);
            *why = QString::fromLocal8Bit(std::strerror(error));
            return Result::Failed;
        }
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) != 0 || ::lstat(name.constData(), &named) != 0 ||
            opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
            ::close(fd);
            continue;
        }
        const QByteArray text = owner.toUtf8();
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.constData(), size_t(text.size()), 0) < 0) {
            // The lock holds all the same; only who holds it cannot be told.
        }
        fd_ = fd;
        held_ = true;
        return Result::Locked;
    }
    *why = QStringLiteral("il file di blocco cambia di continuo");
    return Result::Failed;
}

FileLock::~FileLock() {
    if (!held_)
        return;
    ::unlink(QFile::encodeName(path_).constData()); // while still held: see TryLock
    ::close(fd_);
}

#endif

} // namespace vestrel
