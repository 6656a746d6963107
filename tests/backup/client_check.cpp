// Prints what SqlServerClientInstalled says in a fresh process, then the driver a connection
// would use: the driver manager caches its registry, so a test that changes the registry has
// to ask a new process.
#include "backup/sqldmo.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString why;
    const bool installed = vestrel::SqlServerClientInstalled(&why);
    std::printf("%s\n%s\n%s\n", installed ? "installed" : "missing", why.toUtf8().constData(),
                vestrel::SqlServerDriver().toUtf8().constData());
    std::fflush(stdout);
    return 0;
}
