#pragma once

#include <QDateTime>
#include <QString>
#include <atomic>
#include <memory>

namespace vestrel {

// Receives the progress of a backup. Called on the thread that runs SQLBackup, in the order
// the server sent the messages, all before SQLBackup returns.
class IBackupEvents {
public:
    virtual ~IBackupEvents() = default;
    virtual void PercentComplete(const QString& Message, int Percent) = 0;
    virtual void NextMedia(const QString& Message) = 0;
    virtual void Complete(const QString& Message) = 0;
    // The server has sent nothing for Backup::StallWarningMs during the backup or its
    // verification; `since` is when it last did. The backup goes on waiting for it.
    virtual void Stalled(const QDateTime& since) { Q_UNUSED(since); }
    // A message has come again after Stalled.
    virtual void Resumed() {}
};

class Backup;

// One connection to a SQL Server instance. Releasing the object ends the connection.
class SQLServer {
public:
    SQLServer();
    ~SQLServer();
    SQLServer(const SQLServer&) = delete;
    SQLServer& operator=(const SQLServer&) = delete;

    int LoginTimeout = 0; // seconds, the name's lookup included; 0 leaves the driver's default
    static constexpr int kDefaultLookupMs = 15000; // the lookup's limit without a LoginTimeout
    bool LoginSecure = false; // integrated security instead of a SQL Server login

    // Returns only when connected; throws vestrel::Error with the server's description.
    void Connect(const QString& server, const QString& login, const QString& password);

    // Whether the server finds a file at `path` (it opens it as a backup device and reads its
    // label): false when it answers that nothing is there, as a server in a file system of its
    // own (a container) does for this machine's files. Throws vestrel::Error when the
    // connection fails.
    // Throws also when the server has not answered within kFindsFileLimitMs.
    bool FindsFile(const QString& path);
    static constexpr int kFindsFileLimitMs = 5 * 60 * 1000;

    // Stops the work of this connection, from the calling thread while Connect or SQLBackup
    // waits (a handler of an event it delivers), or between calls. The running statement is
    // cancelled on the server; the waiting call then throws vestrel::Error(reason) as soon as
    // the worker is back, or after kCancelGraceMs at the latest, leaving a worker that does
    // not come back (a server that stopped answering) behind. Every later call throws too.
    // A call that has already succeeded stays a success.
    void Cancel(const QString& reason);
    static constexpr int kCancelGraceMs = 5000;
    // True when a call was given up on while its worker was still busy.
    bool Abandoned() const;
    // After Connect: the server's version as it gave it at login ("16.00.1000"), empty when it
    // did not say; and whether its backups can carry CHECKSUM (SQL Server 2005 and later).
    QString VersionText() const;
    bool Checksum() const;

private:
    friend class Backup;
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// A full backup of one database to one or more disk files.
class Backup {
public:
    Backup();
    ~Backup();
    Backup(const Backup&) = delete;
    Backup& operator=(const Backup&) = delete;

    QString Database;
    // "[" + path + "]" per file, "]" in a path doubled (FileListEntry); "[a][b]" stripes the
    // backup over two files.
    QString Files;
    // Writes a new media header: the files hold this backup alone, whatever they held before
    // (SQL Server's default is to append another backup set to them).
    bool FormatMedia = false;
    // How long the server may send nothing before Stalled is raised: 30 minutes, or the
    // seconds in VESTREL_STALL_WARNING_SECONDS when that is set (for tests).
    int StallWarningMs = DefaultStallWarningMs();
    static int DefaultStallWarningMs();

    // Backs up the database (WITH CHECKSUM where the server has it, SQL Server 2005 and later),
    // then has the server verify the backup set it wrote (RESTORE VERIFYONLY). Returns only when
    // both have ended. Succeeds only when the server confirmed both and reported no error; then
    // Complete has been raised with the server's words for both. Throws vestrel::Error.
    void SQLBackup(SQLServer& server);
    void SetEvents(IBackupEvents* sink); // nullptr unsubscribes
    // The server confirmed the backup itself (3014) in the last SQLBackup: a failure after
    // that is the verification's.
    bool Written() const { return *written_; }

private:
    std::shared_ptr<IBackupEvents*> sink_;
    std::shared_ptr<std::atomic<bool>> written_ = std::make_shared<std::atomic<bool>>(false);
};

// One entry of Backup::Files for a path.
QString FileListEntry(const QString& path);

// The registered SQL Server driver a connection uses (odbc::KnownDrivers' order); empty when
// there is none.
QString SqlServerDriver();

// True when the ODBC driver manager loads and a SQL Server driver is registered with it.
bool SqlServerClientInstalled(QString* why = nullptr);

} // namespace vestrel
