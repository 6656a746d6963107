#include "platform/privateprofile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// A text as the caller passes it: in the system code page, the ANSI one on Windows, UTF-8 in
// the tests' locale elsewhere.
QByteArray Sys(const QString& text) {
#ifdef Q_OS_WIN
    return text.toLocal8Bit(); // the ANSI code page (CP_ACP)
#else
    return text.toUtf8();
#endif
}

#ifndef Q_OS_WIN
mode_t modeOf(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 ? (st.st_mode & 0777) : 0;
}
#endif

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
        // A default's trailing blanks are left out, as Windows does; leading ones stay.
        r = get("A", "missing", " dflt \t ", ini.path());
        QCOMPARE(r.count, 5u);
        QCOMPARE(r.text, " dflt"_ba);
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

#ifndef Q_OS_WIN
    void ownerOnlyPermissions() {
        IniFixture ini;
        QVERIFY(WritePrivateProfileStringA("A", "Password", "secret", ini.path()));
        QCOMPARE(modeOf(ini.path()), mode_t(0600));
        // Also when it replaces a file that others could read.
        QVERIFY(chmod(ini.path(), 0644) == 0);
        QVERIFY(WritePrivateProfileStringA("A", "Password", "other", ini.path()));
        QCOMPARE(modeOf(ini.path()), mode_t(0600));
    }
#endif

#ifndef Q_OS_WIN
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
#endif

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

