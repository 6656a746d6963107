#pragma once

#include <QCoreApplication>

namespace vestrel {

// Processes the pending window messages once, so the window repaints and clicks, menu
// choices and timer ticks are delivered. The fixed pump points of the program call it.
inline void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace vestrel
