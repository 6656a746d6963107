// Runs the real executable in a program folder of its own.
#include "support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#ifdef Q_OS_WIN
#include "support/toplevelwindows.h"
#else
#include <csignal>
#endif

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

constexpr int kStartTimeoutMs = 20000;

// All hours off: the program starts, logs its banner and waits.
const QByteArray kQuietConfig = "[Connection String]\r\n"
                                "Data Source=127.0.0.1,1\r\n"
                                "Initial Catalog=db\r\n"
                                "User ID=sa\r\n"
                                "Password=secret\r\n"
                                "Integrated Security=0\r\n"
                                "[Opzioni_Avanzate]\r\n"
                                "FileName=\r\n"
                                "ARRAY_TEMPO=0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|\r\n";

class ProgramFolder {
public:
    ProgramFolder() {
        exe_ = dir_.filePath(QFileInfo(QStringLiteral(VESTREL_EXE)).fileName());
        QFile::copy(QStringLiteral(VESTREL_EXE), exe_);
        QFile config(dir_.filePath(u"config.ini"_s));
        if (config.open(QIODevice::WriteOnly))
            config.write(kQuietConfig);
    }
    QString exe() const { return exe_; }
    QList<QByteArray> log() const {
        QFile file(dir_.filePath(u"Command.log"_s));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = file.readAll().split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        for (QByteArray& line : lines)
            line = test::AfterStamp(line.endsWith('\r') ? line.chopped(1) : line);
        return lines;
    }
    bool waitForLogLines(int count) const {
        return QTest::qWaitFor([&] { return log().size() >= count; }, kStartTimeoutMs);
    }

    std::unique_ptr<QProcess> start(const QProcessEnvironment& extra = {}) const {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        // A Windows program without a console logs to the debugger unless told otherwise.
        env.insert(u"QT_FORCE_STDERR_LOGGING"_s, u"1"_s);
        for (const QString& key : extra.keys())
            env.insert(key, extra.value(key));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(exe_, {});
        process->waitForStarted();
        return process;
    }

private:
    QTemporaryDir dir_;
    QString exe_;
};

void stop(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

const QByteArray kRule(57, '=');

// A text as the program writes it on its standard error: in the ANSI code page on Windows,
// in the locale's UTF-8 elsewhere.
QByteArray Printed(const QString& text) {
#ifdef Q_OS_WIN
    const std::wstring wide = text.toStdWString();
    QByteArray bytes(int(wide.size()) * 4 + 1, '\0');
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), int(wide.size()), bytes.data(),
                                      int(bytes.size()), nullptr, nullptr);
    bytes.truncate(n > 0 ? n : 0);
    return bytes;
#else
    return text.toUtf8();
#endif
}

// The session ends: what the system does at log-off. On Windows WM_QUERYENDSESSION, then
// WM_ENDSESSION, to each top-level window of the process; elsewhere SIGTERM.
void EndSession(const QProcess& process) {
#ifdef Q_OS_WIN
    const std::vector<HWND> windows = test::TopLevelWindows(process.processId());
    QVERIFY(!windows.empty());
    DWORD_PTR answer = 0;
    for (HWND window : windows)
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                            5000, &answer);
    for (HWND window : windows)
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 15000,
                            &answer);
#else
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
#endif
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void bannerThenSecondInstanceThenSessionEnd() {
        ProgramFolder folder;
        auto first = folder.start();
        QVERIFY(folder.waitForLogLines(7));
        const QList<QByteArray> banner = folder.log();
        QCOMPARE(banner.size(), 7);
        QCOMPARE(banner[0], " "_ba);
        QCOMPARE(banner[1], kRule);
        QVERIFY2(banner[2].startsWith("Avvio Programma in data "), banner[2].constData());
        QVERIFY(banner[2].contains(" alle ore "));
        QCOMPARE(banner[3], kRule);
        QCOMPARE(banner[4], " "_ba);
        QCOMPARE(banner[5], "Avviata sequenza automatica.."_ba);
        QCOMPARE(banner[6], " "_ba);

        // A second start shows its message and nothing else happens.
        auto second = folder.start();
        QVERIFY(QTest::qWaitFor(
            [&] {
                second->waitForReadyRead(100);
                return second->peek(4096).contains(Printed(u"Programma gi\u00e0 in esecuzione."_s));
            },
            kStartTimeoutMs));
        stop(*second);
        QCOMPARE(folder.log(), banner);
        QCOMPARE(first->state(), QProcess::Running);

        // The session ending closes the program without the closing lines.
        EndSession(*first);
        QVERIFY(first->waitForFinished(kStartTimeoutMs));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(folder.log(), banner);
    }

    void aKilledInstanceDoesNotBlockTheNextStart() {
        ProgramFolder folder;
        auto first = folder.start();
        QVERIFY(folder.waitForLogLines(7));
        first->kill(); // SIGKILL: the lock stays behind
        first->waitForFinished();

        auto next = folder.start();
        QVERIFY(folder.waitForLogLines(14));
        QVERIFY(folder.log()[9].startsWith("Avvio Programma in data "));
        QCOMPARE(next->state(), QProcess::Running);
        stop(*next);
    }

    // A temporary folder where no lock can be made is no second instance: the program runs.
    void withoutALockItStillStarts() {
        ProgramFolder folder;
        QProcessEnvironment env;
#ifdef Q_OS_WIN
        // A temporary folder that is not there.
        const QString missing = QDir::toNativeSeparators(folder.exe() + u".missing"_s);
        env.insert(u"TMP"_s, missing);
        env.insert(u"TEMP"_s, missing);
#else
        env.insert(u"TMPDIR"_s, u"/proc"_s); // nobody, root included, creates files there
#endif
        auto process = folder.start(env);
        QVERIFY(folder.waitForLogLines(7));
        QVERIFY(folder.log()[2].startsWith("Avvio Programma in data "));
        QCOMPARE(process->state(), QProcess::Running);
        QVERIFY(!process->readAll().contains(Printed(u"Programma gi\u00e0 in esecuzione."_s)));
        stop(*process);
    }

    // With no SQL Server driver registered, the program says so and ends without a log line.
    void withoutTheSqlServerClient() {
#ifdef Q_OS_WIN
        // Windows reads the drivers from its registry, Wine from the environment it was
        // started with: a program under test cannot hand its child an empty list.
        QSKIP("the driver list cannot be emptied for one child process here");
#endif
        ProgramFolder folder;
        QTemporaryDir emptyOdbc;
        QProcessEnvironment env;
        env.insert(u"ODBCSYSINI"_s, emptyOdbc.path());
        env.insert(u"ODBCINSTINI"_s, u"odbcinst.ini"_s);
        auto process = folder.start(env);
        QVERIFY(QTest::qWaitFor(
            [&] {
                process->waitForReadyRead(100);
                return process->peek(4096).contains("Installare SQL Server o MSDE prima di usare "
                                                    "l'applicazione.");
            },
            kStartTimeoutMs));
        // The reason goes to the diagnostic output: which driver manager, which drivers.
        QVERIFY(QTest::qWaitFor(
            [&] {
                process->waitForReadyRead(100);
                return process->peek(4096).contains("vestrel: no SQL Server client: The ODBC "
                                                    "driver manager");
            },
            kStartTimeoutMs));
        QVERIFY(process->peek(4096).contains("lists no ODBC driver at all"));
        stop(*process);
        QVERIFY(folder.log().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
