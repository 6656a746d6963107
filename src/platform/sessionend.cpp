#include "platform/sessionend.h"

#ifdef _WIN32
#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vestrel {

#ifdef _WIN32

// Windows sends WM_QUERYENDSESSION and WM_ENDSESSION to every top-level window and ends the
// process as soon as the WM_ENDSESSION handler returns: the handler waits here until the
// program has asked to quit (a running backup is cancelled first), at most 10 s. A hidden
// top-level window of its own gets the messages also when no window of the program is open
// (message-only windows get no broadcasts); the windows Qt made get them through the event
// filter, which keeps Qt from quitting at once on its own.
class SessionEndWatcher::Filter final : public QObject, public QAbstractNativeEventFilter {
public:
    explicit Filter(SessionEndWatcher* owner) : owner_(owner) {
        QCoreApplication::instance()->installEventFilter(this);
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kClassName;
        RegisterClassW(&windowClass); // fails harmlessly when already registered
        window_ = CreateWindowExW(0, kClassName, L"Vestrel", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
        if (window_)
            SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Filter() override {
        if (window_)
            DestroyWindow(window_);
    }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message != WM_ENDSESSION || msg->wParam == FALSE)
            return false;
        end();
        *result = 0;
        return true;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // QCoreApplication::quit(): every running loop, this one included, ends with it.
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit)
            quitting_ = true;
        return false;
    }

private:
    static constexpr const wchar_t* kClassName = L"VestrelSessionEnd";

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_QUERYENDSESSION)
            return TRUE;
        if (message == WM_ENDSESSION) {
            if (wParam != FALSE)
                if (auto* filter =
                        reinterpret_cast<Filter*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
                    filter->end();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    // Every top-level window gets the message; the first one ends the program.
    void end() {
        if (ending_)
            return;
        ending_ = true;
        emit owner_->sessionEnding();
        if (!quitting_) {
            QTimer::singleShot(10000, &loop_, &QEventLoop::quit);
            loop_.exec();
        }
    }

    SessionEndWatcher* owner_;
    HWND window_ = nullptr;
    QEventLoop loop_;
    bool ending_ = false;
    bool quitting_ = false;
};

#else
namespace {

int signalPipe[2] = {-1, -1};

// Async-signal-safe: one byte into the pipe, the event loop does the rest.
extern "C" void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace
#endif

SessionEndWatcher::SessionEndWatcher(QObject* parent) : QObject(parent) {
#ifdef _WIN32
    if (!QCoreApplication::instance())
        return;
    filter_ = new Filter(this);
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->installNativeEventFilter(filter_);
#else
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        emit sessionEnding();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
#endif
}

SessionEndWatcher::~SessionEndWatcher() {
#ifdef _WIN32
    if (auto* dispatcher = QAbstractEventDispatcher::instance(); dispatcher && filter_)
        dispatcher->removeNativeEventFilter(filter_);
    delete filter_;
#else
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
#endif
}

} // namespace vestrel
