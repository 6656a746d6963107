#pragma once

#include "platform/seam.h"

#include <QDateTime>
#include <QObject>
#include <functional>
#include <memory>

namespace vestrel {

// One deadline on the wall clock, kept by the system: it fires when the wall clock reaches
// it, however the clock got there (time passing, a suspend, the clock being set).
class IWallTimerEngine {
public:
    virtual ~IWallTimerEngine() = default;
    // Arms the deadline, in milliseconds since the epoch (UTC); replaces an armed one. A
    // deadline already past fires at once.
    virtual void Arm(qint64 msecsSinceEpoch) = 0;
    virtual void Disarm() = 0;
};

// What an engine reports, on the user-interface thread: the deadline has come (the engine is
// disarmed then); the wall clock was set or the machine resumed, so what was read of the
// clock before is stale (an armed deadline stays armed).
struct WallTimerCallbacks {
    std::function<void()> expired;
    std::function<void()> clockSet;
};

// Makes the engines: the system's, or the one a test puts in with its clock.
class IWallTimerFactory {
public:
    virtual ~IWallTimerFactory() = default;
    virtual std::unique_ptr<IWallTimerEngine> CreateWallTimer(WallTimerCallbacks callbacks) = 0;
};
Seam<IWallTimerFactory>& WallTimerSeam();

// A single-shot timer on the wall clock. The system's engine is a timerfd on CLOCK_REALTIME
// with TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET on Linux, a waitable timer with an
// absolute due time on Windows; nothing polls in between.
class WallClockTimer final : public QObject {
    Q_OBJECT
public:
    explicit WallClockTimer(QObject* parent = nullptr);
    ~WallClockTimer() override;

    // Fires timeout() once when the wall clock reaches when; replaces an earlier deadline.
    void startAt(const QDateTime& when);
    void stop();
    bool isActive() const { return active_; }
    QDateTime deadline() const;

signals:
    void timeout();
    // The wall clock was set or the machine resumed; an armed deadline stays armed.
    void clockChanged();

private:
    std::unique_ptr<IWallTimerEngine> engine_;
    bool active_ = false;
    qint64 deadline_ = 0;
};

} // namespace vestrel
