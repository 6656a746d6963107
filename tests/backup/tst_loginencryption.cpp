// Logins against a server that encrypts them as SQL Server does: PRELOGIN's ENCRYPTION
// answer, the TLS handshake inside PRELOGIN packets, the LOGIN7 inside TLS, then plain TDS
// (ENCRYPT_OFF) or TLS to the end (ENCRYPT_ON) -- the engine with its own connection string,
// and FreeTDS with its other "Encryption" choices.
#include "backup/odbctext.h"
#include "backup/sqldmo.h"
#include "platform/error.h"
#include "support/tds/standin.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sql.h>
#include <sqlext.h>

using namespace Qt::StringLiterals;
using vestrel::Backup;
using vestrel::Error;
using vestrel::SQLServer;
using vestrel::test::StandinEncryption;
using vestrel::test::StandinScript;
using vestrel::test::TdsStandin;
namespace tds = vestrel::test;

namespace {

struct Recorder : vestrel::IBackupEvents {
    QList<int> percents;
    QStringList completions;
    void PercentComplete(const QString&, int percent) override { percents << percent; }
    void NextMedia(const QString&) override {}
    void Complete(const QString& message) override { completions << message; }
};

// Logs in with FreeTDS given `extra` attributes; returns "" or the driver's message.
QString FreeTdsLogin(const TdsStandin& standin, const QString& extra) {
    const QString text = vestrel::odbc::ConnectionString(u"FreeTDS"_s, standin.ServerName(),
                                                         u"sa"_s, u"secret"_s, false) +
                         extra;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(15)), 0);
    QByteArray in = text.toUtf8();
    const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                                          SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    QString message;
    if (SQL_SUCCEEDED(rc)) {
        SQLDisconnect(dbc);
    } else {
        SQLCHAR state[6] = {};
        SQLCHAR buffer[512] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, buffer, sizeof buffer, &length);
        message = QString::fromUtf8(reinterpret_cast<const char*>(buffer));
        if (message.isEmpty())
            message = u"failed"_s;
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return message;
}

} // namespace

class TestLoginEncryption : public QObject {
    Q_OBJECT

private slots:
    void engineLoginAndBackup_data();
    void engineLoginAndBackup();
    void clientChoices_data();
    void clientChoices();

private:
    QTemporaryDir dir_;
};

void TestLoginEncryption::engineLoginAndBackup_data() {
    QTest::addColumn<StandinEncryption>("server");
    QTest::addColumn<QString>("password"); // the stand-in's is "secret"
    QTest::addColumn<int>("answered");     // the server's PRELOGIN ENCRYPTION answer
    QTest::addColumn<bool>("wholeSession");
    QTest::addColumn<QString>("error"); // of Connect; empty when the login succeeds

    const auto off = StandinEncryption::Off;
    const auto on = StandinEncryption::On;
    const QString failed = u"Login failed for user 'sa'."_s;
    // FreeTDS's default offers ENCRYPT_OFF: the login goes inside TLS, the rest in plain TDS.
    QTest::newRow("ENCRYPT_OFF") << off << u"secret"_s << int(tds::kEncryptOff) << false
                                 << QString();
    // A server that forces encryption answers ENCRYPT_REQ and encrypts the whole session.
    QTest::newRow("ENCRYPT_ON") << on << u"secret"_s << int(tds::kEncryptReq) << true << QString();
    QTest::newRow("ENCRYPT_OFF, wrong password")
        << off << u"wrong"_s << int(tds::kEncryptOff) << false << failed;
    QTest::newRow("ENCRYPT_ON, wrong password")
        << on << u"wrong"_s << int(tds::kEncryptReq) << true << failed;
}

