// The TDS stand-in as a program of its own, for the demo and the end-to-end run: it listens
// on 127.0.0.1, prints "port N" on a line of its own and serves until it is stopped.
// With --pause-at N the first backup is held after its "N percent processed." message: the
// program prints "paused N" and goes on when a line arrives on its standard input.
// --encryption off|on|none chooses the answer to the client's PRELOGIN ENCRYPTION: "off" (the
// default, as SQL Server: the login inside TLS, the rest plain), "on" (the whole session
// inside TLS, as with "Force Encryption") or "none" (no certificate, nothing encrypted).
// --play 2000 answers as SQL Server 2000 (TDS 7.1, no CHECKSUM); --damage truncate|flip
// damages every backup set after writing it; --end no-3014|bare-error ends every backup
// without its completion message, or with a DONE(ERROR) and no ERROR token.
// With --stall-at N every backup stops answering after that message, as a hung server would:
// the program prints "stalled N" and holds the connection open, sending nothing, until it
// is stopped. --file-owner UID:GID writes and reads the backup files as that account (as
// SQL Server on Linux does as mssql; needs root), --file-root DIR in a file system of its own
// rooted there (as a server in a container).
// Test code only; it is never installed.
#include "support/tds/standin.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    vestrel::test::StandinScript script;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--password"))
            script.password = args[i + 1];
        else if (args[i] == QLatin1String("--delay-ms"))
            script.progressDelayMs = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--pause-at"))
            script.pauseAtPercent = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--encryption")) {
            const QString mode = args[i + 1];
            if (mode == QLatin1String("on"))
                script.encryption = vestrel::test::StandinEncryption::On;
            else if (mode == QLatin1String("none"))
                script.encryption = vestrel::test::StandinEncryption::NotSupported;
            else if (mode != QLatin1String("off")) {
                std::fprintf(stderr, "tds_standin: --encryption takes off, on or none\n");
                return 2;
            }
        } else if (args[i] == QLatin1String("--play"))
            script.sqlServer2000 = args[i + 1] == QLatin1String("2000");
        else if (args[i] == QLatin1String("--damage"))
            script.damageWrittenSet = args[i + 1] == QLatin1String("truncate")
                                          ? vestrel::test::StandinScript::Damage::Truncate
                                          : vestrel::test::StandinScript::Damage::FlipByte;
        else if (args[i] == QLatin1String("--end")) {
            script.omitFinalMessage = args[i + 1] == QLatin1String("no-3014");
            script.errorWithoutMessage = args[i + 1] == QLatin1String("bare-error");
        } else if (args[i] == QLatin1String("--stall-at"))
            script.stallAtPercent = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--file-owner")) {
            script.fileUid = args[i + 1].section(QLatin1Char(':'), 0, 0).toInt();
            script.fileGid = args[i + 1].section(QLatin1Char(':'), 1, 1).toInt();
        } else if (args[i] == QLatin1String("--file-root"))
            script.fileRoot = args[i + 1];
    }
    vestrel::test::TdsStandin standin(script);
    std::printf("port %u\n", static_cast<unsigned>(standin.Port()));
    std::fflush(stdout);
    if (script.pauseAtPercent >= 0) {
        // Lives as long as the process; the stand-in outlives it.
        std::thread([&standin, percent = script.pauseAtPercent] {
            while (!standin.WaitPaused(1000)) {
            }
            std::printf("paused %d\n", percent);
            std::fflush(stdout);
            std::string line;
            std::getline(std::cin, line);
            standin.Resume();
        }).detach();
    }
    if (script.stallAtPercent >= 0) {
        std::thread([&standin, percent = script.stallAtPercent] {
            while (!standin.WaitStalled(1000)) {
            }
            std::printf("stalled %d\n", percent);
            std::fflush(stdout);
        }).detach();
    }
    return QCoreApplication::exec();
}
