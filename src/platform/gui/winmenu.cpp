#include "platform/gui/winapi.h"
#include "platform/gui/winhandles_p.h"
#include "platform/textfile.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QHash>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <algorithm>
#include <cstring>
#include <vector>

namespace vestrel::win {

namespace {

struct Item {
    UINT fType = MFT_STRING;
    UINT fState = MFS_ENABLED;
    UINT wID = 0;
    HMENU hSubMenu = 0;
    HBITMAP hbmpChecked = 0;
    HBITMAP hbmpUnchecked = 0;
    DWORD dwItemData = 0;
    QByteArray text; // 8-bit text, copied from the caller's buffer
};

struct Menu {
    std::vector<Item> items;
};

QHash<HMENU, Menu>& menus() {
    static QHash<HMENU, Menu> table;
    return table;
}

Menu* menuOf(HMENU hMenu) {
    auto& table = menus();
    auto it = table.find(hMenu);
    return it == table.end() ? nullptr : &it.value();
}

bool isText(UINT fType) {
    return (fType & (MFT_BITMAP | MFT_SEPARATOR | MFT_OWNERDRAW)) == 0;
}

bool validRecord(const MENUITEMINFOA* lpmi) {
    return lpmi && (lpmi->cbSize == MENUITEMINFOA_SIZE || lpmi->cbSize == sizeof(MENUITEMINFOA));
}

struct Found {
    Menu* menu = nullptr;
    std::size_t index = 0;
};

// By position in hMenu itself; by identifier in hMenu and then in its submenus, depth first.
Found find(HMENU hMenu, UINT item, bool byPosition, int depth = 0) {
    Menu* menu = menuOf(hMenu);
    if (!menu || depth > 32)
        return {};
    if (byPosition)
        return item < menu->items.size() ? Found{menu, item} : Found{};
    for (std::size_t i = 0; i < menu->items.size(); ++i) {
        if (menu->items[i].wID == item && !(menu->items[i].fType & MFT_SEPARATOR))
            return {menu, i};
    }
    for (const Item& it : menu->items) {
        if (it.hSubMenu) {
            if (Found inner = find(it.hSubMenu, item, false, depth + 1); inner.menu)
                return inner;
        }
    }
    return {};
}

bool apply(Item& item, const MENUITEMINFOA& mii) {
    if ((mii.fMask & MIIM_SUBMENU) && mii.hSubMenu && !menuOf(mii.hSubMenu))
        return false;
    if (mii.fMask & MIIM_STATE)
        item.fState = mii.fState;
    if (mii.fMask & MIIM_ID)
        item.wID = mii.wID;
    if (mii.fMask & MIIM_SUBMENU)
        item.hSubMenu = mii.hSubMenu;
    if (mii.fMask & MIIM_CHECKMARKS) {
        item.hbmpChecked = mii.hbmpChecked;
        item.hbmpUnchecked = mii.hbmpUnchecked;
    }
    if (mii.fMask & MIIM_DATA)
        item.dwItemData = mii.dwItemData;
    if (mii.fMask & (MIIM_TYPE | MIIM_FTYPE))
        item.fType = mii.fType;
    const bool setsText =
        (mii.fMask & MIIM_STRING) || ((mii.fMask & MIIM_TYPE) && isText(mii.fType));
    if (setsText)
        item.text = mii.dwTypeData ? QByteArray(mii.dwTypeData) : QByteArray();
    else if ((mii.fMask & MIIM_TYPE) && !isText(mii.fType))
        item.text.clear();
    return true;
}

void destroyTree(HMENU hMenu, int depth = 0) {
    auto& table = menus();
    auto it = table.find(hMenu);
    if (it == table.end() || depth > 32)
        return;
    std::vector<HMENU> children;
    for (const Item& item : it->items) {
        if (item.hSubMenu)
            children.push_back(item.hSubMenu);
    }
    table.erase(it);
    for (HMENU child : children)
        destroyTree(child, depth + 1);
}

BOOL removeItem(HMENU hMenu, UINT uPosition, UINT uFlags, bool destroySubMenu) {
    Found found = find(hMenu, uPosition, (uFlags & MF_BYPOSITION) != 0);
    if (!found.menu)
        return FALSE;
    const HMENU sub = found.menu->items[found.index].hSubMenu;
    found.menu->items.erase(found.menu->items.begin() + std::ptrdiff_t(found.index));
    if (destroySubMenu && sub)
        destroyTree(sub);
    return TRUE;
}

PopupMenuObserver& observerSlot() {
    static PopupMenuObserver observer;
    return observer;
}

void fill(QMenu& qmenu, const Menu& menu, int depth) {
    QActionGroup* radios = nullptr;
    for (const Item& item : menu.items) {
        if (item.fType & (MFT_SEPARATOR | MFT_MENUBREAK | MFT_MENUBARBREAK)) {
            // Qt has no column breaks; a break shows as a separator line.
            qmenu.addSeparator();
            radios = nullptr;
            if (item.fType & MFT_SEPARATOR)
                continue;
            if (item.text.isEmpty() && !item.hSubMenu)
                continue;
        }
        const QString text = FromSystemCodePage(item.text);
        QAction* action = nullptr;
        if (const Menu* sub = item.hSubMenu && depth < 32 ? menuOf(item.hSubMenu) : nullptr) {
            QMenu* child = qmenu.addMenu(text);
            fill(*child, *sub, depth + 1);
            action = child->menuAction();
        } else {
            action = qmenu.addAction(text);
            action->setData(QVariant::fromValue(item.wID));
        }
        action->setEnabled((item.fState & (MFS_GRAYED | MFS_DISABLED)) == 0);
        if (item.fType & MFT_RADIOCHECK) {
            if (!radios) {
                radios = new QActionGroup(&qmenu);
                radios->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
            }
            radios->addAction(action);
        } else {
            radios = nullptr;
        }
        if (item.fState & MFS_CHECKED || item.fType & MFT_RADIOCHECK) {
            action->setCheckable(true);
            action->setChecked((item.fState & MFS_CHECKED) != 0);
        }
        if (item.fState & MFS_DEFAULT) {
            QFont font = action->font();
            font.setBold(true);
            action->setFont(font);
        }
        if (item.fState & MFS_HILITE)
            qmenu.setActiveAction(action);
    }
}

// Keeps the buttons that may not choose away from the menu and its submenus: a press, release
// or double click of such a button inside a menu does nothing there, as on Windows. Outside
// the menus the click goes through, so it still closes them.
class ChoosingButtons final : public QObject {
public:
    explicit ChoosingButtons(Qt::MouseButtons allowed) : allowed_(allowed) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
            type != QEvent::MouseButtonDblClick)
            return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* menu = qobject_cast<QMenu*>(watched);
        return menu && !(allowed_ & mouse->button()) &&
               menu->rect().contains(mouse->position().toPoint());
    }

private:
    Qt::MouseButtons allowed_;
};

} // namespace

