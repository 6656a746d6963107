#include "platform/gui/qtmessagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace vestrel {

void QtMessageBox::Exclamation(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace vestrel
