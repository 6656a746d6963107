#pragma once

#include "tray/trayiconbase.h"

namespace vestrel {

// The program's icon in the notification area, tip "Vestrel", with a popup menu on a right
// click; mouse activity and the chosen item come back as the signals of TrayIconBase.
// Calling order: FormHvnd and FormIcon, Inizializza once, then PopMenuAddItem for each item.
// Failures of the shell, of the registry and of the menu creation are ignored.
class ClsIconTray final : public TrayIconBase {
    Q_OBJECT
public:
    static constexpr win::UINT kIconId = 999;

    explicit ClsIconTray(QObject* parent = nullptr) : TrayIconBase(parent) {}
    // Removes the icon; the routing ends with the object and the popup menu is destroyed.
    ~ClsIconTray() override;

    void FormHvnd(win::HWND vData) { lFormHvnd_ = vData; }
    void FormIcon(win::HICON vData) { lFormIcon_ = vData; }
    // Adds the icon, asks for version 3 behaviour, hooks message 0x1000 of the window and
    // creates the empty popup menu.
    void Inizializza();
    // A balloon: Msg cut at 256 characters, Title at 64, Flag as the platform's dwInfoFlags.
    void Notify(const QString& Msg, const QString& Title, std::int32_t Flag);
    // Shows another icon in the notification area (the tip stays); before Inizializza it
    // only takes the place of FormIcon's.
    void ChangeIcon(win::HICON vData);
    // Shows another tip ("Vestrel" until then), cut to what the record's tip field holds: 64
    // bytes in the short record, 128 in the full one. Before Inizializza it only takes the
    // place of the first tip.
    void Tip(const QString& text);
    QString Tip() const { return tip_; }

    // The record size in use: 0 until first needed, then 504, 488 or 88 for good.
    std::int32_t IconDataSize() const { return lIconDataSize_; }

private:
    void AddIcon();
    void RemoveIcon();
    void ShowBalloon(const QString& Title, std::int32_t Flags, const QString& Text);
    void ModifyIcon();
    void ModifyTip();
    void SetStructSize();
    // The bytes of the tip field that the shell reads from a record of lIconDataSize_.
    std::size_t TipWidth() const;
    win::NOTIFYICONDATAA Record() const;

    win::HWND lFormHvnd_ = 0;
    win::HICON lFormIcon_ = 0;
    std::int32_t lIconDataSize_ = 0;
    bool added_ = false;
    QString tip_ = QStringLiteral("Vestrel");
};

// Whether shell32's major version is at least version; false without version information.
bool IsShellVersion(std::int32_t version);

} // namespace vestrel
