#pragma once

#include "tray/trayiconbase.h"

#include <QString>

namespace vestrel {

// A simpler tray icon: window, icon and tip in one call, a tip that can change, and an
// explicit removal. Uses the short 88-byte record, kept in the object and sent again on every
// later call. Failures of the registry reach the caller as vestrel::Error, except in setTip.
//
// A second RemoveTryBarIcon does nothing; AddTryBarIcon after a removal adds the icon again
// with a new, empty menu (item indices keep counting). An object destroyed without
// RemoveTryBarIcon leaves its icon in place, but its routing ends with it.
class CTryBar final : public TrayIconBase {
    Q_OBJECT
public:
    static constexpr win::UINT kIconId = 1;

    explicit CTryBar(QObject* parent = nullptr) : TrayIconBase(parent) {}

    // Changes the tip (64-character field) and sends the record again; before AddTryBarIcon
    // only the stored text changes.
    void setTip(const QString& vData);
    QString Tip() const { return sTip_; }

    void AddTryBarIcon(win::HWND WindowHandle, win::HICON PictureHandle, const QString& Tip);
    // Destroys the menu, deletes the icon and ends the routing.
    void RemoveTryBarIcon();

    const win::NOTIFYICONDATAA_V1& IconData() const { return tIconData_; }

private:
    win::NOTIFYICONDATAA_V1 tIconData_{};
    QString sTip_;
    bool present_ = false; // added and not yet removed
};

} // namespace vestrel
