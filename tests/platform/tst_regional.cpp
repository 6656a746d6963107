#include "platform/regional.h"
#include "support/fixtures.h"

#include <QTest>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace vestrel;
using namespace Qt::StringLiterals;

class TestRegional : public QObject {
    Q_OBJECT
private slots:
    void pinnedFormats_data() {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("morning") << QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)) << u"07/12/2026"_s
                                 << u"9.05.03"_s << u"07/12/2026 9.05.03"_s;
        QTest::newRow("evening") << QDateTime(QDate(2026, 1, 31), QTime(23, 59, 59))
                                 << u"31/01/2026"_s << u"23.59.59"_s << u"31/01/2026 23.59.59"_s;
        // At exactly midnight the default conversion leaves the time out.
        QTest::newRow("midnight") << QDateTime(QDate(2026, 3, 1), QTime(0, 0, 0)) << u"01/03/2026"_s
                                  << u"0.00.00"_s << u"01/03/2026"_s;
        // The clock has milliseconds; the texts have seconds.
        QTest::newRow("midnight and a bit") << QDateTime(QDate(2026, 3, 1), QTime(0, 0, 0, 250))
                                            << u"01/03/2026"_s << u"0.00.00"_s << u"01/03/2026"_s;
        QTest::newRow("one second past midnight")
            << QDateTime(QDate(2026, 3, 1), QTime(0, 0, 1)) << u"01/03/2026"_s << u"0.00.01"_s
            << u"01/03/2026 0.00.01"_s;
    }
    void pinnedFormats() {
        QFETCH(QDateTime, when);
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QString, stamp);
        test::PinnedFormats formats;
        QCOMPARE(DateText(when), date);
        QCOMPARE(TimeText(when), time);
        QCOMPARE(DateTimeText(when), stamp);
    }

#ifdef Q_OS_WIN
    // The user's regional settings, as Windows itself writes a short date and a time with them.
    void systemFormatsFollowTheLocale() {
        const QDateTime when(QDate(2026, 12, 7), QTime(21, 5, 3));
        SYSTEMTIME st{};
        st.wYear = 2026;
        st.wMonth = 12;
        st.wDay = 7;
        st.wDayOfWeek = 1;
        st.wHour = 21;
        st.wMinute = 5;
        st.wSecond = 3;
        wchar_t date[128];
        wchar_t time[128];
        QVERIFY(GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date,
                                int(std::size(date)), nullptr) > 0);
        QVERIFY(GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, time,
                                int(std::size(time))) > 0);
        QCOMPARE(DateText(when), QString::fromWCharArray(date));
        QCOMPARE(TimeText(when), QString::fromWCharArray(time));
        QCOMPARE(DateTimeText(when),
                 QString::fromWCharArray(date) + u' ' + QString::fromWCharArray(time));
    }
#else
    // The tests run with LC_ALL=C.UTF-8: the C locale's %x and %X.
    void systemFormatsFollowTheLocale() {
        const QDateTime when(QDate(2026, 12, 7), QTime(9, 5, 3));
        QCOMPARE(DateText(when), u"12/07/26"_s);
        QCOMPARE(TimeText(when), u"09:05:03"_s);
        QCOMPARE(DateTimeText(when), u"12/07/26 09:05:03"_s);
        QCOMPARE(DateTimeText(QDateTime(QDate(2027, 2, 28), QTime(0, 0))), u"02/28/27"_s);
    }
#endif

    void pinnedFormatsAreRestored() {
        const QDateTime when(QDate(2026, 12, 7), QTime(9, 5, 3));
        const QString system = DateText(when);
        {
            test::PinnedFormats formats(u"yyyy-MM-dd"_s, u"HH:mm:ss"_s);
            QCOMPARE(DateTimeText(when), u"2026-12-07 09:05:03"_s);
        }
        QCOMPARE(DateText(when), system);
    }
};

QTEST_GUILESS_MAIN(TestRegional)
#include "tst_regional.moc"
