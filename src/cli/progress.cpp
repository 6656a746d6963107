#include "cli/progress.h"

#include <algorithm>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vestrel::cli {

bool Progress::IsTerminal(std::FILE* file) {
#ifdef _WIN32
    return _isatty(_fileno(file)) != 0;
#else
    return ::isatty(::fileno(file)) != 0;
#endif
}

void Progress::Percent(const QString& message, int percent) {
    if (!terminal_) {
        Line(message);
        return;
    }
    constexpr int kWidth = 40;
    const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
    const QString bar = QString(filled, u'#') + QString(kWidth - filled, u'-');
    std::fprintf(out_, "\r[%s] %3d%%", qUtf8Printable(bar), percent);
    std::fflush(out_);
    barShown_ = true;
}

void Progress::Line(const QString& text) {
    endBar();
    std::fprintf(out_, "vestrel: %s\n", qUtf8Printable(text));
    std::fflush(out_);
}

void Progress::endBar() {
    if (!barShown_)
        return;
    std::fputc('\n', out_);
    barShown_ = false;
}

void UseParentConsole() {
#ifdef _WIN32
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        (void)std::freopen("CONOUT$", "w", stdout);
        (void)std::freopen("CONOUT$", "w", stderr);
    }
#endif
}

} // namespace vestrel::cli
