#pragma once

#include <QString>

namespace vestrel {

// An exclusive lock on a file of its own, held by the kernel for this object: it ends with
// the object or with the process, however that ends, so a crash leaves no lock behind. Two
// objects conflict also inside one process. On a network share the file server keeps the
// lock (POSIX record locks go to NFS and SMB servers; Windows opens without write sharing).
class FileLock {
public:
    explicit FileLock(QString path);
    ~FileLock(); // releases the lock and removes the file
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    enum class Result { Locked, Busy, Failed };
    // Takes the lock without waiting and writes `owner` into the file. Busy: someone else
    // holds it, and *why says who (what the holder wrote); Failed: *why says what went wrong,
    // also when the name is a symbolic link or anything but a regular file of this user with
    // one name (that is left as it is: opened without following links or truncating).
    Result TryLock(const QString& owner, QString* why);
    bool held() const { return held_; }
    QString path() const { return path_; }

private:
    QString path_;
    bool held_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace vestrel
