#include "job/backupstate.h"

#include "platform/programfolder.h"
#include "platform/textfile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vestrel {

using namespace Qt::StringLiterals;

namespace {

// With its offset from UTC, so the instant survives a change of time zone or of summer time.
QString stamp(const QDateTime& when) {
    return when.isValid() ? when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate)
                          : QString();
}

QDateTime instant(const QJsonValue& value) {
    const QDateTime when = QDateTime::fromString(value.toString(), Qt::ISODate);
    return when.isValid() ? when.toLocalTime() : QDateTime();
}

} // namespace

QString BackupStateFilePath() {
    return QDir(LogFolder()).filePath(u"state.json"_s);
}

BackupState ReadBackupState(QString* why) {
    BackupState state;
    QFile file(BackupStateFilePath());
    if (!file.exists())
        return state;
    if (!file.open(QIODevice::ReadOnly)) {
        if (why)
            *why = file.errorString();
        return state;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        if (why)
            *why = error.errorString();
        return state;
    }
    const QJsonObject root = document.object();
    const QJsonObject last = root.value(u"lastGoodBackup"_s).toObject();
    state.lastGood.when = instant(last.value(u"when"_s));
    state.lastGood.file = last.value(u"file"_s).toString();
    state.lastGood.size = qint64(last.value(u"size"_s).toDouble(-1));
    state.firstStart = instant(root.value(u"firstStart"_s));
    for (const QJsonValue& point : root.value(u"restorePoints"_s).toArray())
        if (point.isString() && !point.toString().isEmpty())
            state.restorePoints.append(point.toString());
    return state;
}

bool WriteBackupState(const BackupState& state, QString* why) {
    QJsonObject root;
    if (state.firstStart.isValid())
        root.insert(u"firstStart"_s, stamp(state.firstStart));
    if (state.lastGood.Known())
        root.insert(u"lastGoodBackup"_s, QJsonObject{{u"when"_s, stamp(state.lastGood.when)},
                                                     {u"file"_s, state.lastGood.file},
                                                     {u"size"_s, double(state.lastGood.size)}});
    root.insert(u"restorePoints"_s, QJsonArray::fromStringList(state.restorePoints));
    FileWriteError error = FileWriteError::None;
    QString detail;
    if (ReplaceFileContents(BackupStateFilePath(), QJsonDocument(root).toJson(), &error, &detail))
        return true;
    if (why)
        *why = detail.isEmpty() ? u"errore di scrittura"_s : detail;
    return false;
}

} // namespace vestrel
