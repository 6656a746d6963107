#pragma once

// The texts the engine sends: connection strings and the backup statement. Kept apart from
// the ODBC calls so they can be checked without a server.

#include <QString>
#include <QStringList>

namespace vestrel::odbc {

// SQL Server drivers we know, most preferred first: on Windows Microsoft's, newest first, on
// Linux FreeTDS.
QStringList KnownDrivers();
// The most preferred known driver among the registered ones (as registered), or empty.
QString PickDriver(const QStringList& registered);
// True for drivers that take FreeTDS's attributes (Port, TDS_Version).
bool IsFreeTds(const QString& driver);
// True for Microsoft's ODBC Driver 17 and later, which take Encrypt and TrustServerCertificate
// (18 encrypts and validates the certificate by default).
bool EncryptsByDefault(const QString& driver);

// Where a server name points to: host, optional instance, optional port (0 = none).
struct ServerAddress {
    QString host;
    QString instance;
    int port = 0;
};
// "host", "host\instance", "host,port" pass through; "(local)", ".", "(localhost)" and
// "localhost" become 127.0.0.1, keeping any instance.
ServerAddress ParseServerName(const QString& server);

// An attribute value in braces, with "}" doubled, so ";" or "}" cannot start a new attribute.
QString BraceValue(const QString& value);

// Throws vestrel::Error for a login or password FreeTDS cannot be given.
// `address`, when given, stands for the server name's host: the driver then looks nothing up.
QString ConnectionString(const QString& driver, const QString& server, const QString& login,
                         const QString& password, bool loginSecure,
                         const QString& address = QString());
// True when the login needs the server's name, not an address of it: FreeTDS's Kerberos login
// (integrated security without a DOMAIN\user) asks for a ticket for the name.
bool LoginNeedsName(const QString& login, bool loginSecure);

// "[" + name with "]" doubled + "]"; throws vestrel::Error for a NUL.
QString QuoteIdentifier(const QString& name);
// "N'" + text with "'" doubled + "'"; throws vestrel::Error for a NUL.
QString QuoteLiteral(const QString& text);

// "[a][b]" -> {"a", "b"}; "]]" inside a name stands for "]". Throws vestrel::Error when the
// list is malformed.
QStringList ParseFiles(const QString& files);
// One entry of such a list: "[" + path with "]" doubled + "]".
QString FileListEntry(const QString& path);

// True when the server name points at the machine called thisHost: the local forms, a
// loopback address or the host's own name (with or without its domain), any instance or port.
bool NamesThisMachine(const QString& server, const QString& thisHost);

// What a backup asks of the server beyond the database and its files.
struct BackupOptions {
    bool checksum = false; // WITH CHECKSUM: page checksums verified, a backup checksum kept
    bool formatMedia =
        false; // WITH FORMAT (and the INIT it implies): the files hold this set alone
};
QString BackupStatement(const QString& database, const QStringList& files,
                        const BackupOptions& options = {});
// Reads the media label of one file (RESTORE LABELONLY).
QString LabelStatement(const QString& file);
// Verifies backup set `position` of the media the files hold.
QString VerifyStatement(const QStringList& files, int position, bool checksum);
// The backup set's position from the server's "Processed N pages for database 'x', file 'y' on
// file 3." (4035): the number after the last quote; 0 when there is none.
int BackupSetPosition(const QString& message);
// The major version from SQL_DBMS_VER's "##.##.####" ("09.00.1399" -> 9); 0 when unreadable.
int MajorVersion(const QString& dbmsVersion);
// SQL Server 2005 (9) and later take WITH CHECKSUM on BACKUP and RESTORE.
constexpr int kFirstVersionWithChecksum = 9;

// The message text without the "[vendor][driver][server]" prefixes.
QString StripPrefixes(const QString& message);

} // namespace vestrel::odbc
