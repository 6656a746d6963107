#pragma once

#include "support/tds/tdstls.h"
#include "support/tds/tsql.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace vestrel::test {

// How the stand-in behaves; set before the client connects.
struct StandinScript {
    QString user;                                // the one login name accepted; empty: any
    QString password = QStringLiteral("secret"); // the login's password
    quint16 port = 0;                            // on 127.0.0.1; 0: one the system chooses
    QStringList databases;                       // those that exist; empty = any name exists
    bool loginNeverAnswers = false;              // read the login and never reply
    bool failAt40Percent = false;                // 3202 + 3013 after "32 percent processed."
    bool dropAt40Percent = false;                // close the socket after "32 percent processed."
    int progressDelayMs = 0;                     // wait before each progress message
    bool omitFinalMessage = false;               // end cleanly without the 3014 message
    int pauseAtPercent = -1;                     // wait for Resume() after sending this percent
    // Plays SQL Server 2000 / MSDE (8.00.2039): LOGINACK with TDS 7.1 and 7.1's token
    // layouts, no CHECKSUM among the BACKUP and RESTORE options.
    bool sqlServer2000 = false;
    bool errorWithoutMessage = false; // end the backup with DONE(ERROR) and no ERROR token
    // After writing a backup set, damage it on disk (as a failing disk or a lost write would),
    // then report the backup as done.
    enum class Damage { None, Truncate, FlipByte };
    Damage damageWrittenSet = Damage::None;
    StandinEncryption encryption = StandinEncryption::Off; // answered to PRELOGIN's ENCRYPTION
    // A hung server: it never reads an ATTENTION during the backup, and after sending this
    // percent it sends nothing more and reads nothing (an ATTENTION goes unanswered), holding the
    // connection open until the stand-in is destroyed.
    int stallAtPercent = -1;
    // The server's own account and file system. Files are created, written and read as this
    // user and group (-1: the stand-in's own), as SQL Server on Linux does as mssql; needs root.
    int fileUid = -1;
    int fileGid = -1;
    // A file system of its own, as a server in a container has: a path the server is given is
    // the same path under this folder of this machine ("": this machine's own paths).
    QString fileRoot;
    // Plays a server on Windows: "\" separates the folders of the paths it is given.
    bool windowsPaths = false;
};

struct SeenLogin {
    QString user;
    QString password;
    QString database;
    QString app;
};

// A TDS 7.4 server on 127.0.0.1 (an ephemeral port unless the script names one), on its own
// threads. It answers a
// BACKUP DATABASE by writing the media files it names (support/tds/media.h) with SQL Server's
// rules for media sets and its messages, and RESTORE VERIFYONLY by checking them.
class TdsStandin {
public:
    explicit TdsStandin(StandinScript script = {});
    ~TdsStandin();
    TdsStandin(const TdsStandin&) = delete;
    TdsStandin& operator=(const TdsStandin&) = delete;

    QString ListenError() const; // why the script's port could not be taken; empty when listening
    quint16 Port() const;
    QString ServerName() const; // "127.0.0.1,<port>"

    QList<SeenLogin> Logins() const;
    QStringList Batches() const;             // every SQL batch text received
    QList<BackupStatement> Backups() const;  // the BACKUP statements it parsed
    QList<VerifyStatement> Verifies() const; // the RESTORE VERIFYONLY statements it parsed
    QList<qint64> ProgressSentNs() const;    // steady clock of each 3211 message sent
    int OpenConnections() const;             // clients connected right now
    // Each ATTENTION read: the percent the backup it stopped was about to report (before
    // that percent was sent), -1 when no backup was running.
    QList<int> Attentions() const;
    QList<SeenTls> TlsSessions() const; // each TDS 7 connection's encryption, in order

    bool WaitPaused(int timeoutMs);  // true once the backup is held at pauseAtPercent
    bool WaitStalled(int timeoutMs); // true once a backup has stopped at stallAtPercent
    void Resume();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vestrel::test
