#include "platform/gui/qtmessagebox.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>

namespace vestrel {

void QtMessageBox::Exclamation(const QString& text, const QString& caption) {
    // Also on the diagnostic output, for a user who started the program from a terminal.
    qInfo().noquote() << caption + QLatin1String(": ") + text;
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace vestrel
