// `vestrel backup` and `vestrel check`: the real program, started without a display, against
// the TDS stand-in.
#include "platform/filelock.h"
#include "support/tds/standin.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace Qt::StringLiterals;
using test::StandinScript;
using test::TdsStandin;

namespace {

// The exit statuses the manual page documents.
enum Status {
    Verified = 0,
    Other = 1,
    Usage = 2,
    Settings = 3,
    Connection = 4,
    BackupFailed = 5,
    Verification = 6,
    InUse = 7,
    Cancelled = 8
};

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A folder with a config.ini, the program run in it with no display in its environment.
struct Run {
    QTemporaryDir dir;
    QString config = dir.filePath(u"config.ini"_s);
    QString target = dir.filePath(u"Sales.bak"_s);
    QString logDir = dir.filePath(u"log"_s);
    QProcess process;
    QByteArray out;
    QByteArray err;

    void writeConfig(const QString& server, const QString& password,
                     const QString& hours = QString(48, u'x').replace(u"xx"_s, u"1|"_s),
                     const QString& database = u"Sales"_s) {
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(u"[Connection String]\r\nData Source=%1\r\nInitial Catalog=%2\r\nUser ID=sa\r\n"
                   u"Password=%3\r\nIntegrated Security=0\r\n[Opzioni_Avanzate]\r\nFileName=%4\r\n"
                   u"ARRAY_TEMPO=%5\r\n"_s.arg(server, database, password, target, hours)
                       .toUtf8());
    }
    QProcessEnvironment environment = [] {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        return env;
    }();
    void start(QStringList args, const QString& program = QStringLiteral(VESTREL_EXE)) {
        process.setProcessEnvironment(environment);
        process.start(program, args);
    }
    // Runs to the end; the exit status, -1 when it crashed or took too long.
    int run(const QStringList& args) {
        start(args);
        return finish(60000);
    }
    int finish(int timeoutMs) {
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QStringList backupArgs() const {
        return {u"backup"_s, u"--config"_s, config, u"--log-dir"_s, logDir};
    }
    QList<QByteArray> log() const {
        QList<QByteArray> lines;
        for (const QByteArray& line : read(logDir + u"/Command.log"_s).split('\n')) {
            const qsizetype at = line.indexOf(" > ");
            if (at >= 0)
                lines.append(line.mid(at + 3).chopped(line.endsWith('\r') ? 1 : 0));
        }
        return lines;
    }
};

// A metrics file, parsed as the textfile collector does: every sample of a family announced
// by its HELP and TYPE lines, every value a number. Fails the test on anything else.
QMap<QString, double> parseMetrics(const QByteArray& text, QString* labels) {
    QMap<QString, double> samples;
    const QRegularExpression sample(uR"(^([a-z_]+)(\{[^}]*\}) (\S+)$)"_s);
    QString typed;
    for (const QString& line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u"# HELP "_s))
            continue;
        if (line.startsWith(u"# TYPE "_s)) {
            const QStringList words = line.split(u' ');
            if (words.size() != 4 || words[3] != u"gauge"_s)
                return {};
            typed = words[2];
            continue;
        }
        const QRegularExpressionMatch m = sample.match(line);
        if (!m.hasMatch() || m.captured(1) != typed)
            return {};
        bool number = false;
        const double value = m.captured(3).toDouble(&number);
        if (!number)
            return {};
        samples.insert(m.captured(1), value);
        *labels = m.captured(2);
    }
    return samples;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void exitStatus_data();
    void exitStatus();
    void backupWritesTheWindowsBlocks();
    void checkSaysWhatABackupWouldDo();
    void informationWithoutADisplay_data();
    void informationWithoutADisplay();
    void signalCancelsAStalledBackup();
    void progressBarOnATerminal();
    void metricsAfterSuccessAndFailure();
    void hourEnabledWithThePinnedClock();
};

// What goes wrong in a row of the exit status table.
enum Failure {
    None,
    NoConfig,
    NoDatabase,
    WrongPassword,
    Unreachable,
    FailHalfWay,
    NoCompletion,
    Damaged,
    Locked,
    LogUnwritable,
    UnknownCommand,
    CheckOption
};

