#include "app/fmain.h"
#include "platform/gui/qtmessagebox.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    vestrel::QtMessageBox messageBox;
    vestrel::MessageBoxSeam().set(&messageBox);
    vestrel::FMain window;
    window.show();
    return app.exec();
}
