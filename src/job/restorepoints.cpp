#include "job/restorepoints.h"

#include "job/nativefile.h"
#include "platform/error.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <filesystem>
#include <system_error>

namespace vestrel {

using namespace Qt::StringLiterals;
namespace fs = std::filesystem;

namespace {

constexpr int kMaxSerial = 999;
const QString kStampFormat = u"yyyy-MM-dd_HHmmss"_s;

// The backup file's name in three pieces: the folder as written (separator included), the
// name without its extension, and the extension with its dot ("" when there is none; a name
// that starts with its only dot has none).
struct NameParts {
    QString folder;
    QString base;
    QString extension;
};

NameParts split(const QString& file) {
    const QString name = QFileInfo(file).fileName();
    NameParts parts{file.left(file.size() - name.size()), name, QString()};
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0) {
        parts.base = name.left(dot);
        parts.extension = name.mid(dot);
    }
    return parts;
}

bool isPlainFile(const QString& path) {
    std::error_code error;
    return fs::symlink_status(NativePath(path), error).type() == fs::file_type::regular;
}

bool samePath(const QString& a, const QString& b) {
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
           QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

} // namespace

int CopiesToKeep(const QString& text) {
    static const QRegularExpression digits(u"^[0-9]{1,9}$"_s);
    const int copies = digits.match(text).hasMatch() ? text.toInt() : 0;
    if (copies < 1 || copies > kMaxCopies)
        throw Error(u"Il valore di COPIE (\"%1\") non \u00e8 valido: deve essere un numero intero "
                    u"da 1 a %2."_s.arg(text)
                        .arg(kMaxCopies));
    return copies;
}

QString RestorePointName(const QString& file, const QDateTime& when, int serial) {
    const NameParts parts = split(file);
    QString name = parts.folder + parts.base + u'_' + when.toLocalTime().toString(kStampFormat);
    if (serial > 1)
        name += u'_' + QString::number(serial);
    return name + parts.extension;
}

bool IsRestorePointOf(const QString& file, const QString& candidate, QDateTime* when, int* serial) {
    const NameParts parts = split(file);
    const QRegularExpression pattern(u"^"_s +
                                     QRegularExpression::escape(parts.folder + parts.base) +
                                     u"_(\\d{4}-\\d{2}-\\d{2}_\\d{6})(?:_([1-9]\\d{0,2}))?"_s +
                                     QRegularExpression::escape(parts.extension) + u"$"_s);
    const QRegularExpressionMatch match = pattern.match(candidate);
    if (!match.hasMatch())
        return false;
    const QDateTime stamp = QDateTime::fromString(match.captured(1), kStampFormat);
    const int number = match.captured(2).isEmpty() ? 1 : match.captured(2).toInt();
    if (!stamp.isValid() || number < 1 || (number == 1 && !match.captured(2).isEmpty()))
        return false;
    if (when)
        *when = stamp;
    if (serial)
        *serial = number;
    return true;
}

void RestorePoints::SetAside(const LastGoodBackup& last) {
    if (keep_ <= 1 || !isPlainFile(file_))
        return;
    const QFileInfo info(file_);
    // The last good backup's own time when that is the file here; a file of another program
    // or an earlier version has its modification time, which is when its writing ended.
    const bool recorded = last.Known() && samePath(last.file, file_) && last.size == info.size();
    const QDateTime when = recorded ? last.when : info.lastModified();
    for (int serial = 1; serial <= kMaxSerial; ++serial) {
        const QString name = RestorePointName(file_, when, serial);
        std::error_code error;
        // A second name for the file: it stays in place until the new backup replaces it, and
        // the link fails rather than take a name that exists.
        fs::create_hard_link(NativePath(file_), NativePath(name), error);
        if (!error) {
            made_ = name;
            linked_ = true;
            return;
        }
        if (error == std::errc::file_exists)
            continue;
        // No hard links on this file system (FAT, some shares): the file moves aside, never
        // over a name that exists.
        if (fs::exists(NativePath(name), error) || error)
            continue;
        fs::rename(NativePath(file_), NativePath(name), error);
        if (error)
            throw Error(
                u"Impossibile spostare il file %1 in %2: %3"_s.arg(file_, name, SystemText(error)));
        made_ = name;
        linked_ = false;
        return;
    }
    throw Error(u"Impossibile conservare il file %1: troppi punti di ripristino con la stessa "
                u"ora."_s.arg(file_));
}

void RestorePoints::PutBack() noexcept {
    if (made_.isEmpty())
        return;
    std::error_code error;
    if (linked_)
        fs::remove(NativePath(made_), error); // the file itself never left
    else if (!fs::exists(NativePath(file_), error))
        fs::rename(NativePath(made_), NativePath(file_), error);
    made_.clear();
}

QStringList RestorePoints::Prune(const QStringList& recorded, QStringList* failures) const {
    QStringList record = recorded;
    if (!made_.isEmpty() && !record.contains(made_))
        record.append(made_);
    // The record is in the order the points were made, which is the order of the backups they
    // hold: each was the newest backup when it stepped aside.
    QStringList points;
    for (const QString& path : std::as_const(record)) {
        if (!IsRestorePointOf(file_, path))
            continue; // another backup file's, or no name of ours
        // Gone, or no longer a plain file: whatever is there now is not ours to delete.
        if (!isPlainFile(path)) {
            record.removeAll(path);
            continue;
        }
        if (!points.contains(path))
            points.append(path);
    }
    const qsizetype excess = points.size() - (keep_ - 1);
    for (qsizetype i = 0; i < excess; ++i) {
        std::error_code error;
        fs::remove(NativePath(points[i]), error);
        if (error) {
            if (failures)
                failures->append(u"Impossibile eliminare il punto di ripristino %1: %2"_s.arg(
                    points[i], SystemText(error)));
            continue;
        }
        record.removeAll(points[i]);
    }
    return record;
}

} // namespace vestrel