HMENU CreatePopupMenu() {
    const HMENU hMenu = detail::NextHandle();
    menus().insert(hMenu, Menu{});
    return hMenu;
}

BOOL DestroyMenu(HMENU hMenu) {
    if (!menuOf(hMenu))
        return FALSE;
    destroyTree(hMenu);
    return TRUE;
}

int GetMenuItemCount(HMENU hMenu) {
    const Menu* menu = menuOf(hMenu);
    return menu ? int(menu->items.size()) : -1;
}

BOOL InsertMenuItemA(HMENU hMenu, UINT item, BOOL fByPosition, const MENUITEMINFOA* lpmi) {
    Menu* menu = menuOf(hMenu);
    if (!menu || !validRecord(lpmi))
        return FALSE;
    Menu* target = menu;
    std::size_t at = menu->items.size();
    if (fByPosition) {
        // A position past the end appends, as on Windows.
        at = std::min<std::size_t>(item, menu->items.size());
    } else {
        Found found = find(hMenu, item, false);
        if (!found.menu)
            return FALSE;
        target = found.menu;
        at = found.index;
    }
    Item record;
    if (!apply(record, *lpmi))
        return FALSE;
    target->items.insert(target->items.begin() + std::ptrdiff_t(at), std::move(record));
    return TRUE;
}

BOOL SetMenuItemInfoA(HMENU hMenu, UINT item, BOOL fByPosition, const MENUITEMINFOA* lpmi) {
    if (!validRecord(lpmi))
        return FALSE;
    Found found = find(hMenu, item, fByPosition != FALSE);
    if (!found.menu)
        return FALSE;
    return apply(found.menu->items[found.index], *lpmi) ? TRUE : FALSE;
}

