// The last good backup known at a glance, through the real window: "Ultimo Backup eseguito"
// and the tray tip after a restart, and the warning when an enabled hour passed without one.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "job/backupstate.h"
#include "platform/gui/winapi.h"
#include "support/fixtures.h"
#include "support/tds/standin.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

class PinnedShellVersion final : public win::IShellVersion {
public:
    explicit PinnedShellVersion(win::WORD major) : major_(major) {}
    std::optional<win::FileVersion> Shell32Version() override {
        return win::FileVersion{major_, 0, 0, 0};
    }

private:
    win::WORD major_;
};

QImage image(win::HICON handle) {
    return win::IconFromHandle(handle).pixmap(16, 16).toImage();
}

// A program folder, a clock, the stand-in and a window that can be started again (a restart
// of the program over the same folders).
struct Window {
    test::TempProgramFolder folder;
    test::FakeClock clock;
    test::PinnedFormats formats;
    test::MessageBoxRecorder boxes;
    test::TdsStandin standin;
    std::unique_ptr<FMain> form;

    explicit Window(const QDateTime& now = QDateTime(QDate(2026, 12, 7), QTime(10, 25)))
        : clock(now) {
        ArrayTempo.fill(false);
    }
    ~Window() {
        form.reset();
        ArrayTempo.fill(false);
    }
    FMain& start() {
        form.reset();
        form = std::make_unique<FMain>();
        form->Form_Load();
        form->txtSrv->setText(standin.ServerName());
        form->txtUsr->setText(u"sa"_s);
        form->txtPwd->setText(u"secret"_s);
        form->txtDBName->setText(u"Sales"_s);
        form->TxtPath->setText(folder.file(u"Sales.bak"_s));
        return *form;
    }
    win::NotifyIconState icon() const {
        return *win::NotifyIconInfo(win::WindowHandle(form.get()), ClsIconTray::kIconId);
    }
    bool warningIcon() const {
        return image(icon().hIcon) == VestrelWarningIcon().pixmap(16, 16).toImage();
    }
};

const QString kDash = u"Vestrel \u2014 "_s;

} // namespace

class TestLastBackup : public QObject {
    Q_OBJECT
private slots:
    void theLastGoodBackupSurvivesARestart() {
        Window w;
        FMain& form = w.start();
        QCOMPARE(form.LblLastUpdate->text(), QString());
        QCOMPARE(w.icon().tip, kDash + u"nessun backup riuscito"_s);
        form.CmdBackup->click();
        QCOMPARE(form.LblLastUpdate->text(), u"07/12/2026 10.25.00"_s);
        QCOMPARE(w.icon().tip, kDash + u"ultimo backup 07/12/2026 10.25.00"_s);

        w.clock.advanceSeconds(2 * 3600);
        FMain& again = w.start();
        QCOMPARE(again.LblLastUpdate->text(), u"07/12/2026 10.25.00"_s);
        QCOMPARE(w.icon().tip, kDash + u"ultimo backup 07/12/2026 10.25.00"_s);
        QCOMPARE(again.LastGood().file, w.folder.file(u"Sales.bak"_s));
        QCOMPARE(again.LastGood().size, QFileInfo(w.folder.file(u"Sales.bak"_s)).size());
        QVERIFY(!again.MissedShown());
        QCOMPARE(w.icon().balloons, 0);
    }

    // A backup the server verified that could not take the file's place is no good backup:
    // neither the label nor the record moves.
    void aBackupNotInPlaceIsNoGoodBackup() {
        Window w;
        FMain& form = w.start();
        form.CmdBackup->click();
        w.clock.advanceSeconds(3600);
        const QString folderInTheWay = w.folder.file(u"Other.bak"_s);
        QVERIFY(QDir().mkpath(folderInTheWay + u"/inside"_s));
        form.TxtPath->setText(folderInTheWay);
        form.CmdBackup->click();
        const QByteArray last = test::AfterStamp(w.folder.lines(u"Command.log"_s).last());
        QVERIFY2(last.startsWith("Errore Impossibile sostituire il file"), last.constData());
        QVERIFY(form.FailureShown());
        QCOMPARE(form.LblLastUpdate->text(), u"07/12/2026 10.25.00"_s);
        QCOMPARE(ReadBackupState().lastGood.when, QDateTime(QDate(2026, 12, 7), QTime(10, 25)));
        QCOMPARE(w.start().LblLastUpdate->text(), u"07/12/2026 10.25.00"_s);
    }

