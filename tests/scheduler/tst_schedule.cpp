#include "scheduler/schedule.h"

#include <QTest>
#include <QTimeZone>

using namespace vestrel;

namespace {

QDateTime at(int day, int hour, int minute, int second = 0, int month = 12) {
    return QDateTime(QDate(2026, month, day), QTime(hour, minute, second));
}

std::array<bool, 24> hours(std::initializer_list<int> enabled) {
    std::array<bool, 24> flags{};
    for (int hour : enabled)
        flags[static_cast<std::size_t>(hour)] = true;
    return flags;
}

} // namespace

class TestSchedule : public QObject {
    Q_OBJECT
private slots:
    void firstStartIsAllowedAtAnyTime() {
        const RepeatGuard guard;
        QCOMPARE(guard.iLastMinute(), 0);
        QCOMPARE(guard.iLastHour(), 0);
        QCOMPARE(guard.iLastDay(), 0);
        QVERIFY(guard.Allows(at(7, 0, 0)));
        QVERIFY(guard.Allows(at(7, 10, 25)));
    }

    void oneStartPerHour() {
        RepeatGuard guard;
        guard.Remember(at(7, 10, 25));
        QCOMPARE(guard.iLastMinute(), 25);
        QCOMPARE(guard.iLastHour(), 10);
        QCOMPARE(guard.iLastDay(), 7);
        QVERIFY(!guard.Allows(at(7, 10, 25, 30)));
        QVERIFY(!guard.Allows(at(7, 10, 26)));
        QVERIFY(!guard.Allows(at(7, 10, 59, 59)));
        QVERIFY(guard.Allows(at(7, 11, 0)));
        // The same hour on the next day.
        QVERIFY(guard.Allows(at(8, 10, 0)));
    }

    void sameHourAndDayOfALaterMonth() {
        RepeatGuard guard;
        guard.Remember(at(5, 10, 30, 0, 1));
        // Minute, hour and day all equal: refused; a minute later the new date counts.
        QVERIFY(!guard.Allows(at(5, 10, 30, 0, 2)));
        QVERIFY(guard.Allows(at(5, 10, 31, 0, 2)));
        QVERIFY(guard.Allows(at(5, 10, 0, 0, 2)));
    }

    void due() {
        RepeatGuard guard;
        const auto enabled = hours({8, 9, 23});
        QVERIFY(AutomaticStartDue(false, true, enabled, guard, at(7, 8, 0)));
        QVERIFY(!AutomaticStartDue(true, true, enabled, guard, at(7, 8, 0)));
        QVERIFY(!AutomaticStartDue(false, false, enabled, guard, at(7, 8, 0)));
        QVERIFY(!AutomaticStartDue(false, true, enabled, guard, at(7, 10, 0)));
        QVERIFY(!AutomaticStartDue(false, true, hours({}), guard, at(7, 8, 0)));
        guard.Remember(at(7, 8, 0));
        QVERIFY(!AutomaticStartDue(false, true, enabled, guard, at(7, 8, 30)));
        QVERIFY(AutomaticStartDue(false, true, enabled, guard, at(7, 9, 0)));
    }

    // After a failed automatic start the hour allows retries 5, 10 and 20 minutes after each
    // failure, three at most; the next hour starts afresh; a success ends the retries.
    void retriesAfterAFailure() {
        RepeatGuard guard;
        guard.Remember(at(7, 10, 0));
        QVERIFY(!guard.RetryAt().isValid());
        guard.Failed(at(7, 10, 0, 20));
        QCOMPARE(guard.RetryAt(), at(7, 10, 5, 20));
        QVERIFY(!guard.Allows(at(7, 10, 5, 19)));
        QVERIFY(guard.Allows(at(7, 10, 5, 20)));
        guard.Remember(at(7, 10, 5, 20));
        guard.Failed(at(7, 10, 6));
        QCOMPARE(guard.RetryAt(), at(7, 10, 16));
        guard.Remember(at(7, 10, 16));
        guard.Failed(at(7, 10, 16));
        QCOMPARE(guard.RetryAt(), at(7, 10, 36));
        guard.Remember(at(7, 10, 36));
        guard.Failed(at(7, 10, 36));
        QVERIFY(!guard.RetryAt().isValid());
        QVERIFY(!guard.Allows(at(7, 10, 59, 59)));
        QVERIFY(guard.Allows(at(7, 11, 0)));
        // A new hour: its first failure allows the first retry again.
        guard.Remember(at(7, 11, 0));
        guard.Failed(at(7, 11, 0));
        QCOMPARE(guard.RetryAt(), at(7, 11, 5));
        // A success (a start with no failure after it) ends the retries of its hour.
        guard.Remember(at(7, 11, 5));
        QVERIFY(!guard.RetryAt().isValid());
        QVERIFY(!guard.Allows(at(7, 11, 30)));
    }

