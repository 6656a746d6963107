#include "cli/stoprequests.h"

#include "platform/sessionend.h"

#include <QCoreApplication>
#include <QPointer>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vestrel::cli {

#ifdef _WIN32
namespace {

QPointer<StopRequests>& current() {
    static QPointer<StopRequests> requests;
    return requests;
}

// Runs on a thread of its own that the system starts: the request is queued to the event
// loop's thread. Ctrl+C and Ctrl+Break are handled and the process goes on to cancel; for
// the console closing, the system ends the process when the handler returns, so it waits a
// little for the cancel to reach the server.
BOOL WINAPI OnConsoleControl(DWORD type) {
    StopRequests* requests = current();
    if (!requests)
        return FALSE;
    QMetaObject::invokeMethod(requests, &StopRequests::stopRequested, Qt::QueuedConnection);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        Sleep(4000);
    return TRUE;
}

} // namespace

StopRequests::StopRequests(QObject* parent) : QObject(parent) {
    current() = this;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequests::~StopRequests() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    current() = nullptr;
}
#else
// The session's watcher already turns the termination signals into an event of the loop.
StopRequests::StopRequests(QObject* parent) : QObject(parent) {
    auto* watcher = new SessionEndWatcher(this);
    connect(watcher, &SessionEndWatcher::sessionEnding, this, &StopRequests::stopRequested);
}

StopRequests::~StopRequests() = default;
#endif

} // namespace vestrel::cli
