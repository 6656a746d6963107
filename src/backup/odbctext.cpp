#include "backup/odbctext.h"

#include "platform/error.h"

#include <QRegularExpression>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace vestrel::odbc {

QStringList KnownDrivers() {
#ifdef _WIN32
    // Microsoft's drivers, newest first; "SQL Server" is the one every Windows has (it speaks
    // TDS 7.0 and knows no encryption of its own). FreeTDS last, for who built it for Windows.
    return {u"ODBC Driver 18 for SQL Server"_s,
            u"ODBC Driver 17 for SQL Server"_s,
            u"ODBC Driver 13.1 for SQL Server"_s,
            u"ODBC Driver 13 for SQL Server"_s,
            u"ODBC Driver 11 for SQL Server"_s,
            u"SQL Server Native Client 11.0"_s,
            u"SQL Server Native Client 10.0"_s,
            u"SQL Server"_s,
            u"FreeTDS"_s};
#else
    // FreeTDS (Debian's tdsodbc registers it under this name), then Microsoft's drivers.
    return {u"FreeTDS"_s, u"ODBC Driver 18 for SQL Server"_s, u"ODBC Driver 17 for SQL Server"_s,
            u"SQL Server Native Client 11.0"_s, u"SQL Server"_s};
#endif
}

QString PickDriver(const QStringList& registered) {
    for (const QString& known : KnownDrivers())
        for (const QString& driver : registered)
            if (driver.compare(known, Qt::CaseInsensitive) == 0)
                return driver;
    return {};
}

