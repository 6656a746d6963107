#pragma once

// The texts the engine sends: connection strings and the backup statement. Kept apart from
// the ODBC calls so they can be checked without a server.

#include <QString>
#include <QStringList>

namespace vestrel::odbc {

// SQL Server drivers we know, most preferred first.
QStringList KnownDrivers();
// True for drivers that take FreeTDS's attributes (Port, TDS_Version).
bool IsFreeTds(const QString& driver);

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
QString ConnectionString(const QString& driver, const QString& server, const QString& login,
                         const QString& password, bool loginSecure);

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

QString BackupStatement(const QString& database, const QStringList& files);

// The message text without the "[vendor][driver][server]" prefixes.
QString StripPrefixes(const QString& message);

} // namespace vestrel::odbc