    // At start, an enabled hour that ended with no verified backup since it began: the warning
    // icon and a balloon say since when there is none; the next good backup ends it. (Which
    // hours count is FirstMissedHour's table in tst_schedule.)
    void aMissedHourAtStart_data() {
        QTest::addColumn<QDateTime>("lastGood");   // invalid: none
        QTest::addColumn<QDateTime>("firstStart"); // invalid: no state file at all
        QTest::addColumn<QList<int>>("hours");
        QTest::addColumn<QString>("balloon"); // empty: nothing missed
        const auto at = [](int day, int hour, int minute) {
            return QDateTime(QDate(2026, 12, day), QTime(hour, minute));
        };
        const QDateTime longAgo = at(1, 8, 0);
        QTest::newRow("an hour passed since the last backup")
            << at(7, 9, 10) << longAgo << QList<int>{10}
            << u"Nessun backup riuscito dal 07/12/2026 9.10.00."_s;
        QTest::newRow("the hour had its backup")
            << at(7, 10, 30) << longAgo << QList<int>{10} << QString();
        QTest::newRow("never a backup, an hour passed since the first start")
            << QDateTime() << at(7, 10, 30) << QList<int>{10}
            << u"Nessun backup riuscito dal primo avvio, il 07/12/2026 10.30.00."_s;
        QTest::newRow("the very first start")
            << QDateTime() << QDateTime() << QList<int>{10} << QString();
    }
    void aMissedHourAtStart() {
        QFETCH(QDateTime, lastGood);
        QFETCH(QDateTime, firstStart);
        QFETCH(QList<int>, hours);
        QFETCH(QString, balloon);
        Window w(QDateTime(QDate(2026, 12, 7), QTime(11, 5)));
        if (firstStart.isValid()) {
            BackupState state;
            state.firstStart = firstStart;
            if (lastGood.isValid())
                state.lastGood = {lastGood, w.folder.file(u"Sales.bak"_s), 100};
            QVERIFY(WriteBackupState(state));
        }
        for (int hour : hours)
            ArrayTempo[size_t(hour)] = true;
        FMain& form = w.start();
        QCOMPARE(form.MissedShown(), !balloon.isEmpty());
        QCOMPARE(form.FailureShown(), !balloon.isEmpty());
        QCOMPARE(w.warningIcon(), !balloon.isEmpty());
        if (!firstStart.isValid())
            QCOMPARE(ReadBackupState().firstStart, w.clock.Now());
        if (balloon.isEmpty()) {
            QCOMPARE(w.icon().balloons, 0);
            return;
        }
        QCOMPARE(w.icon().balloons, 1);
        QCOMPARE(w.icon().balloonTitle, u"Backup mancato"_s);
        QCOMPARE(w.icon().balloonText, balloon);
        QCOMPARE(w.icon().balloonFlags, win::NIIF_WARNING);

        form.CmdBackup->click();
        QVERIFY(!form.MissedShown());
        QVERIFY(!form.FailureShown());
        QVERIFY(!w.warningIcon());
        QCOMPARE(w.icon().balloons, 2);
        QCOMPARE(w.icon().balloonTitle, u"Backup eseguito"_s);
        QCOMPARE(form.LblLastUpdate->text(), u"07/12/2026 11.05.00"_s);
    }

    // While the program runs, at the hour boundary: an enabled hour that passed without a
    // backup is told also with automatic mode off, and says so.
    void anHourMissedWhileRunning() {
        Window w;
        FMain& form = w.start();
        ArrayTempo[11] = true;
        form.CmdBackup->click();
        form.CmdAbilita->click(); // automatic mode off: nothing starts at 11
        QVERIFY(!form.bAuto);
        w.clock.set(QDateTime(QDate(2026, 12, 7), QTime(11, 0)));
        QCOMPARE(w.clock.fireTimers(), 1);
        QVERIFY(!form.MissedShown());
        w.clock.set(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
        QCOMPARE(w.clock.fireTimers(), 1);
        QVERIFY(form.MissedShown());
        QVERIFY(w.warningIcon());
        QCOMPARE(w.icon().balloonText, u"Nessun backup riuscito dal 07/12/2026 10.25.00. I backup "
                                       u"automatici sono disabilitati."_s);
        // Told once: the next boundary adds no balloon.
        const int balloons = w.icon().balloons;
        w.clock.set(QDateTime(QDate(2026, 12, 7), QTime(13, 0)));
        QCOMPARE(w.clock.fireTimers(), 1);
        QCOMPARE(w.icon().balloons, balloons);
    }

    // The tip stays within the record's tip field: 128 bytes in the full record, 64 in the
    // short one an old shell reads, cut at whole characters.
    void theTipFitsTheRecord_data() {
        QTest::addColumn<int>("shell");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("tip");
        const QString longTime = u"HH 'hours' mm 'minutes' ss 'seconds'"_s;
        const QString full = kDash + u"ultimo backup 07/12/2026 10 hours 25 minutes 00 seconds"_s;
        QTest::newRow("full record") << 6 << longTime << full;
        QTest::newRow("short record, cut at 64 bytes") << 4 << longTime << full.left(62);
        QTest::newRow("short record, fits")
            << 4 << u"H.mm.ss"_s << kDash + u"ultimo backup 07/12/2026 10.25.00"_s;
    }
    void theTipFitsTheRecord() {
        QFETCH(int, shell);
        QFETCH(QString, time);
        QFETCH(QString, tip);
        PinnedShellVersion version{win::WORD(shell)};
        ScopedSeam<win::IShellVersion> seam(win::ShellVersionSeam(), &version);
        Window w;
        test::PinnedFormats formats(u"dd/MM/yyyy"_s, time);
        w.start().CmdBackup->click();
        QCOMPARE(w.icon().tip, tip);
        QVERIFY(w.icon().tip.toUtf8().size() <= (shell < 5 ? 64 : 128));
    }
};

QTEST_MAIN(TestLastBackup)
#include "tst_lastbackup.moc"
