#include "settings/cinifile.h"
#include "support/fixtures.h"

#include <QFile>
#include <QTest>

using namespace vestrel;
using namespace vestrel::test;
using namespace Qt::StringLiterals;

namespace {

void put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString missingMessage(const QString& path) {
    return u"File di informazioni di configurazione "_s + path + u" inesistente."_s;
}

} // namespace

class TestCIniFile : public QObject {
    Q_OBJECT
private slots:
    void newObject() {
        CIniFile ini;
        QCOMPARE(ini.LastReturnCode(), 0);
        QVERIFY(!ini.Success());
        QCOMPARE(ini.IniFileName(), QString());
        ini.IniFileName(u"  kept as given "_s);
        QCOMPARE(ini.IniFileName(), u"  kept as given "_s);
    }

    void getValueNeverWarns() {
        TempProgramFolder folder;
        MessageBoxRecorder boxes;
        CIniFile ini;
        QCOMPARE(ini.GetValue(u"S"_s, u"k"_s, u"dflt"_s), u"dflt"_s); // no name set
        ini.IniFileName(folder.file(u"config.ini"_s));
        QCOMPARE(ini.GetValue(u"S"_s, u"k"_s, u"dflt"_s), u"dflt"_s); // no file
        put(folder.file(u"config.ini"_s), "[S]\r\nk=value\r\n");
        // The default as GetPrivateProfileStringA gives it back: without trailing blanks.
        QCOMPARE(ini.GetValue(u"S"_s, u"other"_s, u" exact "_s), u" exact"_s);
        QCOMPARE(ini.GetValue(u"s"_s, u"K"_s, u"dflt"_s), u"value"_s);
        QVERIFY(boxes.texts.isEmpty());
    }

    void longValueCutTo254() {
        TempProgramFolder folder;
        put(folder.file(u"config.ini"_s), "[S]\nk=" + QByteArray(300, 'a') + "\n");
        CIniFile ini;
        ini.IniFileName(folder.file(u"config.ini"_s));
        QCOMPARE(ini.GetValue(u"S"_s, u"k"_s, QString()), QString(254, u'a'));
    }

    void setValueRemovesNuls() {
        TempProgramFolder folder;
        put(folder.file(u"config.ini"_s), "");
        CIniFile ini;
        ini.IniFileName(folder.file(u"config.ini"_s));
        const QString value = u"a\0b\0\0c"_s;
        ini.SetValue(u"S"_s, u"k"_s, value);
        QCOMPARE(value.size(), 6); // the caller's text is untouched
        QVERIFY(ini.Success());
        QCOMPARE(folder.read(u"config.ini"_s), "[S]\r\nk=abc\r\n"_ba);
        QCOMPARE(ini.GetValue(u"S"_s, u"k"_s, QString()), u"abc"_s);
    }

    void checkFailsWithTheMessage() {
        TempProgramFolder folder;
        MessageBoxRecorder boxes;
        CIniFile ini;
        ini.SetValue(u"S"_s, u"k"_s, u"v"_s);
        QCOMPARE(boxes.texts, QStringList{u"Impostare prima la proprietà IniFileName."_s});
        QCOMPARE(boxes.captions, QStringList{u"Corbanel"_s});

        // A successful write first, so that the failed ones can be seen not to touch the code.
        const QString path = folder.file(u"config.ini"_s);
        put(path, "");
        ini.IniFileName(path);
        ini.SetValue(u"S"_s, u"k"_s, u"v"_s);
        QCOMPARE(ini.LastReturnCode(), 1);
        QVERIFY(QFile::remove(path));
        boxes.texts.clear();
        ini.SetValue(u"S"_s, u"k"_s, u"v"_s);
        ini.DeleteKey(u"S"_s, u"k"_s);
        ini.DeleteSection(u"S"_s);
        QStringList names{u"caller's"_s};
        int count = 7;
        ini.EnumerateSection(u"S"_s, names, count);
        ini.EnumerateAllSections(names, count);
        QCOMPARE(boxes.texts, QStringList(5, missingMessage(path)));
        QCOMPARE(ini.LastReturnCode(), 1);
        QCOMPARE(names, QStringList{u"caller's"_s});
        QCOMPARE(count, 7);
        QVERIFY(!QFile::exists(path));
    }

