#include "platform/walltimer.h"

#include <QTimer>
#include <algorithm>

#if defined(Q_OS_LINUX)
#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QWinEventNotifier>
#include <windows.h>
#endif

namespace vestrel {
namespace {

// Where no absolute wall-clock timer exists: a sleep of at most a minute, after which the
// deadline is compared with the clock again, so a changed clock costs at most a minute.
class PollingEngine final : public IWallTimerEngine {
public:
    explicit PollingEngine(WallTimerCallbacks callbacks) : callbacks_(std::move(callbacks)) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::CoarseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { check(); });
    }
    void Arm(qint64 msecsSinceEpoch) override {
        deadline_ = msecsSinceEpoch;
        timer_.start(0);
    }
    void Disarm() override { timer_.stop(); }

private:
    void check() {
        const qint64 left = deadline_ - QDateTime::currentMSecsSinceEpoch();
        if (left <= 0) {
            timer_.stop();
            callbacks_.expired();
            return;
        }
        timer_.start(int(std::min<qint64>(left, 60 * 1000)));
    }

    WallTimerCallbacks callbacks_;
    QTimer timer_;
    qint64 deadline_ = 0;
};

#if defined(Q_OS_LINUX)

// A timerfd on CLOCK_REALTIME with an absolute deadline. The kernel fires it when the wall
// clock reaches the deadline, also right after a resume when it passed during the suspend;
// with TFD_TIMER_CANCEL_ON_SET a read fails with ECANCELED once the clock has been set (and
// after a resume), and the timer is armed again.
class TimerFdEngine final : public IWallTimerEngine {
public:
    // Falls back to polling when the kernel gives no timerfd.
    static std::unique_ptr<IWallTimerEngine> Create(WallTimerCallbacks callbacks) {
        const int fd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd < 0)
            return std::make_unique<PollingEngine>(std::move(callbacks));
        return std::unique_ptr<IWallTimerEngine>(new TimerFdEngine(fd, std::move(callbacks)));
    }
    ~TimerFdEngine() override {
        notifier_.reset();
        ::close(fd_);
    }
    TimerFdEngine(const TimerFdEngine&) = delete;
    TimerFdEngine& operator=(const TimerFdEngine&) = delete;

    void Arm(qint64 msecsSinceEpoch) override {
        armed_ = true;
        // A zero it_value would disarm: the earliest deadline is one nanosecond after the epoch.
        deadline_ = std::max<qint64>(msecsSinceEpoch, 0);
        set();
    }
    void Disarm() override {
        armed_ = false;
        const itimerspec none{};
        timerfd_settime(fd_, 0, &none, nullptr);
    }

private:
    TimerFdEngine(int fd, WallTimerCallbacks callbacks)
        : callbacks_(std::move(callbacks)), fd_(fd),
          notifier_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { readable(); });
    }

    void set() {
        itimerspec value{};
        value.it_value.tv_sec = time_t(deadline_ / 1000);
        value.it_value.tv_nsec = long(deadline_ % 1000) * 1000000L;
        if (deadline_ == 0)
            value.it_value.tv_nsec = 1;
        timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &value, nullptr);
    }

    void readable() {
        std::uint64_t expirations = 0;
        const ssize_t got = ::read(fd_, &expirations, sizeof expirations);
        if (got == ssize_t(sizeof expirations)) {
            armed_ = false;
            callbacks_.expired();
        } else if (got < 0 && errno == ECANCELED) {
            if (armed_)
                set();
            callbacks_.clockSet();
        }
    }

    WallTimerCallbacks callbacks_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool armed_ = false;
    qint64 deadline_ = 0;
};

#elif defined(Q_OS_WIN)

// A waitable timer with an absolute due time: Windows moves it with the system time and
// signals it after a resume when it fell due during the suspend. WM_TIMECHANGE and the resume
// notice tell that the clock read before is stale.
class WaitableTimerEngine final : public IWallTimerEngine, public QAbstractNativeEventFilter {
public:
    explicit WaitableTimerEngine(WallTimerCallbacks callbacks)
        : callbacks_(std::move(callbacks)), handle_(CreateWaitableTimerW(nullptr, FALSE, nullptr)),
          notifier_(handle_) {
        QObject::connect(&notifier_, &QWinEventNotifier::activated, &notifier_, [this] {
            if (!armed_)
                return;
            armed_ = false;
            callbacks_.expired();
        });
        if (auto* dispatcher = QAbstractEventDispatcher::instance())
            dispatcher->installNativeEventFilter(this);
    }
    ~WaitableTimerEngine() override {
        if (auto* dispatcher = QAbstractEventDispatcher::instance())
            dispatcher->removeNativeEventFilter(this);
        notifier_.setEnabled(false);
        CancelWaitableTimer(handle_);
        CloseHandle(handle_);
    }
    WaitableTimerEngine(const WaitableTimerEngine&) = delete;
    WaitableTimerEngine& operator=(const WaitableTimerEngine&) = delete;

    void Arm(qint64 msecsSinceEpoch) override {
        // FILETIME: 100 ns units since 1601-01-01 UTC; a positive due time is absolute.
        constexpr qint64 kEpochFrom1601Ms = 11644473600000LL;
        LARGE_INTEGER due;
        due.QuadPart = (std::max<qint64>(msecsSinceEpoch, 0) + kEpochFrom1601Ms) * 10000LL;
        armed_ = SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE) != 0;
    }
    void Disarm() override {
        armed_ = false;
        CancelWaitableTimer(handle_);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == WM_TIMECHANGE ||
            (msg->message == WM_POWERBROADCAST && msg->wParam == PBT_APMRESUMEAUTOMATIC))
            callbacks_.clockSet();
        return false;
    }

private:
    WallTimerCallbacks callbacks_;
    HANDLE handle_;
    QWinEventNotifier notifier_;
    bool armed_ = false;
};

#endif

class SystemWallTimers final : public IWallTimerFactory {
public:
    std::unique_ptr<IWallTimerEngine> CreateWallTimer(WallTimerCallbacks callbacks) override {
#if defined(Q_OS_LINUX)
        return TimerFdEngine::Create(std::move(callbacks));
#elif defined(Q_OS_WIN)
        return std::make_unique<WaitableTimerEngine>(std::move(callbacks));
#else
        return std::make_unique<PollingEngine>(std::move(callbacks));
#endif
    }
};

} // namespace

Seam<IWallTimerFactory>& WallTimerSeam() {
    static SystemWallTimers system;
    static Seam<IWallTimerFactory> seam(system);
    return seam;
}

WallClockTimer::WallClockTimer(QObject* parent) : QObject(parent) {
    WallTimerCallbacks callbacks;
    callbacks.expired = [this] {
        active_ = false;
        emit timeout();
    };
    callbacks.clockSet = [this] { emit clockChanged(); };
    engine_ = WallTimerSeam().get().CreateWallTimer(std::move(callbacks));
}

WallClockTimer::~WallClockTimer() = default;

void WallClockTimer::startAt(const QDateTime& when) {
    active_ = true;
    deadline_ = when.toMSecsSinceEpoch();
    engine_->Arm(deadline_);
}

void WallClockTimer::stop() {
    active_ = false;
    engine_->Disarm();
}

QDateTime WallClockTimer::deadline() const {
    return active_ ? QDateTime::fromMSecsSinceEpoch(deadline_) : QDateTime();
}

} // namespace vestrel
