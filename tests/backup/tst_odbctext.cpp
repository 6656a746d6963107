// The texts the engine sends: server-name mapping, the connection string (checked against
// what FreeTDS hands the stand-in) and the backup statement.
#include "backup/odbctext.h"
#include "backup/sqldmo.h"
#include "platform/error.h"
#include "support/tds/standin.h"
#include "support/tds/tsql.h"

#include <QTest>

using namespace Qt::StringLiterals;
namespace odbc = vestrel::odbc;

class TestOdbcText : public QObject {
    Q_OBJECT

private slots:
    void serverNames_data();
    void serverNames();
    void connectionStrings_data();
    void connectionStrings();
    void aLookedUpAddressStandsForTheHost();
    void credentialsWithSeparatorsArriveIntact_data();
    void credentialsWithSeparatorsArriveIntact();
    void unpassableCredentialsAreRefused();
    void statementRoundTripsThroughTsqlRules_data();
    void statementRoundTripsThroughTsqlRules();
    void standinParserRefusals_data();
    void standinParserRefusals();
    void serverMessagesAsText();
    void thisMachine_data();
    void thisMachine();
    void fileListEntriesParseBack_data();
    void fileListEntriesParseBack();
};

void TestOdbcText::serverNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("instance");
    QTest::addColumn<int>("port");
    QTest::newRow("host") << u"db01"_s << u"db01"_s << QString() << 0;
    QTest::newRow("instance") << u"db01\\SQLEXPRESS"_s << u"db01"_s << u"SQLEXPRESS"_s << 0;
    QTest::newRow("port") << u"db01,1433"_s << u"db01"_s << QString() << 1433;
    QTest::newRow("(local)") << u"(local)"_s << u"127.0.0.1"_s << QString() << 0;
    QTest::newRow(".\\inst") << u".\\inst"_s << u"127.0.0.1"_s << u"inst"_s << 0;
    QTest::newRow("(localhost)") << u"(LOCALHOST)"_s << u"127.0.0.1"_s << QString() << 0;
    QTest::newRow("localhost,port") << u"localhost,1500"_s << u"127.0.0.1"_s << QString() << 1500;
    QTest::newRow("not a port") << u"db,abc"_s << u"db,abc"_s << QString() << 0;
}

void TestOdbcText::serverNames() {
    QFETCH(QString, name);
    const odbc::ServerAddress address = odbc::ParseServerName(name);
    QTEST(address.host, "host");
    QTEST(address.instance, "instance");
    QTEST(address.port, "port");
}

void TestOdbcText::connectionStrings_data() {
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<QString>("expected");
    QTest::newRow("freetds sql login")
        << u"FreeTDS"_s << u"(local),1500"_s << u"sa"_s << false
        << u"Driver={FreeTDS};APP=Vestrel;Server={127.0.0.1};Port=1500;TDS_Version=7.4;UID={sa};PWD=p}x;"_s;
    QTest::newRow("freetds ntlm")
        << u"FreeTDS"_s << u"db\\inst"_s << u"DOM\\me"_s << true
        << u"Driver={FreeTDS};APP=Vestrel;Server={db\\inst};TDS_Version=7.4;UID={DOM\\me};PWD=p}x;"_s;
    QTest::newRow("freetds kerberos")
        << u"FreeTDS"_s << u"db"_s << QString() << true
        << u"Driver={FreeTDS};APP=Vestrel;Server={db};TDS_Version=7.4;Trusted_Connection=Yes;"_s;
    // Driver 18 encrypts and validates the certificate by default, 17 takes the same keywords:
    // both encrypt and accept the server's own certificate, as FreeTDS does.
    QTest::newRow("microsoft")
        << u"ODBC Driver 18 for SQL Server"_s << u"localhost,1500"_s << u"sa"_s << false
        << u"Driver={ODBC Driver 18 for SQL Server};APP=Vestrel;Server={127.0.0.1,1500};UID={sa};PWD={p}};x};Encrypt=yes;TrustServerCertificate=yes;"_s;
    QTest::newRow("microsoft integrated")
        << u"ODBC Driver 18 for SQL Server"_s << u"db"_s << u"ignored"_s << true
        << u"Driver={ODBC Driver 18 for SQL Server};APP=Vestrel;Server={db};Trusted_Connection=Yes;Encrypt=yes;TrustServerCertificate=yes;"_s;
    QTest::newRow("microsoft 17")
        << u"ODBC Driver 17 for SQL Server"_s << u"db"_s << u"sa"_s << false
        << u"Driver={ODBC Driver 17 for SQL Server};APP=Vestrel;Server={db};UID={sa};PWD={p}};x};Encrypt=yes;TrustServerCertificate=yes;"_s;
    QTest::newRow("native client 11")
        << u"SQL Server Native Client 11.0"_s << u"db"_s << u"sa"_s << false
        << u"Driver={SQL Server Native Client 11.0};APP=Vestrel;Server={db};UID={sa};PWD={p}};x};"_s;
}

