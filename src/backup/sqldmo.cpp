#include "backup/sqldmo.h"

#include "backup/odbctext.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/events.h"
#include "platform/hostnetwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>
#ifdef _WIN32
#include <windows.h> // sql.h needs its types
#else
#include <dlfcn.h>
#include <link.h>
#endif
#include <sql.h>
#include <sqlext.h>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the ODBC wide API must be UTF-16");

struct DiagRecord {
    QString state;
    int native = 0;
    QString text;
};

QList<DiagRecord> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    QList<DiagRecord> records;
    if (!handle)
        return records;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR buffer[1024];
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, buffer,
                                      SQLSMALLINT(std::size(buffer)), &length);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            break;
        QString text;
        if (length >= SQLSMALLINT(std::size(buffer))) {
            QList<SQLWCHAR> big(length + 1);
            SQLGetDiagRecW(type, handle, i, state, &native, big.data(), SQLSMALLINT(big.size()),
                           &length);
            text = QString::fromUtf16(reinterpret_cast<const char16_t*>(big.constData()), length);
        } else {
            text = QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), length);
        }
        records.append({QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5),
                        int(native), odbc::StripPrefixes(text)});
    }
    return records;
}

// The server's own messages carry their number; the driver adds unnumbered summaries
// ("Unable to connect to data source") that only repeat them.
QString Describe(const QList<DiagRecord>& records, const QString& fallback) {
    const bool fromServer =
        std::any_of(records.begin(), records.end(), [](const DiagRecord& r) { return r.native; });
    QStringList texts;
    for (const DiagRecord& record : records)
        if (!record.text.isEmpty() && (record.native || !fromServer))
            texts << record.text;
    return texts.isEmpty() ? fallback : texts.join(u' ');
}

// The connection is gone. FreeTDS 1.3 reports a closed socket mid-result as a warning
// (01000, native 20017 "Unexpected EOF from the server"), then answers every further call
// with HY000 "Unknown error"; its other network failures are 20002-20006. A server message
// may carry an 08 state too (FreeTDS gives 911 "database does not exist" 08004), so only an
// unnumbered 08 record counts.
bool IsLinkFailure(const DiagRecord& record) {
    static const QList<int> freeTds = {20002, 20003, 20004, 20006, 20017};
    return (record.native == 0 && record.state.startsWith(u"08"_s)) ||
           freeTds.contains(record.native);
}

const SQLWCHAR* Wide(const QString& text) {
    return reinterpret_cast<const SQLWCHAR*>(text.utf16());
}

// The first number in a progress text ("10 percent processed.").
int LeadingNumber(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && !text.at(i).isDigit())
        ++i;
    int value = 0;
    while (i < text.size() && text.at(i).isDigit() && value < 1000)
        value = value * 10 + text.at(i++).digitValue();
    return value;
}

using CancelFunction = SQLRETURN (*)(SQLHSTMT);

#ifndef _WIN32
// The SQLCancel of the loaded driver library whose file is named `driverFile`. unixODBC's own
// SQLCancel, called from another thread while the statement's thread is in or around a driver
// call, rewrites the statement's state and diagnostics without a lock (seen as a double free
// in the driver manager); the driver's SQLCancel is the one meant for another thread.
CancelFunction DriverCancel(const QString& driverFile) {
    struct Search {
        QByteArray name;
        QByteArray path;
    } search{u'/' + driverFile.toLocal8Bit(), {}};
    if (driverFile.isEmpty())
        return nullptr;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            const QByteArray path(info->dlpi_name ? info->dlpi_name : "");
            if (!path.endsWith(s->name))
                return 0;
            s->path = path;
            return 1;
        },
        &search);
    if (search.path.isEmpty())
        return nullptr;
    void* library = dlopen(search.path.constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return nullptr;
    auto* function = reinterpret_cast<CancelFunction>(dlsym(library, "SQLCancel"));
    dlclose(library); // the driver manager keeps it loaded while the connection is open
    return function;
}
#endif

// Posts a call to the thread that owns `context`; dropped if `context` is gone by then.
using Post = std::function<void(std::function<void()>)>;

} // namespace

