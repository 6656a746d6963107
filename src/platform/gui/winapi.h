#pragma once

// The Windows menu, notification-area and version functions the tray code calls, with their
// Win32 names, records and results, implemented over Qt. Handles are 32-bit numbers taken
// from handle tables; no pointer ever leaves this layer. User-interface thread only.

#include "platform/seam.h"

#include <QByteArray>
#include <QEvent>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QString>
#include <QSystemTrayIcon>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class QMenu;
class QWidget;

namespace vestrel::win {

using BOOL = std::int32_t;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using WPARAM = std::int32_t;
using LPARAM = std::int32_t;
using LRESULT = std::int32_t;
using HANDLE32 = std::int32_t;
using HWND = HANDLE32;
using HMENU = HANDLE32;
using HICON = HANDLE32;
using HBITMAP = HANDLE32;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// Window messages.
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
inline constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
inline constexpr UINT WM_USER = 0x0400;

// Menu item mask, type and state bits.
inline constexpr UINT MIIM_STATE = 0x0001;
inline constexpr UINT MIIM_ID = 0x0002;
inline constexpr UINT MIIM_SUBMENU = 0x0004;
inline constexpr UINT MIIM_CHECKMARKS = 0x0008;
inline constexpr UINT MIIM_TYPE = 0x0010;
inline constexpr UINT MIIM_DATA = 0x0020;
inline constexpr UINT MIIM_STRING = 0x0040;
inline constexpr UINT MIIM_FTYPE = 0x0100;

inline constexpr UINT MFT_STRING = 0x0000;
inline constexpr UINT MFT_BITMAP = 0x0004;
inline constexpr UINT MFT_MENUBARBREAK = 0x0020;
inline constexpr UINT MFT_MENUBREAK = 0x0040;
inline constexpr UINT MFT_OWNERDRAW = 0x0100;
inline constexpr UINT MFT_RADIOCHECK = 0x0200;
inline constexpr UINT MFT_SEPARATOR = 0x0800;

inline constexpr UINT MFS_ENABLED = 0x0000;
inline constexpr UINT MFS_GRAYED = 0x0001;
inline constexpr UINT MFS_DISABLED = 0x0002;
inline constexpr UINT MFS_CHECKED = 0x0008;
inline constexpr UINT MFS_HILITE = 0x0080;
inline constexpr UINT MFS_DEFAULT = 0x1000;

inline constexpr UINT MF_BYCOMMAND = 0x0000;
inline constexpr UINT MF_BYPOSITION = 0x0400;

// Track flags: without TPM_RIGHTBUTTON (TPM_LEFTBUTTON is 0) only the left button chooses.
inline constexpr UINT TPM_LEFTBUTTON = 0x0000;
inline constexpr UINT TPM_RIGHTBUTTON = 0x0002;
inline constexpr UINT TPM_RETURNCMD = 0x0100;

// Notification-area messages, flags and balloon icons.
inline constexpr DWORD NIM_ADD = 0;
inline constexpr DWORD NIM_MODIFY = 1;
inline constexpr DWORD NIM_DELETE = 2;
inline constexpr DWORD NIM_SETFOCUS = 3;
inline constexpr DWORD NIM_SETVERSION = 4;

inline constexpr UINT NIF_MESSAGE = 0x01;
inline constexpr UINT NIF_ICON = 0x02;
inline constexpr UINT NIF_TIP = 0x04;
inline constexpr UINT NIF_STATE = 0x08;
inline constexpr UINT NIF_INFO = 0x10;

inline constexpr DWORD NIS_HIDDEN = 0x1;
inline constexpr DWORD NIS_SHAREDICON = 0x2;

inline constexpr DWORD NIIF_NONE = 0;
inline constexpr DWORD NIIF_INFO = 1;
inline constexpr DWORD NIIF_WARNING = 2;
inline constexpr DWORD NIIF_ERROR = 3;
inline constexpr DWORD NIIF_USER = 4;
inline constexpr DWORD NIIF_ICON_MASK = 0xF;

// The record sizes the shell accepts: the short form, the form with balloons, and the form
// with the item identifier.
inline constexpr DWORD NOTIFYICONDATAA_V1_SIZE = 88;
inline constexpr DWORD NOTIFYICONDATAA_V2_SIZE = 488;
inline constexpr DWORD NOTIFYICONDATAA_V3_SIZE = 504;

struct POINT {
    LONG x = 0;
    LONG y = 0;
};

// The menu item record without hbmpItem; 44 bytes on a 32-bit build. On a 64-bit build the
// pointer makes the record longer, but the field order is kept and callers still pass
// cbSize 44, which the menu functions accept.
struct MENUITEMINFOA {
    UINT cbSize;
    UINT fMask;
    UINT fType;
    UINT fState;
    UINT wID;
    HMENU hSubMenu;
    HBITMAP hbmpChecked;
    HBITMAP hbmpUnchecked;
    DWORD dwItemData;
    char* dwTypeData;
    UINT cch;
};
inline constexpr UINT MENUITEMINFOA_SIZE = 44;
static_assert(offsetof(MENUITEMINFOA, dwItemData) == 32);
static_assert(offsetof(MENUITEMINFOA, dwTypeData) == (sizeof(void*) == 4 ? 36 : 40));
static_assert(sizeof(void*) != 4 || sizeof(MENUITEMINFOA) == MENUITEMINFOA_SIZE);

// The full notification record, with fixed 32-bit handles: 504 bytes.
struct NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    char szInfo[256];
    UINT uTimeoutOrVersion;
    char szInfoTitle[64];
    DWORD dwInfoFlags;
    unsigned char guidItem[16];
};
static_assert(sizeof(NOTIFYICONDATAA) == NOTIFYICONDATAA_V3_SIZE);
static_assert(offsetof(NOTIFYICONDATAA, szTip) == 24);
static_assert(offsetof(NOTIFYICONDATAA, dwState) == 152);
static_assert(offsetof(NOTIFYICONDATAA, szInfo) == 160);
static_assert(offsetof(NOTIFYICONDATAA, uTimeoutOrVersion) == 416);
static_assert(offsetof(NOTIFYICONDATAA, szInfoTitle) == 420);
static_assert(offsetof(NOTIFYICONDATAA, dwInfoFlags) == 484);
static_assert(offsetof(NOTIFYICONDATAA, guidItem) == NOTIFYICONDATAA_V2_SIZE);

