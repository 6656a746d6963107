// What the engine (worker thread, queued events, nested wait) costs over calling ODBC
// directly: the same connect + backup + release, 50 times each, on the same stand-in.
#include "backup/odbctext.h"
#include "backup/sqldmo.h"
#include "support/tds/standin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <sql.h>
#include <sqlext.h>

using namespace Qt::StringLiterals;

namespace {

struct Count : vestrel::IBackupEvents {
    int events = 0;
    void PercentComplete(const QString&, int) override { ++events; }
    void NextMedia(const QString&) override {}
    void Complete(const QString&) override { ++events; }
};

SQLWCHAR* Wide(const QString& text) {
    return const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(text.utf16()));
}

// Connect, run the statement, read every message, disconnect; false on any failure.
bool BareBackup(const QString& connection, const QString& statement, int* messages) {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    bool ok = SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, Wide(connection), SQL_NTS, nullptr, 0,
                                              nullptr, SQL_DRIVER_NOPROMPT));
    if (ok) {
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        SQLRETURN rc = SQLExecDirectW(stmt, Wide(statement), SQL_NTS);
        while (rc != SQL_NO_DATA) {
            if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) {
                ok = false;
                break;
            }
            SQLWCHAR state[6];
            SQLINTEGER native = 0;
            SQLWCHAR text[1024];
            SQLSMALLINT length = 0;
            for (SQLSMALLINT i = 1; SQL_SUCCEEDED(
                     SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, i, state, &native, text, 1024, &length));
                 ++i) {
                const QString message =
                    QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
                if (native == 3211 || native == 3014)
                    *messages += message.isEmpty() ? 0 : 1;
            }
            rc = SQLMoreResults(stmt);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr int kRounds = 5;
    constexpr int kPerRound = 10; // 50 backups each way, interleaved in rounds
    QTemporaryDir dir;
    vestrel::test::StandinScript script;
    script.progressDelayMs = 1;
    vestrel::test::TdsStandin standin(script);
    const QString path = dir.filePath(u"overhead.bak"_s);
    const QString connection = vestrel::odbc::ConnectionString(u"FreeTDS"_s, standin.ServerName(),
                                                               u"sa"_s, u"secret"_s, false);
    const QString statement = vestrel::odbc::BackupStatement(u"Bench"_s, {path});

    qint64 engineNs = 0;
    qint64 bareNs = 0;
    int engineEvents = 0;
    int bareMessages = 0;
    QElapsedTimer clock;
    for (int round = 0; round < kRounds; ++round) {
        clock.start();
        for (int i = 0; i < kPerRound; ++i)
            if (!BareBackup(connection, statement, &bareMessages)) {
                std::fprintf(stderr, "backup_overhead: the bare ODBC backup failed\n");
                return 1;
            }
        bareNs += clock.nsecsElapsed();

        clock.start();
        for (int i = 0; i < kPerRound; ++i) {
            Count sink;
            vestrel::SQLServer server;
            server.LoginTimeout = 15;
            server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
            vestrel::Backup backup;
            backup.SetEvents(&sink);
            backup.Database = u"Bench"_s;
            backup.Files = u"["_s + path + u"]"_s;
            backup.SQLBackup(server);
            backup.SetEvents(nullptr);
            engineEvents += sink.events;
        }
        engineNs += clock.nsecsElapsed();
    }
    const int backups = kRounds * kPerRound;
    std::printf("backup_overhead engine=%.2fms bare=%.2fms per backup ratio=%.3f (goal <= 1.05); "
                "events %d vs messages %d; stand-in 1 ms between progress messages\n",
                double(engineNs) / 1e6 / backups, double(bareNs) / 1e6 / backups,
                double(engineNs) / double(bareNs), engineEvents, bareMessages);
    return 0;
}
