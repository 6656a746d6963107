#include "platform/error.h"
#include "settings/settings.h"
#include "support/fixtures.h"

#include <QFile>
#include <QTest>

using namespace vestrel;
using namespace vestrel::test;
using namespace Qt::StringLiterals;

namespace {

HourFlags hours(std::initializer_list<int> on) {
    HourFlags flags{};
    for (const int hour : on)
        flags[size_t(hour)] = true;
    return flags;
}

HourFlags allHours(bool value) {
    HourFlags flags;
    flags.fill(value);
    return flags;
}

HourFlags decoded(const QString& text, HourFlags flags) {
    DecodeHourFlags(text, flags);
    return flags;
}

} // namespace

class TestSettingsCodec : public QObject {
    Q_OBJECT
private slots:
    void encode() {
        QCOMPARE(EncodeHourFlags(hours({8, 9, 10, 11, 12, 13, 14, 15, 16, 17})),
                 u"0|0|0|0|0|0|0|0|1|1|1|1|1|1|1|1|1|1|0|0|0|0|0|0|"_s);
        QCOMPARE(EncodeHourFlags(allHours(false)), u"0|"_s.repeated(24));
        QCOMPARE(EncodeHourFlags(allHours(true)), u"1|"_s.repeated(24));
        QCOMPARE(EncodeHourFlags(hours({23})), u"0|"_s.repeated(23) + u"1|"_s);
    }

    void decodeWrittenForm() {
        const HourFlags office = hours({8, 9, 10, 11, 12, 13, 14, 15, 16, 17});
        QVERIFY(decoded(EncodeHourFlags(office), allHours(true)) == office);
        QVERIFY(decoded(u"0|"_s.repeated(24), allHours(true)) == allHours(false));
        QVERIFY(decoded(u"1|"_s.repeated(24), allHours(false)) == allHours(true));
    }

    void decodeShortTexts() {
        // Hours without an element keep what they had.
        HourFlags expected = allHours(false);
        expected[0] = expected[1] = true;
        QVERIFY(decoded(u"1|1"_s, allHours(false)) == expected);
        expected = allHours(true);
        expected[1] = false;
        QVERIFY(decoded(u"1|0"_s, allHours(true)) == expected);
        // The empty element after the last "|" counts as on.
        QVERIFY(decoded(u"1|0|"_s, allHours(false)) == hours({0, 2}));
        QVERIFY(decoded(QString(), hours({5})) == hours({5}));
    }

    void decodeLongText() {
        // 30 elements: the first 24 count.
        QString text = u"0|"_s.repeated(23) + u"1|"_s + u"0|"_s.repeated(6);
        QVERIFY(decoded(text, allHours(true)) == hours({23}));
    }

    void onlyZeroIsOff() {
        const HourFlags flags = decoded(u"x||00| 0|0 |-1|0|1"_s, allHours(false));
        QVERIFY(flags == hours({0, 1, 2, 3, 4, 5, 7}));
    }

