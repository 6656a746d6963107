#include "platform/gui/winapi.h"
#include "platform/gui/winhandles_p.h"
#include "platform/textfile.h"

#include <QHash>
#include <QObject>
#include <algorithm>
#include <cstring>
#include <memory>

namespace vestrel::win {

namespace {

struct Key {
    HWND hwnd;
    UINT uid;
    friend bool operator==(const Key&, const Key&) = default;
};
size_t qHash(const Key& key, size_t seed = 0) {
    return qHashMulti(seed, key.hwnd, key.uid);
}

struct Icon {
    NotifyIconState state;
    std::unique_ptr<QSystemTrayIcon> tray;

    Icon() = default;
    Icon(const Icon&) = delete;
    Icon& operator=(const Icon&) = delete;
    // An icon may be deleted from within its own activation; Qt deletes the object later.
    ~Icon() {
        if (tray) {
            tray->hide();
            tray.release()->deleteLater();
        }
    }
};

QHash<Key, std::shared_ptr<Icon>>& iconTable() {
    static QHash<Key, std::shared_ptr<Icon>> table;
    return table;
}

ShellNotifyObserver& observerSlot() {
    static ShellNotifyObserver observer;
    return observer;
}

// A fixed 8-bit text field: up to the first NUL, or the whole field when it has none.
QString fieldText(const char* field, std::size_t width) {
    const auto* end = static_cast<const char*>(std::memchr(field, '\0', width));
    return FromSystemCodePage(QByteArray(field, end ? end - field : qsizetype(width)));
}

QSystemTrayIcon::MessageIcon balloonIcon(DWORD flags) {
    switch (flags & NIIF_ICON_MASK) {
    case NIIF_INFO:
        return QSystemTrayIcon::Information;
    case NIIF_WARNING:
        return QSystemTrayIcon::Warning;
    case NIIF_ERROR:
        return QSystemTrayIcon::Critical;
    default:
        return QSystemTrayIcon::NoIcon;
    }
}

void deliver(Key key, QSystemTrayIcon::ActivationReason reason) {
    const auto icon = iconTable().value(key);
    if (!icon || icon->state.callbackMessage == 0)
        return;
    const UINT message = icon->state.callbackMessage;
    for (UINT mouse : MouseMessagesFor(reason)) {
        // A handler may delete the icon or destroy the window; SendMessageA checks the window.
        if (!iconTable().contains(key))
            return;
        SendMessageA(key.hwnd, message, WPARAM(key.uid), LPARAM(mouse));
    }
}

// Applies the fields that uFlags names. The record is the full form, zero past what was read.
bool applyFields(Icon& icon, const NOTIFYICONDATAA& rec, DWORD size) {
    if ((rec.uFlags & NIF_ICON) && rec.hIcon && !detail::IsIcon(rec.hIcon))
        return false;
    const std::size_t tipWidth = size == NOTIFYICONDATAA_V1_SIZE ? 64 : 128;
    if (rec.uFlags & NIF_MESSAGE)
        icon.state.callbackMessage = rec.uCallbackMessage;
    if (rec.uFlags & NIF_ICON) {
        icon.state.hIcon = rec.hIcon;
        icon.tray->setIcon(IconFromHandle(rec.hIcon));
    }
    if (rec.uFlags & NIF_TIP) {
        icon.state.tip = fieldText(rec.szTip, tipWidth);
        icon.tray->setToolTip(icon.state.tip);
    }
    if (size >= NOTIFYICONDATAA_V2_SIZE) {
        if (rec.uFlags & NIF_STATE && rec.dwStateMask & NIS_HIDDEN) {
            icon.state.visible = (rec.dwState & NIS_HIDDEN) == 0;
            icon.tray->setVisible(icon.state.visible);
        }
        if (rec.uFlags & NIF_INFO) {
            const QString text = fieldText(rec.szInfo, sizeof rec.szInfo);
            const QString title = fieldText(rec.szInfoTitle, sizeof rec.szInfoTitle);
            icon.state.balloonText = text;
            icon.state.balloonTitle = title;
            icon.state.balloonFlags = rec.dwInfoFlags;
            // An empty text takes the balloon away; Qt cannot, so it just shows none.
            if (!text.isEmpty()) {
                ++icon.state.balloons;
                const int timeout = int(std::clamp<UINT>(rec.uTimeoutOrVersion, 10000, 30000));
                icon.tray->showMessage(title, text, balloonIcon(rec.dwInfoFlags), timeout);
            }
        }
    }
    icon.state.recordSize = size;
    return true;
}

BOOL notify(DWORD message, const NOTIFYICONDATAA& rec, DWORD size) {
    if (size != NOTIFYICONDATAA_V1_SIZE && size != NOTIFYICONDATAA_V2_SIZE &&
        size != NOTIFYICONDATAA_V3_SIZE)
        return FALSE;
    auto& table = iconTable();
    const Key key{rec.hWnd, rec.uID};
    auto found = table.find(key);
    switch (message) {
    case NIM_ADD: {
        if (found != table.end() || !IsWindow(rec.hWnd))
            return FALSE;
        auto icon = std::make_shared<Icon>();
        icon->state.hWnd = rec.hWnd;
        icon->state.uID = rec.uID;
        icon->state.visible = true;
        icon->tray = std::make_unique<QSystemTrayIcon>();
        if (!applyFields(*icon, rec, size))
            return FALSE;
        QObject::connect(icon->tray.get(), &QSystemTrayIcon::activated, icon->tray.get(),
                         [key](QSystemTrayIcon::ActivationReason reason) { deliver(key, reason); });
        icon->tray->setVisible(icon->state.visible);
        table.insert(key, std::move(icon));
        return TRUE;
    }
    case NIM_MODIFY:
        if (found == table.end())
            return FALSE;
        return applyFields(**found, rec, size) ? TRUE : FALSE;
    case NIM_DELETE:
        if (found == table.end())
            return FALSE;
        table.erase(found);
        return TRUE;
    case NIM_SETVERSION:
        if (found == table.end() || size < NOTIFYICONDATAA_V2_SIZE || rec.uTimeoutOrVersion > 4)
            return FALSE;
        (*found)->state.version = rec.uTimeoutOrVersion;
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL notifyBytes(DWORD message, const void* data, std::size_t available) {
    if (!data)
        return FALSE;
    DWORD size = 0;
    std::memcpy(&size, data, sizeof size);
    // Only the leading cbSize bytes are read, never more than the caller's record holds.
    const std::size_t read = std::min<std::size_t>(size, available);
    NOTIFYICONDATAA rec{};
    std::memcpy(&rec, data, std::min(read, sizeof rec));
    const BOOL result = read == size ? notify(message, rec, size) : FALSE;
    if (const auto& observer = observerSlot())
        observer(message, QByteArray(static_cast<const char*>(data), qsizetype(read)), result);
    return result;
}

} // namespace

void detail::DropNotifyIconsOf(HWND hwnd) {
    auto& table = iconTable();
    for (auto it = table.begin(); it != table.end();) {
        if (it.key().hwnd == hwnd)
            it = table.erase(it);
        else
            ++it;
    }
}

BOOL Shell_NotifyIconA(DWORD dwMessage, const NOTIFYICONDATAA* data) {
    return notifyBytes(dwMessage, data, sizeof(NOTIFYICONDATAA));
}

BOOL Shell_NotifyIconA(DWORD dwMessage, const NOTIFYICONDATAA_V1* data) {
    return notifyBytes(dwMessage, data, sizeof(NOTIFYICONDATAA_V1));
}

std::optional<NotifyIconState> NotifyIconInfo(HWND hWnd, UINT uID) {
    const auto icon = iconTable().value(Key{hWnd, uID});
    if (!icon)
        return std::nullopt;
    NotifyIconState state = icon->state;
    state.visible = icon->tray->isVisible();
    return state;
}

QList<NotifyIconState> NotifyIcons() {
    QList<NotifyIconState> all;
    for (const auto& icon : std::as_const(iconTable()))
        all.append(*NotifyIconInfo(icon->state.hWnd, icon->state.uID));
    return all;
}

QSystemTrayIcon* NotifyIconObject(HWND hWnd, UINT uID) {
    const auto icon = iconTable().value(Key{hWnd, uID});
    return icon ? icon->tray.get() : nullptr;
}

BOOL SimulateNotifyIconActivation(HWND hWnd, UINT uID, QSystemTrayIcon::ActivationReason reason) {
    if (!iconTable().contains(Key{hWnd, uID}))
        return FALSE;
    deliver(Key{hWnd, uID}, reason);
    return TRUE;
}

QList<UINT> MouseMessagesFor(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return {WM_LBUTTONDOWN, WM_LBUTTONUP};
    case QSystemTrayIcon::DoubleClick:
        return {WM_LBUTTONDBLCLK, WM_LBUTTONUP};
    case QSystemTrayIcon::Context:
        return {WM_RBUTTONDOWN, WM_RBUTTONUP};
    case QSystemTrayIcon::MiddleClick:
        return {WM_MBUTTONDOWN, WM_MBUTTONUP};
    default:
        return {};
    }
}

ShellNotifyObserver SetShellNotifyObserver(ShellNotifyObserver observer) {
    return std::exchange(observerSlot(), std::move(observer));
}

} // namespace vestrel::win