// The short notification record: 88 bytes.
struct NOTIFYICONDATAA_V1 {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[64];
};
static_assert(sizeof(NOTIFYICONDATAA_V1) == NOTIFYICONDATAA_V1_SIZE);
static_assert(offsetof(NOTIFYICONDATAA_V1, szTip) == 24);

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);
inline constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;

// ---- Window and icon handles ----------------------------------------------------------------

// The handle of a widget, made on first request and the same afterwards. It stops being a
// window when the widget is destroyed. nullptr gives 0.
HWND WindowHandle(QWidget* widget);
QWidget* WindowFromHandle(HWND hwnd);
BOOL IsWindow(HWND hwnd);

// An icon handle for a copy of icon; the same icon (same cache key) gives the same handle.
HICON IconHandle(const QIcon& icon);
// The icon behind a handle; an empty icon when the handle is no icon.
QIcon IconFromHandle(HICON hicon);
BOOL DestroyIcon(HICON hicon);

// ---- Window messages -------------------------------------------------------------------------

// What sees the messages sent to our windows, and their destruction. The subclassing
// registry of the tray code installs itself here.
class IWindowMessageHook {
public:
    virtual ~IWindowMessageHook() = default;
    virtual void WindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual void WindowDestroyed(HWND hwnd) = 0;
};
// Installs hook (nullptr removes it) and returns the one installed before.
IWindowMessageHook* SetWindowMessageHook(IWindowMessageHook* hook);

// Delivers a message to a window: the installed hook sees it; the windows themselves do
// nothing with the messages sent this way. Returns 0; nothing happens when hwnd is no window.
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- Menus -----------------------------------------------------------------------------------

HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU hMenu);
int GetMenuItemCount(HMENU hMenu);
BOOL InsertMenuItemA(HMENU hMenu, UINT item, BOOL fByPosition, const MENUITEMINFOA* lpmi);
BOOL SetMenuItemInfoA(HMENU hMenu, UINT item, BOOL fByPosition, const MENUITEMINFOA* lpmi);
BOOL GetMenuItemInfoA(HMENU hMenu, UINT item, BOOL fByPosition, MENUITEMINFOA* lpmi);
BOOL RemoveMenu(HMENU hMenu, UINT uPosition, UINT uFlags);
BOOL DeleteMenu(HMENU hMenu, UINT uPosition, UINT uFlags);
BOOL CheckMenuRadioItem(HMENU hMenu, UINT first, UINT last, UINT check, UINT flags);
BOOL GetCursorPos(POINT* point);
// Shows the menu at (x, y) and returns when it has closed. With TPM_RETURNCMD the result is
// the chosen identifier or 0; without it the choice goes to hwnd as WM_COMMAND and the result
// is TRUE. Items are chosen with the left button, and with the right one too only under
// TPM_RIGHTBUTTON: another button's click on an item chooses nothing and the menu stays open
// (a click outside the menu still closes it). The keyboard chooses as always. hMenu must be a menu
// and hwnd a window. The exclusion rectangle is not supported and must be null.
BOOL TrackPopupMenuEx(HMENU hMenu, UINT flags, int x, int y, HWND hwnd, const void* tpmParams);

// Sees the QMenu just before it opens, at the point given: tests close it or choose an item
// from here (a zero-delay timer does). Returns the observer installed before.
using PopupMenuObserver = std::function<void(QMenu& menu, QPoint at)>;
PopupMenuObserver SetPopupMenuObserver(PopupMenuObserver observer);

// ---- Notification area -----------------------------------------------------------------------

// Reads cbSize bytes of the record, at most the record's own size: 88 (short form), 488 or
// 504 (full form); any other size fails. The icon is keyed by (hWnd, uID) and needs hWnd to
// be a window. NIM_ADD twice, or NIM_MODIFY / NIM_DELETE / NIM_SETVERSION of an unknown icon,
// fail. NIF_INFO and NIM_SETVERSION need the 488 or 504 form.
BOOL Shell_NotifyIconA(DWORD dwMessage, const NOTIFYICONDATAA* data);
BOOL Shell_NotifyIconA(DWORD dwMessage, const NOTIFYICONDATAA_V1* data);

// What the shell knows about an icon, for tests and diagnostics.
struct NotifyIconState {
    HWND hWnd = 0;
    UINT uID = 0;
    DWORD recordSize = 0; // cbSize of the last record that changed the icon
    UINT callbackMessage = 0;
    HICON hIcon = 0;
    QString tip;
    UINT version = 0;
    bool visible = false;
    int balloons = 0;
    QString balloonTitle;
    QString balloonText;
    DWORD balloonFlags = 0;
};
std::optional<NotifyIconState> NotifyIconInfo(HWND hWnd, UINT uID);
QList<NotifyIconState> NotifyIcons();
// The Qt object behind an icon, or nullptr.
QSystemTrayIcon* NotifyIconObject(HWND hWnd, UINT uID);
// Acts as if the user had activated the icon: the callback message goes to the window with
// the mouse messages of the activation. FALSE when there is no such icon.
BOOL SimulateNotifyIconActivation(HWND hWnd, UINT uID, QSystemTrayIcon::ActivationReason reason);
// The mouse messages an activation turns into, in order. Where Qt docks the icon as a window
// of its own (X11), the messages come from that window's events instead, one by one.
QList<UINT> MouseMessagesFor(QSystemTrayIcon::ActivationReason reason);
// The mouse message of an event on the icon's own window, 0 for none: moves and releases
// count only over the icon (a button let go elsewhere is no click on it); presses and double
// clicks of the left, right and middle buttons always.
UINT NotifyIconMouseMessage(QEvent::Type type, Qt::MouseButton button, bool overIcon);

// Sees every call of Shell_NotifyIconA: the message, the bytes read and the result.
using ShellNotifyObserver =
    std::function<void(DWORD message, const QByteArray& record, BOOL result)>;
ShellNotifyObserver SetShellNotifyObserver(ShellNotifyObserver observer);

// ---- File version of shell32 -----------------------------------------------------------------

struct FileVersion {
    WORD major = 0;
    WORD minor = 0;
    WORD build = 0;
    WORD revision = 0;
};
// Answers the version of "shell32.dll"; nullopt means the file has no version information.
class IShellVersion {
public:
    virtual ~IShellVersion() = default;
    virtual std::optional<FileVersion> Shell32Version() = 0;
};
// The fallback reports 6.0.
Seam<IShellVersion>& ShellVersionSeam();

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle);
BOOL GetFileVersionInfoA(const char* fileName, DWORD handle, DWORD len, void* data);
BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* len);

} // namespace vestrel::win
