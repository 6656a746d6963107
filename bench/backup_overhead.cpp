// What the engine (worker thread, queued events, nested wait) costs over calling ODBC
// directly: the same connect + backup + verification + release, 50 times each, on the same
// stand-in, median against median. Beside it, what the verification costs: the bare backup with its
// RESTORE VERIFYONLY against the bare backup alone. Each run starts from no file, as the job's
// write-beside does. `backup_overhead --only engine|bare` runs one kind alone, for a profiler
// (strace -c -f, perf) to see what that kind does.
#include "backup/odbctext.h"
#include "backup/sqldmo.h"
#include "support/tds/standin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
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

// Connect, run the statements, read every message, disconnect; false on any failure.
bool BareBackup(const QString& connection, const QStringList& statements, int* messages) {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    bool ok = SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, Wide(connection), SQL_NTS, nullptr, 0,
                                              nullptr, SQL_DRIVER_NOPROMPT));
    for (const QString& statement : statements) {
        if (!ok)
            break;
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
                if (native == 3211 || native == 3014 || native == 3262)
                    *messages += message.isEmpty() ? 0 : 1;
            }
            rc = SQLMoreResults(stmt);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    if (ok)
        SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return ok;
}

double Median(QList<qint64> values) {
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? double(values[n / 2]) : (double(values[n / 2 - 1]) + double(values[n / 2])) / 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString only = args.size() == 3 && args[1] == u"--only"_s ? args[2] : QString();
    const bool runBare = only.isEmpty() || only == u"bare"_s;
    const bool runEngine = only.isEmpty() || only == u"engine"_s;
    constexpr int kBackups = 50; // of each kind
    QTemporaryDir dir;
    vestrel::test::StandinScript script;
    script.progressDelayMs = 1;
    vestrel::test::TdsStandin standin(script);
    const QString path = dir.filePath(u"overhead.bak"_s);
    const QString connection = vestrel::odbc::ConnectionString(u"FreeTDS"_s, standin.ServerName(),
                                                               u"sa"_s, u"secret"_s, false);
    // What the engine sends to a SQL Server 2005 or later, as the stand-in plays one.
    const QString backupOnly =
        vestrel::odbc::BackupStatement(u"Bench"_s, {path}, {/*checksum*/ true, false});
    const QStringList verified = {backupOnly, vestrel::odbc::VerifyStatement({path}, 1, true)};

    // One backup of each kind in turn, so the machine's moods fall on all three alike; the
    // median of each kind is its figure.
    QList<qint64> engineNs;
    QList<qint64> bareNs;
    QList<qint64> unverifiedNs;
    int engineEvents = 0;
    int bareMessages = 0;
    int unverifiedMessages = 0;
    QElapsedTimer clock;
    for (int i = 0; i < kBackups; ++i) {
        if (runBare) {
            QFile::remove(path);
            clock.start();
            if (!BareBackup(connection, {backupOnly}, &unverifiedMessages)) {
                std::fprintf(stderr, "backup_overhead: the bare ODBC backup failed\n");
                return 1;
            }
            unverifiedNs << clock.nsecsElapsed();

            QFile::remove(path);
            clock.start();
            if (!BareBackup(connection, verified, &bareMessages)) {
                std::fprintf(stderr, "backup_overhead: the bare ODBC backup failed\n");
                return 1;
            }
            bareNs << clock.nsecsElapsed();
        }
        if (!runEngine)
            continue;
        QFile::remove(path);
        clock.start();
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
        engineNs << clock.nsecsElapsed();
        engineEvents += sink.events;
    }
    if (!only.isEmpty()) {
        std::printf("backup_overhead %s only: %.2fms median per backup\n", qPrintable(only),
                    Median(runEngine ? engineNs : bareNs) / 1e6);
        return 0;
    }
    const double engine = Median(engineNs);
    const double bare = Median(bareNs);
    const double unverified = Median(unverifiedNs);
    std::printf("backup_overhead engine=%.2fms bare=%.2fms median per backup ratio=%.3f (goal <= "
                "1.05) fixed cost=%+.2fms per backup; events %d vs messages %d; stand-in 1 ms "
                "between progress messages\n",
                engine / 1e6, bare / 1e6, engine / bare, (engine - bare) / 1e6, engineEvents,
                bareMessages);
    std::printf("backup_verification with=%.2fms without=%.2fms median per backup ratio=%.3f "
                "(bare ODBC: BACKUP WITH CHECKSUM then RESTORE VERIFYONLY, against the BACKUP "
                "alone); messages %d vs %d\n",
                bare / 1e6, unverified / 1e6, bare / unverified, bareMessages, unverifiedMessages);
    return 0;
}
