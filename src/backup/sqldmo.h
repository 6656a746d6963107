#pragma once

#include <QString>
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
};

class Backup;

// One connection to a SQL Server instance. Releasing the object ends the connection.
class SQLServer {
public:
    SQLServer();
    ~SQLServer();
    SQLServer(const SQLServer&) = delete;
    SQLServer& operator=(const SQLServer&) = delete;

    int LoginTimeout = 0;     // seconds; 0 leaves the driver's default
    bool LoginSecure = false; // integrated security instead of a SQL Server login

    // Returns only when connected; throws vestrel::Error with the server's description.
    void Connect(const QString& server, const QString& login, const QString& password);

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

    // Backs up the database (WITH CHECKSUM where the server has it, SQL Server 2005 and later),
    // then has the server verify the backup set it wrote (RESTORE VERIFYONLY). Returns only when
    // both have ended. Succeeds only when the server confirmed both and reported no error; then
    // Complete has been raised with the server's words for both. Throws vestrel::Error.
    void SQLBackup(SQLServer& server);
    void SetEvents(IBackupEvents* sink); // nullptr unsubscribes

private:
    std::shared_ptr<IBackupEvents*> sink_;
};

// One entry of Backup::Files for a path.
QString FileListEntry(const QString& path);

// The registered SQL Server driver a connection uses (odbc::KnownDrivers' order); empty when
// there is none.
QString SqlServerDriver();

// True when the ODBC driver manager loads and a SQL Server driver is registered with it.
bool SqlServerClientInstalled(QString* why = nullptr);

} // namespace vestrel
