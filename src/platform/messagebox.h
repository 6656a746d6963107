#pragma once

#include "platform/seam.h"

#include <QString>

namespace vestrel {

// The application title: the caption of every message box.
inline const QString& AppTitle() {
    static const QString title = QStringLiteral("Corbanel");
    return title;
}

// A modal message box with the exclamation icon and a single OK button.
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    virtual void Exclamation(const QString& text, const QString& caption) = 0;
};

// The program installs the dialog of the widget layer at start; without one, the text goes
// to the diagnostic output, so a message is never lost silently.
Seam<IMessageBox>& MessageBoxSeam();

// The user messages of the program: text, exclamation icon, OK, caption "Corbanel".
inline void MsgBox(const QString& text) {
    MessageBoxSeam().get().Exclamation(text, AppTitle());
}

} // namespace vestrel
