#include "tray/ansifield.h"

#include "platform/textfile.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>

namespace vestrel {

void SetAnsiField(char* field, std::size_t width, const QString& text) {
    // Cut by characters, not bytes, so a multi-byte character is never split at the end.
    QString fitting = text;
    QByteArray bytes = ToSystemCodePage(fitting);
    while (std::size_t(bytes.size()) > width && !fitting.isEmpty()) {
        fitting.chop(fitting.size() >= 2 && fitting.back().isLowSurrogate() ? 2 : 1);
        bytes = ToSystemCodePage(fitting);
    }
    const std::size_t length = std::min<std::size_t>(std::size_t(bytes.size()), width);
    std::memcpy(field, bytes.constData(), length);
    if (length < width) {
        field[length] = '\0';
        std::memset(field + length + 1, ' ', width - length - 1);
    }
}

} // namespace vestrel
