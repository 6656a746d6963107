#include "platform/programfolder.h"
#include "platform/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace Qt::StringLiterals;

class TestProgramFolder : public QObject {
    Q_OBJECT
private slots:
    void choice_data() {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("xdgConfig");
        QTest::addColumn<QString>("xdgState");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("log");
        const QString name = u'/' + ProgramFolderName();
        QTest::newRow("portable") << true << u"/x/config"_s << u"/x/state"_s << u"/opt/v/bin"_s
                                  << u"/opt/v/bin"_s;
        QTest::newRow("defaults") << false << QString() << QString() << u"/home/u/.config"_s + name
                                  << u"/home/u/.local/state"_s + name;
        QTest::newRow("XDG") << false << u"/x/config/"_s << u"/x/state"_s << u"/x/config"_s + name
                             << u"/x/state"_s + name;
        QTest::newRow("relative XDG ignored")
            << false << u"config"_s << u"./state"_s << u"/home/u/.config"_s + name
            << u"/home/u/.local/state"_s + name;
    }
    void choice() {
        QFETCH(bool, writable);
        QFETCH(QString, xdgConfig);
        QFETCH(QString, xdgState);
        QFETCH(QString, settings);
        QFETCH(QString, log);
        const ProgramLocations chosen =
            ChooseProgramLocations({u"/opt/v/bin"_s, writable, u"/home/u"_s, xdgConfig, xdgState});
        QCOMPARE(chosen.settingsFolder, settings);
        QCOMPARE(chosen.logFolder, log);
        QCOMPARE(chosen.perUser, !writable);
    }

    // Whether the program may write beside itself is asked of the system: on Windows by
    // creating a file, which leaves nothing behind.
    void canWriteIn() {
        QTemporaryDir dir;
        QVERIFY(CanWriteIn(dir.path()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
        QVERIFY(!CanWriteIn(dir.filePath(u"missing"_s)));
        QFile file(dir.filePath(u"a file"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(!CanWriteIn(file.fileName()));
    }

    // The user's folder is made at the first start: one instance per folder holds before and
    // after, also when the home is reached through a link.
    void oneInstancePerFolderBeforeAndAfterItIsMade() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"real"_s));
#ifdef Q_OS_WIN
        QSKIP("QFile::link makes a shortcut on Windows, not a link the file system follows");
#endif
        QVERIFY(QFile::link(dir.filePath(u"real"_s), dir.filePath(u"home"_s)));
        const QString folder = dir.filePath(u"home/.config/vestrel"_s);
        SingleInstance first(folder);
        QVERIFY(first.acquire());
        QVERIFY(QDir().mkpath(folder));
        SingleInstance second(folder);
        QCOMPARE(second.lockPath(), first.lockPath());
        SingleInstance throughTheTarget(dir.filePath(u"real/.config/vestrel"_s));
        QCOMPARE(throughTheTarget.lockPath(), first.lockPath());
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
