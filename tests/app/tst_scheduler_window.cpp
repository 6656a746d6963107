// The automatic timer of the real main window, driven tick by tick with a clock the test sets.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "support/fixtures.h"
#include "support/tds/standin.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTimeZone>
#include <QTimer>
#include <functional>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

// A server name on this machine where nobody listens: every connection is refused at once.
QString deadServer() {
    const test::TdsStandin gone;
    return gone.ServerName();
}

struct Window {
    test::TempProgramFolder folder;
    test::FakeClock clock{QDateTime(QDate(2026, 12, 30), QTime(0, 0))};
    test::PinnedFormats formats;
    test::MessageBoxRecorder boxes;
    FMain form;

    Window() {
        ArrayTempo.fill(false);
        form.txtSrv->setText(deadServer());
        form.txtUsr->setText(u"sa"_s);
        form.txtDBName->setText(u"db"_s);
        form.TxtPath->setText(folder.file(u"db.bak"_s));
        form.bAuto = true;
    }
    ~Window() { ArrayTempo.fill(false); }

    int starts() const {
        int count = 0;
        for (const QByteArray& line : folder.lines(u"Command.log"_s))
            if (test::AfterStamp(line).startsWith("Inizio Backup in data "))
                ++count;
        return count;
    }

    // Ticks once a minute from the clock's time on; returns the times a backup started.
    QList<QDateTime> run(int minutes) {
        QList<QDateTime> started;
        for (int i = 0; i < minutes; ++i) {
            const int before = starts();
            form.Tmr_Timer();
            if (starts() != before)
                started.append(clock.Now());
            clock.advanceSeconds(60);
        }
        return started;
    }
};

void enable(std::initializer_list<int> hours) {
    for (int hour : hours)
        ArrayTempo[static_cast<std::size_t>(hour)] = true;
}

} // namespace

class TestSchedulerWindow : public QObject {
    Q_OBJECT
private slots:
    // Two days across the end of a month and of a year: a start at the top of each enabled
    // hour, none elsewhere. The engine fails at once here, so each hour also has its three
    // retries, 5, 10 and 20 minutes after each failure, and no more.
    void fortyEightHours() {
        Window w;
        enable({8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 23});
        const QList<QDateTime> started = w.run(48 * 60);
        QList<QDateTime> expected;
        for (const QDate day : {QDate(2026, 12, 30), QDate(2026, 12, 31)})
            for (int hour : {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 23})
                for (int minute : {0, 5, 15, 35})
                    expected.append(QDateTime(day, QTime(hour, minute)));
        QCOMPARE(started, expected);
        // And on into the new year.
        w.clock.set(QDateTime(QDate(2027, 1, 1), QTime(8, 0)));
        QCOMPARE(w.run(1).size(), 1);
    }

    // The retry rule against a server that answers: the automatic start at 10:00 fails (wrong
    // password); a manual backup that fails at 10:02 changes nothing; the retry at 10:05
    // succeeds and ends the retries of hour 10; hour 11 starts afresh.
    void aSuccessEndsTheRetries() {
        const test::TdsStandin standin;
        Window w;
        w.form.txtSrv->setText(standin.ServerName());
        w.form.txtPwd->setText(u"wrong"_s);
        w.clock.set(QDateTime(QDate(2026, 12, 7), QTime(9, 59)));
        enable({10, 11});
        const QDate day(2026, 12, 7);
        QCOMPARE(w.run(3), QList<QDateTime>{QDateTime(day, QTime(10, 0))});
        w.form.CmdBackup->click();
        QCOMPARE(w.starts(), 2);
        QVERIFY(w.form.FailureShown());
        w.form.txtPwd->setText(u"secret"_s);
        const QList<QDateTime> expected{QDateTime(day, QTime(10, 5)), QDateTime(day, QTime(11, 0))};
        QCOMPARE(w.run(88), expected);
        QVERIFY(!w.form.FailureShown());
    }

    // A job that ends in a later enabled hour: that hour's start follows the job's end at
    // once. The tick that ran the job must not put off the look the job's end asked for.
    void aJobThatCrossesTheHourIsFollowedAtOnce() {
        Window w;
        enable({10, 11});
        const QDate day(2026, 12, 7);
        w.clock.set(QDateTime(day, QTime(10, 59, 50)));
        // The job (it pumps messages once running) lasts until 11:00:30.
        std::function<void()> lateEnd = [&] {
            if (bBackupRunning)
                w.clock.set(QDateTime(day, QTime(11, 0, 30)));
            else
                QTimer::singleShot(0, &w.form, lateEnd);
        };
        QTimer::singleShot(0, &w.form, lateEnd);
        w.form.Tmr_Timer();
        QCOMPARE(w.starts(), 1);
        QCOMPARE(w.form.LastAutomaticStart().iLastHour(), 10);
        QTRY_COMPARE_WITH_TIMEOUT(w.starts(), 2, 5000);
        QCOMPARE(w.form.LastAutomaticStart().iLastHour(), 11);
    }

