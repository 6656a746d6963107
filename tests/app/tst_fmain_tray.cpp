// The main window's tray icon and menu, through the real window.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/gui/winapi.h"
#include "support/fixtures.h"
#include "support/tds/standin.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <utility>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

struct Item {
    QString text;
    unsigned id = 0;
    unsigned type = 0;
    unsigned state = 0;
};

Item itemAt(win::HMENU menu, int position) {
    char buffer[128] = {};
    win::MENUITEMINFOA info{};
    info.cbSize = 44;
    info.fMask = win::MIIM_ID | win::MIIM_TYPE | win::MIIM_STATE;
    info.dwTypeData = buffer;
    info.cch = sizeof buffer;
    win::GetMenuItemInfoA(menu, static_cast<unsigned>(position), 1, &info);
    return {QString::fromLatin1(buffer), info.wID, info.fType, info.fState};
}

} // namespace

class TestFMainTray : public QObject {
    Q_OBJECT
private slots:
    void theMenuAfterLoad() {
        test::TempProgramFolder folder;
        FMain form;
        form.Form_Load();
        QCOMPARE(form.LblVersion->text(), u"2.0.0"_s);
        QVERIFY(form.bAuto);
        const win::HMENU menu = form.icontray->PopMenu();
        QCOMPARE(win::GetMenuItemCount(menu), 6);
        const QStringList texts{u"Mostra Tarvoni Software - Vestrel"_s,
                                u"Nascondi"_s,
                                u"Abilita/Disabilita"_s,
                                QString(),
                                u"Chiudi"_s,
                                u"Annulla"_s};
        const unsigned ids[] = {101, 102, 103, 0, 105, 106};
        for (int i = 0; i < 6; ++i) {
            const Item item = itemAt(menu, i);
            QCOMPARE(item.id, ids[i]);
            if (i == 3)
                QVERIFY(item.type & win::MFT_SEPARATOR);
            else
                QCOMPARE(item.text, texts[i]);
            QCOMPARE(bool(item.state & win::MFS_DEFAULT), i == 0);
        }
    }

    // The icon the tray gets has a picture drawn for each size notification areas ask for, in
    // both variants: a host never scales a smaller one up.
    void theTrayIconHasAPictureForEachSize_data() {
        QTest::addColumn<bool>("warning");
        QTest::addColumn<int>("size");
        for (const bool warning : {false, true})
            for (const int size : {16, 22, 24, 32, 48})
                QTest::addRow("%s %d", warning ? "warning" : "normal", size) << warning << size;
    }
    void theTrayIconHasAPictureForEachSize() {
        QFETCH(bool, warning);
        QFETCH(int, size);
        test::TempProgramFolder folder;
        FMain form;
        form.Form_Load();
        const win::HWND hwnd = win::WindowHandle(&form);
        if (warning)
            form.BackupFailed(u"x"_s);
        const QIcon shown =
            win::IconFromHandle(win::NotifyIconInfo(hwnd, ClsIconTray::kIconId)->hIcon);
        QVERIFY(shown.availableSizes().contains(QSize(size, size)));
        const QImage drawn =
            QImage(u":/vestrel/icon-%1%2.png"_s.arg(warning ? u"warning-"_s : QString()).arg(size))
                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QVERIFY(!drawn.isNull());
        QCOMPARE(
            shown.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
            drawn);
    }

    void hidingShowingAndTheMenuChoices() {
        test::TempProgramFolder folder;
        FMain form;
        form.Form_Load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.CmdNascondi->click();
        QVERIFY(!form.isVisible());
        form.icontray_PopMenuClick(2); // hidden stays hidden
        QVERIFY(!form.isVisible());
        // Abilita/Disabilita works with the window hidden, exactly like the button.
        form.icontray_PopMenuClick(3);
        QCOMPARE(form.CmdAbilita->text(), u"Abilita Auto"_s);
        QVERIFY(!form.bAuto);
        form.icontray_PopMenuClick(3);
        QCOMPARE(form.CmdAbilita->text(), u"Disabilita Auto"_s);
        // A right double click does nothing, a left one shows the window.
        form.icontray_MouseDblClick(1);
        QVERIFY(!form.isVisible());
        form.icontray_MouseDblClick(0);
        QVERIFY(form.isVisible());
        // "Mostra" restores a minimised window.
        form.showMinimized();
        form.icontray_PopMenuClick(1);
        QVERIFY(!(form.windowState() & Qt::WindowMinimized));
        QVERIFY(form.isVisible());
        // "Annulla" and the separator change nothing and log nothing.
        form.icontray_PopMenuClick(6);
        form.icontray_PopMenuClick(4);
        QVERIFY(form.isVisible());
        QVERIFY(folder.read(u"Command.log"_s).isEmpty());
    }