// The ODBC handles of one connection and the one thread that uses them.
class SQLServer::Impl {
public:
    Impl() {
        thread_.setObjectName(u"vestrel-odbc"_s);
        worker_.moveToThread(&thread_);
        thread_.start();
    }
    ~Impl() {
        // Waits for the worker to close the connection, so it is closed on its own thread
        // and never left to a posted call the stopping thread might drop.
        QMetaObject::invokeMethod(
            &worker_, [this] { Disconnect(); }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }

    // What one call shares between the calling thread and the worker. The worker may outlive
    // the call (an abandoned call), so this lives as long as either side holds it.
    struct RunState {
        std::mutex mutex;
        std::deque<std::function<void()>> calls;
        QObject* receiver = nullptr; // on the calling thread while the call waits; under mutex
        bool delivering = false;
        bool done = false;   // the last posted call has been delivered
        bool failed = false; // written by the worker before it posts its last call
        QString description;

        // Delivered one call at a time and in order: a handler that pumps messages gets the
        // next event only after it has returned, as the events of a blocking backup call
        // would come.
        void Deliver() {
            if (delivering)
                return; // the outer delivery goes on when the running call returns
            delivering = true;
            for (;;) {
                std::function<void()> call;
                {
                    const std::lock_guard lock(mutex);
                    if (calls.empty() || !receiver)
                        break;
                    call = std::move(calls.front());
                    calls.pop_front();
                }
                call();
            }
            delivering = false;
        }

        void Push(std::function<void()> call, const std::shared_ptr<RunState>& self) {
            const std::lock_guard lock(mutex);
            if (!receiver)
                return; // the call was abandoned: nobody listens any more
            calls.push_back(std::move(call));
            QMetaObject::invokeMethod(
                receiver, [self] { self->Deliver(); }, Qt::QueuedConnection);
        }
    };

    // Runs `job` on the worker thread. The calling thread keeps handling its events (so the
    // window stays responsive and what the job posts is delivered) until the job has ended
    // and everything it posted has been delivered; then a failure is raised here. A Cancel()
    // meanwhile ends the wait early when the worker does not come back in time: the call is
    // then abandoned, the worker left to finish (or hang) on its own.
    void Run(const std::function<void(const Post&)>& job) {
        if (cancelled_)
            throw Error(cancelReason_);
        QObject context; // lives on the calling thread; posts to it die with it
        auto state = std::make_shared<RunState>();
        state->receiver = &context;
        const Post post = [state](std::function<void()> call) {
            state->Push(std::move(call), state);
        };
        QMetaObject::invokeMethod(
            &worker_,
            [state, job, post] {
                try {
                    job(post);
                } catch (const Error& error) {
                    state->failed = true;
                    state->description = error.description();
                } catch (const std::exception& error) {
                    state->failed = true;
                    state->description = QString::fromLocal8Bit(error.what());
                }
                // Queued after everything the job posted, so it is delivered last.
                post([state] {
                    state->done = true;
                    EndWait();
                });
            },
            Qt::QueuedConnection);
        QObject* const outer = std::exchange(waiting_, &context);
        // Not QEventLoop::exec(): quit() would end it early, before the job has finished.
        while (!state->done && !giveUp_)
            WaitForEvents();
        waiting_ = outer;
        {
            const std::lock_guard lock(state->mutex);
            state->receiver = nullptr;
        }
        if (!state->done) {
            abandoned_ = true;
            throw Error(cancelReason_);
        }
        if (state->failed)
            throw Error(cancelled_ ? cancelReason_ : state->description);
    }

    // Calling thread, also from inside Run's wait. Asks the server to stop the running
    // statement (ODBC SQLCancel: FreeTDS sends a TDS ATTENTION) and gives the worker graceMs
    // to come back; a call with no statement to stop is given up at once.
    void Cancel(const QString& reason, int graceMs) {
        if (cancelled_)
            return;
        cancelled_ = true;
        cancelReason_ = reason;
        cancelling_ = true;
        bool statement = false;
        {
            const std::lock_guard lock(running_->mutex);
            statement = running_->handle != nullptr;
        }
        // Not from this thread: when the worker is between two driver calls, FreeTDS's
        // SQLCancel takes the connection itself and waits for the server's answer to the
        // ATTENTION, which a hung server never sends.
        if (statement)
            std::thread([running = running_] {
                const std::lock_guard lock(running->mutex);
                if (running->driverCancel && running->driverHandle)
                    running->driverCancel(running->driverHandle);
                else if (running->handle)
                    SQLCancel(running->handle);
            }).detach();
        if (!waiting_)
            return;
        if (!statement) {
            giveUp_ = true;
            QMetaObject::invokeMethod(
                waiting_, [] { EndWait(); }, Qt::QueuedConnection);
            return;
        }
        QTimer::singleShot(graceMs, Qt::PreciseTimer, waiting_, [this] {
            giveUp_ = true;
            EndWait();
        });
    }

    bool Abandoned() const { return abandoned_; }

    // Calling thread: looks a name up, handling events meanwhile; a Cancel ends the wait and
    // throws.
    QList<QHostAddress> Resolve(const QString& host, int timeoutMs, bool* timedOut) {
        if (cancelled_)
            throw Error(cancelReason_);
        QObject context;
        QObject* const outer = std::exchange(waiting_, &context);
        const QList<QHostAddress> found = HostNetworkSeam().get().Resolve(
            host, timeoutMs, [this] { return giveUp_ || cancelled_; }, timedOut);
        waiting_ = outer;
        if (cancelled_)
            throw Error(cancelReason_);
        return found;
    }

    // Worker thread only from here on.
    void Connect(const QString& connectionString, int loginTimeout, const QString& server) {
        Disconnect();
        SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        if (!SQL_SUCCEEDED(rc))
            throw Error(u"The ODBC driver manager could not be initialised."_s);
        // ODBC 3 behaviour: the driver returns each message as it arrives, not at the end.
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        rc = SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        if (!SQL_SUCCEEDED(rc)) {
            const QString text = Describe(Diagnostics(SQL_HANDLE_ENV, env_),
                                          u"No ODBC connection could be allocated."_s);
            Disconnect();
            throw Error(text);
        }
        if (loginTimeout > 0)
            SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                               reinterpret_cast<SQLPOINTER>(SQLULEN(loginTimeout)), 0);
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        rc =
            SQLDriverConnectW(dbc_, nullptr, const_cast<SQLWCHAR*>(Wide(connectionString)), SQL_NTS,
                              out, SQLSMALLINT(std::size(out)), &outLength, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            const QList<DiagRecord> records = Diagnostics(SQL_HANDLE_DBC, dbc_);
            QString text = Describe(records, u"Could not connect to %1."_s.arg(server));
            for (const DiagRecord& record : records)
                if (record.state == u"HYT00"_s)
                    text = u"Login timeout expired: %1 did not answer the login within %2 "
                           u"seconds."_s.arg(server)
                               .arg(loginTimeout);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
            dbc_ = nullptr;
            Disconnect();
            throw Error(text);
        }
        connected_ = true;
#ifndef _WIN32
        SQLWCHAR driver[256] = {};
        SQLSMALLINT driverBytes = 0;
        if (SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_DRIVER_NAME, driver, SQLSMALLINT(sizeof driver),
                                      &driverBytes)))
            driverCancel_ = DriverCancel(
                QString::fromUtf16(reinterpret_cast<const char16_t*>(driver),
                                   std::min<qsizetype>(driverBytes / qsizetype(sizeof(SQLWCHAR)),
                                                       qsizetype(std::size(driver)) - 1)));
