#include "platform/privateprofile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

// One INI file in a fresh folder, read and written as bytes.
class IniFixture {
public:
    IniFixture() : path_(dir_.filePath(u"config.ini"_s).toLocal8Bit()) {}
    const char* path() const { return path_.constData(); }
    QString folder() const { return dir_.path(); }
    void put(const QByteArray& bytes) const {
        QFile file(QString::fromLocal8Bit(path_));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray bytes() const {
        QFile file(QString::fromLocal8Bit(path_));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
    QByteArray path_;
};

struct Result {
    unsigned count;
    QByteArray text; // the copied characters, without the final NUL
};

Result get(const char* section, const char* key, const char* def, const char* file,
           unsigned size = 255) {
    QByteArray buffer(int(size) + 8, '#');
    const unsigned n = GetPrivateProfileStringA(section, key, def, buffer.data(), size, file);
    return {n, buffer.left(int(n))};
}

QByteArray value(const char* section, const char* key, const char* file) {
    return get(section, key, "<none>", file).text;
}

mode_t modeOf(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 ? (st.st_mode & 0777) : 0;
}

} // namespace

class TestPrivateProfile : public QObject {
    Q_OBJECT
private slots:
    void valueOrDefault() {
        IniFixture ini;
        ini.put("[A]\r\nk=v\r\n");
        Result r = get("A", "k", "d", ini.path());
        QCOMPARE(r.count, 1u);
        QCOMPARE(r.text, "v"_ba);
        r = get("A", "missing", "dflt", ini.path());
        QCOMPARE(r.count, 4u);
        QCOMPARE(r.text, "dflt"_ba);
        QCOMPARE(get("B", "k", "dflt", ini.path()).text, "dflt"_ba);
        QCOMPARE(get("A", "missing", nullptr, ini.path()).count, 0u);
        // No file at all.
        const QByteArray none = (ini.folder() + u"/absent.ini"_s).toLocal8Bit();
        QCOMPARE(get("A", "k", "dflt", none.constData()).text, "dflt"_ba);
        // The value written as empty is a value, not a missing key.
        ini.put("[A]\nk=\n");
        r = get("A", "k", "dflt", ini.path());
        QCOMPARE(r.count, 0u);
    }

    void bufferEndsWithNul() {
        IniFixture ini;
        ini.put("[A]\nk=abc\n");
        QByteArray buffer(16, '#');
        QCOMPARE(GetPrivateProfileStringA("A", "k", "", buffer.data(), 16, ini.path()), 3u);
        QCOMPARE(buffer.at(3), '\0');
    }

    void valueCutToBuffer() {
        IniFixture ini;
        ini.put("[A]\nk=" + QByteArray(300, 'x') + "\n");
        Result r = get("A", "k", "", ini.path(), 255);
        QCOMPARE(r.count, 254u);
        QCOMPARE(r.text, QByteArray(254, 'x'));
        r = get("A", "k", "", ini.path(), 1);
        QCOMPARE(r.count, 0u);
        QCOMPARE(get("A", "k", "", ini.path(), 0).count, 0u);
    }

    void keyAndSectionLists() {
        IniFixture ini;
        ini.put("; head\n[One]\na=1\n; note\nb=2\n\n[Two]\nc=3\n[]\n");
        Result keys = get("One", nullptr, "", ini.path());
        QCOMPARE(keys.text, "a\0b\0"_ba);
        QCOMPARE(keys.count, 4u);
        Result sections = get(nullptr, nullptr, "", ini.path());
        QCOMPARE(sections.text, "One\0Two\0\0"_ba);
        QCOMPARE(sections.count, 9u);
        // A missing section falls back to the default, with no NUL after it.
        QCOMPARE(get("None", nullptr, "dflt", ini.path()).text, "dflt"_ba);
        // An empty file has no sections.
        ini.put("");
        QCOMPARE(get(nullptr, nullptr, "", ini.path()).count, 0u);
    }

    void listCutToBuffer() {
        IniFixture ini;
        ini.put("[S]\nalpha=1\nbeta=2\n");
        // "alpha\0beta\0" is 11 characters; with the final NUL it needs 12.
        QCOMPARE(get("S", nullptr, "", ini.path(), 12).count, 11u);
        QByteArray buffer(16, '#');
        QCOMPARE(GetPrivateProfileStringA("S", nullptr, "", buffer.data(), 11, ini.path()), 9u);
        QCOMPARE(buffer.left(11), "alpha\0bet\0\0"_ba);
        QCOMPARE(buffer.at(11), '#');
    }

    void namesIgnoreCaseAndBlanks() {
        IniFixture ini;
        ini.put("[ Connection String ]\n  Data Source  =  srv01  \n");
        QCOMPARE(value("connection string", "DATA SOURCE", ini.path()), "srv01"_ba);
        QCOMPARE(value(" CONNECTION STRING ", " data source ", ini.path()), "srv01"_ba);
        QVERIFY(
            WritePrivateProfileStringA("CONNECTION STRING", "data source", "srv02", ini.path()));
        QCOMPARE(ini.bytes(), "[ Connection String ]\r\ndata source=srv02\r\n"_ba);
    }

