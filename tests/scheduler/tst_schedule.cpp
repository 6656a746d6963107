#include "scheduler/schedule.h"

#include <QTest>

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

    void sleepsUntilTheNextHourAtMostAMinute() {
        QCOMPARE(MsecsUntilNextCheck(at(7, 10, 25)), 60 * 1000);
        QCOMPARE(MsecsUntilNextCheck(at(7, 10, 59, 30)), 30 * 1000);
        QCOMPARE(MsecsUntilNextCheck(at(7, 23, 59, 45)), 15 * 1000);
        QCOMPARE(MsecsUntilNextCheck(at(31, 23, 59, 59)), 1000);
        const QDateTime almost(QDate(2026, 12, 7), QTime(10, 59, 59, 990));
        QCOMPARE(MsecsUntilNextCheck(almost), 50); // never a busy loop
    }
};

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