#endif
        // "##.##.####", from the login acknowledgement.
        SQLWCHAR version[64] = {};
        SQLSMALLINT versionBytes = 0;
        if (SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_DBMS_VER, version, SQLSMALLINT(sizeof version),
                                      &versionBytes))) {
            versionText_ =
                QString::fromUtf16(reinterpret_cast<const char16_t*>(version),
                                   std::min<qsizetype>(versionBytes / qsizetype(sizeof(SQLWCHAR)),
                                                       qsizetype(std::size(version)) - 1));
            majorVersion_ = odbc::MajorVersion(versionText_);
        }
    }

    // The server's major version (9 = SQL Server 2005); 0 when it did not say.
    int MajorVersion() const {
        return majorVersion_;
    }
    QString VersionText() const {
        return versionText_;
    }

    void Disconnect() {
        if (dbc_) {
            if (connected_)
                SQLDisconnect(dbc_);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
            dbc_ = nullptr;
        }
        connected_ = false;
        majorVersion_ = 0;
        versionText_.clear();
        driverCancel_ = nullptr;
        if (env_) {
            SQLFreeHandle(SQL_HANDLE_ENV, env_);
            env_ = nullptr;
        }
    }

    // Sends the statement and turns every message into a call posted back; drains the
    // results to the end because freeing the statement early aborts the backup. `what` names
    // the statement in a failure that comes without the server's own words.
    // With `refusals`, the server's errors are handed back there instead of thrown (a lost
    // connection and a cancel still throw).
    void Execute(const QString& statement, const QString& what,
                 const std::function<void(const DiagRecord&)>& onInfo,
                 QList<DiagRecord>* refusals = nullptr) {
        if (!connected_)
            throw Error(u"Not connected to a server."_s);
        SQLHSTMT stmt = nullptr;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt)))
            throw Error(Describe(Diagnostics(SQL_HANDLE_DBC, dbc_),
                                 u"No ODBC statement could be allocated."_s));
        {
            const std::lock_guard lock(running_->mutex);
            if (cancelling_) {
                SQLFreeHandle(SQL_HANDLE_STMT, stmt);
                throw Error(u"Cancelled."_s);
            }
            running_->handle = stmt;
            // The driver's own handle of the statement, for its own SQLCancel.
            SQLHSTMT driverStmt = stmt;
            running_->driverCancel = nullptr;
            if (driverCancel_ && SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_DRIVER_HSTMT, &driverStmt,
                                                           sizeof driverStmt, nullptr))) {
                running_->driverHandle = driverStmt;
                running_->driverCancel = driverCancel_;
            }
        }
        QList<DiagRecord> errors;
        bool errorWithoutRecord = false;
        bool linkLost = false;
        bool cancelSent = false;
        int failuresInARow = 0;
        SQLRETURN rc = SQLExecDirectW(stmt, const_cast<SQLWCHAR*>(Wide(statement)), SQL_NTS);
        while (rc != SQL_NO_DATA && rc != SQL_INVALID_HANDLE) {
            // A cancel that came before the statement was under way found nothing to stop.
            if (cancelling_ && !cancelSent && rc != SQL_ERROR) {
                SQLCancel(stmt);
                cancelSent = true;
            }
            if (rc == SQL_SUCCESS_WITH_INFO || rc == SQL_ERROR) {
                bool numbered = false;
                const QList<DiagRecord> records = Diagnostics(SQL_HANDLE_STMT, stmt);
                // A DONE token with its error bit and no ERROR token before it: FreeTDS
                // returns SQL_ERROR with no record at all.
                if (rc == SQL_ERROR && records.isEmpty()) {
                    errorWithoutRecord = true;
                    numbered = true; // the results go on; a loop of them ends below
                }
                for (const DiagRecord& record : records) {
                    numbered = numbered || record.native != 0;
                    if (IsLinkFailure(record)) {
                        linkLost = true;
                        errors << record;
                    } else if (rc == SQL_ERROR) {
                        errors << record;
                    } else if (!cancelling_) {
                        onInfo(record); // a statement told to stop reports no more progress
                    }
                }
                // An error with no server message means the driver has nothing more to read.
                if (rc == SQL_ERROR && (!numbered || ++failuresInARow > 3))
                    break;
            }
            if (linkLost || (rc == SQL_ERROR && cancelling_))
                break;
            if (rc != SQL_ERROR)
                failuresInARow = 0;
            rc = SQLMoreResults(stmt);
        }
        {
            const std::lock_guard lock(running_->mutex); // waits for a SQLCancel under way
            running_->handle = nullptr;
            running_->driverHandle = nullptr;
            running_->driverCancel = nullptr;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        if (linkLost)
            Disconnect();
        // Whatever came back, a statement stopped on the way is no proof of anything.
        if (cancelling_)
            throw Error(u"Cancelled."_s);
        if (linkLost)
            throw Error(Describe(errors, QString()) +
                        u" The connection to the server was lost during the backup."_s);
        if (!errors.isEmpty() && refusals) {
            *refusals = errors;
            return;
        }
        if (!errors.isEmpty())
            throw Error(Describe(errors, QString()));
        if (errorWithoutRecord)
            throw Error(u"%1 failed: the server reported an error without a message saying "
                        u"what went wrong."_s.arg(what));
    }