    // A failed backup: a balloon with the log's "Errore" line and the warning icon, the tip
    // saying there is no good backup; they stay through a second failure and end at the next
    // success with a short balloon, and the tip names it; a further success shows none.
    void aFailureIsShownInTheTrayUntilASuccess() {
        test::TempProgramFolder folder;
        test::FakeClock clock;
        test::PinnedFormats formats;
        const test::TdsStandin standin;
        FMain form;
        form.Form_Load();
        form.txtSrv->setText(standin.ServerName());
        form.txtUsr->setText(u"sa"_s);
        form.txtPwd->setText(u"wrong"_s);
        form.txtDBName->setText(u"Sales"_s);
        form.TxtPath->setText(folder.file(u"Sales.bak"_s));
        const win::HWND hwnd = win::WindowHandle(&form);
        const auto icon = [&] { return *win::NotifyIconInfo(hwnd, ClsIconTray::kIconId); };
        const auto image = [](win::HICON handle) {
            return win::IconFromHandle(handle).pixmap(16, 16).toImage();
        };
        const win::HICON normal = icon().hIcon;
        QCOMPARE(icon().balloons, 0);

        for (int failures = 1; failures <= 2; ++failures) {
            form.CmdBackup->click();
            const win::NotifyIconState state = icon();
            QCOMPARE(state.balloons, failures);
            QCOMPARE(state.balloonTitle, u"Backup non riuscito"_s);
            const QByteArray logged = test::AfterStamp(folder.lines(u"Command.log"_s).last());
            QVERIFY(logged.startsWith("Errore "));
            QCOMPARE(state.balloonText, QString::fromUtf8(logged));
            QCOMPARE(state.balloonFlags, win::NIIF_ERROR);
            QVERIFY(state.hIcon != normal);
            QCOMPARE(image(state.hIcon), VestrelWarningIcon().pixmap(16, 16).toImage());
            QVERIFY(image(state.hIcon) != image(normal));
            QCOMPARE(state.tip, u"Vestrel \u2014 nessun backup riuscito"_s);
            QVERIFY(form.FailureShown());
        }

        form.txtPwd->setText(u"secret"_s);
        form.CmdBackup->click();
        QVERIFY(QFile::exists(folder.file(u"Sales.bak"_s)));
        win::NotifyIconState state = icon();
        QCOMPARE(state.balloons, 3);
        QCOMPARE(state.balloonTitle, u"Backup eseguito"_s);
        QCOMPARE(state.balloonText, u"Il backup \u00e8 di nuovo riuscito."_s);
        QCOMPARE(state.balloonFlags, win::NIIF_INFO);
        QCOMPARE(state.hIcon, normal);
        QCOMPARE(state.tip, u"Vestrel \u2014 ultimo backup 07/12/2026 10.25.00"_s);
        QVERIFY(!form.FailureShown());
        form.CmdBackup->click();
        QCOMPARE(icon().balloons, 3);
    }

    // A server that reports nothing for the stall time (shortened here through its
    // environment setting) is shown in the tray with the time of its last message; the backup
    // goes on, and the server's next message takes the warning away.
    void aServerThatWentQuietIsShown() {
        qputenv("VESTREL_STALL_WARNING_SECONDS", "1");
        test::TempProgramFolder folder;
        test::FakeClock clock;
        test::PinnedFormats formats;
        test::StandinScript script;
        script.pauseAtPercent = 21;
        test::TdsStandin standin(script);
        FMain form;
        form.Form_Load();
        form.txtSrv->setText(standin.ServerName());
        form.txtUsr->setText(u"sa"_s);
        form.txtPwd->setText(u"secret"_s);
        form.txtDBName->setText(u"Sales"_s);
        form.TxtPath->setText(folder.file(u"Sales.bak"_s));
        const win::HWND hwnd = win::WindowHandle(&form);
        const auto icon = [&] { return *win::NotifyIconInfo(hwnd, ClsIconTray::kIconId); };
        const win::HICON normal = icon().hIcon;
        bool advanced = false;
        bool seen = false;
        bool cleared = false;
        win::NotifyIconState stalled;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &form, [&] {
            if (!standin.WaitPaused(0) || form.PgBar->value() != 21)
                return;
            // The last message came at 10.25.00; the clock has moved on since.
            if (!std::exchange(advanced, true))
                clock.advanceSeconds(60);
            if (!seen && form.StallShown()) {
                seen = true;
                stalled = icon();
                standin.Resume();
            }
        });
        // The message after the pause: the warning has gone by the time its event arrives.
        connect(form.PgBar, &QProgressBar::valueChanged, &form, [&](int value) {
            if (value == 32)
                cleared = seen && !form.StallShown() && icon().hIcon == normal;
        });
        watch.start(50);
        form.CmdBackup->click();
        qunsetenv("VESTREL_STALL_WARNING_SECONDS");
        QVERIFY(seen);
        QCOMPARE(stalled.balloonTitle, u"Backup in attesa del server"_s);
        QCOMPARE(stalled.balloonText,
                 u"Il server non segnala avanzamenti del backup dalle 10.25.00 del "
                 u"07/12/2026. Il backup non viene interrotto."_s);
        QCOMPARE(stalled.balloonFlags, win::NIIF_WARNING);
        QVERIFY(stalled.hIcon != normal);
        QVERIFY(cleared);
        QVERIFY(!form.StallShown());
        QCOMPARE(icon().hIcon, normal);
        QVERIFY(test::AfterStamp(folder.lines(u"Command.log"_s).last()) == " ");
    }

    // The close button only hides; the tray stays.
    void closeRequestsHide() {
        test::TempProgramFolder folder;
        FMain form;
        form.Form_Load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(!form.close());
        QVERIFY(!form.isVisible());
        QVERIFY(form.icontray);
        QVERIFY(folder.read(u"Command.log"_s).isEmpty());
        bool cancel = false;
        form.Form_QueryUnload(cancel, 2); // the session ending lets it go
        QVERIFY(!cancel);
    }
};

QTEST_MAIN(TestFMainTray)
#include "tst_fmain_tray.moc"
