// The engine end to end against the TDS stand-in: connection, the backup and its events,
// the failures the job has to report, and the quoting of names on the wire.
#include "backup/sqldmo.h"
#include "platform/error.h"
#include "support/tds/media.h"
#include "support/tds/standin.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;
using vestrel::Backup;
using vestrel::Error;
using vestrel::SQLServer;
using vestrel::test::StandinScript;
using vestrel::test::TdsStandin;
namespace media = vestrel::test::media;

namespace {

struct Recorder : vestrel::IBackupEvents {
    QStringList log; // "P <percent> <message>", "N <message>", "C <message>"
    QList<int> percents;
    QList<bool> onCallerThread;
    QThread* caller = QThread::currentThread();
    QObject quitter;

    void PercentComplete(const QString& message, int percent) override {
        log << u"P %1 %2"_s.arg(percent).arg(message);
        percents << percent;
        onCallerThread << (QThread::currentThread() == caller);
    }
    void NextMedia(const QString& message) override { log << u"N "_s + message; }
    void Complete(const QString& message) override {
        log << u"C "_s + message;
        onCallerThread << (QThread::currentThread() == caller);
    }
};

// A stand-in, a server connected to it as "sa", and a backup of "Sales" into one file that
// reports to sink.
struct SalesBackup {
    TdsStandin standin;
    SQLServer server;
    Recorder sink;
    Backup backup;

    SalesBackup(const StandinScript& script, const QString& file) : standin(script) {
        server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
        backup.SetEvents(&sink);
        backup.Database = u"Sales"_s;
        backup.Files = u"["_s + file + u"]"_s;
    }
};

QString ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.description();
    }
    return {};
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void fullBackupDeliversEventsInOrderBeforeReturning();
    void loginFailures_data();
    void loginFailures();
    void loginThatNeverAnswersTimesOutWhileTheWindowTicks();
    void backupFailures_data();
    void backupFailures();
    void pausedBackupKeepsTheCallerResponsive();
    void namesAreQuotedOnTheWire_data();
    void namesAreQuotedOnTheWire();
    void stripedBackupWritesEveryFile();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void unsubscribedSinkIsNotCalled();
    void unprovenBackupsFail_data();
    void unprovenBackupsFail();
    void checksumWhereTheServerHasIt_data();
    void checksumWhereTheServerHasIt();
    void formatMediaLeavesTheNewSetAlone_data();
    void formatMediaLeavesTheNewSetAlone();
    void quitDoesNotCutTheWaitShort();
    void backupReleasedFromItsOwnEvent();
    void cancelEndsTheWait_data();
    void cancelEndsTheWait();
    void clientIsInstalled();
    void theConnectionIsKeptAlive();

private:
    QTemporaryDir dir_;
};

void TestEngine::fullBackupDeliversEventsInOrderBeforeReturning() {
    TdsStandin standin;
    auto owned = std::make_unique<SQLServer>();
    SQLServer& server = *owned;
    server.LoginTimeout = 15;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
    QCOMPARE(standin.Logins().size(), 1);
    QCOMPARE(standin.Logins().first().user, u"sa"_s);
    QCOMPARE(standin.Logins().first().password, u"secret"_s);

    Recorder sink;
    Backup backup;
    backup.Database = u"Sales"_s;
    const QString path = dir_.filePath(u"sales.bak"_s);
    backup.Files = u"["_s + path + u"]"_s;
    backup.SetEvents(&sink);
    backup.SQLBackup(server);
    backup.SetEvents(nullptr);

    QCOMPARE(sink.percents, (QList<int>{10, 21, 32, 43, 54, 65, 76, 87, 100}));
    QCOMPARE(sink.log.first(), u"P 10 10 percent processed."_s);
    // Complete comes once, after the verification, with the server's words for both.
    QVERIFY2(sink.log.last().startsWith(u"C BACKUP DATABASE successfully processed"_s),
             qPrintable(sink.log.last()));
    QVERIFY2(sink.log.last().endsWith(u"MB/sec). The backup set on file 1 is valid."_s),
             qPrintable(sink.log.last()));
    QCOMPARE(sink.log.size(), 10);
    QVERIFY(!sink.onCallerThread.contains(false));

    QCOMPARE(standin.Backups().size(), 1);
    QCOMPARE(standin.Backups().first().database, u"Sales"_s);
    QCOMPARE(standin.Backups().first().disks, QStringList{path});
    QCOMPARE(standin.Backups().first().stats, 10);
    QCOMPARE(standin.Verifies().size(), 1);
    QCOMPARE(standin.Verifies().first().disks, QStringList{path});
    media::Media written = media::ReadFile(path);
    QCOMPARE(written.sets.size(), 1);
    QVERIFY(written.complete && written.sets.first().intact);
    QCOMPARE(written.sets.first().database, u"Sales"_s);

    // The same connection serves a second backup. Without FormatMedia the server appends a
    // set, as SQL Server does by default, and the new set is the one verified.
    Recorder again;
    backup.SetEvents(&again);
    backup.SQLBackup(server);
    QCOMPARE(again.percents.size(), 9);
    QVERIFY2(again.log.last().endsWith(u"The backup set on file 2 is valid."_s),
             qPrintable(again.log.last()));
    QCOMPARE(standin.Verifies().last().file, 2);
    QCOMPARE(media::ReadFile(path).sets.size(), 2);

    // Releasing the server object ends the connection.
    QCOMPARE(standin.OpenConnections(), 1);
    owned.reset();
    QTRY_COMPARE_WITH_TIMEOUT(standin.OpenConnections(), 0, 2000);
}

