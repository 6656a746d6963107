#include "tray/ansifield.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>

namespace vestrel {

void SetAnsiField(char* field, std::size_t width, const QString& text) {
    const QByteArray bytes = text.toLatin1();
    const std::size_t length = std::min<std::size_t>(std::size_t(bytes.size()), width);
    std::memcpy(field, bytes.constData(), length);
    if (length < width) {
        field[length] = '\0';
        std::memset(field + length + 1, ' ', width - length - 1);
    }
}

} // namespace vestrel