void TestLoginEncryption::engineLoginAndBackup() {
    QFETCH(StandinEncryption, server);
    QFETCH(QString, password);
    QFETCH(int, answered);
    QFETCH(bool, wholeSession);
    QFETCH(QString, error);

    StandinScript script;
    script.encryption = server;
    TdsStandin standin(script);
    SQLServer connection;
    connection.LoginTimeout = 15;
    QString failure;
    try {
        connection.Connect(standin.ServerName(), u"sa"_s, password);
    } catch (const Error& e) {
        failure = e.description();
    }
    QCOMPARE(failure, error);

    // The handshake took place and the LOGIN7 came through it whole.
    const QList<tds::SeenTls> sessions = standin.TlsSessions();
    QCOMPARE(sessions.size(), 1);
    QCOMPARE(int(sessions.first().client), int(tds::kEncryptOff));
    QCOMPARE(int(sessions.first().answer), answered);
    QCOMPARE(sessions.first().version, u"TLS1.2"_s);
    QVERIFY(sessions.first().loginEncrypted);
    QCOMPARE(sessions.first().sessionEncrypted, wholeSession);
    QCOMPARE(standin.Logins().size(), 1);
    QCOMPARE(standin.Logins().first().user, u"sa"_s);
    QCOMPARE(standin.Logins().first().password, password);
    if (!error.isEmpty())
        return;

    Recorder sink;
    Backup backup;
    backup.SetEvents(&sink);
    backup.Database = u"Sales"_s;
    const QString file = dir_.filePath(u"sales.bak"_s);
    backup.Files = u"["_s + file + u"]"_s;
    backup.SQLBackup(connection);
    backup.SetEvents(nullptr);
    QCOMPARE(sink.percents.last(), 100);
    QCOMPARE(sink.completions.size(), 1);
    QVERIFY2(sink.completions.first().startsWith(u"BACKUP DATABASE successfully processed"_s),
             qPrintable(sink.completions.first()));
    QVERIFY(QFile::exists(file));
}

void TestLoginEncryption::clientChoices_data() {
    QTest::addColumn<StandinEncryption>("server");
    QTest::addColumn<QString>("client"); // FreeTDS's "Encryption" attribute
    QTest::addColumn<int>("offered");    // PRELOGIN ENCRYPTION the client sent
    QTest::addColumn<int>("answered");   // and the server's answer
    QTest::addColumn<bool>("tls");       // a TLS handshake carried the LOGIN7
    QTest::addColumn<bool>("wholeSession");
    QTest::addColumn<bool>("loggedIn");

    const auto off = StandinEncryption::Off;
    const auto on = StandinEncryption::On;
    QTest::newRow("client requires") << off << u"require"_s << int(tds::kEncryptOn)
                                     << int(tds::kEncryptOn) << true << true << true;
    QTest::newRow("client cannot") << off << u"off"_s << int(tds::kEncryptNotSup)
                                   << int(tds::kEncryptNotSup) << false << false << true;
    QTest::newRow("client cannot, server forces")
        << on << u"off"_s << int(tds::kEncryptNotSup) << int(tds::kEncryptReq) << false << false
        << false;
}

void TestLoginEncryption::clientChoices() {
    QFETCH(StandinEncryption, server);
    QFETCH(QString, client);
    QFETCH(int, offered);
    QFETCH(int, answered);
    QFETCH(bool, tls);
    QFETCH(bool, wholeSession);
    QFETCH(bool, loggedIn);

    StandinScript script;
    script.encryption = server;
    TdsStandin standin(script);
    const QString error = FreeTdsLogin(standin, u"Encryption="_s + client + u';');
    QVERIFY2(error.isEmpty() == loggedIn, qPrintable(error));
    const QList<tds::SeenTls> sessions = standin.TlsSessions();
    QCOMPARE(sessions.size(), 1);
    QCOMPARE(int(sessions.first().client), offered);
    QCOMPARE(int(sessions.first().answer), answered);
    QCOMPARE(sessions.first().version.isEmpty(), !tls);
    QCOMPARE(sessions.first().loginEncrypted, tls);
    QCOMPARE(sessions.first().sessionEncrypted, wholeSession);
    QCOMPARE(standin.Logins().size(), loggedIn ? 1 : 0);
    if (loggedIn)
        QCOMPARE(standin.Logins().first().password, u"secret"_s);
}

QTEST_GUILESS_MAIN(TestLoginEncryption)
#include "tst_loginencryption.moc"