void TestOdbcText::connectionStrings() {
    QFETCH(QString, driver);
    QFETCH(QString, server);
    QFETCH(QString, login);
    QFETCH(bool, secure);
    const QString password = odbc::IsFreeTds(driver) ? u"p}x"_s : u"p};x"_s;
    QTEST(odbc::ConnectionString(driver, server, login, password, secure), "expected");
}

// The name looked up beforehand: the driver gets the address, with the instance and port.
void TestOdbcText::aLookedUpAddressStandsForTheHost() {
    QCOMPARE(odbc::ConnectionString(u"FreeTDS"_s, u"db\\inst,1500"_s, u"sa"_s, u"p"_s, false,
                                    u"10.0.0.5"_s),
             u"Driver={FreeTDS};APP=Vestrel;Server={10.0.0.5\\inst};Port=1500;TDS_Version=7.4;"
             u"UID={sa};PWD={p};"_s);
    QVERIFY(odbc::LoginNeedsName(QString(), true));     // Kerberos: a ticket for the name
    QVERIFY(!odbc::LoginNeedsName(u"DOM\\me"_s, true)); // NTLM
    QVERIFY(!odbc::LoginNeedsName(u"sa"_s, false));
}

void TestOdbcText::credentialsWithSeparatorsArriveIntact_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::newRow("semicolon") << u"sa"_s << u"a;Database=evil"_s;
    QTest::newRow("brace") << u"us}er"_s << u"p}w}"_s;
    QTest::newRow("opening brace") << u"{me"_s << u"{pw;"_s;
    QTest::newRow("equals and quotes") << u"o'neil"_s << u"={'\"}"_s;
}

void TestOdbcText::credentialsWithSeparatorsArriveIntact() {
    QFETCH(QString, login);
    QFETCH(QString, password);
    vestrel::test::StandinScript script;
    script.password = password;
    vestrel::test::TdsStandin standin(script);
    vestrel::SQLServer server;
    server.Connect(standin.ServerName(), login, password);
    QCOMPARE(standin.Logins().size(), 1);
    QCOMPARE(standin.Logins().first().user, login);
    QCOMPARE(standin.Logins().first().password, password);
    QVERIFY(standin.Logins().first().database.isEmpty());
    QCOMPARE(standin.Logins().first().app, u"Vestrel"_s);
}

void TestOdbcText::unpassableCredentialsAreRefused() {
    // FreeTDS cannot take a value with both "}" and ";": refused instead of mangled.
    vestrel::test::TdsStandin standin;
    vestrel::SQLServer server;
    try {
        server.Connect(standin.ServerName(), u"sa"_s, u"a};b"_s);
        QFAIL("Connect must refuse the password");
    } catch (const vestrel::Error& error) {
        QVERIFY2(error.description().contains(u"password"_s), qPrintable(error.description()));
    }
    QVERIFY(standin.Logins().isEmpty());
}

void TestOdbcText::statementRoundTripsThroughTsqlRules_data() {
    QTest::addColumn<QString>("database");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("checksum");
    QTest::addColumn<bool>("format");
    QTest::addColumn<QString>("options");
    QTest::newRow("plain") << u"Sales"_s << QStringList{u"C:\\b\\s.bak"_s} << false << false
                           << u" WITH STATS = 10"_s;
    QTest::newRow("checksum") << u"Sales"_s << QStringList{u"s.bak"_s} << true << false
                              << u" WITH STATS = 10, CHECKSUM"_s;
    QTest::newRow("format") << u"Sales"_s << QStringList{u"s.bak"_s} << false << true
                            << u" WITH STATS = 10, FORMAT, INIT"_s;
    QTest::newRow("hostile") << u"]]; --[x"_s << QStringList{u"'';--/*"_s, u"b'"_s} << true << true
                             << u" WITH STATS = 10, FORMAT, INIT, CHECKSUM"_s;
}

void TestOdbcText::statementRoundTripsThroughTsqlRules() {
    QFETCH(QString, database);
    QFETCH(QStringList, files);
    QFETCH(bool, checksum);
    QFETCH(bool, format);
    QFETCH(QString, options);
    const QString statement = odbc::BackupStatement(database, files, {checksum, format});
    QVERIFY2(statement.endsWith(options), qPrintable(statement));
    vestrel::test::BackupStatement parsed;
    QString near;
    QVERIFY2(vestrel::test::ParseBackup(statement, &parsed, &near), qPrintable(near));
    QCOMPARE(parsed.database, database);
    QCOMPARE(parsed.disks, files);
    QCOMPARE(parsed.stats, 10);
    QCOMPARE(parsed.checksum, checksum);
    QCOMPARE(parsed.format, format);
    QCOMPARE(parsed.init, format);

    const QString verify = odbc::VerifyStatement(files, 3, checksum);
    vestrel::test::VerifyStatement parsedVerify;
    vestrel::test::ParseError error;
    QVERIFY2(vestrel::test::ParseVerifyOnly(verify, &parsedVerify, &error), qPrintable(error.text));
    QCOMPARE(parsedVerify.disks, files);
    QCOMPARE(parsedVerify.file, 3);
    QCOMPARE(parsedVerify.checksum, checksum);
}