void TestEngine::loginFailures_data() {
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");
    QTest::newRow("wrong password") << true << u"wrong"_s << u"Login failed for user 'sa'."_s;
    QTest::newRow("unreachable port") << false << u"secret"_s << QString();
}

void TestEngine::loginFailures() {
    QFETCH(bool, reachable);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    QString serverName;
    std::unique_ptr<TdsStandin> standin = std::make_unique<TdsStandin>();
    serverName = standin->ServerName();
    if (!reachable)
        standin.reset(); // nothing listens on that port any more
    SQLServer server;
    server.LoginTimeout = 15;
    const QString error = ErrorOf([&] { server.Connect(serverName, u"sa"_s, password); });
    QVERIFY2(!error.isEmpty(), "Connect must fail");
    QVERIFY2(!error.startsWith(u'['), qPrintable(error));
    if (!expected.isEmpty())
        QCOMPARE(error, expected);

    // Without a connection a backup is refused, not sent anywhere.
    Backup backup;
    backup.Database = u"Sales"_s;
    backup.Files = u"[x.bak]"_s;
    QVERIFY(!ErrorOf([&] { backup.SQLBackup(server); }).isEmpty());
}

void TestEngine::loginThatNeverAnswersTimesOutWhileTheWindowTicks() {
    StandinScript script;
    script.loginNeverAnswers = true;
    TdsStandin standin(script);
    SQLServer server;
    server.LoginTimeout = 2;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] { ++ticks; });
    timer.start();
    const QString error =
        ErrorOf([&] { server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s); });
    QVERIFY2(error.contains(u"timeout"_s, Qt::CaseInsensitive), qPrintable(error));
    // The window's own timers went on while the login waited.
    QVERIFY2(ticks > 0, "the timer never ticked during the login");
}

void TestEngine::backupFailures_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("lastPercent");
    const QString terminating = u" BACKUP DATABASE is terminating abnormally."_s;
    QTest::newRow("unknown database")
        << u"database"_s
        << u"Database 'Missing' does not exist. Make sure that the name is entered correctly."_s +
               terminating
        << -1;
    QTest::newRow("unopenable path") << u"path"_s
                                     << u"Cannot open backup device '%1'. Operating system error "
                                        u"3(The system cannot find the path specified.)."_s +
                                            terminating
                                     << -1;
    QTest::newRow("failure at 40 %") << u"fail40"_s
                                     << u"Write on \"%1\" failed: 112(There is not enough space "
                                        u"on the disk.)."_s +
                                            terminating
                                     << 32;
    QTest::newRow("dropped connection") << u"drop40"_s << QString() << 32;
}

