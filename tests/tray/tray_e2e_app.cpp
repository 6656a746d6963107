// A window with the main window's tray icon, driven from outside under a real X server:
// "Nascondi" hides the window, a left double click on the icon shows it again. The state is
// written to the file named by the first argument whenever it may have changed: the icon's
// events in order, and while the menu is open the screen position of its items' centres.

#include "platform/gui/winapi.h"
#include "tray/clsicontray.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
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
    QPointer<QMenu> menu;
    win::SetPopupMenuObserver([&menu](QMenu& shown, QPoint) { menu = &shown; });
    const auto write = [&] {
        const QSystemTrayIcon* qt = win::NotifyIconObject(hwnd, ClsIconTray::kIconId);
        const QRect g = qt ? qt->geometry() : QRect();
        QSaveFile file(stateFile);
        if (!file.open(QIODevice::WriteOnly))
            return;
        QString text = u"available=%1\ndocked=%2\nvisible=%3\nfonts=%4\nevents=%5\n"_s
                           .arg(QSystemTrayIcon::isSystemTrayAvailable() ? 1 : 0)
                           .arg(g.isEmpty() ? 0 : 1)
                           .arg(window.isVisible() ? 1 : 0)
                           .arg(QFontDatabase::families().size())
                           .arg(events.join(u' '));
        if (menu && menu->isVisible()) {
            const QList<QAction*> actions = menu->actions();
            for (qsizetype i = 0; i < actions.size(); ++i) {
                const QPoint at = menu->mapToGlobal(menu->actionGeometry(actions[i]).center());
                text += u"item%1=%2 %3\n"_s.arg(i + 1).arg(at.x()).arg(at.y());
            }
        }
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
    QObject::connect(&tray, &ClsIconTray::MouseDown, &window, [&](short button) {
        events << u"MouseDown(%1)"_s.arg(button);
        write();
    });
    QObject::connect(&tray, &ClsIconTray::MouseUp, &window, [&](short button) {
        events << u"MouseUp(%1)"_s.arg(button);
        write();
    });
    // Moves come often: one in the list for a run of them.
    QObject::connect(&tray, &ClsIconTray::MouseMove, &window, [&] {
        if (events.isEmpty() || events.last() != u"MouseMove"_s)
            events << u"MouseMove"_s;
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, write);
    poll.start(50);
    write();
    return app.exec();
}
