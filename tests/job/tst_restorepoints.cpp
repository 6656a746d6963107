// Restore points and the record of the last good backup: the job without a window against the
// TDS stand-in, whose RESTORE HEADERONLY and VERIFYONLY read what the runs left behind.
#include "backup/odbctext.h"
#include "job/activitylog.h"
#include "job/backupjob.h"
#include "job/backupstate.h"
#include "job/restorepoints.h"
#include "platform/error.h"
#include "support/fixtures.h"
#include "support/quietfront.h"
#include "support/tds/media.h"
#include "support/tds/standin.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <sql.h>
#include <sqlext.h>

using namespace vestrel;
using test::QuietFront;
using namespace Qt::StringLiterals;
using test::StandinScript;
using test::TdsStandin;

namespace {

// What a statement returned through FreeTDS, as another client of the server sees it: the rows
// (column name to text, NULL as an invalid QString) and the messages.
struct Answer {
    QList<QHash<QString, QString>> rows;
    QStringList messages;
    bool ok = false;
};

void collectMessages(SQLSMALLINT type, SQLHANDLE handle, QStringList* messages) {
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {};
        SQLCHAR text[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(
                SQLGetDiagRec(type, handle, record, state, &native, text, sizeof text, &length)))
            return;
        messages->append(
            vestrel::odbc::StripPrefixes(QString::fromUtf8(reinterpret_cast<const char*>(text))));
    }
}

Answer Ask(const TdsStandin& standin, const QString& statement) {
    Answer answer;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    QByteArray connection = vestrel::odbc::ConnectionString(u"FreeTDS"_s, standin.ServerName(),
                                                            u"sa"_s, u"secret"_s, false)
                                .toUtf8();
    if (SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connection.data()),
                                       SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        QByteArray text = statement.toUtf8();
        SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
        answer.ok = SQL_SUCCEEDED(rc);
        collectMessages(SQL_HANDLE_STMT, stmt, &answer.messages);
        while (SQL_SUCCEEDED(rc)) {
            SQLSMALLINT columns = 0;
            SQLNumResultCols(stmt, &columns);
            QStringList names;
            for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                SQLCHAR name[256] = {};
                SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
                SQLULEN size = 0;
                SQLDescribeCol(stmt, c, name, sizeof name, &length, &type, &size, &digits,
                               &nullable);
                names << QString::fromUtf8(reinterpret_cast<const char*>(name));
            }
            while (columns > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) {
                QHash<QString, QString> row;
                for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                    SQLCHAR value[512] = {};
                    SQLLEN indicator = 0;
                    SQLGetData(stmt, c, SQL_C_CHAR, value, sizeof value, &indicator);
                    row.insert(names[c - 1],
                               indicator == SQL_NULL_DATA
                                   ? QString()
                                   : QString::fromUtf8(reinterpret_cast<const char*>(value)));
                }
                answer.rows.append(row);
            }
            rc = SQLMoreResults(stmt);
            if (rc == SQL_ERROR)
                answer.ok = false;
            collectMessages(SQL_HANDLE_STMT, stmt, &answer.messages);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
    } else {
        collectMessages(SQL_HANDLE_DBC, dbc, &answer.messages);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return answer;
}

QString quoted(const QString& path) {
    return vestrel::odbc::QuoteLiteral(path);
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Backups of database Sales into Sales.bak of a fresh program folder, one an hour from
// 07/12/2026 10:25.
struct Runs {
    test::TempProgramFolder folder;
    test::FakeClock clock;
    test::PinnedFormats formats;
    TdsStandin standin;
    QuietFront front;
    SettingsRecord settings;
    QString file;

    explicit Runs(const QString& copies, StandinScript script = {})
        : standin(std::move(script)), file(folder.file(u"Sales.bak"_s)) {
        settings.sDataSource = standin.ServerName();
        settings.sUserID = u"sa"_s;
        settings.sPassword = u"secret"_s;
        settings.sInitialCatalog = u"Sales"_s;
        settings.sCopies = copies;
    }
    JobResult run() {
        BackupJob job(front);
        const JobResult result = job.Run(settings, file);
        clock.advanceSeconds(3600);
        return result;
    }
    // The backup file's folder, without the program's own files: name to contents.
    QMap<QString, QByteArray> files() const {
        QMap<QString, QByteArray> found;
        const QStringList names = QDir(folder.path()).entryList(QDir::Files);
        for (const QString& name : names)
            if (name != u"Command.log"_s && name != u"state.json"_s)
                found.insert(name, read(folder.file(name)));
        return found;
    }
};

} // namespace

