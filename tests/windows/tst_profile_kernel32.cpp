// Our private-profile functions against Windows' own (kernel32's, under Wine its
// implementation of them): the same files and calls give the same results, or the difference
// is one we chose, listed below with its reason.
#include "platform/privateprofile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <windows.h>

using namespace Qt::StringLiterals;

namespace {

// What a call gave: its result, the bytes it copied (up to the NULs it wrote) and the file
// after it.
struct Outcome {
    unsigned result = 0;
    QByteArray copied;
    QByteArray file;
    bool operator==(const Outcome&) const = default;
};

QString Show(const Outcome& o) {
    return u"result %1, copied \"%2\", file \"%3\""_s.arg(o.result).arg(
        QString::fromLatin1(o.copied.toPercentEncoding(" =[];'\"")),
        QString::fromLatin1(o.file.toPercentEncoding(" =[];'\"")));
}

// No argument, as a null pointer, apart from the empty text.
std::optional<QByteArray> Null() {
    return std::nullopt;
}
const char* Ptr(const std::optional<QByteArray>& text) {
    return text ? text->constData() : nullptr;
}

using Text = std::optional<QByteArray>;

// One file in a folder of its own: Windows keeps the last file it read in memory, by name.
class Case {
public:
    explicit Case(const Text& content) {
        path_ = QDir::toNativeSeparators(dir_.filePath(u"config.ini"_s)).toLocal8Bit();
        if (content) {
            QFile file(QString::fromLocal8Bit(path_));
            if (file.open(QIODevice::WriteOnly))
                file.write(*content);
        }
    }
    const char* path() const { return path_.constData(); }
    QByteArray bytes() const {
        QFile file(QString::fromLocal8Bit(path_));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : "<none>"_ba;
    }

private:
    QTemporaryDir dir_;
    QByteArray path_;
};

template <typename Get>
Outcome RunGet(Get get, const Text& content, const Text& section, const Text& key, const Text& def,
               unsigned size) {
    const Case file(content);
    QByteArray buffer(int(size) + 4, '#');
    Outcome o;
    o.result = get(Ptr(section), Ptr(key), Ptr(def), buffer.data(), size, file.path());
    // A list's names end in NULs: what was copied is the result's bytes plus the final NUL.
    o.copied = buffer.left(qMin(int(o.result) + 1, int(size)));
    o.file = file.bytes();
    return o;
}

template <typename Write>
Outcome RunWrite(Write write, const Text& content, const Text& section, const Text& key,
                 const Text& value) {
    const Case file(content);
    Outcome o;
    o.result = write(Ptr(section), Ptr(key), Ptr(value), file.path()) ? 1 : 0;
    o.file = file.bytes();
    return o;
}

// The differences we keep, by row: why ours differs from Windows'.
const QHash<QString, QString>& Deliberate() {
    static const QHash<QString, QString> list = {
        {u"write: value in quotes"_s,
         u"a value standing between quotes is written inside one more pair, so it reads back "
         u"whole; Windows writes it bare and reads it back without its quotes"_s},
        {u"write: other lines as they are"_s,
         u"every line the call does not change stays byte for byte as it was, as on Windows; "
         u"Wine writes every key again from what it read (\"key = v \" becomes \"key=v\")"_s},
        {u"key before any section"_s,
         u"lines before the first section belong to no section, so no call finds them; "
         u"Windows reads them as a section with an empty name"_s},
        {u"write: other case"_s,
         u"a key that exists is written with the caller's spelling of its name (the settings' "
         u"own), so a hand-edited \"data source=\" is set right; Windows keeps the file's"_s},
        {u"write: leading blanks"_s,
         u"the value is written as given; Wine drops its leading blanks (both read it back "
         u"without them)"_s},
    };
    return list;
}

// Written as Windows writes it, so that a rewrite gives back the same bytes everywhere.
const QByteArray kWritten = "[Connection String]\r\n"
                            "Data Source=SRV\\SQLEXPRESS\r\n"
                            "Initial Catalog=Gestionale\r\n"
                            "; a comment\r\n"
                            "Password=p=ss\r\n"
                            "[Opzioni_Avanzate]\r\n"
                            "FileName=\"D:\\Backup\\gest.bak\"\r\n"
                            "ARRAY_TEMPO=1|0|\r\n";

const QByteArray kConfig = "[Connection String]\r\n"
                           "Data Source=SRV\\SQLEXPRESS\r\n"
                           "Initial Catalog=Gestionale\r\n"
                           "; a comment\r\n"
                           "Password = p=ss \r\n"
                           "[Opzioni_Avanzate]\r\n"
                           "FileName=\"D:\\Backup\\gest.bak\"\r\n"
                           "ARRAY_TEMPO=1|0|\r\n";

} // namespace

