#include "platform/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace vestrel {

namespace {

// The lock lives in the temporary folder, named after the program folder, so a program
// folder that cannot be written still has one.
QString lockPathFor(const QString& programFolder) {
    // A folder made at the first start is not there yet: its nearest existing parent is made
    // canonical, so the name is the same before and after.
    QString rest;
    QString existing = QDir::cleanPath(QDir(programFolder).absolutePath());
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath() && !existing.isEmpty()) {
        const QFileInfo info(existing);
        rest = u'/' + info.fileName() + rest;
        existing = info.absolutePath();
    }
    const QString canonical = QDir(existing).canonicalPath();
    const QByteArray key = (canonical.isEmpty() ? programFolder : canonical + rest).toUtf8();
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("vestrel-%1.lock").arg(QString::fromLatin1(digest.left(20))));
}

} // namespace

SingleInstance::SingleInstance(const QString& programFolder)
    : path_(lockPathFor(programFolder)), lock_(std::make_unique<QLockFile>(path_)) {
    // Only a dead owner makes a lock stale: a running instance holds it however long it runs.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire() {
    if (lock_->isLocked() || lock_->tryLock(0))
        return true;
    return lock_->error() != QLockFile::LockFailedError;
}

bool SingleInstance::held() const {
    return lock_->isLocked();
}

} // namespace vestrel
