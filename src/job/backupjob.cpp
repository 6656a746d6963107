#include "job/backupjob.h"

#include "backup/thismachine.h"
#include "job/activitylog.h"
#include "job/backupstate.h"
#include "job/backuptarget.h"
#include "job/restorepoints.h"
#include "platform/clock.h"
#include "platform/error.h"

#include <QFileInfo>
#include <memory>
#include <optional>

namespace vestrel {

namespace {

// A step's failure, with the kind the job reports for it.
class StepError : public Error {
public:
    StepError(JobOutcome outcome, QString description)
        : Error(std::move(description)), outcome_(outcome) {}
    JobOutcome outcome() const { return outcome_; }

private:
    JobOutcome outcome_;
};

// A log line of the job: a line that cannot be written is a failure of the job.
void JobLog(const QString& text) {
    QString error;
    if (!WriteLog(text, &error))
        throw Error(QStringLiteral("Impossibile scrivere il log %1: %2").arg(LogFilePath(), error));
}

// Runs a call that blocks until the server answers, with the front end told around it.
template <typename Call> void Waiting(IJobFront& front, Call&& call) {
    front.WaitStarted();
    try {
        call();
    } catch (...) {
        front.WaitEnded();
        throw;
    }
    front.WaitEnded();
}

// What follows a backup that is verified and in place: it is recorded as the last good one
// (with the restore point it made), and the restore points beyond the number to keep go.
// Returns what went wrong on the way, for the log: none of it undoes the backup.
QStringList RecordSuccess(const JobResult& result, BackupState state, const RestorePoints* points) {
    QStringList notes;
    state.lastGood = {result.ended, result.file, result.size};
    if (!state.firstStart.isValid())
        state.firstStart = result.started;
    if (points)
        state.restorePoints = points->Prune(state.restorePoints, &notes);
    QString why;
    // Unrecorded, the restore point just made is never deleted: nothing is lost but room.
    if (!WriteBackupState(state, &why))
        notes.append(
            QStringLiteral("Impossibile scrivere il file %1: %2").arg(BackupStateFilePath(), why));
    return notes;
}

} // namespace

QStringList MissingSettings(const SettingsRecord& settings) {
    QStringList missing;
    if (settings.sDataSource.size() < 3)
        missing << QStringLiteral("Data Source");
    if (settings.sUserID.isEmpty())
        missing << QStringLiteral("User ID");
    if (settings.sInitialCatalog.isEmpty())
        missing << QStringLiteral("Initial Catalog");
    return missing;
}

void BackupJob::stopIfCancelled() const {
    if (!cancelReason_.isEmpty())
        throw StepError(JobOutcome::Cancelled, cancelReason_);
}

void BackupJob::Cancel(const QString& reason) {
    if (!running_ || !cancelReason_.isEmpty())
        return;
    cancelReason_ = reason;
    if (server_)
        server_->Cancel(reason);
}

JobResult BackupJob::Run(const SettingsRecord& settings, const QString& file) {
    JobResult result;
    result.file = file;
    running_ = true;
    cancelReason_.clear();

    std::unique_ptr<SQLServer> server;
    std::unique_ptr<Backup> backup;
    std::unique_ptr<BackupTarget> target;
    // Where the failure happened decides its kind; a cancel overrides it.
    JobOutcome stage = JobOutcome::Failed;
    try {
        result.started = Now();
        JobLog(StampText(QStringLiteral("Inizio Backup in data "), result.started));
        JobLog(LogRule());
        JobLog(QStringLiteral("Nome Server : ") + settings.sDataSource);
        JobLog(QStringLiteral("User : ") + settings.sUserID);
        // The password stays in config.ini; the log only says whether there is one.
        JobLog(QStringLiteral("Password : ") +
               (settings.sPassword.isEmpty() ? QString() : QStringLiteral("********")));
        JobLog(QStringLiteral("Nome Database : ") + settings.sInitialCatalog);
        JobLog(QStringLiteral("File : ") + file);
        JobLog(LogRule());
        int copies = 1;
        try {
            CheckBackupFileName(file);
            copies = CopiesToKeep(settings.sCopies);
        } catch (const Error& refused) {
            throw StepError(JobOutcome::SettingsRefused, refused.description());
        }

        server = std::make_unique<SQLServer>();
        server_ = server.get();
        front_.Yield();
        stopIfCancelled();
        server->LoginTimeout = kLoginTimeoutSeconds;
        server->LoginSecure = settings.bIntegratedSecurity;
        stage = JobOutcome::ConnectionFailed;
        Waiting(front_, [&] {
            server->Connect(settings.sDataSource, settings.sUserID, settings.sPassword);
        });
        stage = JobOutcome::Failed;

        backup = std::make_unique<Backup>();
        backup->SetEvents(&front_);
        front_.Subscribed(backup.get());
        backup->Database = settings.sInitialCatalog;
        target = std::make_unique<BackupTarget>(file, ServerIsThisMachine(settings.sDataSource));
        // Locks the target and decides, by trying, whether the backup goes beside the old file
        // or into the file itself; the server is asked whether it sees the same files.
        target->Prepare([&server](const QString& path) { return server->FindsFile(path); });
        for (const QString& note : target->notes())
            JobLog(note);
        backup->Files = FileListEntry(target->serverPath());
        // Every file the server writes holds this backup alone, never a growing pile whose
        // first, oldest set a plain RESTORE brings back.
        backup->FormatMedia = true;
        front_.Yield();
        stopIfCancelled();

        stage = JobOutcome::BackupFailed;
        Waiting(front_, [&] { backup->SQLBackup(*server); });
        stage = JobOutcome::Failed;

        // Restore points: with more than one copy to keep, the backup in place steps aside
        // under its own date and time before the verified one takes its place, and comes back
        // if that fails. A target written in place on the server keeps its one file.
        const BackupState state = ReadBackupState();
        std::optional<RestorePoints> points;
        if (target->local())
            points.emplace(file, copies).SetAside(state.lastGood);
        try {
            target->Commit();
        } catch (...) {
            if (points)
                points->PutBack();
            throw;
        }
        if (points)
            result.restorePoint = points->Made();
        front_.Yield();

        backup->SetEvents(nullptr);
        front_.Subscribed(nullptr);
        backup.reset();
        server_ = nullptr;
        server.reset();

        if (target->local()) {
            const QFileInfo written(file);
            if (written.exists())
                result.size = written.size();
        }
        result.ended = Now();
        for (const QString& note : RecordSuccess(result, state, points ? &*points : nullptr))
            (void)WriteLog(note);
        JobLog(LogRule());
        JobLog(StampText(QStringLiteral("Fine Backup in data "), result.ended));
        JobLog(LogRule());
        JobLog(QStringLiteral(" "));
        result.outcome = JobOutcome::Succeeded;
    } catch (const std::exception& failure) {
        const auto* error = dynamic_cast<const Error*>(&failure);
        QString description = error ? error->description() : QString::fromLocal8Bit(failure.what());
        if (const auto* step = dynamic_cast<const StepError*>(&failure))
            stage = step->outcome();
        else if (stage == JobOutcome::BackupFailed && backup && backup->Written())
            stage = JobOutcome::VerificationFailed;
        if (stage == JobOutcome::Failed && dynamic_cast<const TargetBusy*>(&failure))
            stage = JobOutcome::TargetInUse;
        if (!cancelReason_.isEmpty())
            stage = JobOutcome::Cancelled;
        // Given up on in the login, at once, or after the grace time for the cancel.
        if (server && server->Abandoned())
            description +=
                QStringLiteral(" Il server non ha risposto e non viene pi\u00f9 atteso.");
        // The log may be what failed: the job ends cleanly all the same.
        (void)WriteLog(QStringLiteral("Errore ") + description);
        result.outcome = stage;
        result.description = description;
        result.ended = Now();
        if (backup)
            backup->SetEvents(nullptr);
        front_.Subscribed(nullptr);
        if (target)
            target->Discard();
        backup.reset();
        server_ = nullptr;
        server.reset();
    }
    running_ = false;
    return result;
}

} // namespace vestrel
