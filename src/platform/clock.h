#pragma once

#include "platform/seam.h"

#include <QDateTime>

namespace vestrel {

// Local date and time. The scheduler, the log stamps and the default backup name read it.
class IClock {
public:
    virtual ~IClock() = default;
    virtual QDateTime Now() const = 0;
};

Seam<IClock>& ClockSeam();

inline QDateTime Now() {
    return ClockSeam().get().Now();
}

} // namespace vestrel