    void nextCheckIsTheBoundaryOrAnEarlierRetry() {
        RepeatGuard guard;
        QCOMPARE(NextCheck(at(7, 10, 25), guard), at(7, 11, 0));
        guard.Remember(at(7, 10, 50));
        guard.Failed(at(7, 10, 50));
        QCOMPARE(NextCheck(at(7, 10, 50, 1), guard), at(7, 10, 55));
        // A retry past its time (a job ran over it) or after the boundary: the boundary.
        QCOMPARE(NextCheck(at(7, 10, 56), guard), at(7, 11, 0));
        guard.Remember(at(7, 10, 58));
        guard.Failed(at(7, 10, 58));
        QCOMPARE(NextCheck(at(7, 10, 58), guard), at(7, 11, 0));
    }

    // An enabled hour that passed with no verified backup since it began is missed; one a
    // running backup may still cover waits for its end.
    void missedHours_data() {
        QTest::addColumn<QList<int>>("enabled");
        QTest::addColumn<QDateTime>("lastGood");
        QTest::addColumn<QDateTime>("since"); // the first start
        QTest::addColumn<QDateTime>("running");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("missed");
        const QDateTime none, longAgo = at(1, 8, 0);
        QTest::newRow("passed since the last backup")
            << QList<int>{10} << at(7, 9, 10) << longAgo << none << at(7, 11, 5) << at(7, 10, 0);
        QTest::newRow("the hour had its backup")
            << QList<int>{10} << at(7, 10, 0) << longAgo << none << at(7, 11, 5) << none;
        QTest::newRow("not over yet")
            << QList<int>{10} << at(7, 9, 10) << longAgo << none << at(7, 10, 59, 59) << none;
        QTest::newRow("just over")
            << QList<int>{10} << at(7, 9, 10) << longAgo << none << at(7, 11, 0) << at(7, 10, 0);
        QTest::newRow("the earliest of two")
            << QList<int>{8, 10} << at(6, 17, 30) << longAgo << none << at(7, 11, 5) << at(7, 8, 0);
        QTest::newRow("none enabled")
            << QList<int>{} << at(1, 9, 0) << longAgo << none << at(7, 11, 5) << none;
        QTest::newRow("a week off, the last two days count")
            << QList<int>{9} << at(30, 9, 30, 0, 11) << longAgo << none << at(7, 8, 0)
            << at(5, 9, 0);
        QTest::newRow("a running backup covers the hours before it")
            << QList<int>{10, 11} << at(7, 9, 10) << longAgo << at(7, 10, 40) << at(7, 11, 30)
            << none;
        QTest::newRow("but not an hour that began after it")
            << QList<int>{10, 11} << at(7, 9, 10) << longAgo << at(7, 10, 40) << at(7, 12, 5)
            << at(7, 11, 0);
        QTest::newRow("never a backup, the hour ended after the first start")
            << QList<int>{10} << none << at(7, 10, 30) << none << at(7, 11, 5) << at(7, 10, 0);
        QTest::newRow("never a backup, the hour ended before the first start")
            << QList<int>{10} << none << at(7, 11, 1) << none << at(7, 11, 5) << none;
        QTest::newRow("nothing known")
            << QList<int>{10} << none << none << none << at(7, 11, 5) << none;
    }
    void missedHours() {
        QFETCH(QList<int>, enabled);
        QFETCH(QDateTime, lastGood);
        QFETCH(QDateTime, since);
        QFETCH(QDateTime, running);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, missed);
        std::array<bool, 24> flags{};
        for (int hour : enabled)
            flags[static_cast<std::size_t>(hour)] = true;
        QCOMPARE(FirstMissedHour(flags, lastGood, since, running, now), missed);
    }

    void nextHourBoundary_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("now");    // local time of the zone
        QTest::addColumn<QString>("boundary"); // local time of the zone, with its offset
        QTest::addColumn<qint64>("secondsAhead");
        const auto row = [](const char* name, const char* zone, QDate date, QTime time,
                            const char* boundary, qint64 seconds) {
            QTest::newRow(name) << QByteArray(zone) << QDateTime(date, time, QTimeZone(zone))
                                << QString::fromLatin1(boundary) << seconds;
        };
        const QDate day(2026, 12, 7);
        row("plain", "Europe/Rome", day, QTime(10, 25), "2026-12-07T11:00:00+01:00", 35 * 60);
        row("last second", "Europe/Rome", day, QTime(10, 59, 59, 990), "2026-12-07T11:00:00+01:00",
            0);
        row("year end", "Europe/Rome", QDate(2026, 12, 31), QTime(23, 59, 45),
            "2027-01-01T00:00:00+01:00", 15);
        row("half-hour zone", "Asia/Kolkata", day, QTime(10, 25), "2026-12-07T11:00:00+05:30",
            35 * 60);
        // Spring forward: 02:00 standard time does not exist, the clock jumps to 03:00.
        const QDate romeSpring(2027, 3, 28), romeAutumn(2027, 10, 31);
        row("Rome gap, hour before", "Europe/Rome", romeSpring, QTime(1, 0),
            "2027-03-28T03:00:00+02:00", 60 * 60);
        row("Rome gap, half an hour", "Europe/Rome", romeSpring, QTime(1, 30),
            "2027-03-28T03:00:00+02:00", 30 * 60);
        // Fall back: 03:00 summer time is 02:00 standard time, and hour 2 comes twice. The
        // first pass is given in UTC, as the local time names the second.
        const auto utcRow = [](const char* name, const char* zone, QDateTime utc,
                               const char* boundary, qint64 seconds) {
            QTest::newRow(name) << QByteArray(zone) << utc.toTimeZone(QTimeZone(zone))
                                << QString::fromLatin1(boundary) << seconds;
        };
        utcRow("Rome repeat, first pass", "Europe/Rome",
               QDateTime(romeAutumn, QTime(0, 30), Qt::UTC), "2027-10-31T02:00:00+01:00", 30 * 60);
        row("Rome repeat, second pass", "Europe/Rome", romeAutumn, QTime(2, 30),
            "2027-10-31T03:00:00+01:00", 30 * 60);
        const QDate nySpring(2027, 3, 14), nyAutumn(2027, 11, 7);
        row("New York gap", "America/New_York", nySpring, QTime(1, 30), "2027-03-14T03:00:00-04:00",
            30 * 60);
        utcRow("New York repeat, first pass", "America/New_York",
               QDateTime(nyAutumn, QTime(5, 30), Qt::UTC), "2027-11-07T01:00:00-05:00", 30 * 60);
        row("New York repeat, second pass", "America/New_York", nyAutumn, QTime(1, 30),
            "2027-11-07T02:00:00-05:00", 30 * 60);
    }

    void nextHourBoundary() {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, now);
        QFETCH(QString, boundary);
        QFETCH(qint64, secondsAhead);
