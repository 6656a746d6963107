#include "job/activitylog.h"

#include "platform/clock.h"
#include "platform/programfolder.h"
#include "platform/regional.h"
#include "platform/textfile.h"

#include <QDir>

namespace vestrel {

QString LogFilePath() {
    return QDir(LogFolder()).filePath(QStringLiteral("Command.log"));
}

bool WriteLog(const QString& text, QString* error) {
    const QString line = DateTimeText(Now()) + QLatin1String(" > ") + text + QLatin1String("\r\n");
    return AppendToFile(LogFilePath(), ToSystemCodePage(line), error);
}

QString LogRule() {
    return QStringLiteral("=========================================================");
}

QString StampText(const QString& prefix, const QDateTime& when) {
    return prefix + DateText(when) + QStringLiteral(" alle ore ") + TimeText(when);
}

QString DefaultBackupFileName(const QDateTime& when) {
    return QStringLiteral("C:\\Backup_") + DateText(when).remove(QLatin1Char('/')) +
           QLatin1Char('_') + TimeText(when).remove(QLatin1Char('.'));
}

} // namespace vestrel