private:
    QThread thread_;
    QObject worker_;
    SQLHENV env_ = nullptr;
    SQLHDBC dbc_ = nullptr;
    bool connected_ = false;
    int majorVersion_ = 0;
    QString versionText_;
    CancelFunction driverCancel_ = nullptr; // set where the driver manager's is unsafe

    // The statement running on the worker, shared with a cancelling thread that may outlive
    // the call.
    struct Statement {
        std::mutex mutex;
        SQLHSTMT handle = nullptr;
        SQLHSTMT driverHandle = nullptr;       // the driver's, when driverCancel is set
        CancelFunction driverCancel = nullptr; // the driver's own SQLCancel
    };
    const std::shared_ptr<Statement> running_ = std::make_shared<Statement>();
    std::atomic<bool> cancelling_ = false; // read by the worker

    // Calling thread only.
    QObject* waiting_ = nullptr; // Run's context while it waits
    bool cancelled_ = false;
    bool giveUp_ = false;
    bool abandoned_ = false;
    QString cancelReason_;
};

namespace {

// The registered SQL Server driver to use; FreeTDS's name when none is registered.
// The driver manager that answered, with its version.
QString DriverManagerName(SQLHENV env) {
    QString name = u"The ODBC driver manager"_s;
    SQLHDBC dbc = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)))
        return name;
    SQLCHAR version[64] = {};
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DM_VER, version, SQLSMALLINT(sizeof version), &length)))
        name += u" (version %1)"_s.arg(QString::fromLatin1(reinterpret_cast<char*>(version)));
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    return name;
}