void TestCommandLine::exitStatus_data() {
    QTest::addColumn<int>("kind"); // what goes wrong
    QTest::addColumn<int>("expected");
    QTest::addColumn<QByteArray>("said"); // on the standard error
    QTest::newRow("verified") << int(None) << int(Verified) << "verified backup in"_ba;
    QTest::newRow("no config.ini") << int(NoConfig) << int(Settings) << "no such file"_ba;
    QTest::newRow("no database") << int(NoDatabase) << int(Settings) << "Initial Catalog"_ba;
    QTest::newRow("login refused") << int(WrongPassword) << int(Connection) << "Login failed"_ba;
    QTest::newRow("nothing listens") << int(Unreachable) << int(Connection) << "Errore "_ba;
    QTest::newRow("backup fails") << int(FailHalfWay) << int(BackupFailed) << "Errore "_ba;
    QTest::newRow("no 3014") << int(NoCompletion) << int(BackupFailed) << "3014"_ba;
    QTest::newRow("verification fails")
        << int(Damaged) << int(Verification) << "verification failed"_ba;
    QTest::newRow("target in use") << int(Locked) << int(InUse) << "Errore "_ba;
    QTest::newRow("log unwritable") << int(LogUnwritable) << int(Other) << "log"_ba;
    QTest::newRow("unknown command") << int(UnknownCommand) << int(Usage) << "unknown"_ba;
    QTest::newRow("option of backup") << int(CheckOption) << int(Usage) << "belong to"_ba;
}

void TestCommandLine::exitStatus() {
    QFETCH(int, kind);
    QFETCH(int, expected);
    QFETCH(QByteArray, said);
    StandinScript script;
    script.failAt40Percent = kind == FailHalfWay;
    script.omitFinalMessage = kind == NoCompletion;
    script.damageWrittenSet =
        kind == Damaged ? StandinScript::Damage::Truncate : StandinScript::Damage::None;
    TdsStandin standin(script);
    Run run;
    QString server = standin.ServerName();
    if (kind == Unreachable) {
        // A port nobody listens on: one just closed.
        auto* closed = new TdsStandin;
        server = closed->ServerName();
        delete closed;
    }
    run.writeConfig(server, kind == WrongPassword ? u"wrong"_s : u"secret"_s,
                    QString(48, u'x').replace(u"xx"_s, u"1|"_s),
                    kind == NoDatabase ? QString() : u"Sales"_s);
    QStringList args = run.backupArgs();
    if (kind == NoConfig)
        args[2] = run.dir.filePath(u"missing.ini"_s);
    if (kind == UnknownCommand)
        args[0] = u"restore"_s;
    if (kind == CheckOption)
        args = {u"check"_s, u"--metrics"_s, run.dir.filePath(u"m.prom"_s)};
    if (kind == LogUnwritable)
        QVERIFY(QFile(run.logDir).open(QIODevice::WriteOnly)); // a file where the folder goes
    std::unique_ptr<FileLock> lock;
    if (kind == Locked) {
        lock = std::make_unique<FileLock>(run.target + u".vestrel-lock"_s);
        QString why;
        QCOMPARE(lock->TryLock(u"another backup"_s, &why), FileLock::Result::Locked);
    }
    QFile old(run.target);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the last good backup");
    old.close();

    QCOMPARE(run.run(args), expected);
    QVERIFY2(run.err.contains(said), run.err.constData());
    // Only a verified backup replaces the old file.
    if (expected == Verified)
        QVERIFY(read(run.target).contains("VESTREL-STANDIN-BACKUP"));
    else
        QCOMPARE(read(run.target), "the last good backup"_ba);
    // A failure of the job ends its block with the "Errore " line, as the window's does.
    if (expected > Connection || kind == WrongPassword)
        QVERIFY(run.log().last().startsWith("Errore "));
}

void TestCommandLine::backupWritesTheWindowsBlocks() {
    TdsStandin standin;
    Run run;
    run.writeConfig(standin.ServerName(), u"secret"_s);
    QCOMPARE(run.run(run.backupArgs()), int(Verified));
    const QList<QByteArray> log = run.log();
    const QByteArray rule(57, '=');
    QVERIFY(log.value(0).startsWith("Inizio Backup in data "));
    QCOMPARE(log.mid(1, 7),
             (QList<QByteArray>{rule, "Nome Server : " + standin.ServerName().toUtf8(), "User : sa",
                                "Password : ********", "Nome Database : Sales",
                                "File : " + run.target.toUtf8(), rule}));
    QVERIFY(log.contains("oBackupEvent_PercentComplete -- 10 percent processed. 10"));
    QVERIFY(log.contains("oBackupEvent_PercentComplete -- 100 percent processed. 100"));
    QVERIFY(log.value(log.size() - 5).startsWith("oBackupEvent_Complete -- "));
    QCOMPARE(log.value(log.size() - 4), rule);
    QVERIFY(log.value(log.size() - 3).startsWith("Fine Backup in data "));
    QCOMPARE(log.mid(log.size() - 2), (QList<QByteArray>{rule, " "}));
    // Not a terminal: one plain line per server message.
    QVERIFY2(run.err.contains("vestrel: 43 percent processed.\n"), run.err.constData());
}

