// What the command line costs beside the window: the wall time of `vestrel backup` from the
// process's start to its exit, against the window's own job (FMain::RunBackup in a running
// program) on the same TDS stand-in, alternating, in one run. The difference is what a timer
// pays for a fresh process: its start, the settings read, the exit.
//   cli_overhead <vestrel>
#include "app/fmain.h"
#include "support/fixtures.h"
#include "support/tds/standin.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <algorithm>
#include <cstdio>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

qint64 median(QList<qint64> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: cli_overhead <vestrel>\n");
        return 2;
    }
    const QString exe = QString::fromLocal8Bit(argv[1]);
    constexpr int kRuns = 15;
    test::TempProgramFolder folder;
    test::TdsStandin standin;
    const QString config = folder.file(u"config.ini"_s);
    {
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(
            u"[Connection String]\r\nData Source=%1\r\nInitial Catalog=Bench\r\nUser ID=sa\r\n"
            u"Password=secret\r\nIntegrated Security=0\r\n[Opzioni_Avanzate]\r\n"
            u"FileName=%2\r\n"_s.arg(standin.ServerName(), folder.file(u"Bench.bak"_s))
                .toUtf8());
    }
    FMain form;
    form.txtSrv->setText(standin.ServerName());
    form.txtUsr->setText(u"sa"_s);
    form.txtPwd->setText(u"secret"_s);
    form.txtDBName->setText(u"Bench"_s);
    form.TxtPath->setText(folder.file(u"Bench.bak"_s));

    QList<qint64> commandLine, window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"DISPLAY"_s);
    env.remove(u"QT_QPA_PLATFORM"_s);
    for (int run = 0; run < kRuns + 1; ++run) {
        QElapsedTimer timer;
        QProcess process;
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        timer.start();
        process.start(exe, {u"backup"_s, u"--config"_s, config, u"--log-dir"_s, folder.path()});
        if (!process.waitForFinished(60000) || process.exitCode() != 0) {
            std::fprintf(stderr, "cli_overhead: vestrel backup failed\n");
            return 1;
        }
        const qint64 cli = timer.nsecsElapsed();
        timer.start();
        form.RunBackup();
        const qint64 job = timer.nsecsElapsed();
        if (run == 0)
            continue; // the first of each warms the caches
        commandLine.append(cli);
        window.append(job);
    }
    const double cliMs = double(median(commandLine)) / 1e6;
    const double jobMs = double(median(window)) / 1e6;
    std::printf("vestrel backup, start to exit: median %.1f ms; the window's job: median %.1f ms; "
                "the command line costs %+.1f ms (goal <= 50 ms more), %d runs each\n",
                cliMs, jobMs, cliMs - jobMs, kRuns);
    return 0;
}