// The stand-in refuses what SQL Server refuses, with its numbers and texts.
void TestOdbcText::standinParserRefusals_data() {
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown BACKUP option")
        << u"BACKUP DATABASE [a] TO DISK = N'x' WITH STATS, Verify"_s << 155
        << u"'Verify' is not a recognized BACKUP option."_s;
    QTest::newRow("unknown RESTORE option")
        << u"RESTORE VERIFYONLY FROM DISK = N'x' WITH FORMAT"_s << 155
        << u"'FORMAT' is not a recognized RESTORE option."_s;
    QTest::newRow("FILE without a number")
        << u"RESTORE VERIFYONLY FROM DISK = N'x' WITH FILE = N'1'"_s << 102
        << u"Incorrect syntax near '1'."_s;
    QTest::newRow("option missing") << u"BACKUP DATABASE [a] TO DISK = N'x' WITH"_s << 102
                                    << u"Incorrect syntax near 'WITH'."_s;
    QTest::newRow("no disk") << u"BACKUP DATABASE [a] TO N'x'"_s << 102
                             << u"Incorrect syntax near 'x'."_s;
}

void TestOdbcText::standinParserRefusals() {
    QFETCH(QString, statement);
    vestrel::test::ParseError error;
    vestrel::test::BackupStatement backup;
    vestrel::test::VerifyStatement verify;
    QVERIFY(vestrel::test::IsBackup(statement)
                ? !vestrel::test::ParseBackup(statement, &backup, &error)
                : !vestrel::test::ParseVerifyOnly(statement, &verify, &error));
    QTEST(error.number, "number");
    QTEST(error.text, "text");
}

void TestOdbcText::serverMessagesAsText() {
    // The set's position from 4035, whatever digits the names hold.
    QCOMPARE(odbc::BackupSetPosition(
                 u"Processed 298 pages for database 'Sales2', file 'Sales_1' on file 12."_s),
             12);
    QCOMPARE(odbc::BackupSetPosition(u"Processed 298 pages."_s), 0);
    QCOMPARE(odbc::MajorVersion(u"09.00.1399"_s), 9);
    QCOMPARE(odbc::MajorVersion(u"08.00.2039"_s), 8);
    QCOMPARE(odbc::MajorVersion(u"16.00.4096"_s), 16);
    QCOMPARE(odbc::MajorVersion(QString()), 0);
}

void TestOdbcText::thisMachine_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("here");
    QTest::newRow("(local)") << u"(local)"_s << true;
    QTest::newRow(".\\inst") << u".\\SQLEXPRESS"_s << true;
    QTest::newRow("loopback, port") << u"127.0.0.1,1433"_s << true;
    QTest::newRow("IPv6 loopback") << u"::1"_s << true;
    QTest::newRow("own name") << u"OFFICE-PC\\SQLEXPRESS"_s << true;
    QTest::newRow("own full name") << u"office-pc.example.lan"_s << true;
    QTest::newRow("protocol prefix") << u"tcp:office-pc,1433"_s << true;
    QTest::newRow("another host") << u"db01"_s << false;
    QTest::newRow("another host, same domain") << u"db01.example.lan"_s << false;
    QTest::newRow("an address") << u"192.168.1.20,1433"_s << false;
    QTest::newRow("a longer name") << u"office-pc2"_s << false;
}

void TestOdbcText::thisMachine() {
    QFETCH(QString, server);
    QFETCH(bool, here);
    QCOMPARE(odbc::NamesThisMachine(server, u"office-pc"_s), here);
    QCOMPARE(odbc::NamesThisMachine(server, u"Office-PC.example.lan"_s), here);
}

void TestOdbcText::fileListEntriesParseBack_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::newRow("one") << QStringList{u"D:\\Backup\\Sales.bak"_s};
    QTest::newRow("brackets in a folder") << QStringList{u"D:\\Backup [old]\\Sales.bak"_s};
    QTest::newRow("ends in ]") << QStringList{u"x]"_s};
    QTest::newRow("looks like two") << QStringList{u"a][b"_s};
    QTest::newRow("two") << QStringList{u"a]]"_s, u"[b"_s};
}

void TestOdbcText::fileListEntriesParseBack() {
    QFETCH(QStringList, paths);
    QString files;
    for (const QString& path : paths)
        files += odbc::FileListEntry(path);
    QCOMPARE(odbc::ParseFiles(files), paths);
}

QTEST_GUILESS_MAIN(TestOdbcText)
#include "tst_odbctext.moc"
