#include "platform/gui/winapi.h"
#include "platform/gui/winhandles_p.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstring>

using namespace Qt::StringLiterals;

namespace vestrel::win {

namespace detail {

HANDLE32 NextHandle() {
    // One sequence for every kind of handle, never reused, so that a handle of one kind is
    // never mistaken for another kind or for an object that has gone.
    static HANDLE32 next = 0x1000;
    next += 4;
    return next;
}

} // namespace detail

namespace {

struct WindowTable {
    QHash<HWND, QPointer<QWidget>> byHandle;
    QHash<const QWidget*, HWND> byWidget;
};

WindowTable& windows() {
    static WindowTable table;
    return table;
}

QHash<HICON, QIcon>& icons() {
    static QHash<HICON, QIcon> table;
    return table;
}

IWindowMessageHook*& hookSlot() {
    static IWindowMessageHook* hook = nullptr;
    return hook;
}

} // namespace

HWND WindowHandle(QWidget* widget) {
    if (!widget)
        return 0;
    auto& table = windows();
    if (auto found = table.byWidget.constFind(widget); found != table.byWidget.constEnd())
        return found.value();
    const HWND hwnd = detail::NextHandle();
    table.byHandle.insert(hwnd, widget);
    table.byWidget.insert(widget, hwnd);
    QObject::connect(widget, &QObject::destroyed, widget, [hwnd, widget] {
        auto& t = windows();
        t.byHandle.remove(hwnd);
        t.byWidget.remove(widget);
        detail::DropNotifyIconsOf(hwnd);
        if (auto* hook = hookSlot())
            hook->WindowDestroyed(hwnd);
    });
    return hwnd;
}

QWidget* WindowFromHandle(HWND hwnd) {
    return windows().byHandle.value(hwnd).data();
}

BOOL IsWindow(HWND hwnd) {
    return WindowFromHandle(hwnd) ? TRUE : FALSE;
}

HICON IconHandle(const QIcon& icon) {
    auto& table = icons();
    for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
        if (it.value().cacheKey() == icon.cacheKey())
            return it.key();
    }
    const HICON hicon = detail::NextHandle();
    table.insert(hicon, icon);
    return hicon;
}

QIcon IconFromHandle(HICON hicon) {
    return icons().value(hicon);
}

BOOL DestroyIcon(HICON hicon) {
    return icons().remove(hicon) ? TRUE : FALSE;
}

bool detail::IsIcon(HICON hicon) {
    return icons().contains(hicon);
}

IWindowMessageHook* SetWindowMessageHook(IWindowMessageHook* hook) {
    return std::exchange(hookSlot(), hook);
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!IsWindow(hwnd))
        return 0;
    if (auto* hook = hookSlot())
        hook->WindowMessage(hwnd, msg, wParam, lParam);
    return 0;
}

// ---- Version information ---------------------------------------------------------------------

namespace {

// The block mirrors VS_VERSIONINFO: length, value length, type, the key "VS_VERSION_INFO" in
// UTF-16 with its NUL, padding to a 32-bit boundary, then the fixed file information.
constexpr DWORD kFixedOffset = 40;
constexpr DWORD kBlockSize = kFixedOffset + sizeof(VS_FIXEDFILEINFO);

class DefaultShellVersion final : public IShellVersion {
public:
    std::optional<FileVersion> Shell32Version() override { return FileVersion{6, 0, 0, 0}; }
};

std::optional<FileVersion> versionOf(const char* fileName) {
    if (!fileName || QByteArray(fileName).compare("shell32.dll", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return ShellVersionSeam().get().Shell32Version();
}

void put16(unsigned char* at, WORD value) {
    std::memcpy(at, &value, sizeof value);
}

} // namespace

Seam<IShellVersion>& ShellVersionSeam() {
    static DefaultShellVersion fallback;
    static Seam<IShellVersion> seam(fallback);
    return seam;
}

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle) {
    if (handle)
        *handle = 0;
    return versionOf(fileName) ? kBlockSize : 0;
}

BOOL GetFileVersionInfoA(const char* fileName, DWORD /*handle*/, DWORD len, void* data) {
    const auto version = versionOf(fileName);
    if (!version || !data)
        return FALSE;
    unsigned char block[kBlockSize] = {};
    put16(block, static_cast<WORD>(kBlockSize));
    put16(block + 2, static_cast<WORD>(sizeof(VS_FIXEDFILEINFO)));
    const char16_t key[] = u"VS_VERSION_INFO";
    std::memcpy(block + 6, key, sizeof key);
    VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = VS_FFI_SIGNATURE;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = (DWORD(version->major) << 16) | version->minor;
    fixed.dwFileVersionLS = (DWORD(version->build) << 16) | version->revision;
    fixed.dwProductVersionMS = fixed.dwFileVersionMS;
    fixed.dwProductVersionLS = fixed.dwFileVersionLS;
    fixed.dwFileFlagsMask = 0x3F;
    fixed.dwFileOS = 0x00040004; // VOS_NT_WINDOWS32
    fixed.dwFileType = 2;        // VFT_DLL
    std::memcpy(block + kFixedOffset, &fixed, sizeof fixed);
    // As on Windows, a buffer that is too small receives the leading part.
    std::memcpy(data, block, std::min<DWORD>(len, kBlockSize));
    return TRUE;
}

BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* len) {
    if (!block || !subBlock || !buffer || !len)
        return FALSE;
    if (std::strcmp(subBlock, "\\") != 0)
        return FALSE;
    const auto* bytes = static_cast<const unsigned char*>(block);
    WORD length = 0;
    std::memcpy(&length, bytes, sizeof length);
    DWORD signature = 0;
    std::memcpy(&signature, bytes + kFixedOffset, sizeof signature);
    if (length < kBlockSize || signature != VS_FFI_SIGNATURE)
        return FALSE;
    *buffer = const_cast<unsigned char*>(bytes + kFixedOffset);
    *len = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}

} // namespace vestrel::win