void TestEngine::backupFailures() {
    QFETCH(QString, what);
    QFETCH(QString, expected);
    QFETCH(int, lastPercent);
    StandinScript script;
    script.databases = {u"Sales"_s};
    script.failAt40Percent = what == u"fail40"_s;
    script.dropAt40Percent = what == u"drop40"_s;
    TdsStandin standin(script);
    SQLServer server;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);

    Recorder sink;
    Backup backup;
    backup.SetEvents(&sink);
    backup.Database = what == u"database"_s ? u"Missing"_s : u"Sales"_s;
    QString path = dir_.filePath(what + u".bak"_s);
    if (what == u"path"_s)
        path = dir_.filePath(u"no/such/folder/x.bak"_s);
    backup.Files = u"["_s + path + u"]"_s;
    const QString error = ErrorOf([&] { backup.SQLBackup(server); });
    QVERIFY2(!error.isEmpty(), "SQLBackup must fail");
    if (!expected.isEmpty())
        QCOMPARE(error, expected.contains(u"%1"_s) ? expected.arg(path) : expected);
    else
        QVERIFY2(error.contains(u"connection to the server was lost"_s), qPrintable(error));
    QCOMPARE(sink.percents.isEmpty() ? -1 : sink.percents.last(), lastPercent);
    QVERIFY2(!sink.log.join(u'\n').contains(u"\nC "_s) && !sink.log.value(0).startsWith(u"C "_s),
             "no Complete after a failure");
    if (lastPercent > 0)
        QVERIFY2(Contents(path).size() > 3 * 1024, "the partial file stays");

    // A server error leaves the connection usable; a lost one is reported as such.
    backup.Database = u"Sales"_s;
    backup.Files = u"["_s + dir_.filePath(u"after.bak"_s) + u"]"_s;
    const QString next = ErrorOf([&] { backup.SQLBackup(server); });
    if (what == u"drop40"_s)
        QCOMPARE(next, u"Not connected to a server."_s);
    else if (what != u"fail40"_s)
        QVERIFY2(next.isEmpty(), qPrintable(next));
}

void TestEngine::pausedBackupKeepsTheCallerResponsive() {
    StandinScript script;
    script.pauseAtPercent = 32;
    script.progressDelayMs = 5;
    SalesBackup run(script, dir_.filePath(u"paused.bak"_s));
    TdsStandin& standin = run.standin;
    Recorder& sink = run.sink;

    // While the server holds the backup, the caller's timers run and the events sent so far
    // have arrived; then the backup goes on to the end.
    QList<int> seenWhilePaused;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
        if (standin.WaitPaused(0) && seenWhilePaused.isEmpty() && sink.percents.size() == 3) {
            seenWhilePaused = sink.percents;
            standin.Resume();
        }
    });
    probe.start();
    // If the messages were held back until the end, nothing would be seen while paused:
    // resume anyway after a while so the test fails instead of hanging.
    QTimer::singleShot(5000, &probe, [&] { standin.Resume(); });
    run.backup.SQLBackup(run.server);
    QCOMPARE(seenWhilePaused, (QList<int>{10, 21, 32}));
    QCOMPARE(sink.percents.size(), 9);
}

void TestEngine::namesAreQuotedOnTheWire_data() {
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("file");
    QTest::newRow("brackets") << u"a]b"_s << u"plain.bak"_s;
    QTest::newRow("quotes") << u"O'Brien"_s << u"it's.bak"_s;
    QTest::newRow("semicolon and comment")
        << u"x]; DROP DATABASE y; --"_s << u"z'; DROP TABLE t; --.bak"_s;
    QTest::newRow("unicode") << u"Città ☃"_s << u"città ☃.bak"_s;
}

void TestEngine::namesAreQuotedOnTheWire() {
    QFETCH(QString, database);
    QFETCH(QString, file);
    TdsStandin standin;
    SQLServer server;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
    Backup backup;
    backup.Database = database;
    const QString path = dir_.filePath(file);
    backup.Files = u"["_s + path + u"]"_s;
    const QString error = ErrorOf([&] { backup.SQLBackup(server); });
    QVERIFY2(error.isEmpty(), qPrintable(error)); // the stand-in rejects a malformed statement
    QCOMPARE(standin.Backups().size(), 1);
    QCOMPARE(standin.Backups().first().database, database);
    QCOMPARE(standin.Backups().first().disks, QStringList{path});
    QVERIFY(Contents(path).contains("database=" + database.toUtf8() + "\n"));
}