    void integratedSecurityText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("0") << u"0"_s << false;
        QTest::newRow("1") << u"1"_s << true;
        QTest::newRow("2") << u"2"_s << true;
        QTest::newRow("-1") << u"-1"_s << true;
        QTest::newRow("blanks") << u" 1 "_s << true;
        QTest::newRow("zero fraction") << u"0.0"_s << false;
        QTest::newRow("fraction") << u"0.5"_s << true;
        QTest::newRow("hex") << u"&H10"_s << true;
        QTest::newRow("hex zero") << u"&h0"_s << false;
        QTest::newRow("True") << u"True"_s << true;
        QTest::newRow("TRUE") << u"TRUE"_s << true;
        QTest::newRow("false") << u"false"_s << false;
    }
    void integratedSecurityText() {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(TextToBoolean(text), expected);
    }

    void integratedSecurityNoBoolean_data() {
        QTest::addColumn<QString>("text");
        for (const char* bad : {"", " ", "yes", "Vero", "1x", "inf", "nan", "&H", "1 2"})
            QTest::newRow(bad) << QString::fromLatin1(bad);
    }
    void integratedSecurityNoBoolean() {
        QFETCH(QString, text);
        try {
            TextToBoolean(text);
            QFAIL("no error for a text that is no Boolean");
        } catch (const Error& error) {
            QCOMPARE(error.description(), u"Tipo non corrispondente"_s);
        }
    }

    void loadAll() {
        TempProgramFolder folder;
        MessageBoxRecorder boxes;
        QFile file(folder.file(u"config.ini"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Connection String]\r\nData Source=srv\r\nInitial Catalog=db\r\n"
                   "User ID=usr\r\nPassword=pwd\r\nIntegrated Security=True\r\n"
                   "[Opzioni_Avanzate]\r\nFileName=/b/x.bak\r\nARRAY_TEMPO=0|1\r\n");
        file.close();
        CIniFile ini;
        ini.IniFileName(folder.file(u"config.ini"_s));
        SettingsRecord record;
        HourFlags flags = hours({5});
        LoadSettings(ini, record, flags);
        QCOMPARE(record.sDataSource, u"srv"_s);
        QCOMPARE(record.sInitialCatalog, u"db"_s);
        QCOMPARE(record.sUserID, u"usr"_s);
        QCOMPARE(record.sPassword, u"pwd"_s);
        QVERIFY(record.bIntegratedSecurity);
        QCOMPARE(record.sBackupFile, u"/b/x.bak"_s);
        QVERIFY(flags == hours({1, 5}));
        QVERIFY(boxes.texts.isEmpty());
    }

    // Quotes as Windows reads them: a quoted Boolean no longer ends the load.
    void loadQuotedValues() {
        TempProgramFolder folder;
        QFile file(folder.file(u"config.ini"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Connection String]\r\nPassword=\"secret\"\r\nIntegrated Security=\"1\"\r\r\n"
                   "[Opzioni_Avanzate]\r\nFileName='/b/x.bak'\r\nARRAY_TEMPO=\"1|1\"\r\n");
        file.close();
        CIniFile ini;
        ini.IniFileName(folder.file(u"config.ini"_s));
        SettingsRecord record;
        HourFlags flags{};
        LoadSettings(ini, record, flags);
        QCOMPARE(record.sPassword, u"secret"_s);
        QVERIFY(record.bIntegratedSecurity);
        QCOMPARE(record.sBackupFile, u"/b/x.bak"_s);
        QVERIFY(flags == hours({0, 1}));
    }

    void loadWithoutFile() {
        TempProgramFolder folder;
        MessageBoxRecorder boxes;
        CIniFile ini;
        ini.IniFileName(folder.file(u"config.ini"_s));
        SettingsRecord record{u"a"_s, u"b"_s, u"c"_s, u"d"_s, true, u"e"_s};
        HourFlags flags{};
        LoadSettings(ini, record, flags);
        QCOMPARE(record.sDataSource, QString());
        QCOMPARE(record.sPassword, QString());
        QVERIFY(!record.bIntegratedSecurity);
        QCOMPARE(record.sBackupFile, QString());
        QVERIFY(flags == allHours(false));
        QVERIFY(boxes.texts.isEmpty());
    }

    void loadStopsAtABadBoolean() {
        TempProgramFolder folder;
        QFile file(folder.file(u"config.ini"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Connection String]\nData Source=srv\nInitial Catalog=db\nUser ID=usr\n"
                   "Password=pwd\nIntegrated Security=\n[Opzioni_Avanzate]\nFileName=x.bak\n"
                   "ARRAY_TEMPO=1|1|1\n");
        file.close();
        CIniFile ini;
        ini.IniFileName(folder.file(u"config.ini"_s));
        SettingsRecord record;
        HourFlags flags{};
        QVERIFY_THROWS_EXCEPTION(Error, LoadSettings(ini, record, flags));
        QCOMPARE(record.sDataSource, u"srv"_s);
        QCOMPARE(record.sInitialCatalog, u"db"_s);
        QCOMPARE(record.sUserID, u"usr"_s);
        QCOMPARE(record.sPassword, u"pwd"_s);
        QVERIFY(!record.bIntegratedSecurity);
        QCOMPARE(record.sBackupFile, QString());
        QVERIFY(flags == allHours(false));
    }
};

QTEST_GUILESS_MAIN(TestSettingsCodec)
#include "tst_settings_codec.moc"