QString ChooseDriver(QString* why) {
    SQLHENV env = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        if (why)
            *why = u"The ODBC driver manager could not be loaded."_s;
        return {};
    }
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    const QString manager = DriverManagerName(env);
    QStringList registered;
    SQLWCHAR name[256];
    SQLWCHAR attributes[1024];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDriversW(env, direction, name, SQLSMALLINT(std::size(name)),
                                     &nameLength, attributes, SQLSMALLINT(std::size(attributes)),
                                     &attributesLength))) {
        registered << QString::fromUtf16(reinterpret_cast<const char16_t*>(name), nameLength);
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    const QString chosen = odbc::PickDriver(registered);
    if (!chosen.isEmpty())
        return chosen;
    if (why) {
#ifdef _WIN32
        const QString where = u"the Drivers tab of the ODBC Data Source Administrator, "
                              u"odbcad32.exe"_s;
#else
        const QString where =
            qEnvironmentVariableIsSet("ODBCSYSINI")
                ? u"odbcinst.ini in ODBCSYSINI=%1"_s.arg(qEnvironmentVariable("ODBCSYSINI"))
                : u"odbcinst.ini (odbcinst -j shows which)"_s;
#endif
        *why = registered.isEmpty()
                   ? u"%1 lists no ODBC driver at all (%2)."_s.arg(manager, where)
                   : u"%1 lists no SQL Server ODBC driver (%2); drivers found: %3."_s.arg(
                         manager, where, registered.join(u", "_s));
    }
    return {};
}

} // namespace

SQLServer::SQLServer() : impl_(std::make_unique<Impl>()) {}

SQLServer::~SQLServer() {
    // An abandoned worker may still be inside the driver, using the handles and the thread
    // the object owns: they are left to the end of the process rather than freed under it.
    if (impl_->Abandoned()) {
        static std::mutex mutex;
        static std::vector<Impl*> leftBehind; // never freed, never destroyed
        const std::lock_guard lock(mutex);
        leftBehind.push_back(impl_.release());
    }
}

