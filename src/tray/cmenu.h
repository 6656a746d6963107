#pragma once

#include "platform/gui/winapi.h"

#include <QString>
#include <QVariantList>

namespace vestrel {

// Popup menus over the platform's menu functions. Keeps no state: every operation works on
// the menu handle it is given. Results of the platform calls are not examined except where an
// operation returns them; a failing call changes nothing.
class CMenu {
public:
    using HMENU = win::HMENU;
    using HWND = win::HWND;

    // Checks idItem as the radio item of the identifiers idFirst to idLast (note the order:
    // the platform function takes the checked item last).
    void mnuCheckRadioGroup(HMENU hMenu, std::int32_t idItem, std::int32_t idFirst,
                            std::int32_t idLast, std::int32_t uFlags = 0);
    void mnuHighlightItem(HMENU hMenu, std::int32_t ID);
    // A column break at Position - 1, or at the end when Position is negative; Position
    // receives the index used.
    void mnuAddBreak(HMENU hMenu, std::int32_t& Position);
    void mnuAddBreak(HMENU hMenu);
    // Deletes the items whose identifiers ItemList holds, first to last. An element that is
    // no 32-bit integer throws vestrel::Error; the items of the earlier elements stay deleted.
    void mnuRemoveItemRange(HMENU hMenu, const QVariantList& ItemList);
    // Default True makes ID the default item: its state becomes MFS_DEFAULT alone. Default
    // False takes the default mark off ID and keeps the rest of its state.
    void mnuSetItemDefault(HMENU hMenu, std::int32_t ID, bool Default);
    void mnuEnableItem(HMENU hMenu, std::int32_t ID, bool Enabled);
    void mnuCheckItem(HMENU hMenu, std::int32_t ID, bool Checked);
    // Inserts a text item, or a separator (identifier 0) when Caption is empty, at Position,
    // or at the end when Position is negative; Position receives the index used.
    void mnuAddItem(HMENU hMenu, std::int32_t ID, std::int32_t& Position, const QString& Caption,
                    bool RadioCheck = false);
    // The same at the end of the menu.
    void mnuAddItem(HMENU hMenu, std::int32_t ID = -1, const QString& Caption = QString(),
                    bool RadioCheck = false);
    void mnuSetMenuCaption(HMENU hMenu, std::int32_t ID, const QString& Caption);
    // Shows the menu at (X, Y), or at the cursor when either is negative, and returns the
    // platform call's result: with TPM_RETURNCMD the chosen identifier or 0.
    std::int32_t mnuPopMenu(HMENU hMenu, HWND hwnd, std::int32_t flags = 0, std::int32_t X = -1,
                            std::int32_t Y = -1);
    void mnuRemoveItem(HMENU hMenu, std::int32_t ID, bool Destroy = true);
    void mnuSimpleItemToSubMenu(HMENU hMenu, HMENU hSubMenu, std::int32_t ID);
    HMENU mnuGetSubMenu(HMENU hMenu, std::int32_t ID, bool fByPosition = true);
    HMENU CreatePopMenu();
    std::int32_t DestroyCreateMenu(HMENU hMenu);
};

} // namespace vestrel
