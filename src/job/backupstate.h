#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vestrel {

// The last backup that wholly succeeded: verified by the server and in place.
struct LastGoodBackup {
    QDateTime when;   // invalid: none yet
    QString file;     // the backup file, as the settings name it
    qint64 size = -1; // bytes, where this machine sees the file; -1 where it does not
    bool Known() const { return when.isValid(); }
};

// What the program learns by itself and keeps between runs: not settings (config.ini is the
// user's, and the Windows edition shares it) but a small file of its own in the log's folder.
struct BackupState {
    LastGoodBackup lastGood;
    // When a program first kept its state in this folder: the hours before it were nobody's
    // to miss.
    QDateTime firstStart;
    // The restore points this program made (dated copies of earlier backups beside the backup
    // file), oldest first. Only these are ever deleted.
    QStringList restorePoints;
};

// The state file's path: beside Command.log.
QString BackupStateFilePath();

// Reads the state file. A missing file is an empty state; so is an unreadable or damaged one
// (with the reason in *why), which then loses nothing worse than the record: restore points
// it listed are no longer deleted.
BackupState ReadBackupState(QString* why = nullptr);

// Replaces the state file in one step (a temporary file renamed over it), so a crash leaves
// the old state or the new one, never half of one. Returns false with the reason in *why.
[[nodiscard]] bool WriteBackupState(const BackupState& state, QString* why = nullptr);

} // namespace vestrel
