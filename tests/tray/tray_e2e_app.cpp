// A window with the main window's tray icon, driven from outside under a real X server:
// "Nascondi" hides the window, a left double click on the icon shows it again. The state is
// written to the file named by the first argument whenever it may have changed.

#include "platform/gui/winapi.h"
#include "tray/clsicontray.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPixmap>
#include <QSaveFile>
#include <QTimer>
#include <QWidget>

using namespace vestrel;
using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString stateFile = QString::fromLocal8Bit(argv[1]);

    QWidget window;
    window.setWindowTitle(u"Vestrel tray check"_s);
    window.resize(300, 120);
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkBlue);
    const QIcon icon(pixmap);
    window.setWindowIcon(icon);
    window.show();

    const win::HWND hwnd = win::WindowHandle(&window);
    ClsIconTray tray;
    tray.FormHvnd(hwnd);
    tray.FormIcon(win::IconHandle(icon));
    tray.Inizializza();
    const QStringList items = {u"Mostra Tarvoni Software - Vestrel"_s,
                               u"Nascondi"_s,
                               u"Abilita/Disabilita"_s,
                               QString(),
                               u"Chiudi"_s,
                               u"Annulla"_s};
    for (qsizetype i = 0; i < items.size(); ++i)
        tray.PopMenuAddItem(items[i], i == 0);

    QStringList events;
    const auto write = [&] {
        const QSystemTrayIcon* qt = win::NotifyIconObject(hwnd, ClsIconTray::kIconId);
        const QRect g = qt ? qt->geometry() : QRect();
        QSaveFile file(stateFile);
        if (!file.open(QIODevice::WriteOnly))
            return;
        const QString text = u"available=%1\ndocked=%2\nvisible=%3\nfonts=%4\nevents=%5\n"_s
                                 .arg(QSystemTrayIcon::isSystemTrayAvailable() ? 1 : 0)
                                 .arg(g.isEmpty() ? 0 : 1)
                                 .arg(window.isVisible() ? 1 : 0)
                                 .arg(QFontDatabase::families().size())
                                 .arg(events.join(u' '));
        file.write(text.toUtf8());
        file.commit();
    };
    QObject::connect(&tray, &ClsIconTray::PopMenuClick, &window, [&](int index) {
        events << u"PopMenuClick(%1)"_s.arg(index);
        if (index == 2)
            window.hide();
        write();
    });
    QObject::connect(&tray, &ClsIconTray::MouseDblClick, &window, [&](short button) {
        events << u"MouseDblClick(%1)"_s.arg(button);
        if (button == 0)
            window.show();
        write();
    });
    QObject::connect(&tray, &ClsIconTray::MouseClick, &window, [&](short button) {
        events << u"MouseClick(%1)"_s.arg(button);
        write();
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, write);
    poll.start(50);
    write();
    return app.exec();
}