    void hiddenFileOrFolderIsNotFound() {
        TempProgramFolder folder;
        MessageBoxRecorder boxes;
        const QString hidden = folder.file(u".config.ini"_s);
        put(hidden, "[S]\nk=v\n");
        CIniFile ini;
        ini.IniFileName(hidden);
        ini.SetValue(u"S"_s, u"k"_s, u"new"_s);
        QCOMPARE(boxes.texts, QStringList{missingMessage(hidden)});
        QCOMPARE(ini.GetValue(u"S"_s, u"k"_s, QString()), u"v"_s); // reads don't check
        ini.IniFileName(folder.path());
        ini.DeleteSection(u"S"_s);
        QCOMPARE(boxes.texts.size(), 2);
        QCOMPARE(boxes.texts.last(), missingMessage(folder.path()));
    }

    void readsLeaveTheCodeAlone() {
        TempProgramFolder folder;
        const QString path = folder.file(u"config.ini"_s);
        put(path, "[S]\nk=v\n");
        CIniFile ini;
        ini.IniFileName(path);
        ini.GetValue(u"S"_s, u"k"_s, QString());
        QStringList names;
        int count = 0;
        ini.EnumerateSection(u"S"_s, names, count);
        QCOMPARE(ini.LastReturnCode(), 0);
        ini.DeleteKey(u"S"_s, u"k"_s);
        QVERIFY(ini.Success());
        QCOMPARE(ini.GetValue(u"S"_s, u"k"_s, u"gone"_s), u"gone"_s);
        ini.DeleteSection(u"S"_s);
        QVERIFY(ini.Success());
        QCOMPARE(folder.read(u"config.ini"_s), QByteArray());
    }

    void failedWriteClearsSuccess() {
        TempProgramFolder folder;
        const QString path = folder.file(u"config.ini"_s);
        put(path, "");
        CIniFile ini;
        ini.IniFileName(path);
        ini.SetValue(u"S"_s, u"k"_s, u"v"_s);
        QVERIFY(ini.Success());
        ini.SetValue(u"S"_s, u"k"_s, u"two\nlines"_s); // the engine refuses it
        QCOMPARE(ini.LastReturnCode(), 0);
        QVERIFY(!ini.Success());
    }

    void enumerationsNumberFromOne() {
        TempProgramFolder folder;
        const QString path = folder.file(u"config.ini"_s);
        put(path, "[One]\nc=1\na=2\nb=3\n[Two]\n");
        CIniFile ini;
        ini.IniFileName(path);
        QStringList keys{u"stale"_s};
        int count = 99;
        ini.EnumerateSection(u"one"_s, keys, count);
        QCOMPARE(count, 3);
        QCOMPARE(keys.size(), 4);
        QCOMPARE(keys.mid(1), (QStringList{u"c"_s, u"a"_s, u"b"_s}));
        QStringList sections;
        ini.EnumerateAllSections(sections, count);
        QCOMPARE(count, 2);
        QCOMPARE(sections.mid(1), (QStringList{u"One"_s, u"Two"_s}));
        ini.EnumerateSection(u"Two"_s, keys, count);
        QCOMPARE(count, 0);
        QVERIFY(keys.isEmpty());
    }

    void emptyNames() {
        TempProgramFolder folder;
        const QString path = folder.file(u"config.ini"_s);
        // The key list reads "a\0\0b\0", the section list "S\0\0T\0".
        put(path, "[S]\na=1\n=2\nb=3\n[]\n[T]\n");
        CIniFile ini;
        ini.IniFileName(path);
        QStringList names;
        int count = 0;
        ini.EnumerateSection(u"S"_s, names, count);
        QCOMPARE(count, 3);
        QCOMPARE(names.mid(1), (QStringList{u"a"_s, QString(), u"b"_s}));
        ini.EnumerateAllSections(names, count);
        QCOMPARE(count, 2);
        QCOMPARE(names.mid(1), (QStringList{u"S"_s, u"T"_s}));
    }

    void missingSectionIgnoresTheLeftDefault() {
        TempProgramFolder folder;
        const QString path = folder.file(u"config.ini"_s);
        put(path, "");
        CIniFile ini;
        ini.IniFileName(path);
        ini.GetValue(u"S"_s, u"k"_s, u"left behind"_s);
        QStringList names;
        int count = 5;
        ini.EnumerateSection(u"None"_s, names, count);
        QCOMPARE(count, 0);
        QVERIFY(names.isEmpty());
        ini.EnumerateAllSections(names, count);
        QCOMPARE(count, 0);
        QVERIFY(names.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCIniFile)
#include "tst_cinifile.moc"
