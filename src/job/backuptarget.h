#pragma once

#include "platform/error.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace vestrel {

// Another run holds the target's lock.
class TargetBusy : public Error {
public:
    using Error::Error;
};

class FileLock;

// Where the server writes a backup, so that the last good backup is kept wherever it can be.
//
// Each run decides by trying, in the target's folder, what keeping it takes: this program
// must be able to create a file there, lock, and rename; a file the server writes must be one
// we may rename (a sticky folder lets only a file's owner do that); and a server on this
// machine must see our files where we see them (not so for one in a container, which writes
// into a file system of its own). Where all holds, the server writes beside the old file
// under a temporary name and only a verified backup replaces the old file, in one rename; a
// failed one leaves the old file as it was and its partial file is removed. Anywhere else
// (also a path on a remote server's own disks) the server writes the file itself anew, and
// the run says so in its log.
//
// A target this machine sees is also locked for the run (a lock file beside it, or in the
// program's state folder when it cannot live there), so two programs backing up to the same
// file never touch each other's partial file: the second one fails.
class BackupTarget {
public:
    BackupTarget(QString file, bool serverIsThisMachine);
    ~BackupTarget(); // releases the lock

    enum class Way {
        Beside, // beside the old file; the verified backup replaces it in one rename
        InPlace // the file itself, written anew: the old backup is gone once the server starts
    };

    // Asks the server whether it finds a file at a path of this machine.
    using ServerFinds = std::function<bool(const QString& path)>;

    // Locks the target and decides the run's way (see above); the server is asked about a
    // file made for the purpose when it runs on this machine. Then removes what a crashed run
    // left under the temporary name, or takes another name when that cannot be removed.
    // Throws Error, also when another run holds the lock.
    void Prepare(const ServerFinds& serverFinds = {});

    Way way() const { return way_; }
    bool local() const { return way_ == Way::Beside; }
    // The file the server is asked to write: decided by Prepare.
    QString serverPath() const { return way_ == Way::Beside ? sibling_ : file_; }
    // What the run should tell in its log, one line each: for a file written in place, that
    // the last good backup is not kept while it is written, why, and what to grant so it is;
    // a leftover temporary file that could not be removed.
    QStringList notes() const { return notes_; }
    // The lock file held for the run; empty when there is none.
    QString lockPath() const;

    // Puts the verified backup in place of the old file, in one step. Throws Error, and the
    // verified backup then stays under the temporary name, which the error names.
    void Commit() const;
    // Removes a partial backup after a failure; a verified one that could not be put in place
    // is kept, and so is anything of a run that holds the lock. Never throws.
    void Discard() const noexcept;

private:
    void Lock();
    void Decide(const ServerFinds& serverFinds);
    void ChooseSibling();
    void WriteInPlace(const QString& why, const QString& grant);

    QString file_;
    QString folder_;
    QString sibling_;
    QStringList notes_;
    bool seen_ = false;        // a path this machine can look at as the server does
    bool thisMachine_ = false; // the server runs on this machine
    Way way_ = Way::InPlace;
    bool prepared_ = false;
    mutable bool finishedBeside_ = false;    // a verified backup that could not be put in place
    mutable std::unique_ptr<FileLock> lock_; // held from Prepare to the end of the object
};

} // namespace vestrel
