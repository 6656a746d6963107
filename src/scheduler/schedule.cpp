#include "scheduler/schedule.h"

#include <algorithm>

namespace vestrel {

namespace {
constexpr qint64 kLongestSleepMs = 60 * 1000;
constexpr qint64 kShortestSleepMs = 50;
} // namespace

bool RepeatGuard::Allows(const QDateTime& now) const {
    const QTime time = now.time();
    const QDate date = now.date();
    // The ticks that follow a start within the same minute never start again.
    if (time.minute() == lastMinute_ && time.hour() == lastHour_ && date.day() == lastDay_)
        return false;
    return time.hour() != lastHour_ || date != lastDate_;
}

void RepeatGuard::Remember(const QDateTime& now) {
    lastMinute_ = now.time().minute();
    lastHour_ = now.time().hour();
    lastDay_ = now.date().day();
    lastDate_ = now.date();
}

bool AutomaticStartDue(bool backupRunning, bool automatic, const std::array<bool, 24>& hours,
                       const RepeatGuard& guard, const QDateTime& now) {
    if (backupRunning || !automatic)
        return false;
    if (!hours[static_cast<std::size_t>(now.time().hour())])
        return false;
    return guard.Allows(now);
}

int MsecsUntilNextCheck(const QDateTime& now) {
    const QTime time = now.time();
    const QDateTime nextHour =
        time.hour() == 23 ? QDateTime(now.date().addDays(1), QTime(0, 0), now.timeSpec())
                          : QDateTime(now.date(), QTime(time.hour() + 1, 0), now.timeSpec());
    const qint64 untilHour = now.msecsTo(nextHour);
    return static_cast<int>(std::clamp(untilHour, kShortestSleepMs, kLongestSleepMs));
}

} // namespace vestrel
