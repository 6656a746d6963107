#pragma once

// The top-level windows of another process, as the system sends them its session messages.
// Windows only.
#include <QtGlobal>
#include <vector>
#include <windows.h>

namespace vestrel::test {

inline std::vector<HWND> TopLevelWindows(qint64 pid) {
    struct Search {
        DWORD pid;
        std::vector<HWND> windows;
    } search{DWORD(pid), {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->pid)
                s->windows.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

} // namespace vestrel::test
