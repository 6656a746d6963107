// Holds a FileLock on the file given until it is killed: another program taking a backup
// target, for the lock tests. Prints "locked" once it holds it.
#include "platform/filelock.h"

#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <thread>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    vestrel::FileLock lock(QString::fromLocal8Bit(argv[1]));
    QString why;
    if (lock.TryLock(QStringLiteral("lock_holder"), &why) != vestrel::FileLock::Result::Locked) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    std::puts("locked");
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(60));
}
