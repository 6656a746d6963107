#include "tray/ansifield.h"

#include "platform/textfile.h"

#include <QByteArray>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cstring>

namespace vestrel {

void SetAnsiField(char* field, std::size_t width, const QString& text) {
    // The code pages are stateless: a text's bytes are its characters' bytes one after the
    // other, so the cut can be found character by character in one pass.
    QByteArray bytes = ToSystemCodePage(text);
    if (std::size_t(bytes.size()) > width) {
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
        qsizetype kept = 0;
        std::size_t used = 0;
        for (qsizetype next = characters.toNextBoundary(); next > 0;
             next = characters.toNextBoundary()) {
            used += std::size_t(ToSystemCodePage(text.mid(kept, next - kept)).size());
            if (used > width)
                break;
            kept = next;
        }
        bytes = ToSystemCodePage(text.left(kept));
    }
    const std::size_t length = std::min<std::size_t>(std::size_t(bytes.size()), width);
    std::memcpy(field, bytes.constData(), length);
    if (length < width) {
        field[length] = '\0';
        std::memset(field + length + 1, ' ', width - length - 1);
    }
}

} // namespace vestrel
