#pragma once

#include "job/backupstate.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vestrel {

// How many verified backups a target keeps ("COPIE"): the newest at the backup file itself,
// the others beside it as restore points.
inline constexpr int kMaxCopies = 999;

// The number in the text of "COPIE": a whole number from 1 to kMaxCopies, digits only. Throws
// Error saying what is wrong with anything else.
int CopiesToKeep(const QString& text);

// The name of a restore point of a backup file: the file's name with the date and time of the
// backup it holds before the extension, and a serial number from the second one in the same
// second: D:\Backup\Sales.bak -> D:\Backup\Sales_2026-12-07_100000.bak, then
// Sales_2026-12-07_100000_2.bak. Sorted by name they are in the order they were taken; the
// name holds no character Windows forbids in a file name.
QString RestorePointName(const QString& file, const QDateTime& when, int serial = 1);

// Reads a name back: true when `candidate` is named as a restore point of `file` is, with the
// backup's local date and time and the serial number.
bool IsRestorePointOf(const QString& file, const QString& candidate, QDateTime* when = nullptr,
                      int* serial = nullptr);

// The restore points of one backup file that the program manages (a target this machine
// sees as the server does). With one copy to keep the backup file is simply replaced; with
// more, the backup in place steps aside under a dated name before the new one takes its
// place, and once the new one is in place the oldest restore points beyond the number to keep
// go. Only restore points this program made and recorded are ever deleted: a file of the same
// pattern that someone else put there stays.
class RestorePoints {
public:
    RestorePoints(QString file, int keep) : file_(std::move(file)), keep_(keep) {}

    // Before the new backup takes the file's place: the backup there becomes a restore point,
    // named for the time it was taken (the last good backup's when it is that file, else the
    // file's own modification time). Where the file system has hard links the file stays in
    // place meanwhile, so there is never a moment without it. Nothing happens with one copy to
    // keep or when there is no plain file at the name. Throws Error.
    void SetAside(const LastGoodBackup& last);
    // The new backup could not take the file's place: the backup set aside is the file again,
    // as it was. Never throws.
    void PutBack() noexcept;
    // The restore point SetAside made, or empty.
    QString Made() const { return made_; }

    // After the new backup is in place: of the restore points of this file in `recorded` (in
    // the order they were made) and the one just made, the newest keep - 1 stay and the others
    // are deleted. Returns the
    // record without the deleted ones and without those that are gone; one that could not be
    // deleted stays in it, and *failures says why.
    QStringList Prune(const QStringList& recorded, QStringList* failures) const;

private:
    QString file_;
    int keep_ = 1;
    QString made_;
    bool linked_ = false; // made_ is a second name of the file, which is still in place
};

} // namespace vestrel
