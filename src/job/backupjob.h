#pragma once

#include "backup/sqldmo.h"
#include "settings/settings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vestrel {

// How a backup job ended. Each failure kind is told apart, so a front end can act on it (the
// command line's exit status).
enum class JobOutcome {
    Succeeded,          // the server proved the backup, verified it, and it is in place
    SettingsRefused,    // the settings cannot make a backup (a field is missing or too long)
    ConnectionFailed,   // no connection or no login
    BackupFailed,       // the server did not prove the backup
    VerificationFailed, // the backup was written but not verified
    TargetInUse,        // another run holds the target
    Cancelled,          // told to stop (the program ends, a signal)
    Failed,             // anything else: the log, the final replace, the file system
};

struct JobResult {
    JobOutcome outcome = JobOutcome::Failed;
    QString description; // the text the log has after "Errore "; empty for a success
    QDateTime started;   // when the job wrote its start block
    QDateTime ended;
    QString file;         // the backup file (the target the user named)
    qint64 size = -1;     // the verified file's size in bytes, where this machine sees it
    QString restorePoint; // where the backup the new one replaced was kept; empty for none
    bool ok() const { return outcome == JobOutcome::Succeeded; }
};

// What the job asks of the program that runs it: its turns between steps, the backup's events
// and the blocking calls. The window keeps its lamps, bar and pointer here; the command line
// its progress on the terminal.
class IJobFront : public IBackupEvents {
public:
    // Between steps: the window processes its pending events here.
    virtual void Yield() {}
    // Around a call that blocks until the server answers (the window's busy pointer).
    virtual void WaitStarted() {}
    virtual void WaitEnded() {}
    // The backup object whose events arrive from now on; nullptr once they no longer can.
    virtual void Subscribed(Backup* backup) { (void)backup; }
};

// One backup of one database into one file, the same for every front end: the start block of
// the log, the connection, the target's file handling (beside and replaced, or written in
// place), the engine's proven and verified backup, the restore points, the record of the last
// good backup, the end block or the "Errore " line.
class BackupJob {
public:
    explicit BackupJob(IJobFront& front) : front_(front) {}
    BackupJob(const BackupJob&) = delete;
    BackupJob& operator=(const BackupJob&) = delete;

    // Runs the job to its end; never throws.
    JobResult Run(const SettingsRecord& settings, const QString& file);

    // Stops the running job: it ends as Cancelled with "Errore " + reason, within the engine's
    // grace time whatever the server does. Nothing happens when no job runs or one was already
    // told to stop.
    void Cancel(const QString& reason);
    bool Running() const { return running_; }
    bool CancelRequested() const { return !cancelReason_.isEmpty(); }

    static constexpr int kLoginTimeoutSeconds = 15;

private:
    void stopIfCancelled() const;

    IJobFront& front_;
    bool running_ = false;
    SQLServer* server_ = nullptr; // the connection while it exists
    QString cancelReason_;
};

// The fields a backup cannot go without that are missing, by their config.ini keys: a server
// name of three characters or more ("Data Source"), a login ("User ID") and a database
// ("Initial Catalog").
QStringList MissingSettings(const SettingsRecord& settings);
inline bool SettingsUsable(const SettingsRecord& settings) {
    return MissingSettings(settings).isEmpty();
}

} // namespace vestrel
