// The main window's tray icon, its menu, and hiding and showing the window.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/clock.h"
#include "platform/gui/winapi.h"
#include "platform/regional.h"
#include "scheduler/schedule.h"

#include <QLabel>
#include <utility>

namespace vestrel {

using namespace Qt::StringLiterals;

QString TrayTipText(const LastGoodBackup& last) {
    return last.Known() ? u"Vestrel \u2014 ultimo backup "_s + DateTimeText(last.when)
                        : u"Vestrel \u2014 nessun backup riuscito"_s;
}

void FMain::createTrayIcon() {
    icontray = std::make_unique<ClsIconTray>();
    icontray->FormHvnd(win::WindowHandle(this));
    trayIcon_ = win::IconHandle(windowIcon());
    trayWarningIcon_ = win::IconHandle(VestrelWarningIcon());
    icontray->FormIcon(trayIcon_);
    icontray->Inizializza();
    icontray->PopMenuAddItem(QStringLiteral("Mostra ") + windowTitle(), true);
    icontray->PopMenuAddItem(QStringLiteral("Nascondi"));
    icontray->PopMenuAddItem(QStringLiteral("Abilita/Disabilita"));
    icontray->PopMenuAddItem(QString()); // separator
    icontray->PopMenuAddItem(QStringLiteral("Chiudi"));
    icontray->PopMenuAddItem(QStringLiteral("Annulla"));
    connect(icontray.get(), &ClsIconTray::MouseDblClick, this, &FMain::icontray_MouseDblClick);
    connect(icontray.get(), &ClsIconTray::PopMenuClick, this, &FMain::icontray_PopMenuClick);
}

// A failure must be seen also with the window hidden: a balloon with the log's "Errore" line,
// and the warning icon until a backup succeeds again. A failed automatic start allows a
// retry later in its hour.
void FMain::BackupFailed(const QString& description) {
    if (automaticJob_)
        lastStart_.Failed(Now());
    failureShown_ = true;
    stallShown_ = false;
    if (!icontray)
        return;
    icontray->ChangeIcon(trayWarningIcon_);
    icontray->Notify(QStringLiteral("Errore ") + description, QStringLiteral("Backup non riuscito"),
                     std::int32_t(win::NIIF_ERROR));
}

void FMain::BackupSucceeded() {
    missedShown_ = false;
    if (std::exchange(stallShown_, false) && !failureShown_ && icontray)
        icontray->ChangeIcon(trayIcon_);
    if (!failureShown_)
        return;
    failureShown_ = false;
    if (!icontray)
        return;
    icontray->ChangeIcon(trayIcon_);
    icontray->Notify(QStringLiteral("Il backup \u00e8 di nuovo riuscito."),
                     QStringLiteral("Backup eseguito"), std::int32_t(win::NIIF_INFO));
}

void FMain::loadBackupState() {
    QString why;
    BackupState state = ReadBackupState(&why);
    if (!why.isEmpty())
        qWarning("vestrel: the state file %s cannot be read: %s",
                 qUtf8Printable(BackupStateFilePath()), qUtf8Printable(why));
    lastGood_ = state.lastGood;
    firstStart_ = state.firstStart;
    // The first start in this folder: the hours from now on are the program's to keep.
    if (!firstStart_.isValid()) {
        firstStart_ = lastGood_.Known() ? lastGood_.when : Now();
        state.firstStart = firstStart_;
        if (why.isEmpty() && !WriteBackupState(state, &why))
            qWarning("vestrel: the state file %s cannot be written: %s",
                     qUtf8Printable(BackupStateFilePath()), qUtf8Printable(why));
    }
    showLastGoodBackup();
}

void FMain::showLastGoodBackup() {
    LblLastUpdate->setText(lastGood_.Known() ? DateTimeText(lastGood_.when) : QString());
    if (icontray)
        icontray->Tip(TrayTipText(lastGood_));
}

// Automatic mode switched off does not silence it: the user asked for backups in those hours,
// and a switch that is not saved is easily forgotten; the balloon says it is off.
void FMain::CheckMissedBackup() {
    // A backup another front end made (the command line) counts as well.
    const LastGoodBackup recorded = ReadBackupState().lastGood;
    if (recorded.Known() && (!lastGood_.Known() || recorded.when > lastGood_.when)) {
        lastGood_ = recorded;
        showLastGoodBackup();
        BackupSucceeded();
    }
    if (missedShown_)
        return;
    const QDateTime missed = FirstMissedHour(ArrayTempo, lastGood_.when, firstStart_,
                                             bBackupRunning ? jobStarted_ : QDateTime(), Now());
    if (!missed.isValid())
        return;
    missedShown_ = true;
    failureShown_ = true;
    if (!icontray)
        return;
    QString text =
        lastGood_.Known()
            ? u"Nessun backup riuscito dal %1."_s.arg(DateTimeText(lastGood_.when))
            : u"Nessun backup riuscito dal primo avvio, il %1."_s.arg(DateTimeText(firstStart_));
    if (!bAuto)
        text += u" I backup automatici sono disabilitati."_s;
    icontray->ChangeIcon(trayWarningIcon_);
    icontray->Notify(text, u"Backup mancato"_s, std::int32_t(win::NIIF_WARNING));
}

// A backup is never cut short for being slow; a server that has gone quiet for good is
// still something the user must hear of.
void FMain::BackupStalled(const QDateTime& since) {
    stallShown_ = true;
    if (!icontray)
        return;
    icontray->ChangeIcon(trayWarningIcon_);
    icontray->Notify(QStringLiteral("Il server non segnala avanzamenti del backup dalle %1 del "
                                    "%2. Il backup non viene interrotto.")
                         .arg(TimeText(since), DateText(since)),
                     QStringLiteral("Backup in attesa del server"),
                     std::int32_t(win::NIIF_WARNING));
}

void FMain::BackupResumed() {
    if (!std::exchange(stallShown_, false) || !icontray)
        return;
    icontray->ChangeIcon(failureShown_ ? trayWarningIcon_ : trayIcon_);
}

void FMain::CmdNascondi_Click() {
    hide();
}

void FMain::icontray_MouseDblClick(short Button) {
    if (Button == 0)
        icontray_PopMenuClick(1);
}

void FMain::icontray_PopMenuClick(int Index) {
    switch (Index) {
    case 1:
        setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        show();
        raise();
        activateWindow();
        break;
    case 2:
        hide();
        break;
    case 3:
        CmdAbilita_Click();
        break;
    case 5:
        ExitProgram();
        break;
    default:
        break;
    }
}

} // namespace vestrel
