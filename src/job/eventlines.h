#pragma once

#include <QString>

namespace vestrel {

// The log lines of the backup object's events, the same from every front end: a prefix that
// names the event, then the server's message as it came ("" included).
QString PercentCompleteLine(const QString& Message, int Percent);
QString NextMediaLine(const QString& Message);
QString CompleteLine(const QString& Message);

} // namespace vestrel
