#pragma once

#include "tray/cmenu.h"
#include "tray/subclass.h"

#include <QObject>
#include <memory>

namespace vestrel {

// What both tray icon classes share: the popup menu with its items, the callback message and
// the events raised for it.
class TrayIconBase : public QObject, public ISubclass {
    Q_OBJECT
public:
    static constexpr win::UINT kCallbackMessage = 0x1000;
    static constexpr std::int32_t kItemIdBase = 100;

    // Appends an item, or a separator when Caption is empty, with identifier 100 + n for the
    // n-th call; Default makes it the default (bold) item. Throws vestrel::Error while there is
    // no menu and when the count overflows; the count has then already advanced.
    void PopMenuAddItem(const QString& Caption, bool Default = false);

    void setMsgResponse(std::int32_t RHS) override { lMsgResponse_ = RHS; }
    std::int32_t MsgResponse() const override { return lMsgResponse_; }
    // Message 0x1000 raises the events of the mouse message in lParam; a right button release
    // first shows the popup menu at the cursor and reports the choice. Always returns 0 and
    // sets the response to 1.
    win::LRESULT WindowProc(win::HWND hwnd, win::UINT iMsg, win::WPARAM wParam,
                            win::LPARAM lParam) override;

    win::HMENU PopMenu() const { return hPopMenu_; }
    win::HWND HookedWindow() const { return hWndHook_; }
    std::int32_t ItemCount() const { return lItemCount_; }

signals:
    void PopMenuClick(int Index);
    void MouseMove();
    void MouseUp(short Button);
    void MouseDown(short Button);
    void MouseClick(short Button);
    void MouseDblClick(short Button);

protected:
    explicit TrayIconBase(QObject* parent) : QObject(parent) {}

    win::HWND hWndHook_ = 0;
    std::unique_ptr<CMenu> oMenu_;
    win::HMENU hPopMenu_ = 0;
    std::int32_t lItemCount_ = 0;
    std::int32_t lMsgResponse_ = 0;
};

} // namespace vestrel
