#include "platform/codepage.h"

#include "platform/textfile.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <array>

namespace vestrel {

namespace {

// 0x80..0x9F of Windows-1252; the undefined bytes map to the control character of the same
// number.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QByteArray kUtf16LEBom("\xFF\xFE");
const QByteArray kUtf16BEBom("\xFE\xFF");

bool IsAscii(const QByteArray& bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

TextEncoding SystemEncoding() {
    static const TextEncoding encoding =
        ToSystemCodePage(QStringLiteral("\u00e8")) == QByteArray("\xC3\xA8")
            ? TextEncoding::Utf8
            : TextEncoding::Windows1252;
    return encoding;
}

bool IsValidUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        char32_t min = 0;
        char32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            min = 0x80;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            min = 0x800;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            min = 0x10000;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

QString FromWindows1252(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b < 0xA0) ? QChar(kHighControls[b - 0x80]) : QChar(char16_t(b));
    }
    return text;
}

std::optional<QByteArray> ToWindows1252(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            bytes += char(u);
            continue;
        }
        bool found = false;
        for (size_t i = 0; i < kHighControls.size(); ++i) {
            if (kHighControls[i] == u) {
                bytes += char(0x80 + i);
                found = true;
                break;
            }
        }
        if (!found)
            return std::nullopt;
    }
    return bytes;
}

DecodedText DecodeText(const QByteArray& bytes) {
    DecodedText result;
    if (bytes.startsWith(kUtf16LEBom) || bytes.startsWith(kUtf16BEBom)) {
        const bool little = bytes.startsWith(kUtf16LEBom);
        result.bom = bytes.first(2);
        result.encoding = little ? TextEncoding::Utf16LE : TextEncoding::Utf16BE;
        QStringDecoder decoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless);
        result.text = decoder.decode(QByteArrayView(bytes).sliced(2));
        return result;
    }
    QByteArray body = bytes;
    if (body.startsWith(kUtf8Bom)) {
        result.bom = kUtf8Bom;
        body.remove(0, kUtf8Bom.size());
    }
    if (IsAscii(body) && result.bom.isEmpty()) {
        result.encoding = SystemEncoding();
        result.text = QString::fromLatin1(body);
    } else if (IsValidUtf8(body)) {
        result.encoding = TextEncoding::Utf8;
        result.text = QString::fromUtf8(body);
    } else {
        result.encoding = TextEncoding::Windows1252;
        result.text = FromWindows1252(body);
    }
    return result;
}

std::optional<QByteArray> EncodeText(const QString& text, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Windows1252:
        return ToWindows1252(text);
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
        // Unpaired surrogates read from a UTF-16 file go back as they came.
        QStringEncoder encoder(encoding == TextEncoding::Utf16LE ? QStringConverter::Utf16LE
                                                                 : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless);
        return QByteArray(encoder.encode(text));
    }
    case TextEncoding::Utf8:
        break;
    }
    // A lone surrogate has no form in UTF-8.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return std::nullopt;
    }
    return text.toUtf8();
}

} // namespace vestrel
