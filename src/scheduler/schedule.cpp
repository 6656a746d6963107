#include "scheduler/schedule.h"

#include <QTimeZone>
#include <algorithm>

namespace vestrel {

namespace {
constexpr qint64 kHourMs = 60 * 60 * 1000;
// Minutes from a failure to the retry it allows: the first, second and third of the hour.
constexpr int kRetryMinutes[RepeatGuard::kRetries] = {5, 10, 20};

bool sameHour(const QDateTime& now, int hour, const QDate& date) {
    return now.time().hour() == hour && now.date() == date;
}

qint64 floorDiv(qint64 a, qint64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}
} // namespace

bool RepeatGuard::Allows(const QDateTime& now) const {
    const QTime time = now.time();
    // The ticks that follow a start within the same minute never start again.
    if (time.minute() == lastMinute_ && time.hour() == lastHour_ && now.date().day() == lastDay_)
        return false;
    if (!sameHour(now, lastHour_, lastDate_))
        return true;
    return retryAt_.isValid() && now >= retryAt_;
}

void RepeatGuard::Remember(const QDateTime& now) {
    if (!sameHour(now, lastHour_, lastDate_))
        failures_ = 0;
    lastMinute_ = now.time().minute();
    lastHour_ = now.time().hour();
    lastDay_ = now.date().day();
    lastDate_ = now.date();
    retryAt_ = QDateTime();
}

void RepeatGuard::Failed(const QDateTime& when) {
    ++failures_;
    retryAt_ =
        failures_ <= kRetries ? when.addSecs(kRetryMinutes[failures_ - 1] * 60LL) : QDateTime();
}

bool AutomaticStartDue(bool backupRunning, bool automatic, const std::array<bool, 24>& hours,
                       const RepeatGuard& guard, const QDateTime& now) {
    if (backupRunning || !automatic)
        return false;
    if (!hours[static_cast<std::size_t>(now.time().hour())])
        return false;
    return guard.Allows(now);
}

QDateTime NextHourBoundary(const QDateTime& now) {
    // The next whole hour of the local clock, as if the present offset held: local
    // arithmetic, so zones offset by half an hour turn at their own hh:00 too.
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const qint64 offsetMs = qint64(now.offsetFromUtc()) * 1000;
    qint64 nextMs = (floorDiv(nowMs + offsetMs, kHourMs) + 1) * kHourMs - offsetMs;
    // A change of offset before it moves the local clock off that arithmetic: wake then.
    const QTimeZone zone = now.timeZone();
    if (zone.isValid() && zone.hasTransitions()) {
        const QDateTime change = zone.nextTransition(now).atUtc;
        if (change.isValid() && change.toMSecsSinceEpoch() > nowMs &&
            change.toMSecsSinceEpoch() < nextMs)
            nextMs = change.toMSecsSinceEpoch();
    }
    return now.addMSecs(nextMs - nowMs);
}

QDateTime FirstMissedHour(const std::array<bool, 24>& hours, const QDateTime& lastGood,
                          const QDateTime& watchedSince, const QDateTime& running,
                          const QDateTime& now) {
    if (std::find(hours.begin(), hours.end(), true) == hours.end())
        return {};
    // A backup that began at or after an hour's start covers it (the running one, until it
    // ends, as if it will succeed).
    QDateTime covered = lastGood;
    if (running.isValid() && (!covered.isValid() || running > covered))
        covered = running;
    QDateTime from = lastGood.isValid() ? lastGood : watchedSince;
    if (!from.isValid())
        return {};
    // Far enough back to find any enabled hour; an older record only makes it longer.
    from = std::max(from, now.addDays(-2));
    QDateTime start = from.addSecs(-qint64(from.time().minute()) * 60 - from.time().second())
                          .addMSecs(-from.time().msec());
    for (;;) {
        const QDateTime end = NextHourBoundary(start);
        if (end > now)
            return {};
        const bool coveredByBackup = covered.isValid() && covered >= start;
        const bool watched = lastGood.isValid() || end > watchedSince;
        if (hours[static_cast<std::size_t>(start.time().hour())] && !coveredByBackup && watched)
            return start;
        start = end;
    }
}

QDateTime NextCheck(const QDateTime& now, const RepeatGuard& guard) {
    const QDateTime boundary = NextHourBoundary(now);
    const QDateTime retry = guard.RetryAt();
    return retry.isValid() && retry > now && retry < boundary ? retry : boundary;
}

} // namespace vestrel
