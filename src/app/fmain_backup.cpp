// The backup job of the main window and the backup object's events.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "backup/thismachine.h"
#include "job/backuptarget.h"
#include "job/eventlines.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/events.h"
#include "platform/regional.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

namespace vestrel {

// The busy pointer for the duration of a blocking call; the default one again afterwards,
// also when the call fails.
void FMain::JobFront::WaitStarted() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void FMain::JobFront::WaitEnded() {
    QApplication::restoreOverrideCursor();
}

void FMain::connectJobHandlers() {
    connect(CmdBackup, &QPushButton::clicked, this, &FMain::CmdBackup_Click);
}

void FMain::CancelBackup(const QString& reason) {
    if (!bBackupRunning || !cancelReason_.isEmpty())
        return;
    cancelReason_ = reason;
    job_.Cancel(reason);
}

void FMain::CmdBackup_Click() {
    if (!bBackupRunning)
        RunBackup();
}

bool FMain::CheckFields() const {
    SettingsRecord fields;
    fields.sDataSource = txtSrv->text();
    fields.sUserID = txtUsr->text();
    fields.sInitialCatalog = txtDBName->text();
    return SettingsUsable(fields);
}

void FMain::RunBackup() {
    bBackupRunning = true;
    ShowJobState();

    CopyFieldsToSettings();
    PgBar->setValue(0);
    ShpStat(3)->setFillColor(Rgb(0xFFFFFF));
    txtStatus->setText(QString());
    cancelReason_.clear();
    jobStarted_ = Now();

    DoEvents();
    if (cancelReason_.isEmpty()) {
        if (TxtPath->text().isEmpty())
            TxtPath->setText(DefaultBackupFileName(Now()));
        if (!CheckFields()) {
            bBackupRunning = false;
            finishJob();
            return;
        }
    }

    JobResult result;
    if (cancelReason_.isEmpty()) {
        result = job_.Run(Settings, TxtPath->text());
    } else {
        // Told to stop before the job began: it ends as a cancelled job does.
        result.outcome = JobOutcome::Cancelled;
        result.description = cancelReason_;
        (void)WriteLog(QStringLiteral("Errore ") + result.description);
    }
    if (result.ok()) {
        // Only now, verified and in place, is it the last good backup.
        lastGood_ = {result.ended, result.file, result.size};
        showLastGoodBackup();
        BackupSucceeded();
    } else {
        ShpStat(3)->setFillColor(Rgb(0xFFFF00));
        BackupFailed(result.description);
        DoEvents();
    }
    bBackupRunning = false;
    // A job stopped because the program is ending does not bring the window up.
    if (!result.ok() && cancelReason_.isEmpty() &&
        !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)))
        show();
    finishJob();
}

void FMain::finishJob() {
    ShowJobState();
    CheckScheduleSoon();
    if (sessionEnding_)
        EndSession();
    else
        RunPendingExit();
}

void FMain::oBackupEvent_PercentComplete(const QString& Message, int Percent) {
    if (!ShowStatus(PercentCompleteLine(Message, Percent)))
        return;
    // A percentage outside the bar's range ends the handler, as a failed assignment would.
    if (Percent < PgBar->minimum() || Percent > PgBar->maximum())
        return;
    PgBar->setValue(Percent);
    DoEvents();
}

void FMain::oBackupEvent_NextMedia(const QString& Message) {
    if (!ShowStatus(NextMediaLine(Message)))
        return;
    DoEvents();
}

// The server has proven and verified the backup; "Ultimo Backup eseguito" waits until the
// job has put it in place (RunBackup).
void FMain::oBackupEvent_Complete(const QString& Message) {
    if (!ShowStatus(CompleteLine(Message)))
        return;
    DoEvents();
}

} // namespace vestrel
