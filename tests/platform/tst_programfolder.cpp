#include "platform/programfolder.h"

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
        QTest::newRow("portable") << true << u"/x/config"_s << u"/x/state"_s << u"/opt/v/bin"_s
                                  << u"/opt/v/bin"_s;
        QTest::newRow("defaults") << false << QString() << QString() << u"/home/u/.config/vestrel"_s
                                  << u"/home/u/.local/state/vestrel"_s;
        QTest::newRow("XDG") << false << u"/x/config/"_s << u"/x/state"_s << u"/x/config/vestrel"_s
                             << u"/x/state/vestrel"_s;
        QTest::newRow("relative XDG ignored")
            << false << u"config"_s << u"./state"_s << u"/home/u/.config/vestrel"_s
            << u"/home/u/.local/state/vestrel"_s;
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
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
