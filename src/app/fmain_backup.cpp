// The backup job of the main window and the backup object's events.
#include "app/backuptarget.h"
#include "app/fmain.h"
#include "app/mbackup.h"
#include "backup/thismachine.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/events.h"
#include "platform/regional.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <memory>

namespace vestrel {

namespace {

const QString kRule = QStringLiteral("=========================================================");

// A log line of the job: a line that cannot be written is a failure of the job.
void JobLog(const QString& text) {
    QString error;
    if (!WriteLog(text, &error))
        throw Error(QStringLiteral("Impossibile scrivere il log %1: %2").arg(LogFilePath(), error));
}

// The busy pointer for the duration of a blocking call; the default one again afterwards,
// also when the call fails.
class BusyPointer {
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

} // namespace

QString DefaultBackupFileName(const QDateTime& when) {
    return QStringLiteral("C:\\Backup_") + DateText(when).remove(QLatin1Char('/')) +
           QLatin1Char('_') + TimeText(when).remove(QLatin1Char('.'));
}

void FMain::connectJobHandlers() {
    connect(CmdBackup, &QPushButton::clicked, this, &FMain::CmdBackup_Click);
}

void FMain::CancelBackup(const QString& reason) {
    if (!bBackupRunning || !cancelReason_.isEmpty())
        return;
    cancelReason_ = reason;
    if (runningServer_)
        runningServer_->Cancel(reason);
}

void FMain::stopIfCancelled() const {
    if (!cancelReason_.isEmpty())
        throw Error(cancelReason_);
}

void FMain::CmdBackup_Click() {
    if (!bBackupRunning)
        RunBackup();
}

bool FMain::CheckFields() const {
    bool usable = true;
    if (txtSrv->text().size() < 3)
        usable = false;
    if (txtUsr->text().isEmpty())
        usable = false;
    if (txtDBName->text().isEmpty())
        usable = false;
    return usable;
}

void FMain::RunBackup() {
    bBackupRunning = true;
    ShowJobState();

    CopyFieldsToSettings();
    PgBar->setValue(0);
    ShpStat(3)->setFillColor(Rgb(0xFFFFFF));
    txtStatus->setText(QString());
    cancelReason_.clear();

    std::unique_ptr<SQLServer> server;
    std::unique_ptr<Backup> backup;
    std::unique_ptr<BackupTarget> target;
    try {
        DoEvents();
        stopIfCancelled();
        if (TxtPath->text().isEmpty())
            TxtPath->setText(DefaultBackupFileName(Now()));
        const QString file = TxtPath->text();

        if (!CheckFields()) {
            bBackupRunning = false;
            finishJob();
            return;
        }

        const QDateTime started = Now();
        JobLog(QStringLiteral("Inizio Backup in data ") + DateText(started) +
               QStringLiteral(" alle ore ") + TimeText(started));
        JobLog(kRule);
        JobLog(QStringLiteral("Nome Server : ") + Settings.sDataSource);
        JobLog(QStringLiteral("User : ") + Settings.sUserID);
        // The password stays in config.ini; the log only says whether there is one.
        JobLog(QStringLiteral("Password : ") +
               (Settings.sPassword.isEmpty() ? QString() : QStringLiteral("********")));
        JobLog(QStringLiteral("Nome Database : ") + Settings.sInitialCatalog);
        JobLog(QStringLiteral("File : ") + file);
        JobLog(kRule);
        CheckBackupFileName(file);

        server = std::make_unique<SQLServer>();
        runningServer_ = server.get();
        DoEvents();
        stopIfCancelled();
        server->LoginTimeout = 15;
        server->LoginSecure = Settings.bIntegratedSecurity;
        {
            BusyPointer busy;
            server->Connect(Settings.sDataSource, Settings.sUserID, Settings.sPassword);
        }

        backup = std::make_unique<Backup>();
        oBackupEvent = backup.get();
        backup->SetEvents(&backupEvents_);
        backup->Database = Settings.sInitialCatalog;
        target = std::make_unique<BackupTarget>(file, ServerIsThisMachine(Settings.sDataSource));
        target->Prepare([&server](const QString& path) { return server->FindsFile(path); });
        for (const QString& note : target->notes())
            JobLog(note);
        backup->Files = FileListEntry(target->serverPath());
        // Every file the server writes holds this backup alone, never a growing pile whose
        // first, oldest set a plain RESTORE brings back.
        backup->FormatMedia = true;
        DoEvents();
        stopIfCancelled();

        {
            BusyPointer busy;
            backup->SQLBackup(*server);
        }
        target->Commit();
        DoEvents();

        backup->SetEvents(nullptr);
        oBackupEvent = nullptr;
        backup.reset();
        runningServer_ = nullptr;
        server.reset();

        const QDateTime ended = Now();
        JobLog(kRule);
        JobLog(QStringLiteral("Fine Backup in data ") + DateText(ended) +
               QStringLiteral(" alle ore ") + TimeText(ended));
        JobLog(kRule);
        JobLog(QStringLiteral(" "));
        BackupSucceeded();
        bBackupRunning = false;
    } catch (const std::exception& failure) {
        const auto* error = dynamic_cast<const Error*>(&failure);
        QString description = error ? error->description() : QString::fromLocal8Bit(failure.what());
        // Given up on in the login, at once, or after the grace time for the cancel.
        if (server && server->Abandoned())
            description +=
                QStringLiteral(" Il server non ha risposto e non viene pi\u00f9 atteso.");
        // The log may be what failed: the job ends cleanly all the same.
        (void)WriteLog(QStringLiteral("Errore ") + description);
        ShpStat(3)->setFillColor(Rgb(0xFFFF00));
        BackupFailed(description);
        // The busy pointer went with the failed call (BusyPointer).
        DoEvents();
        if (backup)
            backup->SetEvents(nullptr);
        oBackupEvent = nullptr;
        if (target)
            target->Discard();
        backup.reset();
        runningServer_ = nullptr;
        server.reset();
        bBackupRunning = false;
        // A job stopped because the program is ending does not bring the window up.
        if (cancelReason_.isEmpty() &&
            !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)))
            show();
    }
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
    if (!ShowStatus(QStringLiteral("oBackupEvent_PercentComplete -- ") + Message +
                    QLatin1Char(' ') + QString::number(Percent)))
        return;
    // A percentage outside the bar's range ends the handler, as a failed assignment would.
    if (Percent < PgBar->minimum() || Percent > PgBar->maximum())
        return;
    PgBar->setValue(Percent);
    DoEvents();
}

void FMain::oBackupEvent_NextMedia(const QString& Message) {
    if (!ShowStatus(QStringLiteral("oBackupEvent_NextMedia -- ") + Message))
        return;
    DoEvents();
}

void FMain::oBackupEvent_Complete(const QString& Message) {
    if (!ShowStatus(QStringLiteral("oBackupEvent_Complete -- ") + Message))
        return;
    DoEvents();
    LblLastUpdate->setText(DateTimeText(Now()));
}

} // namespace vestrel
