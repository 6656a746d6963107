#include "job/backuptarget.h"

#include "job/nativefile.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <filesystem>
#include <system_error>
#ifndef _WIN32
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vestrel {

using namespace Qt::StringLiterals;

namespace {

// Removes the file if there is one; a missing file is no failure.
bool removeFile(const QString& path, std::error_code& error) {
    const auto target = NativePath(path);
    const auto status = std::filesystem::symlink_status(target, error);
    if (error || status.type() == std::filesystem::file_type::not_found) {
        error.clear();
        return status.type() == std::filesystem::file_type::not_found;
    }
    return std::filesystem::remove(target, error);
}

QString UserName() {
#ifdef _WIN32
    return qEnvironmentVariable("USERNAME");
#else
    if (const passwd* user = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(user->pw_name);
    return QString::number(::geteuid());
#endif
}

// A sticky folder lets only a file's owner (or the folder's) rename it: the backup the server
// writes there as another user could not take the old one's place. Whether the server writes
// as this user shows in the file it wrote last; without one, it is taken not to.
bool StickyForServerFiles(const QString& folder, const QString& file) {
#ifdef _WIN32
    Q_UNUSED(folder);
    Q_UNUSED(file);
    return false;
#else
    struct stat dir {};
    if (::stat(QFile::encodeName(folder).constData(), &dir) != 0 || !(dir.st_mode & S_ISVTX))
        return false;
    const uid_t me = ::geteuid();
    if (me == 0 || dir.st_uid == me)
        return false;
    struct stat last {};
    return ::lstat(QFile::encodeName(file).constData(), &last) != 0 || last.st_uid != me;
#endif
}

const QString kReadme = u" (README: \"Which backup files keep the last good backup\")"_s;

} // namespace

BackupTarget::BackupTarget(QString file, bool serverIsThisMachine)
    : file_(std::move(file)), thisMachine_(serverIsThisMachine) {
    // Only an absolute path names a place this machine can look at; a relative one (or a
    // drive-letter path on a system without drives) means something only to the server. A
    // remote server's "D:\Backup" is its own disk, whatever this machine has under that name;
    // a network share's path ("\\host\share\...") is the same place from both sides.
    const bool shared =
        serverIsThisMachine || file_.startsWith(u"\\\\"_s) || file_.startsWith(u"//"_s);
    if (shared && QDir::isAbsolutePath(file_)) {
        const QFileInfo info(file_);
        folder_ = info.absolutePath();
        seen_ = info.absoluteDir().exists();
    }
}

BackupTarget::~BackupTarget() = default;

QString BackupTarget::lockPath() const {
    return lock_ ? lock_->path() : QString();
}

void BackupTarget::Prepare(const ServerFinds& serverFinds) {
    if (prepared_)
        return;
    if (!seen_) {
        if (file_.startsWith(u"\\\\"_s) || file_.startsWith(u"//"_s))
            WriteInPlace(u"questo computer non pu\u00f2 aprire la cartella condivisa con quel "
                         u"nome"_s,
                         u"eseguire il backup da un computer che apre la cartella con lo stesso "
                         u"nome del server (Windows)"_s);
        else if (!thisMachine_)
            WriteInPlace(u"il file \u00e8 sui dischi del server, che questo computer non vede"_s,
                         u"scegliere una cartella condivisa (\\\\computer\\cartella\\...) in cui "
                         u"il server possa scrivere"_s);
        else if (QDir::isAbsolutePath(file_))
            WriteInPlace(u"la cartella %1 non esiste su questo computer"_s.arg(
                             QDir::toNativeSeparators(QFileInfo(file_).absolutePath())),
                         u"creare la cartella su questo computer e, per un server in un "
                         u"container, montarla nel server allo stesso percorso"_s);
        else
            WriteInPlace(u"il nome non \u00e8 un percorso completo di questo computer"_s,
                         u"indicare il percorso completo di una cartella di questo computer"_s);
        prepared_ = true;
        return;
    }
    Lock();
    Decide(serverFinds);
    if (way_ == Way::Beside)
        ChooseSibling();
    prepared_ = true;
}

void BackupTarget::Lock() {
    const QString owner = u"%1 (pid %2)"_s.arg(QDir::toNativeSeparators(ProgramFolder()))
                              .arg(QCoreApplication::applicationPid());
    const auto busy = [this](const QString& why) {
        return TargetBusy(u"Il file %1 \u00e8 in uso da un altro backup in corso%2."_s.arg(
            file_, why.isEmpty() ? QString() : u" (%1)"_s.arg(why)));
    };
    auto beside = std::make_unique<FileLock>(file_ + u".vestrel-lock"_s);
    QString besideWhy;
    switch (beside->TryLock(owner, &besideWhy)) {
    case FileLock::Result::Locked:
        lock_ = std::move(beside);
        return;
    case FileLock::Result::Busy:
        throw busy(besideWhy);
    case FileLock::Result::Failed:
        break;
    }
    // The folder is not ours to write, the name too long, or something stands in the way: the
    // lock goes to the program's state folder, named after the target's full path.
    const QByteArray key = QDir::cleanPath(file_).toUtf8();
    const QString name =
        u"vestrel-lock-"_s +
        QString::fromLatin1(
            QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
    QDir().mkpath(LogFolder());
    auto own = std::make_unique<FileLock>(QDir(LogFolder()).filePath(name));
    QString ownWhy;
    switch (own->TryLock(owner, &ownWhy)) {
    case FileLock::Result::Locked:
        lock_ = std::move(own);
        return;
    case FileLock::Result::Busy:
        throw busy(ownWhy);
    case FileLock::Result::Failed:
        break;
    }
    throw Error(u"Impossibile bloccare il file %1: %2; neppure con %3: %4"_s.arg(
        beside->path(), besideWhy, own->path(), ownWhy));
}

void BackupTarget::WriteInPlace(const QString& why, const QString& grant) {
    way_ = Way::InPlace;
    notes_.append(u"Il backup viene scritto direttamente nel file %1: l'ultimo backup buono non "
                  u"viene conservato durante la scrittura, perch\u00e9 %2. Per conservarlo: "
                  u"%3%4."_s.arg(QDir::toNativeSeparators(file_), why, grant, kReadme));
}

void BackupTarget::Decide(const ServerFinds& serverFinds) {
    const QString folder = QDir::toNativeSeparators(folder_);
    const QString user = UserName();
    const QString grantFolder =
        u"concedere all'utente %1 di creare e rinominare file nella cartella, per esempio "
        u"sudo setfacl -m u:%1:rwx %2"_s.arg(user, folder);
    // The names beside it (the longest: the probe's, ".vestrel-" + 10 digits + "-r") must fit
    // in a folder entry.
    constexpr qsizetype kLongestSuffix = 21;
    constexpr qsizetype kNameMax = 255;
    if (QFile::encodeName(QFileInfo(file_).fileName()).size() + kLongestSuffix > kNameMax) {
        WriteInPlace(
            u"il nome del file \u00e8 troppo lungo per scriverne un altro accanto"_s,
            u"scegliere un nome di file di al massimo %1 byte"_s.arg(kNameMax - kLongestSuffix));
        return;
    }
    // A file of our own, made, renamed and removed again: what the job will do with the
    // server's backup. Its name is new each time, so nothing of anyone else's is touched.
    const QString probe =
        file_ + u".vestrel-"_s +
        QString::number(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFull, 16)
            .rightJustified(10, u'0');
    QFile made(probe);
    if (!made.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        WriteInPlace(u"questo programma non pu\u00f2 creare file nella cartella %1 (%2)"_s.arg(
                         folder, made.errorString()),
                     grantFolder);
        return;
    }
    made.write("Vestrel\n");
    made.close();
    const QString moved = probe + u"-r"_s;
    std::error_code error;
    std::filesystem::rename(NativePath(probe), NativePath(moved), error);
    if (error) {
        removeFile(probe, error);
        WriteInPlace(u"questo programma non pu\u00f2 rinominare file nella cartella %1 (%2)"_s.arg(
                         folder, SystemText(error)),
                     grantFolder);
        return;
    }
    bool found = true;
    std::error_code ignored;
    try {
        found = !thisMachine_ || !serverFinds || serverFinds(moved);
    } catch (...) {
        removeFile(moved, ignored); // the question failed (a lost connection, a cancel)
        throw;
    }
    removeFile(moved, ignored);
    if (!found) {
        WriteInPlace(u"il server non trova i file di questo computer nella cartella %1: scrive "
                     u"in un file system suo (per esempio in un container)"_s.arg(folder),
                     u"montare la cartella nel server allo stesso percorso, per esempio docker "
                     u"run -v %1:%1 ..."_s.arg(folder));
        return;
    }
    if (thisMachine_ && StickyForServerFiles(folder_, file_)) {
        WriteInPlace(u"la cartella %1 ha lo sticky bit: il backup scritto dal server non "
                     u"potrebbe prendere il posto di quello vecchio"_s.arg(folder),
                     u"usare una cartella senza sticky bit in cui possano scrivere sia il server "
                     u"sia l'utente %1, per esempio del gruppo del server"_s.arg(user));
        return;
    }
    way_ = Way::Beside;
}

void BackupTarget::ChooseSibling() {
    // A leftover of an earlier run that cannot be removed (another user's file in a sticky
    // folder, say) must not stop this one: it takes the next name.
    const QString base = file_ + u".vestrel-new"_s;
    for (int n = 1; n <= 9; ++n) {
        const QString name = n == 1 ? base : base + QString::number(n);
        std::error_code error;
        if (removeFile(name, error)) {
            sibling_ = name;
            return;
        }
        notes_.append(u"Impossibile eliminare il file %1 di un backup precedente (%2): il "
                      u"backup viene scritto accanto con un altro nome."_s.arg(
                          QDir::toNativeSeparators(name), SystemText(error)));
    }
    throw Error(
        u"Impossibile eliminare i file %1 ... %2 di backup precedenti."_s.arg(base, base + u"9"_s));
}

void BackupTarget::Commit() const {
    if (!prepared_)
        throw Error(u"Il file %1 non \u00e8 stato preparato."_s.arg(file_));
    if (way_ != Way::Beside)
        return;
    if (!lock_)
        throw Error(u"Il file %1 non \u00e8 stato preparato."_s.arg(file_));
    std::error_code error;
    if (!std::filesystem::exists(NativePath(sibling_), error))
        throw Error(u"Il backup scritto dal server non si trova in %1."_s.arg(sibling_));
    std::filesystem::rename(NativePath(sibling_), NativePath(file_), error);
    // The verified backup stays under its temporary name then: good, only not in place.
    if (error) {
        finishedBeside_ = true;
        throw Error(u"Impossibile sostituire il file %1 con il backup verificato: %2. Il backup "
                    u"verificato \u00e8 nel file %3."_s.arg(file_, SystemText(error), sibling_));
    }
}

void BackupTarget::Discard() const noexcept {
    // Without the lock the temporary file may be another run's partial file.
    if (way_ != Way::Beside || finishedBeside_ || !lock_)
        return;
    std::error_code error;
    removeFile(sibling_, error);
}

} // namespace vestrel