    void writeCreatesAndKeepsOrder() {
        IniFixture ini;
        QVERIFY(WritePrivateProfileStringA("A", "x", "1", ini.path()));
        QVERIFY(WritePrivateProfileStringA("B", "y", "2", ini.path()));
        QVERIFY(WritePrivateProfileStringA("A", "z", "3", ini.path()));
        QVERIFY(WritePrivateProfileStringA("A", "x", "rewritten", ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\nx=rewritten\r\nz=3\r\n[B]\r\ny=2\r\n"_ba);
    }

    void newKeyBeforeBlankLines() {
        IniFixture ini;
        ini.put("[A]\na=1\n\n[B]\nb=2");
        QVERIFY(WritePrivateProfileStringA("A", "n", "new", ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\na=1\r\nn=new\r\n\r\n[B]\r\nb=2\r\n"_ba);
    }

    void commentsAndUnknownLinesKept() {
        IniFixture ini;
        ini.put("; made by hand\r\n[A]\r\n;k=commented\r\nnot a key\r\nk=old\r\n");
        QCOMPARE(value("A", ";k", ini.path()), "<none>"_ba);
        QVERIFY(WritePrivateProfileStringA("A", "k", "new", ini.path()));
        QCOMPARE(ini.bytes(), "; made by hand\r\n[A]\r\n;k=commented\r\nnot a key\r\nk=new\r\n"_ba);
    }

    void removal() {
        IniFixture ini;
        ini.put("[A]\na=1\nb=2\n[B]\nc=3\n[C]\nd=4\n");
        QVERIFY(WritePrivateProfileStringA("a", "A", nullptr, ini.path()));
        QCOMPARE(value("A", "a", ini.path()), "<none>"_ba);
        QCOMPARE(value("A", "b", ini.path()), "2"_ba);
        QVERIFY(WritePrivateProfileStringA("b", nullptr, nullptr, ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\nb=2\r\n[C]\r\nd=4\r\n"_ba);
        // A key or section written twice by hand is gone after one removal.
        ini.put("[A]\nk=1\nk=2\n[B]\nx=1\n[A]\nk=3\n[b]\ny=2\n");
        QVERIFY(WritePrivateProfileStringA("A", "k", nullptr, ini.path()));
        QCOMPARE(value("A", "k", ini.path()), "<none>"_ba);
        QVERIFY(WritePrivateProfileStringA("B", nullptr, nullptr, ini.path()));
        QCOMPARE(value("B", "y", ini.path()), "<none>"_ba);
        QCOMPARE(ini.bytes(), "[A]\r\n[A]\r\nk=3\r\n"_ba);
        ini.put("[A]\r\nb=2\r\n[C]\r\nd=4\r\n");
        // Removing what is not there succeeds and changes nothing.
        QVERIFY(WritePrivateProfileStringA("Z", nullptr, nullptr, ini.path()));
        QVERIFY(WritePrivateProfileStringA("A", "zz", nullptr, ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\nb=2\r\n[C]\r\nd=4\r\n"_ba);
    }

    void lineEndsAndByteOrderMark() {
        IniFixture ini;
        ini.put("\xEF\xBB\xBF[A]\nlf=1\r\ncrlf=2\r\nlast=3");
        QCOMPARE(value("A", "lf", ini.path()), "1"_ba);
        QCOMPARE(value("A", "crlf", ini.path()), "2"_ba);
        QCOMPARE(value("A", "last", ini.path()), "3"_ba);
        QCOMPARE(get(nullptr, nullptr, "", ini.path()).text, "A\0"_ba);
        QVERIFY(WritePrivateProfileStringA("A", "lf", "9", ini.path()));
        QCOMPARE(ini.bytes(), "\xEF\xBB\xBF[A]\r\nlf=9\r\ncrlf=2\r\nlast=3\r\n"_ba);
    }

    void roundTripOfAHandWrittenConfig() {
        IniFixture ini;
        const QByteArray original = "[Connection String]\r\n"
                                    "data source=SRV\\SQLEXPRESS\r\n"
                                    "Initial Catalog=Gestionale\r\n"
                                    "USER ID=sa\r\n"
                                    "Password=p=ss;word\r\n"
                                    "Integrated Security=0\r\n"
                                    "[Opzioni_Avanzate]\r\n"
                                    "FileName=D:\\Backup\\gest.bak\r\n"
                                    "ARRAY_TEMPO=1|0|\r\n";
        ini.put(original);
        QCOMPARE(value("Connection String", "Data Source", ini.path()), "SRV\\SQLEXPRESS"_ba);
        QCOMPARE(value("Connection String", "User ID", ini.path()), "sa"_ba);
        QCOMPARE(value("Connection String", "Password", ini.path()), "p=ss;word"_ba);
        QCOMPARE(value("Opzioni_Avanzate", "FileName", ini.path()), "D:\\Backup\\gest.bak"_ba);
        // Rewriting every value as it was gives back the same bytes.
        const char* keys[][2] = {{"Connection String", "Data Source"},
                                 {"Connection String", "Initial Catalog"},
                                 {"Connection String", "User ID"},
                                 {"Connection String", "Password"},
                                 {"Connection String", "Integrated Security"},
                                 {"Opzioni_Avanzate", "FileName"},
                                 {"Opzioni_Avanzate", "ARRAY_TEMPO"}};
        QByteArray expected = original;
        for (const auto& k : keys) {
            const QByteArray v = value(k[0], k[1], ini.path());
            QVERIFY(WritePrivateProfileStringA(k[0], k[1], v.constData(), ini.path()));
        }
        expected.replace("data source=", "Data Source=").replace("USER ID=", "User ID=");
        QCOMPARE(ini.bytes(), expected);
    }

    void ownerOnlyPermissions() {
        IniFixture ini;
        QVERIFY(WritePrivateProfileStringA("A", "Password", "secret", ini.path()));
        QCOMPARE(modeOf(ini.path()), mode_t(0600));
        // Also when it replaces a file that others could read.
        QVERIFY(chmod(ini.path(), 0644) == 0);
        QVERIFY(WritePrivateProfileStringA("A", "Password", "other", ini.path()));
        QCOMPARE(modeOf(ini.path()), mode_t(0600));
    }

    void failedWriteKeepsOldFile() {
        IniFixture ini;
        const QByteArray original = "[A]\r\nk=old\r\n";
        ini.put(original);
        // A write larger than the process may write fails like a full disk would.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 64;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const int result =
            WritePrivateProfileStringA("A", "k", QByteArray(200, 'v').constData(), ini.path());
        QVERIFY(setrlimit(RLIMIT_FSIZE, &saved) == 0);
        QCOMPARE(result, 0);
        QCOMPARE(ini.bytes(), original);
        // No temporary file is left behind.
        QCOMPARE(QDir(ini.folder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"config.ini"_s});
    }

    void failedWritesReturnZero() {
        IniFixture ini;
        const QByteArray inMissingFolder =
            (ini.folder() + u"/no/such/folder/x.ini"_s).toLocal8Bit();
        QCOMPARE(WritePrivateProfileStringA("A", "k", "v", inMissingFolder.constData()), 0);
        // The target is a folder.
        QVERIFY(QDir(ini.folder()).mkdir(u"sub.ini"_s));
        const QByteArray folder = (ini.folder() + u"/sub.ini"_s).toLocal8Bit();
        QCOMPARE(WritePrivateProfileStringA("A", "k", "v", folder.constData()), 0);
        QVERIFY(QFileInfo(QString::fromLocal8Bit(folder)).isDir());
        // Texts that would break the lines are refused and leave the file alone.
        ini.put("[A]\r\nk=v\r\n");
        QCOMPARE(WritePrivateProfileStringA("A", "k", "two\nlines", ini.path()), 0);
        QCOMPARE(WritePrivateProfileStringA("A]", "k", "v", ini.path()), 0);
        QCOMPARE(WritePrivateProfileStringA("A", "k=x", "v", ini.path()), 0);
        QCOMPARE(WritePrivateProfileStringA(nullptr, "k", "v", ini.path()), 0);
        QCOMPARE(ini.bytes(), "[A]\r\nk=v\r\n"_ba);
    }

    // A config.ini that is there but cannot be read (someone else's, write-only) is not
    // replaced by a file that holds only the key being written.
    void anUnreadableFileIsNotReplaced() {
        IniFixture ini;
        const QByteArray original = "[A]\r\nk=v\r\nPassword=old\r\n";
        ini.put(original);
        QVERIFY(chmod(ini.path(), 0222) == 0);
        // Root reads every file: the write is made as an ordinary user then.
        const bool asRoot = geteuid() == 0;
        if (asRoot) {
            QVERIFY(chmod(ini.folder().toLocal8Bit().constData(), 0777) == 0);
            QVERIFY(seteuid(65534) == 0);
        }
        const int result = WritePrivateProfileStringA("A", "Password", "new", ini.path());
        if (asRoot)
            QVERIFY(seteuid(0) == 0);
        QCOMPARE(result, 0);
        QVERIFY(chmod(ini.path(), 0600) == 0);
        QCOMPARE(ini.bytes(), original);
    }

    void noCaching() {
        IniFixture ini;
        ini.put("[A]\nk=1\n");
        QCOMPARE(value("A", "k", ini.path()), "1"_ba);
        ini.put("[A]\nk=2\n");
        QCOMPARE(value("A", "k", ini.path()), "2"_ba);
    }
};

QTEST_GUILESS_MAIN(TestPrivateProfile)
#include "tst_privateprofile.moc"
