// The main window's tray icon, its menu, and hiding and showing the window.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/gui/winapi.h"

namespace vestrel {

void FMain::createTrayIcon() {
    icontray = std::make_unique<ClsIconTray>();
    icontray->FormHvnd(win::WindowHandle(this));
    icontray->FormIcon(win::IconHandle(windowIcon()));
    icontray->Inizializza();
    icontray->PopMenuAddItem(QStringLiteral("Mostra ") + windowTitle(), true);
    icontray->PopMenuAddItem(QStringLiteral("Nascondi"));
    icontray->PopMenuAddItem(QStringLiteral("Abilita/Disabilita"));
    icontray->PopMenuAddItem(QString()); // separator
    icontray->PopMenuAddItem(QStringLiteral("Chiudi"));
    icontray->PopMenuAddItem(QStringLiteral("Annulla"));
    connect(icontray.get(), &ClsIconTray::MouseDblClick, this, &FMain::icontray_MouseDblClick);
    connect(icontray.get(), &ClsIconTray::PopMenuClick, this, &FMain::icontray_PopMenuClick);
}

void FMain::CmdNascondi_Click() {
    hide();
}

void FMain::icontray_MouseDblClick(short Button) {
    if (Button == 0)
        icontray_PopMenuClick(1);
}

void FMain::icontray_PopMenuClick(int Index) {
    switch (Index) {
    case 1:
        setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        show();
        raise();
        activateWindow();
        break;
    case 2:
        hide();
        break;
    case 3:
        CmdAbilita_Click();
        break;
    case 5:
        ExitProgram();
        break;
    default:
        break;
    }
}

} // namespace vestrel