class TestRestorePoints : public QObject {
    Q_OBJECT
private slots:
    // COPIE=3 over five runs: the newest at the file, the two before it beside it, each a
    // backup the server reads and verifies; the older ones are gone.
    void copiesKeepTheNewestAndTwoRestorePoints() {
        Runs runs(u"3"_s);
        QString previous;
        for (int i = 0; i < 5; ++i) {
            const JobResult result = runs.run();
            QVERIFY2(result.ok(), qPrintable(result.description));
            QCOMPARE(result.restorePoint.isEmpty(), i == 0);
            if (i > 0)
                QCOMPARE(result.restorePoint, previous);
            previous = RestorePointName(runs.file, result.ended);
        }
        const QStringList expected{u"Sales.bak"_s, u"Sales_2026-12-07_122500.bak"_s,
                                   u"Sales_2026-12-07_132500.bak"_s};
        QCOMPARE(runs.files().keys(), expected);
        QSet<QByteArray> mediaSets;
        for (const QString& name : expected) {
            const QString path = runs.folder.file(name);
            const Answer header =
                Ask(runs.standin, u"RESTORE HEADERONLY FROM DISK = "_s + quoted(path));
            QVERIFY2(header.ok, qPrintable(header.messages.join(u'\n')));
            QCOMPARE(header.rows.size(), 1);
            QCOMPARE(header.rows[0].value(u"DatabaseName"_s), u"Sales"_s);
            QCOMPARE(header.rows[0].value(u"BackupType"_s), u"1"_s);
            QCOMPARE(header.rows[0].value(u"Position"_s), u"1"_s);
            QCOMPARE(header.rows[0].value(u"DeviceType"_s), u"102"_s);
            QVERIFY(header.rows[0].value(u"BackupName"_s).isNull());
            const Answer verify = Ask(runs.standin, u"RESTORE VERIFYONLY FROM DISK = "_s +
                                                        quoted(path) + u" WITH CHECKSUM"_s);
            QVERIFY2(verify.ok, qPrintable(verify.messages.join(u'\n')));
            QCOMPARE(verify.messages, QStringList{u"The backup set on file 1 is valid."_s});
            mediaSets.insert(test::media::ReadFile(path).mediaSetId);
        }
        QCOMPARE(mediaSets.size(), 3); // three backups, not one under three names

        const BackupState state = ReadBackupState();
        QCOMPARE(state.lastGood.when, QDateTime(QDate(2026, 12, 7), QTime(14, 25)));
        QCOMPARE(state.lastGood.file, runs.file);
        QCOMPARE(state.lastGood.size, QFileInfo(runs.file).size());
        QCOMPARE(state.restorePoints,
                 (QStringList{runs.folder.file(expected[1]), runs.folder.file(expected[2])}));
        QCOMPARE(state.firstStart, QDateTime(QDate(2026, 12, 7), QTime(10, 25)));
    }