void TestEngine::stripedBackupWritesEveryFile() {
    TdsStandin standin;
    SQLServer server;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
    Backup backup;
    backup.Database = u"Sales"_s;
    const QString a = dir_.filePath(u"a.bak"_s);
    const QString b = dir_.filePath(u"b.bak"_s);
    backup.Files = u"["_s + a + u"]["_s + b + u"]"_s;
    backup.SQLBackup(server);
    QCOMPARE(standin.Backups().first().disks, (QStringList{a, b}));
    QVERIFY(Contents(a).contains("stripe=1/2\n"));
    QVERIFY(Contents(b).contains("stripe=2/2\n"));
}

void TestEngine::refusedBeforeSending_data() {
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("files");
    const QString nul(QChar(u'\0'));
    QTest::newRow("NUL in database") << u"a"_s + nul + u"b"_s << u"[x.bak]"_s;
    QTest::newRow("NUL in path") << u"Sales"_s << u"[x"_s + nul + u".bak]"_s;
    QTest::newRow("no brackets") << u"Sales"_s << u"x.bak"_s;
    QTest::newRow("unclosed") << u"Sales"_s << u"[x.bak"_s;
    QTest::newRow("empty name") << u"Sales"_s << u"[]"_s;
    QTest::newRow("text between") << u"Sales"_s << u"[a] [b]"_s;
    QTest::newRow("empty list") << u"Sales"_s << QString();
}

void TestEngine::refusedBeforeSending() {
    QFETCH(QString, database);
    QFETCH(QString, files);
    TdsStandin standin;
    SQLServer server;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
    const int batchesBefore = int(standin.Batches().size());
    Backup backup;
    backup.Database = database;
    backup.Files = files;
    QVERIFY(!ErrorOf([&] { backup.SQLBackup(server); }).isEmpty());
    QCOMPARE(standin.Batches().size(), batchesBefore);
}

void TestEngine::unsubscribedSinkIsNotCalled() {
    StandinScript script;
    script.pauseAtPercent = 21;
    TdsStandin standin(script);
    SQLServer server;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
    auto backup = std::make_unique<Backup>();
    Recorder sink;
    backup->SetEvents(&sink);
    backup->Database = u"Sales"_s;
    backup->Files = u"["_s + dir_.filePath(u"unsub.bak"_s) + u"]"_s;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
        if (standin.WaitPaused(0) && sink.percents.size() == 2) {
            backup->SetEvents(nullptr);
            standin.Resume();
        }
    });
    probe.start();
    QTimer::singleShot(5000, &probe, [&] { standin.Resume(); });
    backup->SQLBackup(server);
    QCOMPARE(sink.percents, (QList<int>{10, 21}));
}

void TestEngine::unprovenBackupsFail_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no 3014") << u"nofinal"_s
                             << u"The backup of [Sales] ended without the server's confirmation "
                                u"(message 3014): the backup cannot be trusted."_s;
    QTest::newRow("DONE(ERROR) without an ERROR token")
        << u"bare error"_s
        << u"BACKUP DATABASE failed: the server reported an error without a message saying what "
           u"went wrong."_s;
    QTest::newRow("truncated set") << u"truncate"_s
                                   << u"The backup was written but its verification failed: "
                                      u"Read on \"%1\" failed: 38(Reached the end of the file.) "
                                      u"VERIFY DATABASE is terminating abnormally."_s;
    QTest::newRow("damaged set") << u"flip"_s
                                 << u"The backup was written but its verification failed: Damage "
                                    u"to the backup set was detected. VERIFY DATABASE is "
                                    u"terminating abnormally."_s;
}

void TestEngine::unprovenBackupsFail() {
    QFETCH(QString, what);
    QFETCH(QString, expected);
    StandinScript script;
    script.omitFinalMessage = what == u"nofinal"_s;
    script.errorWithoutMessage = what == u"bare error"_s;
    if (what == u"truncate"_s)
        script.damageWrittenSet = StandinScript::Damage::Truncate;
    if (what == u"flip"_s)
        script.damageWrittenSet = StandinScript::Damage::FlipByte;
    const QString path = dir_.filePath(what + u".bak"_s);
    SalesBackup run(script, path);
    QCOMPARE(ErrorOf([&] { run.backup.SQLBackup(run.server); }), expected.arg(path));
    QCOMPARE(run.sink.percents.last(), 100);
    QVERIFY2(run.sink.log.filter(QRegularExpression(u"^C "_s)).isEmpty(),
             "no Complete for a backup that is not proven");
    // Verification is asked only of a backup the server confirmed.
    QCOMPARE(run.standin.Verifies().size(), what == u"truncate"_s || what == u"flip"_s ? 1 : 0);
}

