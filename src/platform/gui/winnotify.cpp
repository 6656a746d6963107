#include "platform/gui/winapi.h"
#include "platform/gui/winhandles_p.h"
#include "platform/textfile.h"

#include <QCoreApplication>
#include <QHash>
#include <QMouseEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

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
    // The mouse comes from the icon's own window, not from Qt's activations.
    bool readsOwnWindow = false;

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

void deliver(Key key, const QList<UINT>& mouseMessages) {
    const auto icon = iconTable().value(key);
    if (!icon || icon->state.callbackMessage == 0)
        return;
    const UINT message = icon->state.callbackMessage;
    for (UINT mouse : mouseMessages) {
        // A handler may delete the icon or destroy the window; SendMessageA checks the window.
        if (!iconTable().contains(key))
            return;
        SendMessageA(key.hwnd, message, WPARAM(key.uid), LPARAM(mouse));
    }
}

void activated(Key key, QSystemTrayIcon::ActivationReason reason) {
    const auto icon = iconTable().value(key);
    if (icon && !icon->readsOwnWindow)
        deliver(key, MouseMessagesFor(reason));
}

// Qt's X11 tray icon is a small window of its own (class QSystemTrayIconSys) docked in the
// notification area. Qt turns a press on it into an activation and says nothing of the
// release, of a right double click or of the pointer moving, so a right press and release
// would both be reported at the press. That window does get every mouse event, though:
// where it exists, the mouse messages are taken from its events and its activations are
// ignored. Elsewhere (a StatusNotifierItem host, other platforms) the activations remain.
class IconWindowReader final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress &&
            type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
            return false;
        if (!watched->isWidgetType() || !watched->inherits("QSystemTrayIconSys"))
            return false;
        const auto* window = static_cast<QWidget*>(watched);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // The window is the icon's: QSystemTrayIcon::geometry() is that window's place.
        const QRect place(window->mapToGlobal(QPoint(0, 0)), window->size());
        std::optional<Key> key;
        for (auto it = iconTable().cbegin(); it != iconTable().cend(); ++it) {
            if (it.value()->tray && it.value()->tray->geometry() == place) {
                key = it.key();
                it.value()->readsOwnWindow = true;
                break;
            }
        }
        if (!key)
            return false;
        const UINT message = NotifyIconMouseMessage(
            type, mouse->button(), window->rect().contains(mouse->position().toPoint()));
        if (message == 0)
            return false;
        deliver(*key, {message});
        // Qt does nothing with a release there, and the handlers may have removed the icon.
        return type == QEvent::MouseButtonRelease;
    }
};

void readIconWindows() {
    static QPointer<IconWindowReader> reader;
    if (reader || !QCoreApplication::instance())
        return;
    reader = new IconWindowReader;
    reader->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(reader);
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
        QObject::connect(
            icon->tray.get(), &QSystemTrayIcon::activated, icon->tray.get(),
            [key](QSystemTrayIcon::ActivationReason reason) { activated(key, reason); });
        readIconWindows();
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
    deliver(Key{hWnd, uID}, MouseMessagesFor(reason));
    return TRUE;
}

UINT NotifyIconMouseMessage(QEvent::Type type, Qt::MouseButton button, bool overIcon) {
    // Left, right, middle: down, up, double click.
    auto pick = [button](UINT left, UINT right, UINT middle) -> UINT {
        switch (button) {
        case Qt::LeftButton:
            return left;
        case Qt::RightButton:
            return right;
        case Qt::MiddleButton:
            return middle;
        default:
            return 0;
        }
    };
    switch (type) {
    case QEvent::MouseMove:
        return overIcon ? WM_MOUSEMOVE : 0;
    case QEvent::MouseButtonPress:
        return pick(WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN);
    case QEvent::MouseButtonRelease:
        return overIcon ? pick(WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP) : 0;
    case QEvent::MouseButtonDblClick:
        return pick(WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK);
    default:
        return 0;
    }
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
