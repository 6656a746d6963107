#pragma once

#include "job/backupjob.h"

#include <QString>

namespace vestrel::cli {

// The command line's exit statuses, one per kind of failure, so a timer, a script or a
// monitoring system can act on them. 0 is a verified backup (or, for `check`, a login that
// worked; for --if-hour-enabled outside the enabled hours, nothing to do).
enum ExitStatus : int {
    kExitSucceeded = 0,
    kExitFailed = 1,       // anything else: the log, the final replace, the file system
    kExitUsage = 2,        // the arguments
    kExitSettings = 3,     // no config.ini, or one that cannot make a backup
    kExitConnection = 4,   // no SQL Server client, no connection or no login
    kExitBackup = 5,       // the server did not prove the backup
    kExitVerification = 6, // the backup was written but not verified
    kExitTargetInUse = 7,  // another backup holds the target file
    kExitCancelled = 8,    // stopped by SIGTERM or SIGINT (Ctrl+C)
};

int ExitStatusFor(JobOutcome outcome);

// The statuses as --help and the manual page list them.
QString ExitStatusHelp();

} // namespace vestrel::cli
