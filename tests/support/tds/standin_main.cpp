// The TDS stand-in as a program of its own, for the demo and the end-to-end run: it listens
// on 127.0.0.1, prints "port N" on a line of its own and serves until it is stopped.
// Test code only; it is never installed.
#include "support/tds/standin.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    vestrel::test::StandinScript script;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--password"))
            script.password = args[i + 1];
        else if (args[i] == QLatin1String("--delay-ms"))
            script.progressDelayMs = args[i + 1].toInt();
    }
    vestrel::test::TdsStandin standin(script);
    std::printf("port %u\n", static_cast<unsigned>(standin.Port()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