    // The timer's deadline is the wall-clock boundary: the kernel fires it there, also when
    // the machine slept through it, and the hour's backup starts.
    void theBoundaryOnTheWallClock() {
        Window w;
        enable({11});
        const QDate day(2026, 12, 7);
        w.clock.set(QDateTime(day, QTime(10, 59, 1)));
        w.form.Tmr_Timer();
        QCOMPARE(w.clock.timers.armed(), QList<QDateTime>{QDateTime(day, QTime(11, 0))});
        QCOMPARE(w.clock.fireTimers(), 0);
        // Resumed at 11:20: the overdue deadline fires.
        w.clock.set(QDateTime(day, QTime(11, 20)));
        QCOMPARE(w.clock.fireTimers(), 1);
        QCOMPARE(w.starts(), 1);
        QCOMPARE(w.clock.timers.armed().value(0), QDateTime(day, QTime(11, 25)));
    }

    // The clock set by hand (or a resume, which the kernel reports the same way) into an
    // enabled hour: the program looks at once, not at its old deadline.
    void aClockChangeIsNoticedAtOnce() {
        Window w;
        enable({11});
        const QDate day(2026, 12, 7);
        w.clock.set(QDateTime(day, QTime(10, 15)));
        w.form.Tmr_Timer();
        QCOMPARE(w.clock.timers.armed(), QList<QDateTime>{QDateTime(day, QTime(11, 0))});
        // Set back an hour, the deadline is still armed; then on to 11:59:30.
        w.clock.set(QDateTime(day, QTime(9, 15)));
        w.clock.timers.clockSet();
        QTRY_COMPARE_WITH_TIMEOUT(w.clock.timers.armed(),
                                  QList<QDateTime>{QDateTime(day, QTime(10, 0))}, 2000);
        w.clock.set(QDateTime(day, QTime(11, 59, 30)));
        w.clock.timers.clockSet();
        QTRY_COMPARE_WITH_TIMEOUT(w.starts(), 1, 2000);
    }

