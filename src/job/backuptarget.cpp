#include "job/backuptarget.h"

#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

namespace vestrel {

namespace {

std::filesystem::path nativePath(const QString& path) {
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdU16String());
}

// Removes the file if there is one; a missing file is no failure.
bool removeFile(const QString& path, std::error_code& error) {
    const auto target = nativePath(path);
    const auto status = std::filesystem::symlink_status(target, error);
    if (error || status.type() == std::filesystem::file_type::not_found) {
        error.clear();
        return status.type() == std::filesystem::file_type::not_found;
    }
    return std::filesystem::remove(target, error);
}

} // namespace

BackupTarget::BackupTarget(QString file, bool serverIsThisMachine) : file_(std::move(file)) {
    // Only an absolute path names a place this machine can look at; a relative one (or a
    // drive-letter path on a system without drives) means something only to the server. A
    // remote server's "D:\Backup" is its own disk, whatever this machine has under that name;
    // a network share's path ("\\host\share\...") is the same place from both sides.
    const bool shared = serverIsThisMachine || file_.startsWith(QStringLiteral("\\\\")) ||
                        file_.startsWith(QStringLiteral("//"));
    if (shared && QDir::isAbsolutePath(file_)) {
        const QFileInfo info(file_);
        local_ = info.absoluteDir().exists();
        sibling_ = info.absoluteFilePath() + QStringLiteral(".vestrel-new");
    }
}

BackupTarget::~BackupTarget() = default;

void BackupTarget::Prepare() const {
    if (!local_)
        return;
    if (!lock_) {
        auto lock = std::make_unique<FileLock>(file_ + QStringLiteral(".vestrel-lock"));
        QString why;
        const QString owner = QStringLiteral("%1 (pid %2)")
                                  .arg(QDir::toNativeSeparators(ProgramFolder()))
                                  .arg(QCoreApplication::applicationPid());
        switch (lock->TryLock(owner, &why)) {
        case FileLock::Result::Locked:
            lock_ = std::move(lock);
            break;
        case FileLock::Result::Busy:
            throw TargetBusy(
                QStringLiteral("Il file %1 \u00e8 in uso da un altro backup in corso%2.")
                    .arg(file_, why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why)));
        case FileLock::Result::Failed:
            throw Error(
                QStringLiteral("Impossibile bloccare il file %1: %2").arg(lock->path(), why));
        }
    }
    std::error_code error;
    if (!removeFile(sibling_, error))
        throw Error(QStringLiteral("Impossibile eliminare il file %1: %2")
                        .arg(sibling_, QString::fromStdString(error.message())));
}

void BackupTarget::Commit() const {
    if (!local_)
        return;
    if (!lock_)
        throw Error(QStringLiteral("Il file %1 non \u00e8 stato preparato.").arg(file_));
    std::error_code error;
    if (!std::filesystem::exists(nativePath(sibling_), error))
        throw Error(
            QStringLiteral("Il backup scritto dal server non si trova in %1.").arg(sibling_));
    std::filesystem::rename(nativePath(sibling_), nativePath(file_), error);
    // The finished backup stays under its sibling name then: it is good, only not in place.
    if (error) {
        finishedBeside_ = true;
        throw Error(QStringLiteral("Impossibile sostituire il file %1 con %2: %3")
                        .arg(file_, sibling_, QString::fromStdString(error.message())));
    }
}

void BackupTarget::Discard() const noexcept {
    // Without the lock the sibling may be another run's partial file.
    if (!local_ || finishedBeside_ || !lock_)
        return;
    std::error_code error;
    removeFile(sibling_, error);
}

} // namespace vestrel
