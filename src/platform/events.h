#pragma once

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

namespace vestrel {

// Processes the pending window messages once, so the window repaints and clicks, menu
// choices and timer ticks are delivered. The fixed pump points of the program call it.
inline void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Waits for events and processes them, once: the wait of a call that returns only when its
// work, done elsewhere, has posted its end. On Windows Qt's dispatcher acts on the wake-up of
// a call posted from another thread only while an event loop runs (outside one such a wait
// never ends): the flag says one does.
inline void WaitForEvents() {
#ifdef Q_OS_WIN
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::EventLoopExec);
#else
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
#endif
}

// Ends the WaitForEvents under way, from a call it delivered: Qt's Windows dispatcher goes on
// waiting after delivering posted calls, until something else comes.
inline void EndWait() {
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->interrupt();
}

} // namespace vestrel