#ifndef Q_OS_WIN
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
#endif

    // Files as the Windows edition writes them: the ANSI code page or Unicode. Values come
    // back in the system code page (UTF-8 here, the ANSI code page on Windows) and a write
    // keeps the file's encoding, every other byte as it was.
    void encodings_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("expected"); // after Citt\u00e0 is written for City
        const auto utf16 = [](const QString& text, bool little) {
            QByteArray bytes = little ? "\xFF\xFE"_ba : "\xFE\xFF"_ba;
            for (const QChar c : text) {
                const char hi = char(c.unicode() >> 8);
                const char lo = char(c.unicode() & 0xFF);
                bytes += little ? lo : hi;
                bytes += little ? hi : lo;
            }
            return bytes;
        };
        const QString before = u"[A]\r\nName=Contabilit\u00e0 Societ\u00e0 \u20ac\r\nCity=x\r\n"_s;
        const QString after =
            u"[A]\r\nName=Contabilit\u00e0 Societ\u00e0 \u20ac\r\nCity=Citt\u00e0\r\n"_s;
        QTest::newRow("Windows-1252")
            << "[A]\r\nName=Contabilit\xE0 Societ\xE0 \x80\r\nCity=x\r\n"_ba
            << "[A]\r\nName=Contabilit\xE0 Societ\xE0 \x80\r\nCity=Citt\xE0\r\n"_ba;
        QTest::newRow("UTF-8") << before.toUtf8() << after.toUtf8();
        QTest::newRow("UTF-8 with BOM")
            << "\xEF\xBB\xBF"_ba + before.toUtf8() << "\xEF\xBB\xBF"_ba + after.toUtf8();
        QTest::newRow("UTF-16 LE") << utf16(before, true) << utf16(after, true);
        QTest::newRow("UTF-16 BE") << utf16(before, false) << utf16(after, false);
    }
    void encodings() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, expected);
        IniFixture ini;
        ini.put(file);
        QCOMPARE(value("A", "Name", ini.path()), Sys(u"Contabilit\u00e0 Societ\u00e0 \u20ac"_s));
        QCOMPARE(get(nullptr, nullptr, "", ini.path()).text, "A\0"_ba);
        QVERIFY(
            WritePrivateProfileStringA("A", "City", Sys(u"Citt\u00e0"_s).constData(), ini.path()));
        QCOMPARE(ini.bytes(), expected);
        QCOMPARE(value("A", "City", ini.path()), Sys(u"Citt\u00e0"_s));
    }

    // Windows-1252 has no room for most of Unicode: such a write is refused, not changed.
    void characterTheFileCannotHold() {
#ifdef Q_OS_WIN
        QSKIP("the caller's text is in the ANSI code page here, which every file encoding "
              "the program reads can hold");
#endif
        IniFixture ini;
        const QByteArray original = "[A]\r\nName=Societ\xE0\r\n";
        ini.put(original);
        QCOMPARE(WritePrivateProfileStringA("A", "City",
                                            "\xC5\x81\xC3\xB3"
                                            "d\xC5\xBA",
                                            ini.path()),
                 0);
        QCOMPARE(PrivateProfileLastError(), ProfileError::Unencodable);
        QCOMPARE(ini.bytes(), original);
        // Text that is no UTF-8 at all is no text of the system code page.
        QCOMPARE(WritePrivateProfileStringA("A", "City", "Citt\xE0", ini.path()), 0);
        QCOMPARE(PrivateProfileLastError(), ProfileError::InvalidText);
        QVERIFY(WritePrivateProfileStringA("A", "City",
                                           "\xE2\x80\x9C"
                                           "ok\xE2\x80\x9D",
                                           ini.path()));
        QCOMPARE(PrivateProfileLastError(), ProfileError::None);
        QCOMPARE(ini.bytes(), "[A]\r\nName=Societ\xE0\r\nCity=\x93ok\x94\r\n"_ba);
    }

    void newFileInTheSystemCodePage() {
        IniFixture ini;
#ifdef Q_OS_WIN
        // The ANSI code page, as Windows' own functions write a new file.
        QVERIFY(
            WritePrivateProfileStringA("A", "k", Sys(u"Societ\u00e0"_s).constData(), ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\nk="_ba + Sys(u"Societ\u00e0"_s) + "\r\n");
        ini.put("[A]\r\nk=plain\r\n");
        QVERIFY(WritePrivateProfileStringA("A", "k", Sys(u"\u00c0 bient\u00f4t"_s).constData(),
                                           ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\nk="_ba + Sys(u"\u00c0 bient\u00f4t"_s) + "\r\n");
        return;
#endif
        QVERIFY(WritePrivateProfileStringA("A", "k", "Societ\xC3\xA0", ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\nk=Societ\xC3\xA0\r\n"_ba);
        // ASCII alone says nothing about the code page: the system's is taken.
        ini.put("[A]\r\nk=plain\r\n");
        QVERIFY(WritePrivateProfileStringA("A", "k",
                                           "\xC5\x81"
                                           "\xC3\xB3"
                                           "d\xC5\xBA",
                                           ini.path()));
        QCOMPARE(value("A", "k", ini.path()), "\xC5\x81\xC3\xB3"
                                              "d\xC5\xBA"_ba);
    }

    void quotes_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("double") << "k=\"secret\""_ba
                                << "secret"_ba;
        QTest::newRow("single") << "k='1'"_ba
                                << "1"_ba;
        QTest::newRow("blanks outside") << "k=  \"a b\"  "_ba
                                        << "a b"_ba;
        QTest::newRow("blanks inside") << "k=\" a \""_ba
                                       << " a "_ba;
        QTest::newRow("one pair only") << "k=\"\"x\"\""_ba
                                       << "\"x\""_ba;
        QTest::newRow("empty") << "k=\"\""_ba
                               << ""_ba;
        QTest::newRow("not matching") << "k=\"x'"_ba
                                      << "\"x'"_ba;
        QTest::newRow("lone quote") << "k=\""_ba
                                    << "\""_ba;
        QTest::newRow("inside only") << "k=a\"b\""_ba
                                     << "a\"b\""_ba;
    }
    void quotes() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, expected);
        IniFixture ini;
        ini.put("[A]\r\n" + line + "\r\n");
        QCOMPARE(value("A", "k", ini.path()), expected);
    }

    // A value between matching quotes is written so that it reads back whole.
    void quotedValueWrittenWhole() {
        IniFixture ini;
        for (const char* text : {"\"secret\"", "'x'", " \"a\" ", "\"", "plain"}) {
            QVERIFY(WritePrivateProfileStringA("A", "k", text, ini.path()));
            const QByteArray trimmed = QByteArray(text).trimmed();
            QCOMPARE(value("A", "k", ini.path()),
                     trimmed.size() > 1 && trimmed.front() == trimmed.back() ? QByteArray(text)
                                                                             : trimmed);
        }
        QVERIFY(WritePrivateProfileStringA("A", "k", "\"secret\"", ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\nk=\"\"secret\"\"\r\n"_ba);
    }

    // CR, VT and FF are trimmed like blanks, and a CR alone ends a line.
    void controlBlanksAndLoneCr() {
        IniFixture ini;
        ini.put("[A]\r\ncrcrlf=1\r\r\nlone=2\rvt=\v3\f\r\n\v[B]\f\r\nk=4");
        QCOMPARE(value("A", "crcrlf", ini.path()), "1"_ba);
        QCOMPARE(value("A", "lone", ini.path()), "2"_ba);
        QCOMPARE(value("A", "vt", ini.path()), "3"_ba);
        QCOMPARE(value("B", "k", ini.path()), "4"_ba);
        QCOMPARE(get("A", nullptr, "", ini.path()).text, "crcrlf\0lone\0vt\0"_ba);
        QVERIFY(WritePrivateProfileStringA("A", "lone", "9", ini.path()));
        QCOMPARE(ini.bytes(), "[A]\r\ncrcrlf=1\r\n\r\nlone=9\r\nvt=\v3\f\r\n\v[B]\f\r\nk=4\r\n"_ba);
    }

#ifndef Q_OS_WIN
    // A config.ini the user may write in a folder the user may not (a system folder): the file
    // is rewritten in place, flushed, its mode owner-only; where the folder allows it, a new
    // file replaces the old one as before.
    void inPlaceWhereTheFolderIsNotWritable() {
        IniFixture ini;
        ini.put("[A]\r\nk=old\r\nother=1\r\n");
        struct stat before {};
        QVERIFY(stat(ini.path(), &before) == 0);
        const QByteArray folder = ini.folder().toLocal8Bit();
        QVERIFY(chmod(ini.path(), 0644) == 0);
        // Root writes everywhere: the write is made as an ordinary user then.
        const bool asRoot = geteuid() == 0;
        if (asRoot)
            QVERIFY(chown(ini.path(), 65534, 65534) == 0);
        QVERIFY(chmod(folder.constData(), 0555) == 0);
        if (asRoot)
            QVERIFY(seteuid(65534) == 0);
        const int inPlace = WritePrivateProfileStringA("A", "k", "new", ini.path());
        const ProfileError why = PrivateProfileLastError();
        const int removed = WritePrivateProfileStringA("A", "other", nullptr, ini.path());
        // Without the file's own permission nothing is written, and the reason is given.
        QVERIFY(chmod(ini.path(), 0400) == 0);
        const int denied = WritePrivateProfileStringA("A", "k", "again", ini.path());
        const ProfileError deniedWhy = PrivateProfileLastError();
        QVERIFY(chmod(ini.path(), 0600) == 0);
        if (asRoot)
            QVERIFY(seteuid(0) == 0);
        QVERIFY(chmod(folder.constData(), 0700) == 0);
        QCOMPARE(inPlace, 1);
        QCOMPARE(why, ProfileError::None);
        QCOMPARE(removed, 1);
        QCOMPARE(denied, 0);
        QCOMPARE(deniedWhy, ProfileError::AccessDenied);
        QCOMPARE(ini.bytes(), "[A]\r\nk=new\r\n"_ba);
        struct stat after {};
        QVERIFY(stat(ini.path(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino); // the same file
        QCOMPARE(modeOf(ini.path()), mode_t(0600));
        QCOMPARE(QDir(ini.folder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"config.ini"_s});
        // A writable folder: the atomic replacement, a new file.
        QVERIFY(WritePrivateProfileStringA("A", "k", "newer", ini.path()));
        QVERIFY(stat(ini.path(), &after) == 0);
        QVERIFY(after.st_ino != before.st_ino);
    }
#endif

#ifndef Q_OS_WIN
    // A rewrite in place that fails half-way (a full disk) puts the old content back.
    void failedInPlaceWriteKeepsOldContent() {
        IniFixture ini;
        const QByteArray original = "[A]\r\nk=old\r\n";
        ini.put(original);
        const QByteArray folder = ini.folder().toLocal8Bit();
        const bool asRoot = geteuid() == 0;
        if (asRoot)
            QVERIFY(chown(ini.path(), 65534, 65534) == 0);
        QVERIFY(chmod(folder.constData(), 0555) == 0);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 64;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        if (asRoot)
            QVERIFY(seteuid(65534) == 0);
        const int result =
            WritePrivateProfileStringA("A", "k", QByteArray(200, 'v').constData(), ini.path());
        if (asRoot)
            QVERIFY(seteuid(0) == 0);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &saved) == 0);
        QVERIFY(chmod(folder.constData(), 0700) == 0);
        QCOMPARE(result, 0);
        QCOMPARE(PrivateProfileLastError(), ProfileError::WriteFailed);
        QCOMPARE(ini.bytes(), original);
    }
#endif

#ifdef Q_OS_WIN
    // A config.ini with the read-only attribute is neither replaced nor rewritten in place.
    void readOnlyAttributeRefusesWrites() {
        IniFixture ini;
        const QByteArray original = "[A]\r\nk=old\r\n";
        ini.put(original);
        const QString path = QString::fromLocal8Bit(ini.path());
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        // Wine keeps the attribute in the file's mode, which does not stop root.
        if (QFile probe(path); probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            probe.close();
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QSKIP("the read-only attribute is not enforced here (Wine run by root)");
        }
        const int result = WritePrivateProfileStringA("A", "k", "new", ini.path());
        const ProfileError why = PrivateProfileLastError();
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(result, 0);
        QCOMPARE(why, ProfileError::AccessDenied);
        QCOMPARE(ini.bytes(), original);
        QCOMPARE(QDir(ini.folder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"config.ini"_s});
    }
#endif

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