void TestEngine::checksumWhereTheServerHasIt_data() {
    QTest::addColumn<bool>("sqlServer2000");
    QTest::addColumn<QString>("verified");
    QTest::newRow("SQL Server 2022") << false << u"The backup set on file 1 is valid."_s;
    QTest::newRow("SQL Server 2000, TDS 7.1") << true << u"The backup set is valid."_s;
}

void TestEngine::checksumWhereTheServerHasIt() {
    QFETCH(bool, sqlServer2000);
    QFETCH(QString, verified);
    StandinScript script;
    script.sqlServer2000 = sqlServer2000;
    const QString path = dir_.filePath(u"checksum%1.bak"_s.arg(sqlServer2000));
    SalesBackup run(script, path);
    QCOMPARE(ErrorOf([&] { run.backup.SQLBackup(run.server); }), QString());
    QCOMPARE(run.sink.percents.size(), 9);
    QVERIFY2(run.sink.log.last().endsWith(u"MB/sec). "_s + verified),
             qPrintable(run.sink.log.last()));
    QCOMPARE(run.standin.Backups().size(), 1);
    QCOMPARE(run.standin.Backups().first().checksum, !sqlServer2000);
    QCOMPARE(run.standin.Verifies().first().checksum, !sqlServer2000);
    QCOMPARE(media::ReadFile(path).sets.value(0).checksum, !sqlServer2000);
}

void TestEngine::formatMediaLeavesTheNewSetAlone_data() {
    QTest::addColumn<bool>("format");
    QTest::addColumn<QByteArray>("before"); // what the file holds before the first run
    QTest::addColumn<int>("sets");          // after three runs
    QTest::addColumn<QString>("firstError");
    const QString refused = u"The media family on device '%1' is incorrectly formed. SQL Server "
                            u"cannot process this media family. BACKUP DATABASE is terminating "
                            u"abnormally."_s;
    QTest::newRow("appended by default") << false << QByteArray() << 3 << QString();
    QTest::newRow("FORMAT") << true << QByteArray() << 1 << QString();
    QTest::newRow("not media, FORMAT") << true << "some other file"_ba << 1 << QString();
    QTest::newRow("not media, refused") << false << "some other file"_ba << 2 << refused;
    // A media file whose last set was cut short: appending is refused, FORMAT starts anew.
    const QByteArray cut = media::Header("0123456789abcdef", 1, 1) + media::SetLine(1, 4096, 0) +
                           media::SetContentsStart(u"Sales"_s, 1, 1, true);
    QTest::newRow("cut media, FORMAT") << true << cut << 1 << QString();
    QTest::newRow("cut media, refused")
        << false << cut << 2
        << u"The backup data at the end of '%1' is incorrectly formatted. Backup sets on the "
           u"media might be damaged and unusable. To determine the backup sets on the media, use "
           u"RESTORE HEADERONLY. To determine the usability of the backup sets, run RESTORE "
           u"VERIFYONLY. If all of the backup sets are incomplete, reformat the media using "
           u"BACKUP WITH FORMAT, which destroys all the backup sets. BACKUP DATABASE is "
           u"terminating abnormally."_s;
}