class TestProfileKernel32 : public QObject {
    Q_OBJECT
private slots:
    void get_data() {
        QTest::addColumn<Text>("content");
        QTest::addColumn<Text>("section");
        QTest::addColumn<Text>("key");
        QTest::addColumn<Text>("def");
        QTest::addColumn<unsigned>("size");
        const Text none = Null();
        QTest::newRow("value") << Text(kConfig) << Text("Connection String") << Text("Data Source")
                               << Text("d") << 255u;
        QTest::newRow("names ignore case") << Text(kConfig) << Text("connection string")
                                           << Text("DATA SOURCE") << Text("d") << 255u;
        QTest::newRow("blanks around")
            << Text(kConfig) << Text("Connection String") << Text("Password") << Text("d") << 255u;
        QTest::newRow("quoted value")
            << Text(kConfig) << Text("Opzioni_Avanzate") << Text("FileName") << Text("d") << 255u;
        QTest::newRow("missing key") << Text(kConfig) << Text("Opzioni_Avanzate") << Text("Nope")
                                     << Text("fallback") << 255u;
        QTest::newRow("missing section")
            << Text(kConfig) << Text("Nope") << Text("k") << Text("fallback") << 255u;
        QTest::newRow("missing file") << none << Text("A") << Text("k") << Text("fallback") << 255u;
        QTest::newRow("default with trailing blanks")
            << Text(kConfig) << Text("A") << Text("k") << Text("def  ") << 255u;
        QTest::newRow("null default") << Text(kConfig) << Text("A") << Text("k") << none << 255u;
        QTest::newRow("empty value")
            << Text("[A]\r\nk=\r\n"_ba) << Text("A") << Text("k") << Text("d") << 255u;
        QTest::newRow("value cut to buffer") << Text(kConfig) << Text("Connection String")
                                             << Text("Initial Catalog") << Text("d") << 5u;
        QTest::newRow("buffer of one") << Text(kConfig) << Text("Connection String")
                                       << Text("Initial Catalog") << Text("d") << 1u;
        QTest::newRow("key list") << Text(kConfig) << Text("Connection String") << none << Text("d")
                                  << 255u;
        QTest::newRow("key list cut")
            << Text(kConfig) << Text("Connection String") << none << Text("d") << 20u;
        QTest::newRow("section list") << Text(kConfig) << none << none << Text("d") << 255u;
        QTest::newRow("quotes") << Text("[A]\r\nk=\"v\"\r\n"_ba) << Text("A") << Text("k")
                                << Text("d") << 255u;
        QTest::newRow("single quotes")
            << Text("[A]\r\nk='v'\r\n"_ba) << Text("A") << Text("k") << Text("d") << 255u;
        QTest::newRow("unmatched quotes")
            << Text("[A]\r\nk=\"v'\r\n"_ba) << Text("A") << Text("k") << Text("d") << 255u;
        QTest::newRow("quoted blanks")
            << Text("[A]\r\nk=\" v \"\r\n"_ba) << Text("A") << Text("k") << Text("d") << 255u;
        QTest::newRow("LF and CR line ends")
            << Text("[A]\nk=1\r[B]\rk=2\n"_ba) << Text("B") << Text("k") << Text("d") << 255u;
        QTest::newRow("blanks in section line")
            << Text("  [ A ]  \r\nk=1\r\n"_ba) << Text("A") << Text("k") << Text("d") << 255u;
        QTest::newRow("line without =") << Text("[A]\r\nlonely\r\nk=1\r\n"_ba) << Text("A")
                                        << Text("lonely") << Text("d") << 255u;
        QTest::newRow("first of two sections") << Text("[A]\r\nk=1\r\n[A]\r\nk=2\r\n"_ba)
                                               << Text("A") << Text("k") << Text("d") << 255u;
        QTest::newRow("Windows-1252 value") << Text("[A]\r\nCity=Citt\xe0\r\n"_ba) << Text("A")
                                            << Text("City") << Text("d") << 255u;
        QTest::newRow("UTF-16 file") << Text("\xff\xfe[\0A\0]\0\r\0\n\0k\0=\0\xe0\0\r\0\n\0"_ba)
                                     << Text("A") << Text("k") << Text("d") << 255u;
        QTest::newRow("key before any section")
            << Text("k=0\r\n[A]\r\nk=1\r\n"_ba) << Text("") << Text("k") << Text("d") << 255u;
    }
    void get() {
        QFETCH(Text, content);
        QFETCH(Text, section);
        QFETCH(Text, key);
        QFETCH(Text, def);
        QFETCH(unsigned, size);
        const Outcome windows = RunGet(
            [](const char* s, const char* k, const char* d, char* b, unsigned n, const char* f) {
                return unsigned(::GetPrivateProfileStringA(s, k, d, b, DWORD(n), f));
            },
            content, section, key, def, size);
        const Outcome ours =
            RunGet(vestrel::GetPrivateProfileStringA, content, section, key, def, size);
        compare(ours, windows);
    }