BOOL GetMenuItemInfoA(HMENU hMenu, UINT item, BOOL fByPosition, MENUITEMINFOA* lpmi) {
    if (!validRecord(lpmi))
        return FALSE;
    Found found = find(hMenu, item, fByPosition != FALSE);
    if (!found.menu)
        return FALSE;
    const Item& it = found.menu->items[found.index];
    if (lpmi->fMask & MIIM_STATE)
        lpmi->fState = it.fState;
    if (lpmi->fMask & MIIM_ID)
        lpmi->wID = it.wID;
    if (lpmi->fMask & MIIM_SUBMENU)
        lpmi->hSubMenu = it.hSubMenu;
    if (lpmi->fMask & MIIM_CHECKMARKS) {
        lpmi->hbmpChecked = it.hbmpChecked;
        lpmi->hbmpUnchecked = it.hbmpUnchecked;
    }
    if (lpmi->fMask & MIIM_DATA)
        lpmi->dwItemData = it.dwItemData;
    if (lpmi->fMask & (MIIM_TYPE | MIIM_FTYPE))
        lpmi->fType = it.fType;
    if ((lpmi->fMask & MIIM_STRING) || ((lpmi->fMask & MIIM_TYPE) && isText(it.fType))) {
        // With no buffer the length is reported; otherwise up to cch - 1 characters and a
        // NUL are copied, and cch receives the number copied.
        const auto length = UINT(it.text.size());
        if (!lpmi->dwTypeData || lpmi->cch == 0) {
            lpmi->cch = length;
        } else {
            const UINT copied = std::min(length, lpmi->cch - 1);
            std::memcpy(lpmi->dwTypeData, it.text.constData(), copied);
            lpmi->dwTypeData[copied] = '\0';
            lpmi->cch = copied;
        }
    }
    return TRUE;
}

BOOL RemoveMenu(HMENU hMenu, UINT uPosition, UINT uFlags) {
    return removeItem(hMenu, uPosition, uFlags, false);
}

BOOL DeleteMenu(HMENU hMenu, UINT uPosition, UINT uFlags) {
    return removeItem(hMenu, uPosition, uFlags, true);
}

BOOL CheckMenuRadioItem(HMENU hMenu, UINT first, UINT last, UINT check, UINT flags) {
    Menu* menu = menuOf(hMenu);
    if (!menu || first > last || check < first || check > last)
        return FALSE;
    const bool byPosition = (flags & MF_BYPOSITION) != 0;
    bool checked = false;
    for (std::size_t i = 0; i < menu->items.size(); ++i) {
        Item& item = menu->items[i];
        if (item.fType & MFT_SEPARATOR)
            continue;
        const UINT key = byPosition ? UINT(i) : item.wID;
        if (key < first || key > last)
            continue;
        if (key == check) {
            item.fType |= MFT_RADIOCHECK;
            item.fState |= MFS_CHECKED;
            checked = true;
        } else {
            item.fState &= ~MFS_CHECKED;
        }
    }
    return checked ? TRUE : FALSE;
}

BOOL GetCursorPos(POINT* point) {
    if (!point)
        return FALSE;
    const QPoint at = QCursor::pos();
    point->x = at.x();
    point->y = at.y();
    return TRUE;
}

PopupMenuObserver SetPopupMenuObserver(PopupMenuObserver observer) {
    return std::exchange(observerSlot(), std::move(observer));
}

BOOL TrackPopupMenuEx(HMENU hMenu, UINT flags, int x, int y, HWND hwnd, const void* tpmParams) {
    const Menu* menu = menuOf(hMenu);
    if (!menu || !IsWindow(hwnd) || tpmParams)
        return FALSE;
    QMenu qmenu;
    fill(qmenu, *menu, 0);
    ChoosingButtons buttons(flags & TPM_RIGHTBUTTON ? Qt::LeftButton | Qt::RightButton
                                                    : Qt::LeftButton);
    qmenu.installEventFilter(&buttons);
    for (QMenu* sub : qmenu.findChildren<QMenu*>())
        sub->installEventFilter(&buttons);
    const QPoint at(x, y);
    if (const auto& observer = observerSlot())
        observer(qmenu, at);
    QAction* chosen = qmenu.exec(at);
    const UINT id = chosen ? chosen->data().toUInt() : 0;
    if (flags & TPM_RETURNCMD)
        return BOOL(id);
    if (id != 0)
        SendMessageA(hwnd, WM_COMMAND, WPARAM(id), 0);
    return TRUE;
}

} // namespace vestrel::win