    // Before a spring-forward gap the next boundary is the instant the clock jumps, not a
    // time that does not exist (which left the timer a 50 ms sleep for a whole hour).
    void theBoundaryBeforeASpringForwardGap_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("boundary");
        const QTimeZone rome("Europe/Rome"), newYork("America/New_York");
        for (const QTime time : {QTime(1, 0), QTime(1, 40), QTime(1, 59, 59, 990)}) {
            QTest::addRow("Rome %s", qPrintable(time.toString()))
                << QDateTime(QDate(2027, 3, 28), time, rome)
                << QDateTime(QDate(2027, 3, 28), QTime(1, 0), Qt::UTC);
            QTest::addRow("New York %s", qPrintable(time.toString()))
                << QDateTime(QDate(2027, 3, 14), time, newYork)
                << QDateTime(QDate(2027, 3, 14), QTime(7, 0), Qt::UTC);
        }
    }

    void theBoundaryBeforeASpringForwardGap() {
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, boundary);
        Window w;
        enable({3});
        w.clock.set(now);
        w.form.Tmr_Timer();
        QCOMPARE(w.clock.timers.armed(), QList<QDateTime>{boundary});
        // At the jump the clock reads 03:00 and hour 3 starts.
        w.clock.set(boundary.toTimeZone(now.timeZone()));
        QCOMPARE(w.clock.fireTimers(), 1);
        QCOMPARE(w.form.LastAutomaticStart().iLastHour(), 3);
    }

    // "Chiudi" handled while a tick pumps messages: the closing program starts no backup.
    void aClosingProgramStartsNothing() {
        Window w;
        w.clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
        enable({10});
        QTimer::singleShot(0, &w.form, [&] { w.form.bUnload = true; });
        w.form.Tmr_Timer();
        QCOMPARE(w.starts(), 0);
        QVERIFY(!w.form.Tmr->isActive());
        QVERIFY(w.clock.timers.armed().isEmpty());
    }

    void startsAtOnceInAnEnabledHour() {
        Window w;
        w.clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 25)));
        enable({10});
        QCOMPARE(w.run(1).size(), 1);
        QCOMPARE(w.form.LastAutomaticStart().iLastMinute(), 25);
        QCOMPARE(w.form.LastAutomaticStart().iLastHour(), 10);
        QCOMPARE(w.form.LastAutomaticStart().iLastDay(), 7);
        // It failed: retries at 10:30 and 10:40; the third would fall in the next hour.
        const QList<QDateTime> retries{QDateTime(QDate(2026, 12, 7), QTime(10, 30)),
                                       QDateTime(QDate(2026, 12, 7), QTime(10, 40))};
        QCOMPARE(w.run(34), retries);
    }

    void nothingWithAutomaticModeOffOrEveryHourOff() {
        {
            Window w;
            enable({0, 1, 2, 3});
            w.form.CmdAbilita_Click();
            QCOMPARE(w.form.bAuto, false);
            QCOMPARE(w.form.CmdAbilita->text(), u"Abilita Auto"_s);
            QCOMPARE(w.run(6 * 60).size(), 0);
            // A second click turns it on again and the starts resume.
            w.form.CmdAbilita_Click();
            QCOMPARE(w.form.CmdAbilita->text(), u"Disabilita Auto"_s);
            w.clock.set(QDateTime(QDate(2026, 12, 31), QTime(2, 10)));
            QCOMPARE(w.run(50).value(0), QDateTime(QDate(2026, 12, 31), QTime(2, 10)));
        }
        {
            Window w;
            QCOMPARE(w.run(24 * 60).size(), 0);
        }
    }

    // An hour enabled with its button counts at the next tick; nothing is saved.
    void enablingTheCurrentHour() {
        Window w;
        w.clock.set(QDateTime(QDate(2026, 12, 7), QTime(14, 40)));
        QCOMPARE(w.run(1).size(), 0);
        w.form.CmdHour(14)->click();
        QCOMPARE(ArrayTempo[14], true);
        QCOMPARE(w.form.CmdHour(14)->backColor(), QColor(0, 0, 0xFF));
        QCOMPARE(w.run(1).size(), 1);
        QVERIFY(!QFile::exists(w.folder.file(u"config.ini"_s)));
        // Twice: flag and colour back as they were.
        w.form.CmdHour(14)->click();
        QCOMPARE(ArrayTempo[14], false);
        QCOMPARE(w.form.CmdHour(14)->backColor(), QColor(0xFF, 0xFF, 0xFF));
    }

    void includeAndExcludeAll() {
        Window w;
        w.form.CmdIncludi->click();
        for (int hour = 0; hour < 24; ++hour) {
            QVERIFY(ArrayTempo[static_cast<std::size_t>(hour)]);
            QCOMPARE(w.form.CmdHour(hour)->backColor(), QColor(0, 0, 0xFF));
        }
        w.form.CmdEscludi->click();
        for (int hour = 0; hour < 24; ++hour) {
            QVERIFY(!ArrayTempo[static_cast<std::size_t>(hour)]);
            QCOMPARE(w.form.CmdHour(hour)->backColor(), QColor(0xFF, 0xFF, 0xFF));
        }
    }

    // While a job runs, the lamps show it and the fields are locked; the rest stays usable.
    // A manual start leaves the remembered automatic start alone.
    void lampsAndLocksDuringAManualBackup() {
        Window w;
        w.clock.set(QDateTime(QDate(2026, 12, 7), QTime(9, 30)));
        enable({9});
        w.form.bAuto = false;
        bool seen = false;
        QTimer::singleShot(0, &w.form, [&] {
            seen = true;
            QVERIFY(bBackupRunning);
            QCOMPARE(w.form.ShpStat(1)->fillColor(), QColor(0xFF, 0, 0));
            QCOMPARE(w.form.ShpStat(2)->fillColor(), QColor(0xFF, 0xFF, 0xFF));
            QVERIFY(!w.form.CmdEsci->isEnabled());
            QVERIFY(!w.form.CmdBackup->isEnabled());
            for (QLineEdit* field :
                 {w.form.txtSrv, w.form.txtUsr, w.form.txtPwd, w.form.txtDBName, w.form.TxtPath}) {
                QVERIFY(field->isReadOnly());
                QVERIFY(field->isEnabled());
            }
            for (QWidget* usable : std::initializer_list<QWidget*>{
                     w.form.chkIntegrated, w.form.CmdDir, w.form.CmdLoad, w.form.CmdSave,
                     w.form.CmdAbilita, w.form.CmdHour(3), w.form.CmdIncludi, w.form.CmdEscludi})
                QVERIFY(usable->isEnabled());
            // A tick inside the job only refreshes the display.
            w.form.Tmr_Timer();
        });
        w.form.CmdBackup->click();
        QVERIFY(seen);
        QCOMPARE(w.starts(), 1);
        QCOMPARE(w.form.LastAutomaticStart().iLastHour(), 0);
        QCOMPARE(w.form.LastAutomaticStart().iLastDay(), 0);
        QVERIFY(!bBackupRunning);
        QCOMPARE(w.form.ShpStat(1)->fillColor(), QColor(0xFF, 0xFF, 0xFF));
        QCOMPARE(w.form.ShpStat(2)->fillColor(), QColor(0, 0xFF, 0));
        QVERIFY(w.form.CmdEsci->isEnabled());
        QVERIFY(!w.form.txtSrv->isReadOnly());
    }
};

QTEST_MAIN(TestSchedulerWindow)
#include "tst_scheduler_window.moc"