    // A run that does not end with a backup in place deletes nothing and records nothing.
    void aFailedRunDeletesNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("outcome");
        QTest::newRow("fails at 40 percent") << u"fail"_s << int(JobOutcome::BackupFailed);
        QTest::newRow("not verified") << u"damage"_s << int(JobOutcome::VerificationFailed);
        QTest::newRow("wrong password") << u"password"_s << int(JobOutcome::ConnectionFailed);
        QTest::newRow("COPIE refused") << u"copies"_s << int(JobOutcome::SettingsRefused);
    }
    void aFailedRunDeletesNothing() {
        QFETCH(QString, how);
        QFETCH(int, outcome);
        Runs runs(u"2"_s);
        for (int i = 0; i < 3; ++i)
            QVERIFY(runs.run().ok());
        const QMap<QString, QByteArray> before = runs.files();
        QCOMPARE(before.size(), 2);
        const QByteArray state = runs.folder.read(u"state.json"_s);

        StandinScript script;
        script.failAt40Percent = how == u"fail"_s;
        if (how == u"damage"_s)
            script.damageWrittenSet = StandinScript::Damage::FlipByte;
        const TdsStandin failing(script);
        runs.settings.sDataSource = failing.ServerName();
        if (how == u"password"_s)
            runs.settings.sPassword = u"wrong"_s;
        if (how == u"copies"_s)
            runs.settings.sCopies = u"0"_s;
        const JobResult result = runs.run();
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(runs.files(), before);
        QCOMPARE(runs.folder.read(u"state.json"_s), state);
        if (how == u"copies"_s) {
            QVERIFY(failing.Logins().isEmpty());
            QCOMPARE(test::AfterStamp(runs.folder.lines(u"Command.log"_s).last()),
                     "Errore Il valore di COPIE (\"0\") non \xc3\xa8 valido: deve essere un "
                     "numero intero da 1 a 999."_ba);
        }
    }

    // Only what the program made and recorded is ever deleted: files of the same pattern, or
    // near it, that someone else put beside the backup stay, and so does everything after a
    // lost state file.
    void filesTheProgramDidNotMakeSurvive() {
        Runs runs(u"2"_s);
        const QMap<QString, QByteArray> theirs{
            {u"Sales_2026-12-07_092500.bak"_s, "a copy of the user's, named as ours are"},
            {u"Sales_2026-01-01_0900.bak"_s, "a copy by hand"},
            {u"Sales_2026-12-07_092500_2.bak"_s, "another one"},
            {u"Sales copy.bak"_s, "yet another"},
        };
        for (auto it = theirs.begin(); it != theirs.end(); ++it)
            write(runs.folder.file(it.key()), it.value());
        for (int i = 0; i < 3; ++i)
            QVERIFY(runs.run().ok());
        QMap<QString, QByteArray> expected = theirs;
        const QMap<QString, QByteArray> now = runs.files();
        for (const QString& ours : {u"Sales.bak"_s, u"Sales_2026-12-07_112500.bak"_s}) {
            QVERIFY2(now.contains(ours), qPrintable(ours));
            expected.insert(ours, now[ours]);
        }
        QCOMPARE(now, expected);

        // Without the record the program no longer knows its earlier restore point as its own:
        // it stays, and only those made since go.
        QVERIFY(QFile::remove(BackupStateFilePath()));
        for (int i = 0; i < 3; ++i)
            QVERIFY(runs.run().ok());
        expected.remove(u"Sales.bak"_s);
        for (const QString& name :
             {u"Sales.bak"_s, u"Sales_2026-12-07_112500.bak"_s, u"Sales_2026-12-07_142500.bak"_s})
            expected.insert(name, read(runs.folder.file(name)));
        QCOMPARE(runs.files(), expected);
    }

    // The server writes a path on its own disks in place: one file, no restore points.
    void aTargetWrittenInPlaceKeepsOneFile() {
        Runs runs(u"3"_s);
        runs.file = u"remote-disk.bak"_s; // relative: a place only the server knows
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(runs.folder.path());
        for (int i = 0; i < 3; ++i)
            QVERIFY(runs.run().ok());
        QDir::setCurrent(cwd);
        QCOMPARE(runs.files().keys(), QStringList{u"remote-disk.bak"_s});
        QCOMPARE(ReadBackupState().lastGood.file, u"remote-disk.bak"_s);
        QVERIFY(ReadBackupState().restorePoints.isEmpty());
    }

    // The backup set aside goes back when the new one cannot take its place.
    void aReplaceThatFailsPutsTheBackupBack() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.bak"_s);
        write(file, "the last good backup");
        RestorePoints points(file, 2);
        points.SetAside({QDateTime(QDate(2026, 12, 7), QTime(9, 0)), file, 20});
        QCOMPARE(points.Made(), dir.filePath(u"db_2026-12-07_090000.bak"_s));
        QCOMPARE(read(points.Made()), "the last good backup"_ba);
        points.PutBack();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"db.bak"_s});
        QCOMPARE(read(file), "the last good backup"_ba);
        // A name already taken is left alone: the next serial number is used.
        write(dir.filePath(u"db_2026-12-07_090000.bak"_s), "someone else's");
        points.SetAside({QDateTime(QDate(2026, 12, 7), QTime(9, 0)), file, 20});
        QCOMPARE(points.Made(), dir.filePath(u"db_2026-12-07_090000_2.bak"_s));
        QCOMPARE(read(dir.filePath(u"db_2026-12-07_090000.bak"_s)), "someone else's"_ba);
    }

    void restorePointNames_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("serial");
        QTest::addColumn<QString>("name");
        QTest::newRow("extension") << u"/b/Sales.bak"_s << 1 << u"/b/Sales_2026-12-07_100005.bak"_s;
        QTest::newRow("same second")
            << u"/b/Sales.bak"_s << 2 << u"/b/Sales_2026-12-07_100005_2.bak"_s;
        QTest::newRow("dots in the name")
            << u"/b/my.db.v2.bak"_s << 1 << u"/b/my.db.v2_2026-12-07_100005.bak"_s;
        QTest::newRow("dot in the folder")
            << u"/b.d/Sales"_s << 1 << u"/b.d/Sales_2026-12-07_100005"_s;
        QTest::newRow("the default name") << u"C:\\Backup_07122026_102500"_s << 1
                                          << u"C:\\Backup_07122026_102500_2026-12-07_100005"_s;
        QTest::newRow("a leading dot only")
            << u"/b/.bak"_s << 3 << u"/b/.bak_2026-12-07_100005_3"_s;
    }
    void restorePointNames() {
        QFETCH(QString, file);
        QFETCH(int, serial);
        QFETCH(QString, name);
        const QDateTime when(QDate(2026, 12, 7), QTime(10, 0, 5));
        QCOMPARE(RestorePointName(file, when, serial), name);
        QDateTime readWhen;
        int readSerial = 0;
        QVERIFY(IsRestorePointOf(file, name, &readWhen, &readSerial));
        QCOMPARE(readWhen, when);
        QCOMPARE(readSerial, serial);
        for (const QChar forbidden : u"<>:\"|?*")
            QVERIFY(!QFileInfo(name).fileName().contains(forbidden) ||
                    QFileInfo(file).fileName().contains(forbidden));
    }

    void notRestorePoints_data() {
        QTest::addColumn<QString>("candidate");
        QTest::newRow("minutes only") << u"/b/Sales_2026-01-01_0900.bak"_s;
        QTest::newRow("serial 1 is never written") << u"/b/Sales_2026-12-07_100000_1.bak"_s;
        QTest::newRow("no such day") << u"/b/Sales_2026-02-30_100000.bak"_s;
        QTest::newRow("another folder") << u"/c/Sales_2026-12-07_100000.bak"_s;
        QTest::newRow("another extension") << u"/b/Sales_2026-12-07_100000.bak.old"_s;
        QTest::newRow("another file") << u"/b/Sales2_2026-12-07_100000.bak"_s;
        QTest::newRow("the file itself") << u"/b/Sales.bak"_s;
    }
    void notRestorePoints() {
        QFETCH(QString, candidate);
        QVERIFY(!IsRestorePointOf(u"/b/Sales.bak"_s, candidate));
    }

    void copiesToKeep_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("copies"); // 0: refused
        for (const auto& [text, copies] :
             std::initializer_list<std::pair<QString, int>>{{u"1"_s, 1},
                                                            {u"3"_s, 3},
                                                            {u"999"_s, 999},
                                                            {u"007"_s, 7},
                                                            {u"0"_s, 0},
                                                            {u"1000"_s, 0},
                                                            {QString(), 0},
                                                            {u"abc"_s, 0},
                                                            {u"2.5"_s, 0},
                                                            {u"-1"_s, 0},
                                                            {u"+3"_s, 0},
                                                            {u"3 copie"_s, 0},
                                                            {u"99999999999"_s, 0}})
            QTest::addRow("\"%s\"", qPrintable(text)) << text << copies;
    }
    void copiesToKeep() {
        QFETCH(QString, text);
        QFETCH(int, copies);
        if (copies > 0) {
            QCOMPARE(CopiesToKeep(text), copies);
        } else {
            QVERIFY_THROWS_EXCEPTION(Error, CopiesToKeep(text));
        }
    }
};

QTEST_GUILESS_MAIN(TestRestorePoints)
#include "tst_restorepoints.moc"