void TestCommandLine::checkSaysWhatABackupWouldDo() {
    StandinScript old;
    old.sqlServer2000 = true;
    for (const bool sql2000 : {false, true}) {
        TdsStandin standin(sql2000 ? old : StandinScript{});
        Run run;
        run.writeConfig(standin.ServerName(), u"secret"_s);
        QCOMPARE(run.run({u"check"_s, u"--config"_s, run.config, u"--log-dir"_s, run.logDir}),
                 int(Verified));
        QVERIFY2(run.out.contains(sql2000 ? "server version: 08.00" : "server version: 1"),
                 run.out.constData());
        QVERIFY(run.out.contains(sql2000 ? "checksum: no" : "checksum: yes"));
        QVERIFY(run.out.contains("target: written beside the old file"));
        QVERIFY(run.out.contains("enabled hours: 00 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 "
                                 "16 17 18 19 20 21 22 23\n"));
        QVERIFY(standin.Backups().isEmpty());
        QVERIFY(!QFile::exists(run.logDir + u"/Command.log"_s));
    }
    TdsStandin standin;
    Run refused;
    refused.writeConfig(standin.ServerName(), u"wrong"_s);
    QCOMPARE(refused.run({u"check"_s, u"--config"_s, refused.config}), int(Connection));
}

void TestCommandLine::informationWithoutADisplay_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("--version") << QStringList{u"--version"_s}
                               << QByteArray("vestrel " VESTREL_VERSION "\n");
    QTest::newRow("--help") << QStringList{u"--help"_s} << "8  cancelled by SIGTERM"_ba;
    QTest::newRow("help") << QStringList{u"help"_s} << "--if-hour-enabled"_ba;
}

void TestCommandLine::informationWithoutADisplay() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, said);
    Run run;
    QCOMPARE(run.run(args), 0);
    QVERIFY2(run.out.contains(said), run.out.constData());
}

void TestCommandLine::signalCancelsAStalledBackup() {
#ifdef Q_OS_WIN
    QSKIP("QProcess::terminate sends no console control event on Windows");
#endif
    StandinScript script;
    script.stallAtPercent = 43;
    TdsStandin standin(script);
    Run run;
    run.writeConfig(standin.ServerName(), u"secret"_s);
    QFile old(run.target);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the last good backup");
    old.close();
    // The stall warning's 30 minutes made 1 s: the journal hears of the quiet server.
    run.environment.insert(u"VESTREL_STALL_WARNING_SECONDS"_s, u"1"_s);
    run.start(run.backupArgs());
    QVERIFY(standin.WaitStalled(30000));
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT(
        (said += run.process.readAllStandardError()).contains("has not reported progress since"),
        20000);
    run.process.terminate(); // SIGTERM
    QCOMPARE(run.finish(10000), int(Cancelled));
    QVERIFY(run.log().last().startsWith("Errore Backup annullato per la chiusura del programma."));
    QCOMPARE(read(run.target), "the last good backup"_ba);
    QVERIFY(!QFile::exists(run.target + u".vestrel-new"_s));
}

void TestCommandLine::progressBarOnATerminal() {
    const QString script = QStandardPaths::findExecutable(u"script"_s);
    if (script.isEmpty())
        QSKIP("script (util-linux) is not installed");
    TdsStandin standin;
    Run run;
    run.writeConfig(standin.ServerName(), u"secret"_s);
    // script gives the program a terminal and copies what it writes there.
    run.start({u"-qec"_s,
               QStringLiteral(VESTREL_EXE " backup --config ") + run.config + u" --log-dir "_s +
                   run.logDir,
               u"/dev/null"_s},
              script);
    QCOMPARE(run.finish(60000), int(Verified));
    const QByteArray shown = run.out + run.err;
    QVERIFY2(shown.contains("\r[####------------------------------------]  10%"),
             shown.constData());
    QVERIFY(shown.contains("\r[########################################] 100%\r\n"));
    QVERIFY(!shown.contains("vestrel: 10 percent processed."));
}

