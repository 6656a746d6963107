#include "tray/trayiconbase.h"

#include "platform/error.h"

#include <QPointer>
#include <limits>

using namespace Qt::StringLiterals;

namespace vestrel {

using namespace win;

void TrayIconBase::PopMenuAddItem(const QString& Caption, bool Default) {
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    if (lItemCount_ == max)
        throw Error(u"PopMenuAddItem: overflow"_s);
    const std::int32_t n = ++lItemCount_;
    if (n > max - kItemIdBase)
        throw Error(u"PopMenuAddItem: overflow"_s);
    if (!oMenu_)
        throw Error(u"PopMenuAddItem: menu non inizializzato"_s);
    std::int32_t position = -1;
    oMenu_->mnuAddItem(hPopMenu_, kItemIdBase + n, position, Caption, false);
    if (Default)
        oMenu_->mnuSetItemDefault(hPopMenu_, kItemIdBase + n, true);
}

LRESULT TrayIconBase::WindowProc(HWND /*hwnd*/, UINT iMsg, WPARAM /*wParam*/, LPARAM lParam) {
    if (iMsg == kCallbackMessage) {
        switch (UINT(lParam)) {
        case WM_MOUSEMOVE:
            emit MouseMove();
            break;
        case WM_LBUTTONDOWN:
            emit MouseDown(0);
            break;
        case WM_LBUTTONUP:
            emit MouseUp(0);
            emit MouseClick(0);
            break;
        case WM_LBUTTONDBLCLK:
            emit MouseDblClick(0);
            break;
        case WM_RBUTTONDOWN:
            emit MouseDown(1);
            break;
        case WM_RBUTTONUP: {
            // The menu runs its own event loop; the owner may delete this object meanwhile.
            const QPointer<TrayIconBase> self(this);
            const std::int32_t id =
                oMenu_ ? oMenu_->mnuPopMenu(hPopMenu_, hWndHook_, TPM_RETURNCMD, -1, -1) : 0;
            if (!self)
                return 0;
            if (id > kItemIdBase)
                emit PopMenuClick(id - kItemIdBase);
            if (!self)
                return 0;
            emit MouseUp(1);
            if (!self)
                return 0;
            emit MouseClick(1);
            break;
        }
        case WM_RBUTTONDBLCLK:
            emit MouseDblClick(1);
            break;
        default:
            break;
        }
    }
    lMsgResponse_ = 1;
    return 0;
}

} // namespace vestrel
