#pragma once

#include <QDateTime>
#include <array>

namespace vestrel {

// Remembers the last automatic start and allows at most one start per enabled hour: a start
// is allowed when the hour or the day differs from the last one, never when minute, hour and
// day of the month all equal it. The full date is kept beside the day of the month, so the
// same hour on the same day of a later month is not mistaken for the last start.
class RepeatGuard {
public:
    bool Allows(const QDateTime& now) const;
    void Remember(const QDateTime& now);

    int iLastMinute() const { return lastMinute_; }
    int iLastHour() const { return lastHour_; }
    int iLastDay() const { return lastDay_; }

private:
    int lastMinute_ = 0;
    int lastHour_ = 0;
    int lastDay_ = 0;
    QDate lastDate_;
};

// Whether the tick may start an automatic backup now.
bool AutomaticStartDue(bool backupRunning, bool automatic, const std::array<bool, 24>& hours,
                       const RepeatGuard& guard, const QDateTime& now);

// How long the timer may sleep before it has to look again: until the next hour boundary,
// but never longer than a minute, so a changed system clock is noticed soon.
int MsecsUntilNextCheck(const QDateTime& now);

} // namespace vestrel
