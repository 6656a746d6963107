#pragma once

// Shared between the parts of the Windows layer; not for callers.

#include "platform/gui/winapi.h"

namespace vestrel::win::detail {

HANDLE32 NextHandle();
bool IsIcon(HICON hicon);
// Removes the notification-area icons of a window that is being destroyed.
void DropNotifyIconsOf(HWND hwnd);

} // namespace vestrel::win::detail
