#pragma once

#include <QString>
#include <cstddef>

namespace vestrel {

// Fills a fixed 8-bit text field of a notification record: the text, one NUL, then spaces to
// the field's width; a text as long as the field or longer is cut at the width and has no
// NUL. Characters outside Latin-1 become '?'.
void SetAnsiField(char* field, std::size_t width, const QString& text);

} // namespace vestrel
