// Which registered SQL Server driver the program uses: on Windows Microsoft's, newest first;
// on Linux FreeTDS. Through the real driver manager: driver_list.sh.
#include "backup/odbctext.h"

#include <QTest>

using namespace vestrel;
using namespace Qt::StringLiterals;

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
};

QTEST_GUILESS_MAIN(TestDrivers)
#include "tst_drivers.moc"
