#include "tray/cmenu.h"

#include "platform/error.h"
#include "platform/textfile.h"

#include <QByteArray>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace vestrel {

using namespace win;

namespace {

MENUITEMINFOA record(UINT mask) {
    MENUITEMINFOA mii{};
    mii.cbSize = MENUITEMINFOA_SIZE;
    mii.fMask = mask;
    return mii;
}

void setState(HMENU hMenu, std::int32_t ID, UINT state) {
    MENUITEMINFOA mii = record(MIIM_STATE);
    mii.fState = state;
    SetMenuItemInfoA(hMenu, UINT(ID), FALSE, &mii);
}

// Conversion as the original's long conversion does it: numbers round half to even, numeric
// text is read as a number, True is -1; anything else, or a value out of range, is an error.
std::int32_t toLong(const QVariant& value, qsizetype index) {
    const auto fail = [&] {
        return Error(u"Elemento %1 dell'elenco non convertibile in intero: %2"_s.arg(index).arg(
            value.toString()));
    };
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? -1 : 0;
    case QMetaType::Int:
        return value.toInt();
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return value.toInt();
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qlonglong v = value.toLongLong(&ok);
        if (!ok ||
            (value.typeId() == QMetaType::ULongLong &&
             value.toULongLong() > quint64(std::numeric_limits<qint64>::max())) ||
            v < std::numeric_limits<std::int32_t>::min() ||
            v > std::numeric_limits<std::int32_t>::max())
            throw fail();
        return std::int32_t(v);
    }
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        const double d = value.typeId() == QMetaType::QString
                             ? value.toString().trimmed().toDouble(&ok)
                             : value.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            throw fail();
        const double r = std::nearbyint(d);
        if (r < std::numeric_limits<std::int32_t>::min() ||
            r > std::numeric_limits<std::int32_t>::max())
            throw fail();
        return std::int32_t(r);
    }
    default:
        throw fail();
    }
}

} // namespace

void CMenu::mnuCheckRadioGroup(HMENU hMenu, std::int32_t idItem, std::int32_t idFirst,
                               std::int32_t idLast, std::int32_t uFlags) {
    CheckMenuRadioItem(hMenu, UINT(idFirst), UINT(idLast), UINT(idItem), UINT(uFlags));
}

void CMenu::mnuHighlightItem(HMENU hMenu, std::int32_t ID) {
    setState(hMenu, ID, MFS_HILITE);
}

void CMenu::mnuAddBreak(HMENU hMenu, std::int32_t& Position) {
    const std::int32_t p = Position < 0 ? GetMenuItemCount(hMenu) : Position - 1;
    MENUITEMINFOA mii = record(MIIM_TYPE);
    mii.fType = MFT_MENUBARBREAK | MFT_MENUBREAK;
    InsertMenuItemA(hMenu, UINT(p), TRUE, &mii);
    Position = p;
}

void CMenu::mnuAddBreak(HMENU hMenu) {
    std::int32_t position = -1;
    mnuAddBreak(hMenu, position);
}

void CMenu::mnuAddItem(HMENU hMenu, std::int32_t ID, const QString& Caption, bool RadioCheck) {
    std::int32_t position = -1;
    mnuAddItem(hMenu, ID, position, Caption, RadioCheck);
}

void CMenu::mnuRemoveItemRange(HMENU hMenu, const QVariantList& ItemList) {
    for (qsizetype i = 0; i < ItemList.size(); ++i)
        DeleteMenu(hMenu, UINT(toLong(ItemList[i], i)), MF_BYCOMMAND);
}

void CMenu::mnuSetItemDefault(HMENU hMenu, std::int32_t ID, bool Default) {
    if (Default) {
        setState(hMenu, ID, MFS_DEFAULT);
        return;
    }
    MENUITEMINFOA mii = record(MIIM_STATE);
    if (GetMenuItemInfoA(hMenu, UINT(ID), FALSE, &mii))
        setState(hMenu, ID, mii.fState & ~MFS_DEFAULT);
}

void CMenu::mnuEnableItem(HMENU hMenu, std::int32_t ID, bool Enabled) {
    setState(hMenu, ID, Enabled ? MFS_ENABLED : MFS_DISABLED | MFS_GRAYED);
}

void CMenu::mnuCheckItem(HMENU hMenu, std::int32_t ID, bool Checked) {
    setState(hMenu, ID, Checked ? MFS_CHECKED : 0);
}

void CMenu::mnuAddItem(HMENU hMenu, std::int32_t ID, std::int32_t& Position, const QString& Caption,
                       bool RadioCheck) {
    const std::int32_t p = Position < 0 ? GetMenuItemCount(hMenu) : Position;
    MENUITEMINFOA mii = record(MIIM_ID | MIIM_TYPE | MIIM_DATA);
    QByteArray text = ToSystemCodePage(Caption);
    if (!Caption.isEmpty()) {
        mii.fType = RadioCheck ? MFT_RADIOCHECK : MFT_STRING;
        mii.dwTypeData = text.data();
        mii.cch = UINT(text.size());
        mii.wID = UINT(ID);
    } else {
        mii.fType = MFT_SEPARATOR;
        mii.wID = 0;
    }
    InsertMenuItemA(hMenu, UINT(p), TRUE, &mii);
    Position = p;
}

void CMenu::mnuSetMenuCaption(HMENU hMenu, std::int32_t ID, const QString& Caption) {
    MENUITEMINFOA mii = record(MIIM_TYPE);
    QByteArray text = ToSystemCodePage(Caption);
    mii.fType = MFT_STRING;
    mii.dwTypeData = text.data();
    mii.cch = UINT(text.size());
    SetMenuItemInfoA(hMenu, UINT(ID), FALSE, &mii);
}

std::int32_t CMenu::mnuPopMenu(HMENU hMenu, HWND hwnd, std::int32_t flags, std::int32_t X,
                               std::int32_t Y) {
    POINT at{X, Y};
    if (X < 0 || Y < 0)
        GetCursorPos(&at);
    return TrackPopupMenuEx(hMenu, UINT(flags), at.x, at.y, hwnd, nullptr);
}

void CMenu::mnuRemoveItem(HMENU hMenu, std::int32_t ID, bool Destroy) {
    if (Destroy)
        DeleteMenu(hMenu, UINT(ID), MF_BYCOMMAND);
    else
        RemoveMenu(hMenu, UINT(ID), MF_BYCOMMAND);
}

void CMenu::mnuSimpleItemToSubMenu(HMENU hMenu, HMENU hSubMenu, std::int32_t ID) {
    MENUITEMINFOA mii = record(MIIM_SUBMENU);
    mii.hSubMenu = hSubMenu;
    SetMenuItemInfoA(hMenu, UINT(ID), FALSE, &mii);
}

CMenu::HMENU CMenu::mnuGetSubMenu(HMENU hMenu, std::int32_t ID, bool fByPosition) {
    MENUITEMINFOA mii = record(MIIM_SUBMENU);
    mii.wID = UINT(ID);
    GetMenuItemInfoA(hMenu, UINT(ID), fByPosition ? TRUE : FALSE, &mii);
    return mii.hSubMenu;
}

CMenu::HMENU CMenu::CreatePopMenu() {
    return CreatePopupMenu();
}

std::int32_t CMenu::DestroyCreateMenu(HMENU hMenu) {
    return DestroyMenu(hMenu);
}

} // namespace vestrel
