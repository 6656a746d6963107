#include "platform/messagebox.h"

#include <QDebug>

namespace vestrel {
namespace {

class DiagnosticMessageBox final : public IMessageBox {
public:
    void Exclamation(const QString& text, const QString& caption) override {
        qWarning().noquote() << caption << ":" << text;
    }
};

} // namespace

Seam<IMessageBox>& MessageBoxSeam() {
    static DiagnosticMessageBox fallback;
    static Seam<IMessageBox> seam(fallback);
    return seam;
}

} // namespace vestrel
