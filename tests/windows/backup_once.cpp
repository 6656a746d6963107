// One verified backup through the backup engine, for engine_wine.sh: the Windows build's
// engine through Windows' driver manager (odbc32) against the TDS stand-in.
//   backup_once <server> <login> <password> <database> <file>
// Prints each event on a line of its own, then "done", or "error: <description>" (status 1).
#include "backup/sqldmo.h"
#include "platform/error.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace {

class Printer final : public vestrel::IBackupEvents {
public:
    void PercentComplete(const QString& message, int percent) override {
        std::printf("percent %d %s\n", percent, qUtf8Printable(message));
        std::fflush(stdout);
    }
    void NextMedia(const QString& message) override {
        std::printf("next media %s\n", qUtf8Printable(message));
    }
    void Complete(const QString& message) override {
        std::printf("complete %s\n", qUtf8Printable(message));
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 6)
        return 2;
    // From inside the event loop, as the program runs its backups.
    int status = 0;
    QTimer::singleShot(0, &app, [&] {
        Printer printer;
        try {
            vestrel::SQLServer server;
            server.LoginTimeout = 15;
            server.Connect(args[1], args[2], args[3]);
            std::printf("connected\n");
            std::fflush(stdout);
            vestrel::Backup backup;
            backup.Database = args[4];
            backup.Files = vestrel::FileListEntry(args[5]);
            backup.SetEvents(&printer);
            backup.SQLBackup(server);
            backup.SetEvents(nullptr);
            std::printf("done\n");
        } catch (const vestrel::Error& error) {
            std::printf("error: %s\n", qUtf8Printable(error.description()));
            status = 1;
        }
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return status;
}