void TestEngine::formatMediaLeavesTheNewSetAlone() {
    QFETCH(bool, format);
    QFETCH(QByteArray, before);
    QFETCH(int, sets);
    QFETCH(QString, firstError);
    const QString path =
        dir_.filePath(u"format-%1.bak"_s.arg(QString::fromUtf8(QTest::currentDataTag())));
    if (!before.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    SalesBackup run({}, path);
    run.backup.FormatMedia = format;
    QCOMPARE(ErrorOf([&] { run.backup.SQLBackup(run.server); }), firstError.arg(path));
    if (!firstError.isEmpty()) {
        QCOMPARE(Contents(path), before); // refused before a byte was written
        QFile::remove(path);
    }
    for (int i = 0; i < 2; ++i)
        QCOMPARE(ErrorOf([&] { run.backup.SQLBackup(run.server); }), QString());
    const media::Media written = media::ReadFile(path);
    QCOMPARE(written.sets.size(), sets);
    QCOMPARE(written.sets.last().position, sets);
    QCOMPARE(run.standin.Verifies().last().file, sets);
    QCOMPARE(run.standin.Backups().last().format, format);
    QCOMPARE(run.standin.Backups().last().init, format);
}

void TestEngine::quitDoesNotCutTheWaitShort() {
    // The tray's "Exit" quits the application while a backup runs: SQLBackup must still
    // return only at the end, with every event delivered.
    StandinScript script;
    script.progressDelayMs = 20;
    SalesBackup run(script, dir_.filePath(u"quit.bak"_s));
    QTimer::singleShot(50, &run.sink.quitter, [] { QCoreApplication::quit(); });
    run.backup.SQLBackup(run.server);
    QCOMPARE(run.sink.percents.size(), 9);
    QVERIFY(run.sink.log.last().startsWith(u"C "_s));
}

void TestEngine::backupReleasedFromItsOwnEvent() {
    // The handler releases the backup object: no call may reach the sink afterwards.
    TdsStandin standin;
    SQLServer server;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
    struct Releaser : Recorder {
        std::unique_ptr<Backup> backup = std::make_unique<Backup>();
        void PercentComplete(const QString& message, int percent) override {
            Recorder::PercentComplete(message, percent);
            if (percent == 21)
                backup.reset();
        }
    } sink;
    Backup* backup = sink.backup.get();
    backup->SetEvents(&sink);
    backup->Database = u"Sales"_s;
    backup->Files = u"["_s + dir_.filePath(u"release.bak"_s) + u"]"_s;
    backup->SQLBackup(server);
    QVERIFY(!sink.backup);
    QCOMPARE(sink.percents, (QList<int>{10, 21}));
    QCOMPARE(sink.log.size(), 2);
}

void TestEngine::cancelEndsTheWait_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("abandoned");
    // Stops the backup when the ATTENTION arrives, long before its slow backup would end
    // (and after the grace time): the driver then reports the statement as cancelled.
    QTest::newRow("server that answers") << u"answers"_s << false;
    // Stops after "21 percent processed." and never reads the ATTENTION.
    QTest::newRow("server that stopped answering") << u"stalls"_s << true;
    // Cancelled during the login, where there is no statement to stop.
    QTest::newRow("login that never answers") << u"login"_s << true;
}

