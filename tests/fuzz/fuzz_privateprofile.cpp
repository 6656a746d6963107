// libFuzzer target for the INI engine: the input is an INI file (in any encoding: UTF-16 with
// either byte order mark, UTF-8 with or without one, Windows-1252) followed by the names and
// the value of one write. Built apart from the normal build with `make fuzz`.
#include "platform/privateprofile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArray Trimmed(QByteArray text) {
    while (!text.isEmpty() && IsBlank(text.front()))
        text.remove(0, 1);
    while (!text.isEmpty() && IsBlank(text.back()))
        text.chop(1);
    return text;
}

// What a written value reads back as: a value between matching quotes is written inside one
// more pair and comes back whole; any other comes back without its blanks.
QByteArray ReadBack(const QByteArray& value) {
    const QByteArray trimmed = Trimmed(value);
    const bool quoted = trimmed.size() >= 2 &&
                        (trimmed.front() == '"' || trimmed.front() == '\'') &&
                        trimmed.back() == trimmed.front();
    return quoted ? value : trimmed;
}

QByteArray ByteOrderMark(const QByteArray& file) {
    for (const char* bom : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"})
        if (file.startsWith(bom))
            return bom;
    return {};
}

QByteArray FileBytes(const QByteArray& path) {
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Reads with every kind of call and checks the results against the buffer size.
void ReadAll(const char* section, const char* key, const char* file) {
    for (const unsigned size : {0u, 1u, 3u, 255u}) {
        char buffer[256];
        std::memset(buffer, '#', sizeof buffer);
        for (const int kind : {0, 1, 2}) {
            const unsigned n = vestrel::GetPrivateProfileStringA(kind == 2 ? nullptr : section,
                                                                 kind == 0 ? key : nullptr, "dflt",
                                                                 buffer, size, file);
            if (size == 0) {
                Check(n == 0);
                continue;
            }
            Check(n < size);
            Check(buffer[n] == '\0');
            Check(buffer[size - 1 < 255 ? size : 255] == '#' || size >= 255);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In memory where there is such a folder: every write ends with a sync to the disk.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/vestrel-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/vestrel-fuzz-XXXXXX"));
    static const QByteArray path = dir.filePath(QStringLiteral("fuzz.ini")).toLocal8Bit();

    // Input layout: file bytes, then "\x01" section "\x01" key "\x01" value.
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<QByteArray> parts = input.split('\x01');
    while (parts.size() < 4)
        parts.append(QByteArray());
    for (qsizetype i = 1; i < 4; ++i)
        parts[i].replace('\0', "");
    const QByteArray& section = parts[1];
    const QByteArray& key = parts[2];
    const QByteArray& value = parts[3];

    {
        QFile file(QString::fromLocal8Bit(path));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(parts[0]);
    }
    ReadAll(section.constData(), key.constData(), path.constData());

    const int written = vestrel::WritePrivateProfileStringA(section.constData(), key.constData(),
                                                            value.constData(), path.constData());
    if (written) {
        // What was written reads back, cut to the buffer like any value.
        char buffer[1024];
        const unsigned n =
            vestrel::GetPrivateProfileStringA(section.constData(), key.constData(), "<none>",
                                              buffer, sizeof buffer, path.constData());
        // Cut to the buffer like any value, never inside a character.
        const QByteArray expected = ReadBack(value);
        const QByteArray got(buffer, qsizetype(n));
        Check(expected.startsWith(got));
        Check(got.size() == std::min<qsizetype>(expected.size(), sizeof buffer - 1) ||
              (expected.size() >= qsizetype(sizeof buffer) - 1 &&
               got.size() >= qsizetype(sizeof buffer) - 4));
        // The file keeps its encoding's byte order mark.
        const QByteArray bom = ByteOrderMark(parts[0]);
        Check(bom.isEmpty() || FileBytes(path).startsWith(bom));
        ReadAll(section.constData(), key.constData(), path.constData());
        // Removing it leaves the default.
        Check(vestrel::WritePrivateProfileStringA(section.constData(), key.constData(), nullptr,
                                                  path.constData()) != 0);
        const unsigned m =
            vestrel::GetPrivateProfileStringA(section.constData(), key.constData(), "<none>",
                                              buffer, sizeof buffer, path.constData());
        Check(QByteArray(buffer, qsizetype(m)) == "<none>");
    }
    return 0;
}
