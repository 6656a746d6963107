#include "tray/ctrybar.h"

#include "tray/ansifield.h"

namespace vestrel {

using namespace win;

void CTryBar::setTip(const QString& vData) {
    SetAnsiField(tIconData_.szTip, sizeof tIconData_.szTip, vData);
    if (tIconData_.cbSize != 0)
        Shell_NotifyIconA(NIM_MODIFY, &tIconData_);
    sTip_ = vData;
}

void CTryBar::AddTryBarIcon(HWND WindowHandle, HICON PictureHandle, const QString& Tip) {
    tIconData_ = NOTIFYICONDATAA_V1{};
    tIconData_.cbSize = NOTIFYICONDATAA_V1_SIZE;
    tIconData_.hWnd = WindowHandle;
    tIconData_.uID = kIconId;
    tIconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tIconData_.uCallbackMessage = kCallbackMessage;
    tIconData_.hIcon = PictureHandle;
    SetAnsiField(tIconData_.szTip, sizeof tIconData_.szTip, Tip);
    Shell_NotifyIconA(NIM_ADD, &tIconData_);
    present_ = true;
    HookRegistry::instance().HookMessage(this, WindowHandle, kCallbackMessage);
    hWndHook_ = WindowHandle;
    if (oMenu_)
        oMenu_->DestroyCreateMenu(hPopMenu_);
    oMenu_ = std::make_unique<CMenu>();
    hPopMenu_ = oMenu_->CreatePopMenu();
    sTip_ = Tip;
}

void CTryBar::RemoveTryBarIcon() {
    if (tIconData_.cbSize == 0 || !present_)
        return;
    present_ = false;
    if (oMenu_)
        oMenu_->DestroyCreateMenu(hPopMenu_);
    Shell_NotifyIconA(NIM_DELETE, &tIconData_);
    HookRegistry::instance().UnhookMessage(this, hWndHook_, kCallbackMessage);
}

} // namespace vestrel
