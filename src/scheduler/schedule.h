#pragma once

#include <QDateTime>
#include <array>

namespace vestrel {

// Remembers the last automatic start and allows one start per enabled hour, with retries
// after a failure: a start is allowed when the hour or the day differs from the last one,
// never when minute, hour and day of the month all equal it. After a failed automatic start
// the same hour allows another start 5, then 10, then 20 minutes after the failure, at most
// three retries an hour; a success ends them. The full date is kept beside the day of the
// month, so the same hour on the same day of a later month is not mistaken for the last start.
class RepeatGuard {
public:
    static constexpr int kRetries = 3;

    bool Allows(const QDateTime& now) const;
    // An automatic start now.
    void Remember(const QDateTime& now);
    // The automatic start remembered last failed at when.
    void Failed(const QDateTime& when);
    // When the remembered hour next allows a retry; invalid when it allows none.
    QDateTime RetryAt() const { return retryAt_; }

    int iLastMinute() const { return lastMinute_; }
    int iLastHour() const { return lastHour_; }
    int iLastDay() const { return lastDay_; }

private:
    int lastMinute_ = 0;
    int lastHour_ = 0;
    int lastDay_ = 0;
    QDate lastDate_;
    int failures_ = 0; // failed automatic starts in the remembered hour
    QDateTime retryAt_;
};

// Whether the tick may start an automatic backup now.
bool AutomaticStartDue(bool backupRunning, bool automatic, const std::array<bool, 24>& hours,
                       const RepeatGuard& guard, const QDateTime& now);

// The first instant after now at which the local clock starts a new hour: the next hh:00:00,
// or the zone's next change of offset when that comes first. Across a spring-forward gap that
// is the instant the clock jumps (02:00 standard time is 03:00 summer time); across a
// fall-back it is the instant the clock goes back and the repeated hour begins.
QDateTime NextHourBoundary(const QDateTime& now);

// An enabled hour that has passed with no verified backup since it began: the start of the
// earliest such hour of the last two days, or an invalid time when there is none. `lastGood` is the
// last verified backup (invalid: none yet), and with none only the hours that ended after
// `watchedSince` count (the first start: the hours before it were nobody's to miss). A backup still
// running since `running` (invalid: none runs) may yet prove good, so the hours that began before
// it wait for its end; a later hour that passes while it still runs is missed. Hours that are not
// enabled are never missed.
QDateTime FirstMissedHour(const std::array<bool, 24>& hours, const QDateTime& lastGood,
                          const QDateTime& watchedSince, const QDateTime& running,
                          const QDateTime& now);

// When the timer must look next: the next hour boundary, or a retry the guard allows before it.
QDateTime NextCheck(const QDateTime& now, const RepeatGuard& guard);

} // namespace vestrel
