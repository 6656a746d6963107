// The system's wall-clock timer (a timerfd on Linux), with the real clock.
#include "platform/walltimer.h"

#include <QSignalSpy>
#include <QTest>

using namespace vestrel;

class TestWallTimer : public QObject {
    Q_OBJECT
private slots:
    // Fires once, not before its deadline; a later start replaces the deadline.
    void firesAtItsDeadline() {
        WallClockTimer timer;
        QSignalSpy fired(&timer, &WallClockTimer::timeout);
        timer.startAt(QDateTime::currentDateTime().addSecs(3600));
        const QDateTime deadline = QDateTime::currentDateTime().addMSecs(150);
        timer.startAt(deadline);
        QVERIFY(timer.isActive());
        QCOMPARE(timer.deadline(), deadline);
        QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 1, 5000);
        QVERIFY(QDateTime::currentDateTime() >= deadline);
        QVERIFY(!timer.isActive());
        QTest::qWait(100);
        QCOMPARE(fired.size(), 1);
    }

    // A deadline already past (as after a suspend that slept through it) fires at once, on
    // the event loop, not inside startAt.
    void aPastDeadlineFiresAtOnce() {
        WallClockTimer timer;
        QSignalSpy fired(&timer, &WallClockTimer::timeout);
        timer.startAt(QDateTime::currentDateTime().addSecs(-90));
        QCOMPARE(fired.size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 1, 1000);
    }

    void stopped() {
        WallClockTimer timer;
        QSignalSpy fired(&timer, &WallClockTimer::timeout);
        timer.startAt(QDateTime::currentDateTime().addMSecs(50));
        timer.stop();
        QVERIFY(!timer.isActive());
        QTest::qWait(200);
        QCOMPARE(fired.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWallTimer)
#include "tst_walltimer.moc"