#ifdef Q_OS_WIN
        // Windows' own zone list (and Wine's, which is shorter) decides which zones exist.
        if (!QTimeZone(zone).isValid())
            QSKIP("this system has no such time zone");
#endif
        QVERIFY2(QTimeZone(zone).isValid(), zone.constData());
        const QDateTime next = NextHourBoundary(now);
        QCOMPARE(next.toTimeZone(QTimeZone(zone)).toString(Qt::ISODate), boundary);
        QCOMPARE(now.msecsTo(next) / 1000, secondsAhead);
        QVERIFY(next > now);
    }

    // Walking from boundary to boundary over a whole day, changes of offset included: one
    // stop per hour the clock shows (23 on a spring-forward day, 25 on a fall-back day),
    // never a step shorter than an hour, so never a spin.
    void aWholeDayOfBoundaries_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("day");
        QTest::addColumn<int>("hours");
        QTest::newRow("Rome, winter") << QByteArray("Europe/Rome") << QDate(2026, 12, 7) << 24;
        QTest::newRow("Rome, spring forward")
            << QByteArray("Europe/Rome") << QDate(2027, 3, 28) << 23;
        QTest::newRow("Rome, fall back") << QByteArray("Europe/Rome") << QDate(2027, 10, 31) << 25;
        QTest::newRow("New York, spring forward")
            << QByteArray("America/New_York") << QDate(2027, 3, 14) << 23;
        QTest::newRow("New York, fall back")
            << QByteArray("America/New_York") << QDate(2027, 11, 7) << 25;
    }

    void aWholeDayOfBoundaries() {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, day);
        QFETCH(int, hours);
        const QTimeZone tz(zone);
        QDateTime now(day, QTime(0, 0), tz);
        const QDateTime end(day.addDays(1), QTime(0, 0), tz);
        int stops = 0;
        while (now < end) {
            const QDateTime next = NextHourBoundary(now);
            QCOMPARE(now.msecsTo(next), qint64(60 * 60 * 1000));
            QCOMPARE(next.toTimeZone(tz).time().minute(), 0);
            now = next;
            ++stops;
        }
        QCOMPARE(now, end);
        QCOMPARE(stops, hours);
    }
};

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
