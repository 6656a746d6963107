#include "job/eventlines.h"

namespace vestrel {

QString PercentCompleteLine(const QString& Message, int Percent) {
    return QStringLiteral("oBackupEvent_PercentComplete -- ") + Message + QLatin1Char(' ') +
           QString::number(Percent);
}

QString NextMediaLine(const QString& Message) {
    return QStringLiteral("oBackupEvent_NextMedia -- ") + Message;
}

QString CompleteLine(const QString& Message) {
    return QStringLiteral("oBackupEvent_Complete -- ") + Message;
}

} // namespace vestrel
