#pragma once

#include "platform/error.h"

#include <QString>
#include <memory>

namespace vestrel {

// Another run holds the target's lock.
class TargetBusy : public Error {
public:
    using Error::Error;
};

class FileLock;

// Where the server writes a backup, so that the last good backup is never lost. When the
// target means the same file to the server and to this machine (the server runs here, or the
// path is a network share's, and its folder is visible), the server writes beside the old
// file under a sibling name, and only a finished backup replaces the old file; a failed one
// leaves the old file as it was and its partial file is removed. Any other target, such as a
// path on a remote server's own disks, is handed to the server as it is.
//
// A target this machine sees is also locked for the run (a lock file beside it, held by the
// kernel), so two programs backing up to the same file never touch each other's partial
// file: the second one fails.
class BackupTarget {
public:
    BackupTarget(QString file, bool serverIsThisMachine);
    ~BackupTarget(); // releases the lock

    // The target is a file this machine sees as the server does.
    bool local() const { return local_; }
    // The file the server is asked to write.
    QString serverPath() const { return local_ ? sibling_ : file_; }

    // Locks the target, then removes what a crashed run may have left under the sibling
    // name. Throws Error, also when another run holds the lock.
    void Prepare() const;
    // Puts the finished backup in place of the old file, in one step. Throws Error, and the
    // finished backup then stays under the sibling name.
    void Commit() const;
    // Removes a partial backup after a failure; a finished one that could not be put in
    // place is kept, and so is anything of a run that holds the lock. Never throws.
    void Discard() const noexcept;

private:
    QString file_;
    QString sibling_;
    bool local_ = false;
    mutable bool finishedBeside_ = false;    // a finished backup that could not be put in place
    mutable std::unique_ptr<FileLock> lock_; // held from Prepare to the end of the object
};

} // namespace vestrel
