// The system's wall-clock timer (a timerfd on Linux, a waitable timer on Windows), with the
// real clock, and at an hour boundary with a clock set just before it.
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

    // What the scheduler does: a timer armed for the next full hour fires at the hour, not
    // before, however far the process's own timers are. Run by tst_walltimer_hour
    // (tests/support/hour_boundary.sh) with the wall clock 3 s before an hour.
    void firesAtTheHourBoundary() {
        if (qEnvironmentVariable("VESTREL_HOUR_BOUNDARY") != QLatin1String("1"))
            QSKIP("run by tst_walltimer_hour, with the wall clock set just before an hour");
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime hour = QDateTime(now.date(), QTime(now.time().hour(), 0)).addSecs(3600);
        QVERIFY2(now.secsTo(hour) <= 10, qPrintable(now.toString(Qt::ISODateWithMs)));
        WallClockTimer timer;
        QSignalSpy fired(&timer, &WallClockTimer::timeout);
        timer.startAt(hour);
        QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 1, 20000);
        const QDateTime at = QDateTime::currentDateTime();
        QVERIFY2(at >= hour && at < hour.addSecs(2), qPrintable(at.toString(Qt::ISODateWithMs)));
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
