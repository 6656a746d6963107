// What keeping restore points costs a run: the whole job against the stand-in with COPIE=1
// and with COPIE=3, 40 runs each, median against median; and the restore-point steps alone
// (step aside, then delete the oldest beyond the number to keep) for a small file and for a
// 4 GiB one (sparse, so it takes no room): the file is never copied, so its size must not
// matter.
#include "job/backupjob.h"
#include "job/restorepoints.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "support/quietfront.h"
#include "support/tds/standin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace vestrel;
using test::QuietFront;
using namespace Qt::StringLiterals;

namespace {

// Each run one hour after the last, so every restore point has a name of its own.
class StepClock final : public IClock {
public:
    QDateTime Now() const override { return now; }
    QDateTime now{QDate(2026, 12, 7), QTime(10, 0)};
};

double Median(QList<qint64> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : double(values[values.size() / 2]);
}

// The job's median with COPIE=1 and with COPIE=3, runs of the two taken in turn so a busy
// machine weighs on both alike; in ms.
std::pair<double, double> JobMs(int runs) {
    QTemporaryDir folder;
    SetProgramFolder(folder.path());
    StepClock clock;
    ScopedSeam<IClock> seam(ClockSeam(), &clock);
    const test::TdsStandin standin;
    QuietFront front;
    SettingsRecord settings;
    settings.sDataSource = standin.ServerName();
    settings.sUserID = u"sa"_s;
    settings.sPassword = u"secret"_s;
    settings.sInitialCatalog = u"Sales"_s;
    QList<qint64> times[2];
    for (int i = 0; i < 2 * runs; ++i) {
        const int kind = i % 2;
        settings.sCopies = kind == 0 ? u"1"_s : u"3"_s;
        BackupJob job(front);
        QElapsedTimer timer;
        timer.start();
        const QString file = folder.filePath(kind == 0 ? u"One.bak"_s : u"Three.bak"_s);
        if (!job.Run(settings, file).ok())
            std::fprintf(stderr, "restore_points: a run failed\n");
        times[kind].append(timer.nsecsElapsed());
        clock.now = clock.now.addSecs(3600);
    }
    SetProgramFolder(QString());
    return {Median(times[0]) / 1e6, Median(times[1]) / 1e6};
}

// Steps aside and prunes `rounds` times over a file of `bytes`; the median of one round, in µs.
double StepsUs(qint64 bytes, int rounds) {
    QTemporaryDir folder;
    const QString file = folder.filePath(u"big.bak"_s);
    QStringList recorded;
    QList<qint64> times;
    QDateTime when(QDate(2026, 12, 7), QTime(10, 0));
    for (int i = 0; i < rounds; ++i) {
        QFile make(file);
        if (!make.open(QIODevice::WriteOnly) || !make.resize(bytes))
            return -1;
        make.close();
        QElapsedTimer timer;
        timer.start();
        RestorePoints points(file, 3);
        points.SetAside({when, file, bytes});
        QFile::remove(file); // what the new backup's rename does to the old name
        recorded = points.Prune(recorded, nullptr);
        times.append(timer.nsecsElapsed());
        when = when.addSecs(3600);
    }
    return Median(times) / 1e3;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto [one, three] = JobMs(40);
    std::printf("restore points: job median %.1f ms with COPIE=1, %.1f ms with COPIE=3: "
                "%+.1f ms (goal <= 5 ms)\n",
                one, three, three - one);
    const double small = StepsUs(64 * 1024, 50);
    const double large = StepsUs(4LL * 1024 * 1024 * 1024, 50);
    std::printf("restore points: step aside + prune %.0f us for 64 KiB, %.0f us for 4 GiB "
                "(goal: the same order, no copy)\n",
                small, large);
    return 0;
}
