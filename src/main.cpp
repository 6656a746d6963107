#include "app/fmain.h"
#include "app/mbackup.h"
#include "cli/commandline.h"
#include "platform/gui/qtmessagebox.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // Any argument is for the command line, which needs no display: decided before a
    // QApplication looks for one.
    if (vestrel::cli::IsCommandLine(argc, argv))
        return vestrel::cli::Main(argc, argv);
    QApplication app(argc, argv);
    // The program lives in the tray: a hidden window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    vestrel::UseProgramStyle();
    vestrel::QtMessageBox messageBox;
    vestrel::MessageBoxSeam().set(&messageBox);
    if (!vestrel::Main())
        return 0;
    const int code = QApplication::exec();
    vestrel::ReleaseMainWindow();
    return code;
}