    void write_data() {
        QTest::addColumn<Text>("content");
        QTest::addColumn<Text>("section");
        QTest::addColumn<Text>("key");
        QTest::addColumn<Text>("value");
        const Text none = Null();
        QTest::newRow("write: replace") << Text(kWritten) << Text("Connection String")
                                        << Text("Initial Catalog") << Text("Altro");
        QTest::newRow("write: other case") << Text(kWritten) << Text("CONNECTION STRING")
                                           << Text("initial catalog") << Text("Altro");
        QTest::newRow("write: new key")
            << Text(kWritten) << Text("Connection String") << Text("User ID") << Text("sa");
        QTest::newRow("write: new section")
            << Text(kWritten) << Text("Nuova") << Text("k") << Text("v");
        QTest::newRow("write: new file") << none << Text("A") << Text("k") << Text("v");
        QTest::newRow("write: remove key")
            << Text(kWritten) << Text("Connection String") << Text("Password") << none;
        QTest::newRow("write: remove section")
            << Text(kWritten) << Text("Connection String") << none << none;
        QTest::newRow("write: empty value")
            << Text(kWritten) << Text("Opzioni_Avanzate") << Text("ARRAY_TEMPO") << Text("");
        QTest::newRow("write: other lines as they are")
            << Text(kConfig) << Text("Connection String") << Text("Initial Catalog")
            << Text("Altro");
        QTest::newRow("write: leading blanks")
            << Text(kWritten) << Text("Opzioni_Avanzate") << Text("ARRAY_TEMPO") << Text(" x ");
        QTest::newRow("write: value in quotes") << Text(kWritten) << Text("Opzioni_Avanzate")
                                                << Text("FileName") << Text("\"D:\\b.bak\"");
        QTest::newRow("write: LF file")
            << Text("[A]\nk=1\n[B]\nk=2\n"_ba) << Text("A") << Text("k") << Text("3");
        QTest::newRow("write: Windows-1252")
            << Text("[A]\r\nk=1\r\n"_ba) << Text("A") << Text("City") << Text("Citt\xe0");
        QTest::newRow("write: UTF-16 file")
            << Text("\xff\xfe[\0A\0]\0\r\0\n\0k\0=\0\xe0\0\r\0\n\0"_ba) << Text("A") << Text("k")
            << Text("\xe8");
        QTest::newRow("write: no section name") << Text(kWritten) << none << Text("k") << Text("v");
    }
    void write() {
        QFETCH(Text, content);
        QFETCH(Text, section);
        QFETCH(Text, key);
        QFETCH(Text, value);
        const Outcome windows =
            RunWrite([](const char* s, const char* k, const char* v,
                        const char* f) { return ::WritePrivateProfileStringA(s, k, v, f) != 0; },
                     content, section, key, value);
        const Outcome ours = RunWrite(
            [](const char* s, const char* k, const char* v, const char* f) {
                return vestrel::WritePrivateProfileStringA(s, k, v, f) != 0;
            },
            content, section, key, value);
        compare(ours, windows);
    }

private:
    // The same outcome, or a difference that is listed; a listed one must still differ, so
    // the list says what the program does today.
    void compare(const Outcome& ours, const Outcome& windows) {
        const QString row = QString::fromUtf8(QTest::currentDataTag());
        const auto deliberate = Deliberate().constFind(row);
        if (deliberate == Deliberate().constEnd()) {
            QVERIFY2(ours == windows, qPrintable(u"\n    ours:    "_s + Show(ours) +
                                                 u"\n    Windows: "_s + Show(windows)));
            return;
        }
        QVERIFY2(!(ours == windows),
                 qPrintable(u"listed as a difference, but the same: "_s + Show(ours)));
        qInfo("deliberate difference (%s):\n    ours:    %s\n    Windows: %s",
              qPrintable(*deliberate), qPrintable(Show(ours)), qPrintable(Show(windows)));
    }
};

QTEST_GUILESS_MAIN(TestProfileKernel32)
#include "tst_profile_kernel32.moc"