void TestCommandLine::metricsAfterSuccessAndFailure() {
    TdsStandin standin;
    Run run;
    const QString metrics = run.dir.filePath(u"sales.prom"_s);
    QStringList args = run.backupArgs() << u"--metrics"_s << metrics;
    run.writeConfig(standin.ServerName(), u"secret"_s);
    const double before = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    QCOMPARE(run.run(args), int(Verified));
    const double after = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    QString labels;
    const QMap<QString, double> success = parseMetrics(read(metrics), &labels);
    QVERIFY2(!success.isEmpty(), read(metrics).constData());
    QCOMPARE(labels, u"{server=\"%1\",database=\"Sales\"}"_s.arg(standin.ServerName()));
    QCOMPARE(success.value(u"vestrel_last_result"_s), 0.0);
    const double done = success.value(u"vestrel_last_success_timestamp_seconds"_s);
    QVERIFY(done >= before - 1 && done <= after + 1);
    QVERIFY(success.value(u"vestrel_last_attempt_timestamp_seconds"_s) <= done);
    QVERIFY(success.value(u"vestrel_last_duration_seconds"_s) >= 0);
    QCOMPARE(success.value(u"vestrel_last_backup_size_bytes"_s), double(QFile(run.target).size()));

    run.writeConfig(standin.ServerName(), u"wrong"_s);
    QCOMPARE(run.run(args), int(Connection));
    const QMap<QString, double> failure = parseMetrics(read(metrics), &labels);
    QVERIFY2(!failure.isEmpty(), read(metrics).constData());
    QCOMPARE(failure.value(u"vestrel_last_result"_s), double(Connection));
    // The last success is the earlier run's, read back from the file.
    QCOMPARE(failure.value(u"vestrel_last_success_timestamp_seconds"_s), done);
    QCOMPARE(failure.value(u"vestrel_last_backup_size_bytes"_s),
             success.value(u"vestrel_last_backup_size_bytes"_s));
    QVERIFY(failure.value(u"vestrel_last_attempt_timestamp_seconds"_s) > done);
    // Nothing but the metrics file beside it: the temporary file was renamed.
    QCOMPARE(QDir(run.dir.path()).entryList({u"sales.prom*"_s}, QDir::Files),
             QStringList{u"sales.prom"_s});
}

void TestCommandLine::hourEnabledWithThePinnedClock() {
    // libfaketime, preloaded into the program alone; a sanitizer's runtime must come first.
    QString faketime;
    for (const QString& lib : QDir(u"/usr/lib"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (QFile::exists(u"/usr/lib/%1/faketime/libfaketime.so.1"_s.arg(lib)))
            faketime = u"/usr/lib/%1/faketime/libfaketime.so.1"_s.arg(lib);
    if (faketime.isEmpty())
        QSKIP("libfaketime is not installed (Debian faketime)");
#ifdef VESTREL_ASAN_RUNTIME
    faketime = QStringLiteral(VESTREL_ASAN_RUNTIME ":") + faketime;
#endif
    TdsStandin standin;
    // Hour 3 alone enabled, or every hour but 3; the clock pinned at 03:30 local time.
    QString onlyThree, allButThree;
    for (int hour = 0; hour < 24; ++hour) {
        onlyThree += hour == 3 ? u"1|"_s : u"0|"_s;
        allButThree += hour == 3 ? u"0|"_s : u"1|"_s;
    }
    for (const bool enabled : {false, true}) {
        Run run;
        run.writeConfig(standin.ServerName(), u"secret"_s, enabled ? onlyThree : allButThree);
        run.environment.insert(u"LD_PRELOAD"_s, faketime);
        run.environment.insert(u"FAKETIME"_s, u"@2026-12-07 03:30:00"_s);
        run.start(run.backupArgs() << u"--if-hour-enabled"_s);
        QCOMPARE(run.finish(60000), int(Verified));
        QCOMPARE(standin.Backups().size(), enabled ? 1 : 0);
        if (enabled) {
            QVERIFY(run.log().value(0).startsWith("Inizio Backup in data "));
        } else {
            QVERIFY2(run.err.contains("hour 3 is not enabled"), run.err.constData());
            QVERIFY(!QFile::exists(run.logDir + u"/Command.log"_s));
        }
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_cli.moc"