void TestEngine::cancelEndsTheWait() {
    QFETCH(QString, server);
    QFETCH(bool, abandoned);
    const QString reason = u"the program is closing"_s;
    StandinScript script;
    const bool answers = server == u"answers"_s;
    // The rest of the answering server's backup would take longer than the grace time.
    script.progressDelayMs = answers ? 1000 : 100;
    script.stallAtPercent = server == u"stalls"_s ? 21 : -1;
    script.loginNeverAnswers = server == u"login"_s;
    const QString path = dir_.filePath(u"cancel-%1.bak"_s.arg(server));
    auto standin = std::make_unique<TdsStandin>(script);
    auto connection = std::make_unique<SQLServer>();
    connection->LoginTimeout = 60;
    struct Canceller : Recorder {
        SQLServer* server = nullptr;
        QString reason;
        QElapsedTimer sinceCancel;
        void PercentComplete(const QString& message, int percent) override {
            Recorder::PercentComplete(message, percent);
            if (percent == 21) {
                sinceCancel.start();
                server->Cancel(reason); // from inside the wait, as a tray command would
            }
        }
    } sink;
    sink.server = connection.get();
    sink.reason = reason;
    Backup backup;
    backup.SetEvents(&sink);
    backup.Database = u"Sales"_s;
    backup.Files = u"["_s + path + u"]"_s;

    QElapsedTimer elapsed;
    elapsed.start();
    QString error;
    if (server == u"login"_s) {
        QTimer::singleShot(200, &sink.quitter, [&] { connection->Cancel(reason); });
        error = ErrorOf([&] { connection->Connect(standin->ServerName(), u"sa"_s, u"secret"_s); });
    } else {
        connection->Connect(standin->ServerName(), u"sa"_s, u"secret"_s);
        error = ErrorOf([&] { backup.SQLBackup(*connection); });
    }
    QCOMPARE(error, reason);
    QVERIFY2(elapsed.elapsed() < SQLServer::kCancelGraceMs + 2000,
             qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(connection->Abandoned(), abandoned);
    QVERIFY(!sink.log.join(u' ').contains(u"C "_s)); // no completion reported
    if (answers) {
        // Stopped at once: the attention was read before "32 percent processed." was due,
        // and the set on disk was never finished.
        QVERIFY2(sink.sinceCancel.elapsed() < 2500,
                 qPrintable(QString::number(sink.sinceCancel.elapsed())));
        QCOMPARE(sink.percents, (QList<int>{10, 21}));
        QCOMPARE(standin->Attentions(), QList<int>{32});
        const media::Media written = media::ReadFile(path);
        QVERIFY(written.isMedia && !written.complete);
        QVERIFY(written.sets.isEmpty() || written.sets.last().position == 0);
    } else {
        QVERIFY(standin->Attentions().isEmpty()); // a hung server reads none
    }
    // Nothing more goes out on a cancelled connection.
    QCOMPARE(ErrorOf([&] { backup.SQLBackup(*connection); }), reason);

    // Releasing the connection does not wait for a worker that is not back; the stand-in's
    // end then lets that worker go, into objects that must still be there.
    elapsed.restart();
    connection.reset();
    QVERIFY(elapsed.elapsed() < 2000);
    standin.reset();
    QTest::qWait(100);
}

void TestEngine::clientIsInstalled() {
    QString why;
    QVERIFY2(vestrel::SqlServerClientInstalled(&why), qPrintable(why));
    QVERIFY(why.isEmpty());

    // With an empty driver registry the check fails and says why (asked in a new process:
    // the driver manager caches the registry it read).
    QTemporaryDir empty;
    QFile ini(empty.filePath(u"odbcinst.ini"_s));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.close();
    for (const bool withDrivers : {true, false}) {
        QProcess check;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!withDrivers)
            environment.insert(u"ODBCSYSINI"_s, empty.path());
        check.setProcessEnvironment(environment);
        check.start(QStringLiteral(VESTREL_CLIENT_CHECK), {});
        QVERIFY(check.waitForFinished(10000));
        const QStringList lines = QString::fromUtf8(check.readAllStandardOutput()).split(u'\n');
        QCOMPARE(lines.value(0), withDrivers ? u"installed"_s : u"missing"_s);
        if (!withDrivers) {
            QVERIFY2(lines.value(1).startsWith(u"The ODBC driver manager (version "_s),
                     qPrintable(lines.value(1)));
            QVERIFY(lines.value(1).endsWith(u"lists no ODBC driver at all (odbcinst.ini in "
                                            u"ODBCSYSINI="_s +
                                            empty.path() + u")."_s));
        }
    }
}

// A server that is gone for good (its machine down, the network cut) is noticed by TCP
// keepalive on the connection's socket: probes after some idle time, a few unanswered ones
// end the connection and with it the backup, as a failure.
void TestEngine::theConnectionIsKeptAlive() {
    TdsStandin standin;
    SQLServer server;
    server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
    int found = -1;
    for (int fd = 0; fd < 1024 && found < 0; ++fd) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == standin.Port())
            found = fd;
    }
    QVERIFY2(found >= 0, "the connection's socket was not found");
    const auto option = [found](int level, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        return getsockopt(found, level, name, &value, &size) == 0 ? value : -1;
    };
    const int keepalive = option(SOL_SOCKET, SO_KEEPALIVE);
    const int idle = option(IPPROTO_TCP, TCP_KEEPIDLE);
    const int interval = option(IPPROTO_TCP, TCP_KEEPINTVL);
    const int count = option(IPPROTO_TCP, TCP_KEEPCNT);
    qInfo("keepalive %d, first probe after %d s idle, then every %d s, %d probes", keepalive, idle,
          interval, count);
    QCOMPARE(keepalive, 1);
    // A dead peer is given up on within minutes, not the system's default two hours.
    QVERIFY2(idle + interval * count <= 300, "keepalive gives up after more than 5 minutes");
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