bool EncryptsByDefault(const QString& driver) {
    static const QRegularExpression microsoft(u"^ODBC Driver (\\d+) for SQL Server$"_s,
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = microsoft.match(driver.trimmed());
    return match.hasMatch() && match.captured(1).toInt() >= 17;
}

bool IsFreeTds(const QString& driver) {
    return driver.contains(u"FreeTDS"_s, Qt::CaseInsensitive) ||
           driver.contains(u"libtdsodbc"_s, Qt::CaseInsensitive);
}

ServerAddress ParseServerName(const QString& server) {
    ServerAddress address;
    QString rest = server.trimmed();
    const qsizetype comma = rest.lastIndexOf(u',');
    if (comma >= 0) {
        bool ok = false;
        const int port = rest.mid(comma + 1).trimmed().toInt(&ok);
        if (ok && port > 0 && port < 65536) {
            address.port = port;
            rest = rest.left(comma).trimmed();
        }
    }
    const qsizetype slash = rest.indexOf(u'\\');
    if (slash >= 0) {
        address.instance = rest.mid(slash + 1);
        rest = rest.left(slash);
    }
    static const QStringList local = {u"(local)"_s, u"."_s, u"(localhost)"_s, u"localhost"_s};
    if (local.contains(rest, Qt::CaseInsensitive))
        rest = u"127.0.0.1"_s;
    address.host = rest;
    return address;
}

QString BraceValue(const QString& value) {
    QString escaped = value;
    escaped.replace(u"}"_s, u"}}"_s);
    return u'{' + escaped + u'}';
}

// FreeTDS 1.3 ends a braced value at the first lone "}" but keeps a doubled "}}" as two
// characters, so a value with "}" goes unbraced (it then ends at the next ";").
static QString FreeTdsValue(const QString& value, const QString& what) {
    if (!value.contains(u'}'))
        return BraceValue(value);
    if (value.contains(u';') || value.startsWith(u'{') || value != value.trimmed())
        throw Error(what + u" cannot hold both \"}\" and \";\" (or start with \"{\" or a "
                           u"blank) with the FreeTDS driver."_s);
    return value;
}

bool LoginNeedsName(const QString& login, bool loginSecure) {
    return loginSecure && !login.contains(u'\\');
}

QString ConnectionString(const QString& driver, const QString& server, const QString& login,
                         const QString& password, bool loginSecure, const QString& resolved) {
    ServerAddress address = ParseServerName(server);
    if (!resolved.isEmpty())
        address.host = resolved;
    QString hostAndInstance = address.host;
    if (!address.instance.isEmpty())
        hostAndInstance += u'\\' + address.instance;

    QString text = u"Driver="_s + BraceValue(driver) + u";APP=Vestrel;"_s;
    if (IsFreeTds(driver)) {
        text += u"Server="_s + BraceValue(hostAndInstance) + u';';
        if (address.port > 0)
            text += u"Port="_s + QString::number(address.port) + u';';
        text += u"TDS_Version=7.4;"_s;
        if (loginSecure && !login.contains(u'\\'))
            text += u"Trusted_Connection=Yes;"_s; // Kerberos with the user's ticket
        else // a DOMAIN\user login makes FreeTDS authenticate with NTLM
            text += u"UID="_s + FreeTdsValue(login, u"The login"_s) + u";PWD="_s +
                    FreeTdsValue(password, u"The password"_s) + u';';
    } else {
        QString target = hostAndInstance;
        if (address.port > 0)
            target += u',' + QString::number(address.port);
        text += u"Server="_s + BraceValue(target) + u';';
        if (loginSecure)
            text += u"Trusted_Connection=Yes;"_s;
        else
            text += u"UID="_s + BraceValue(login) + u";PWD="_s + BraceValue(password) + u';';
        // Encrypt as FreeTDS does when the server can, and accept the server's own certificate
        // (SQL Express's is self-signed): Driver 18 would otherwise refuse it.
        if (EncryptsByDefault(driver))
            text += u"Encrypt=yes;TrustServerCertificate=yes;"_s;
    }
    return text;
}

static void RefuseNul(const QString& text, const QString& what) {
    if (text.contains(QChar(u'\0')))
        throw Error(what + u" contains a NUL character."_s);
}

QString FileListEntry(const QString& path) {
    QString escaped = path;
    escaped.replace(u"]"_s, u"]]"_s);
    return u'[' + escaped + u']';
}

QString QuoteIdentifier(const QString& name) {
    RefuseNul(name, u"The database name"_s);
    // T-SQL's brackets and the file list's entries are written alike.
    return FileListEntry(name);
}

QString QuoteLiteral(const QString& text) {
    RefuseNul(text, u"The backup file name"_s);
    QString escaped = text;
    escaped.replace(u"'"_s, u"''"_s);
    return u"N'"_s + escaped + u'\'';
}

QStringList ParseFiles(const QString& files) {
    QStringList list;
    qsizetype i = 0;
    while (i < files.size()) {
        if (files.at(i) != u'[')
            throw Error(
                u"Malformed file list \"%1\": expected '[' at position %2."_s.arg(files).arg(i +
                                                                                             1));
        QString name;
        qsizetype j = i + 1;
        for (;; ++j) {
            if (j >= files.size())
                throw Error(u"Malformed file list \"%1\": missing ']'."_s.arg(files));
            if (files.at(j) != u']') {
                name += files.at(j);
            } else if (j + 1 < files.size() && files.at(j + 1) == u']') {
                name += u']';
                ++j;
            } else {
                break;
            }
        }
        if (name.trimmed().isEmpty())
            throw Error(u"Malformed file list \"%1\": empty file name."_s.arg(files));
        list << name;
        i = j + 1;
    }
    if (list.isEmpty())
        throw Error(u"No backup file given."_s);
    return list;
}

bool NamesThisMachine(const QString& server, const QString& thisHost) {
    QString host = ParseServerName(server).host;
    // "tcp:" and the like choose a protocol, not a machine.
    const qsizetype colon = host.indexOf(u':');
    if (colon > 0 && colon <= 4 && host.count(u':') == 1)
        host = host.mid(colon + 1);
    if (host == u"::1"_s || host.startsWith(u"127."_s))
        return true;
    const QString shortHost = host.section(u'.', 0, 0);
    const QString shortThis = thisHost.section(u'.', 0, 0);
    return !thisHost.isEmpty() && (host.compare(thisHost, Qt::CaseInsensitive) == 0 ||
                                   shortHost.compare(shortThis, Qt::CaseInsensitive) == 0);
}

static QString Disks(const QStringList& files) {
    QStringList targets;
    for (const QString& file : files)
        targets << u"DISK = "_s + QuoteLiteral(file);
    return targets.join(u", "_s);
}

QString BackupStatement(const QString& database, const QStringList& files,
                        const BackupOptions& options) {
    QString statement = u"BACKUP DATABASE "_s + QuoteIdentifier(database) + u" TO "_s +
                        Disks(files) + u" WITH STATS = 10"_s;
    if (options.formatMedia)
        statement += u", FORMAT, INIT"_s;
    if (options.checksum)
        statement += u", CHECKSUM"_s;
    return statement;
}

QString LabelStatement(const QString& file) {
    return u"RESTORE LABELONLY FROM "_s + Disks({file});
}

QString VerifyStatement(const QStringList& files, int position, bool checksum) {
    return u"RESTORE VERIFYONLY FROM "_s + Disks(files) + u" WITH FILE = "_s +
           QString::number(std::max(position, 1)) + (checksum ? u", CHECKSUM"_s : QString());
}

int BackupSetPosition(const QString& message) {
    const qsizetype quote = message.lastIndexOf(u'\'');
    if (quote < 0)
        return 0;
    int position = 0;
    bool inNumber = false;
    for (qsizetype i = quote + 1; i < message.size(); ++i) {
        if (message.at(i).isDigit()) {
            position = (inNumber ? position : 0) * 10 + message.at(i).digitValue();
            inNumber = true;
            if (position > 1000000)
                return 0;
        } else {
            inNumber = false;
        }
    }
    return position;
}

int MajorVersion(const QString& dbmsVersion) {
    bool ok = false;
    const int major = dbmsVersion.section(u'.', 0, 0).trimmed().toInt(&ok);
    return ok && major > 0 ? major : 0;
}

QString StripPrefixes(const QString& message) {
    QString text = message;
    while (text.startsWith(u'[')) {
        const qsizetype end = text.indexOf(u']');
        if (end < 0)
            break;
        text.remove(0, end + 1);
    }
    return text.trimmed();
}

} // namespace vestrel::odbc
