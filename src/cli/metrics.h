#pragma once

#include <QDateTime>
#include <QString>

namespace vestrel::cli {

// One run of `vestrel backup`, as the metrics file reports it.
struct MetricsRun {
    QString server;   // "Data Source"
    QString database; // "Initial Catalog"
    QDateTime started;
    QDateTime ended;
    int result = 0;         // the exit status
    qint64 size = -1;       // the verified file's size; -1 when this machine cannot see it
    bool succeeded = false; // a verified backup
};

// What the metrics keep from one run to the next: the last verified backup.
struct LastSuccess {
    QDateTime when;   // invalid: none yet
    qint64 size = -1; // -1: not known
};

// The last verified backup of this server and database, read back from the metrics file the
// previous run wrote; nothing when there is no such file or it names another database.
LastSuccess ReadLastSuccess(const QString& metricsFile, const QString& server,
                            const QString& database);

// The Prometheus text exposition format, as node-exporter's textfile collector reads it.
// A failed run keeps the previous success's time and size.
QString MetricsText(const MetricsRun& run, const LastSuccess& previous);

// Writes the file whole or not at all: a temporary file beside it, renamed over it, so the
// collector never reads half a file. The temporary name does not end in ".prom".
bool WriteMetricsFile(const QString& file, const QString& text, QString* error);

} // namespace vestrel::cli