void SQLServer::Cancel(const QString& reason) {
    impl_->Cancel(reason, kCancelGraceMs);
}

bool SQLServer::Abandoned() const {
    return impl_->Abandoned();
}

QString SQLServer::VersionText() const {
    return impl_->VersionText();
}

bool SQLServer::Checksum() const {
    return impl_->MajorVersion() >= odbc::kFirstVersionWithChecksum;
}

void SQLServer::Connect(const QString& server, const QString& login, const QString& password) {
    // Read odbcinst's list once: the registered drivers do not change while we run.
    static const QString driver = [] {
        const QString registered = ChooseDriver(nullptr);
        return registered.isEmpty() ? odbc::KnownDrivers().first() : registered;
    }();
    // The driver looks a name up itself, however long the system's resolver takes: the name
    // is looked up here instead, within the login timeout, and the driver given the address.
    // A Kerberos login needs the name itself; its lookup here at least bounds the first one.
    Impl* impl = impl_.get();
    QElapsedTimer clock;
    clock.start();
    QString resolved;
    const QString host = odbc::ParseServerName(server).host;
    if (!host.isEmpty() && QHostAddress(host).isNull()) {
        const int limitMs = LoginTimeout > 0 ? LoginTimeout * 1000 : kDefaultLookupMs;
        bool timedOut = false;
        const QList<QHostAddress> found = impl->Resolve(host, limitMs, &timedOut);
        if (found.isEmpty() && timedOut)
            throw Error(u"Login timeout expired: the name %1 was not resolved within %2 seconds."_s
                            .arg(host)
                            .arg(limitMs / 1000));
        if (found.isEmpty())
            throw Error(u"Unknown host machine name."_s);
        if (!odbc::LoginNeedsName(login, LoginSecure))
            resolved = found.first().toString();
    }
    const QString connectionString =
        odbc::ConnectionString(driver, server, login, password, LoginSecure, resolved);
    // What the lookup took is taken from the login's time.
    const int timeout =
        LoginTimeout > 0 ? std::max(1, LoginTimeout - int(clock.elapsed() / 1000)) : 0;
    impl->Run([impl, connectionString, timeout, server](const Post&) {
        impl->Connect(connectionString, timeout, server);
    });
}

bool SQLServer::FindsFile(const QString& path) {
    const QString statement = odbc::LabelStatement(path);
    Impl* impl = impl_.get();
    auto found = std::make_shared<bool>(true);
    // A question the server answers at once: one that goes unanswered for minutes is a server
    // that stopped answering, and the run fails rather than waiting for ever.
    QObject limit;
    QTimer::singleShot(kFindsFileLimitMs, &limit, [this, path] {
        Cancel(u"The server did not answer within %1 minutes whether it finds the file %2."_s
                   .arg(kFindsFileLimitMs / 60000)
                   .arg(path));
    });
    impl->Run([impl, statement, found](const Post&) {
        QList<DiagRecord> refusals;
        impl->Execute(
            statement, u"RESTORE LABELONLY"_s, [](const DiagRecord&) {}, &refusals);
        // "Cannot open backup device '...'. Operating system error 2(The system cannot find
        // the file specified.)." (3: the path); any other answer (not a backup, access denied)
        // comes from a file that is there.
        for (const DiagRecord& record : refusals)
            if (record.native == 3201 &&
                (record.text.contains(u"error 2("_s) || record.text.contains(u"error 3("_s)))
                *found = false;
    });
    return *found;
}

Backup::Backup() : sink_(std::make_shared<IBackupEvents*>(nullptr)) {}
Backup::~Backup() {
    *sink_ = nullptr; // a call still queued finds no sink
}

void Backup::SetEvents(IBackupEvents* sink) {
    *sink_ = sink;
}

namespace {

// The server's completion message: 3014, or its text alone from servers that send it without
// a number.
bool IsBackupCompletion(const DiagRecord& record) {
    return record.native == 3014 ||
           (record.native == 0 &&
            record.text.startsWith(u"BACKUP DATABASE successfully processed"_s));
}

} // namespace

