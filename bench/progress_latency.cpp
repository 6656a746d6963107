// How long a progress message takes from the moment the server sends it to the moment the
// sink runs on the calling thread.
#include "backup/sqldmo.h"
#include "support/tds/standin.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

qint64 NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Stamps : vestrel::IBackupEvents {
    QList<qint64> received;
    void PercentComplete(const QString&, int) override { received << NowNs(); }
    void NextMedia(const QString&) override {}
    void Complete(const QString&) override {}
};

double Percentile(QList<double> values, double p) {
    std::sort(values.begin(), values.end());
    const qsizetype at = std::min(values.size() - 1, qsizetype(p * double(values.size())));
    return values.at(at);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr int kBackups = 40;
    QTemporaryDir dir;
    vestrel::test::StandinScript script;
    script.progressDelayMs = 2; // messages apart, as from a real server
    vestrel::test::TdsStandin standin(script);
    vestrel::SQLServer server;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
    Stamps sink;
    for (int i = 0; i < kBackups; ++i) {
        vestrel::Backup backup;
        backup.SetEvents(&sink);
        backup.Database = u"Bench"_s;
        backup.Files = u"["_s + dir.filePath(u"latency.bak"_s) + u"]"_s;
        backup.SQLBackup(server);
    }
    const QList<qint64> sent = standin.ProgressSentNs();
    if (sent.size() != sink.received.size()) {
        std::fprintf(stderr, "progress_latency: %lld sent, %lld received\n",
                     static_cast<long long>(sent.size()),
                     static_cast<long long>(sink.received.size()));
        return 1;
    }
    QList<double> ms;
    for (qsizetype i = 0; i < sent.size(); ++i)
        ms << double(sink.received.at(i) - sent.at(i)) / 1e6;
    std::printf("progress_latency p50=%.3fms p99=%.3fms (goal p99 <= 5 ms) over %lld messages\n",
                Percentile(ms, 0.50), Percentile(ms, 0.99), static_cast<long long>(ms.size()));
    return 0;
}
