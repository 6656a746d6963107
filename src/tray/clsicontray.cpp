#include "tray/clsicontray.h"

#include "tray/ansifield.h"

#include <QByteArray>
#include <cstring>
#include <exception>

using namespace Qt::StringLiterals;

namespace vestrel {

using namespace win;

bool IsShellVersion(std::int32_t version) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA("shell32.dll", &handle);
    if (std::int32_t(size) <= 0)
        return false;
    QByteArray buffer(qsizetype(size), '\0');
    GetFileVersionInfoA("shell32.dll", handle, size, buffer.data());
    void* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(buffer.constData(), "\\", &fixed, &length) != 1 || length < 12)
        return false;
    std::int16_t major = 0;
    std::memcpy(&major, static_cast<const char*>(fixed) + 10, sizeof major);
    return major >= version;
}

ClsIconTray::~ClsIconTray() {
    RemoveIcon();
    if (oMenu_)
        oMenu_->DestroyCreateMenu(hPopMenu_);
}

NOTIFYICONDATAA ClsIconTray::Record() const {
    NOTIFYICONDATAA rec{};
    rec.cbSize = DWORD(lIconDataSize_);
    rec.hWnd = lFormHvnd_;
    rec.uID = kIconId;
    return rec;
}

void ClsIconTray::SetStructSize() {
    if (IsShellVersion(6))
        lIconDataSize_ = NOTIFYICONDATAA_V3_SIZE;
    else if (IsShellVersion(5))
        lIconDataSize_ = NOTIFYICONDATAA_V2_SIZE;
    else
        lIconDataSize_ = NOTIFYICONDATAA_V1_SIZE;
}

void ClsIconTray::Inizializza() {
    AddIcon();
}

void ClsIconTray::AddIcon() {
    if (lIconDataSize_ == 0)
        SetStructSize();
    NOTIFYICONDATAA rec = Record();
    rec.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    rec.uCallbackMessage = kCallbackMessage;
    rec.hIcon = lFormIcon_;
    SetAnsiField(rec.szTip, TipWidth(), tip_);
    rec.dwState = NIS_SHAREDICON;
    rec.dwStateMask = 0;
    rec.uTimeoutOrVersion = 3;
    SetAnsiField(rec.szInfo, sizeof rec.szInfo, QString());
    SetAnsiField(rec.szInfoTitle, sizeof rec.szInfoTitle, QString());
    // From here on a failing step is skipped and the next one attempted.
    Shell_NotifyIconA(NIM_ADD, &rec);
    Shell_NotifyIconA(NIM_SETVERSION, &rec);
    added_ = true;
    hWndHook_ = lFormHvnd_;
    try {
        HookRegistry::instance().HookMessage(this, lFormHvnd_, kCallbackMessage);
    } catch (const std::exception&) {
    }
    oMenu_ = std::make_unique<CMenu>();
    hPopMenu_ = oMenu_->CreatePopMenu();
}

void ClsIconTray::Notify(const QString& Msg, const QString& Title, std::int32_t Flag) {
    ShowBalloon(Title, Flag, Msg);
}

void ClsIconTray::ChangeIcon(HICON vData) {
    lFormIcon_ = vData;
    if (added_)
        ModifyIcon();
}

void ClsIconTray::Tip(const QString& text) {
    tip_ = text;
    if (added_)
        ModifyTip();
}

std::size_t ClsIconTray::TipWidth() const {
    return lIconDataSize_ == std::int32_t(NOTIFYICONDATAA_V1_SIZE)
               ? 64
               : sizeof(NOTIFYICONDATAA{}.szTip);
}

void ClsIconTray::ModifyTip() {
    if (lIconDataSize_ == 0)
        SetStructSize();
    NOTIFYICONDATAA rec = Record();
    rec.uFlags = NIF_TIP;
    // The short record's field ends at 64 bytes: the text is cut there, with its NUL.
    SetAnsiField(rec.szTip, TipWidth(), tip_);
    SetAnsiField(rec.szInfo, sizeof rec.szInfo, QString());
    SetAnsiField(rec.szInfoTitle, sizeof rec.szInfoTitle, QString());
    // Failures are skipped, as for the balloon.
    Shell_NotifyIconA(NIM_MODIFY, &rec);
}

void ClsIconTray::ModifyIcon() {
    if (lIconDataSize_ == 0)
        SetStructSize();
    NOTIFYICONDATAA rec = Record();
    rec.uFlags = NIF_ICON;
    rec.hIcon = lFormIcon_;
    SetAnsiField(rec.szTip, sizeof rec.szTip, QString());
    SetAnsiField(rec.szInfo, sizeof rec.szInfo, QString());
    SetAnsiField(rec.szInfoTitle, sizeof rec.szInfoTitle, QString());
    // Failures are skipped, as for the balloon.
    Shell_NotifyIconA(NIM_MODIFY, &rec);
}

void ClsIconTray::ShowBalloon(const QString& Title, std::int32_t Flags, const QString& Text) {
    if (lIconDataSize_ == 0)
        SetStructSize();
    NOTIFYICONDATAA rec = Record();
    rec.uFlags = NIF_INFO;
    SetAnsiField(rec.szTip, sizeof rec.szTip, QString());
    SetAnsiField(rec.szInfoTitle, sizeof rec.szInfoTitle, Title);
    rec.dwInfoFlags = DWORD(Flags);
    SetAnsiField(rec.szInfo, sizeof rec.szInfo, Text);
    Shell_NotifyIconA(NIM_MODIFY, &rec);
}

void ClsIconTray::RemoveIcon() {
    if (lIconDataSize_ == 0)
        SetStructSize();
    NOTIFYICONDATAA rec = Record();
    SetAnsiField(rec.szTip, sizeof rec.szTip, QString());
    SetAnsiField(rec.szInfo, sizeof rec.szInfo, QString());
    SetAnsiField(rec.szInfoTitle, sizeof rec.szInfoTitle, QString());
    Shell_NotifyIconA(NIM_DELETE, &rec);
}

} // namespace vestrel
