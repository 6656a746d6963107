// Which registered SQL Server driver the program uses: on Windows Microsoft's, newest first;
// on Linux FreeTDS. Also through the real driver manager, in a fresh process.
#include "backup/odbctext.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

// Under Wine, odbc32 hands the calls to the host's unixODBC, which reads odbcinst.ini from
// ODBCSYSINI; on Windows itself the registry lists the drivers and no test may change it.
bool DriverListFromOdbcinst() {
#ifdef Q_OS_WIN
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return true;
#endif
}

} // namespace

class TestDrivers : public QObject {
    Q_OBJECT
private slots:
    void pick_data() {
        QTest::addColumn<QStringList>("registered");
        QTest::addColumn<QString>("onWindows");
        QTest::addColumn<QString>("onLinux");
        QTest::newRow("none") << QStringList() << QString() << QString();
        QTest::newRow("no SQL Server driver")
            << QStringList{u"PostgreSQL Unicode"_s, u"MySQL ODBC 8.0"_s} << QString() << QString();
        QTest::newRow("every Windows")
            << QStringList{u"Microsoft Access Driver (*.mdb)"_s, u"SQL Server"_s} << u"SQL Server"_s
            << u"SQL Server"_s;
        QTest::newRow("newest Microsoft first")
            << QStringList{u"SQL Server"_s, u"ODBC Driver 17 for SQL Server"_s,
                           u"SQL Server Native Client 11.0"_s, u"ODBC Driver 18 for SQL Server"_s}
            << u"ODBC Driver 18 for SQL Server"_s << u"ODBC Driver 18 for SQL Server"_s;
        QTest::newRow("FreeTDS beside Microsoft's")
            << QStringList{u"FreeTDS"_s, u"ODBC Driver 17 for SQL Server"_s}
            << u"ODBC Driver 17 for SQL Server"_s << u"FreeTDS"_s;
        QTest::newRow("13.1 before Native Client")
            << QStringList{u"SQL Server Native Client 11.0"_s, u"ODBC Driver 13.1 for SQL Server"_s}
            << u"ODBC Driver 13.1 for SQL Server"_s << u"SQL Server Native Client 11.0"_s;
        QTest::newRow("as registered, any case")
            << QStringList{u"freetds"_s, u"sql server"_s} << u"sql server"_s << u"freetds"_s;
    }
    void pick() {
        QFETCH(QStringList, registered);
        QFETCH(QString, onWindows);
        QFETCH(QString, onLinux);
#ifdef Q_OS_WIN
        const QString& expected = onWindows;
#else
        const QString& expected = onLinux;
#endif
        QCOMPARE(odbc::PickDriver(registered), expected);
    }

    // The driver manager's own list (SQLDriversW) reaches the choice.
    void throughTheDriverManager() {
        if (!DriverListFromOdbcinst())
            QSKIP("the drivers are those of this Windows' registry");
        QTemporaryDir folder;
        QFile ini(folder.filePath(u"odbcinst.ini"_s));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[FreeTDS]\nDriver=libtdsodbc.so\n\n"
                  "[SQL Server]\nDriver=sqlsrv32.dll\n\n"
                  "[ODBC Driver 17 for SQL Server]\nDriver=libmsodbcsql-17.so\n");
        ini.close();
        QProcess check;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"ODBCSYSINI"_s, folder.path());
        check.setProcessEnvironment(environment);
        check.start(QStringLiteral(VESTREL_CLIENT_CHECK), {});
        QVERIFY(check.waitForFinished(20000));
        const QStringList lines =
            QString::fromUtf8(check.readAllStandardOutput()).remove(u'\r').split(u'\n');
        QCOMPARE(lines.value(0), u"installed"_s);
#ifdef Q_OS_WIN
        QCOMPARE(lines.value(2), u"ODBC Driver 17 for SQL Server"_s);
#else
        QCOMPARE(lines.value(2), u"FreeTDS"_s);
#endif
    }
};

QTEST_GUILESS_MAIN(TestDrivers)
#include "tst_drivers.moc"