int Backup::DefaultStallWarningMs() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("VESTREL_STALL_WARNING_SECONDS", &ok);
    return ok && seconds > 0 ? seconds * 1000 : 30 * 60 * 1000;
}

namespace {

// Notices a server that has sent nothing for a while, on the calling thread: every message
// restarts the wait; when it runs out the sink hears Stalled, and Resumed with the next one.
class StallWatch {
public:
    StallWatch(int intervalMs, std::shared_ptr<IBackupEvents*> sink) : sink_(std::move(sink)) {
        timer_.setSingleShot(true);
        timer_.setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            stalled_ = true;
            if (*sink_)
                (*sink_)->Stalled(last_);
        });
    }
    void Heard() {
        last_ = Now();
        timer_.start();
        if (!std::exchange(stalled_, false))
            return;
        if (*sink_)
            (*sink_)->Resumed();
    }

private:
    std::shared_ptr<IBackupEvents*> sink_;
    QTimer timer_;
    QDateTime last_;
    bool stalled_ = false;
};

} // namespace

void Backup::SQLBackup(SQLServer& server) {
    const QStringList files = odbc::ParseFiles(Files);
    const QString database = odbc::QuoteIdentifier(Database);
    odbc::BackupOptions options;
    options.formatMedia = FormatMedia;
    // Built here so that a name that cannot be sent fails before anything reaches the server.
    const QString plain = odbc::BackupStatement(Database, files, options);
    options.checksum = true;
    const QString withChecksum = odbc::BackupStatement(Database, files, options);
    const std::shared_ptr<IBackupEvents*> sink = sink_;
    const std::shared_ptr<std::atomic<bool>> written = written_;
    *written = false;
    SQLServer::Impl* impl = server.impl_.get();
    // Lives on this thread until Run returns: what is posted to it is delivered only while
    // Run waits.
    StallWatch watch(StallWarningMs, sink);
    watch.Heard();
    StallWatch* const heard = &watch;
    impl->Run([impl, plain, withChecksum, files, database, sink, written, heard](const Post& post) {
        const bool checksum = impl->MajorVersion() >= odbc::kFirstVersionWithChecksum;
        QString completion;
        int position = 0;
        impl->Execute(checksum ? withChecksum : plain, u"BACKUP DATABASE"_s,
                      [&](const DiagRecord& record) {
                          post([heard] { heard->Heard(); });
                          if (record.native == 3211) {
                              const int percent = std::clamp(LeadingNumber(record.text), 0, 100);
                              post([sink, text = record.text, percent] {
                                  if (*sink)
                                      (*sink)->PercentComplete(text, percent);
                              });
                          } else if (record.native == 4035) {
                              position = std::max(position, odbc::BackupSetPosition(record.text));
                          } else if (IsBackupCompletion(record)) {
                              completion = record.text;
                          }
                      });
        // Only the server's own word makes a backup: a stream that merely ends proves nothing.
        if (completion.isEmpty())
            throw Error(u"The backup of %1 ended without the server's confirmation (message "
                        u"3014): the backup cannot be trusted."_s.arg(database));
        *written = true;

        QString verified;
        try {
            impl->Execute(odbc::VerifyStatement(files, position, checksum), u"RESTORE VERIFYONLY"_s,
                          [&](const DiagRecord& record) {
                              post([heard] { heard->Heard(); });
                              if (record.native == 3262)
                                  verified = record.text;
                          });
        } catch (const Error& error) {
            throw Error(u"The backup was written but its verification failed: "_s +
                        error.description());
        }
        if (verified.isEmpty())
            throw Error(u"The backup was written but the server did not confirm that it is "
                        u"valid (RESTORE VERIFYONLY sent no message 3262)."_s);
        post([sink, text = completion + u' ' + verified] {
            if (*sink)
                (*sink)->Complete(text);
        });
    });
}

QString FileListEntry(const QString& path) {
    return odbc::FileListEntry(path);
}

QString SqlServerDriver() {
    return ChooseDriver(nullptr);
}

bool SqlServerClientInstalled(QString* why) {
    QString reason;
    const bool installed = !ChooseDriver(&reason).isEmpty();
    if (why)
        *why = installed ? QString() : reason;
    return installed;
}

} // namespace vestrel
