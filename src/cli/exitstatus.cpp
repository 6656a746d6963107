#include "cli/exitstatus.h"

namespace vestrel::cli {

int ExitStatusFor(JobOutcome outcome) {
    // No default: a new kind of failure must get a status of its own, or be placed here.
    switch (outcome) {
    case JobOutcome::Succeeded:
        return kExitSucceeded;
    case JobOutcome::SettingsRefused:
        return kExitSettings;
    case JobOutcome::ConnectionFailed:
        return kExitConnection;
    case JobOutcome::BackupFailed:
        return kExitBackup;
    case JobOutcome::VerificationFailed:
        return kExitVerification;
    case JobOutcome::TargetInUse:
        return kExitTargetInUse;
    case JobOutcome::Cancelled:
        return kExitCancelled;
    case JobOutcome::Failed:
        return kExitFailed;
    }
    return kExitFailed;
}

QString ExitStatusHelp() {
    return QStringLiteral("Exit status:\n"
                          "  0  the backup was made and verified (check: the login worked;\n"
                          "     --if-hour-enabled: this hour is not enabled, nothing done)\n"
                          "  1  any other failure (the log, the final replace of the file, the\n"
                          "     metrics file)\n"
                          "  2  wrong arguments\n"
                          "  3  settings: no config.ini, or a field a backup needs is missing\n"
                          "  4  connection: no SQL Server client, no connection or no login\n"
                          "  5  backup: the server did not complete the backup\n"
                          "  6  verification: the backup was written but not verified\n"
                          "  7  target in use: another backup is writing the same file\n"
                          "  8  cancelled by SIGTERM or SIGINT");
}

} // namespace vestrel::cli
