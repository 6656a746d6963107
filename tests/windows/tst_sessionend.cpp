// The end of the session on Windows: WM_QUERYENDSESSION and WM_ENDSESSION reach a program
// without any window of its own on the screen, and the WM_ENDSESSION handler returns only
// once the program has finished its work and quit (Windows ends the process right after).
#include "support/toplevelwindows.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <vector>
#include <windows.h>

using namespace Qt::StringLiterals;
using vestrel::test::TopLevelWindows;

class TestSessionEnd : public QObject {
    Q_OBJECT
private slots:
    void endsAfterItsWork() {
        QProcess app;
        app.start(QStringLiteral(VESTREL_SESSION_APP), {});
        QVERIFY(app.waitForStarted(10000));
        QVERIFY(QTest::qWaitFor([&] { return app.peek(64).contains("ready"); }, 20000));
        const std::vector<HWND> windows = TopLevelWindows(app.processId());
        QVERIFY(!windows.empty());

        // Asked first: the program lets the session end.
        for (HWND window : windows) {
            DWORD_PTR answer = 0;
            QVERIFY(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                        SMTO_ABORTIFHUNG, 5000, &answer));
            QCOMPARE(answer, DWORD_PTR(TRUE));
        }
        // Told: the first window's handler waits for the work to end and the program to quit.
        QElapsedTimer handled;
        handled.start();
        DWORD_PTR answer = 0;
        QVERIFY(SendMessageTimeoutW(windows.front(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF,
                                    SMTO_ABORTIFHUNG, 15000, &answer));
        const qint64 took = handled.elapsed();
        QVERIFY2(took >= 400, qPrintable(QString::number(took)));
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        const QByteArray said = app.readAllStandardOutput().replace("\r", "");
        QCOMPARE(said, "ready\nending\nquit\nended\n"_ba);
    }
};

QTEST_GUILESS_MAIN(TestSessionEnd)
#include "tst_sessionend.moc"
