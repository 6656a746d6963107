#include "cli/metrics.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace vestrel::cli {
namespace {

const QString kLastSuccess = QStringLiteral("vestrel_last_success_timestamp_seconds");
const QString kLastSize = QStringLiteral("vestrel_last_backup_size_bytes");

// A label value: backslash, double quote and line feed escaped, as the format asks.
QString LabelValue(const QString& text) {
    QString escaped;
    for (QChar c : text) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'"')
            escaped += QStringLiteral("\\\"");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else
            escaped += c;
    }
    return escaped;
}

QString Labels(const QString& server, const QString& database) {
    return QStringLiteral("{server=\"%1\",database=\"%2\"}")
        .arg(LabelValue(server), LabelValue(database));
}

QString Seconds(const QDateTime& when) {
    return QString::number(double(when.toMSecsSinceEpoch()) / 1000.0, 'f', 3);
}

} // namespace

LastSuccess ReadLastSuccess(const QString& metricsFile, const QString& server,
                            const QString& database) {
    LastSuccess last;
    QFile file(metricsFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return last;
    const QString labels = Labels(server, database);
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (const QString& line : lines) {
        if (line.startsWith(u'#'))
            continue;
        const qsizetype blank = line.lastIndexOf(u' ');
        if (blank < 0)
            continue;
        const QString series = line.left(blank);
        bool number = false;
        const double value = line.mid(blank + 1).toDouble(&number);
        if (!number)
            continue;
        if (series == kLastSuccess + labels && value > 0)
            last.when = QDateTime::fromMSecsSinceEpoch(qint64(value * 1000.0 + 0.5));
        else if (series == kLastSize + labels && value >= 0)
            last.size = qint64(value);
    }
    return last;
}

QString MetricsText(const MetricsRun& run, const LastSuccess& previous) {
    LastSuccess last = previous;
    if (run.succeeded) {
        last.when = run.ended;
        last.size = run.size;
    }
    const QString labels = Labels(run.server, run.database);
    QString text;
    const auto gauge = [&](const QString& name, const QString& help, const QString& value) {
        text += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n%1%3 %4\n")
                    .arg(name, help, labels, value);
    };
    gauge(kLastSuccess,
          QStringLiteral("Time the last verified backup ended, in seconds since the epoch; 0 "
                         "when there has been none."),
          last.when.isValid() ? Seconds(last.when) : QStringLiteral("0"));
    gauge(QStringLiteral("vestrel_last_attempt_timestamp_seconds"),
          QStringLiteral("Time the last backup run started, in seconds since the epoch."),
          Seconds(run.started));
    gauge(QStringLiteral("vestrel_last_result"),
          QStringLiteral("Exit status of the last run: 0 a verified backup, 1 other failure, 3 "
                         "settings, 4 connection or login, 5 backup, 6 verification, 7 target "
                         "in use, 8 cancelled."),
          QString::number(run.result));
    gauge(QStringLiteral("vestrel_last_duration_seconds"),
          QStringLiteral("Duration of the last backup run, in seconds."),
          QString::number(double(run.started.msecsTo(run.ended)) / 1000.0, 'f', 3));
    // A remote server's own disk: this machine never sees the file, so there is no size.
    if (last.size >= 0)
        gauge(kLastSize, QStringLiteral("Size of the last verified backup file, in bytes."),
              QString::number(last.size));
    return text;
}

bool WriteMetricsFile(const QString& file, const QString& text, QString* error) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0 || !out.commit()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

} // namespace vestrel::cli
