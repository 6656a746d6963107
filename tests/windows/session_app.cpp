// A program that ends with the session as Vestrel does, for tst_sessionend: on the session's
// end it stops its work (half a second, as a cancelled backup takes) and quits. Prints "ready"
// when its event loop runs, "ending", "quit" and "ended" as it goes.
#include "platform/sessionend.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace {
void Say(const char* what) {
    std::printf("%s\n", what);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    vestrel::SessionEndWatcher watcher;
    QObject::connect(&watcher, &vestrel::SessionEndWatcher::sessionEnding, &app, [] {
        Say("ending");
        QTimer::singleShot(500, qApp, [] {
            Say("quit");
            QCoreApplication::quit();
        });
    });
    QTimer::singleShot(0, &app, [] { Say("ready"); });
    const int status = QCoreApplication::exec();
    Say("ended");
    return status;
}
