#pragma once

#include "platform/messagebox.h"

namespace vestrel {

// The message box the program shows: modal, warning (exclamation) icon, one OK button.
class QtMessageBox final : public IMessageBox {
public:
    void Exclamation(const QString& text, const QString& caption) override;
};

} // namespace vestrel
