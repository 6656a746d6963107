#include "platform/clock.h"

namespace vestrel {
namespace {

class SystemClock final : public IClock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
};

} // namespace

Seam<IClock>& ClockSeam() {
    static SystemClock system;
    static Seam<IClock> seam(system);
    return seam;
}

} // namespace vestrel
