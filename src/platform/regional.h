#pragma once

#include "platform/seam.h"

#include <QDateTime>
#include <QString>

namespace vestrel {

// The user's regional date and time formats: the short date and the long time.
class IRegionalFormat {
public:
    virtual ~IRegionalFormat() = default;
    virtual QString ShortDate(const QDate& date) const = 0;
    virtual QString LongTime(const QTime& time) const = 0;
};

// Fixed formats in Qt's notation ("dd/MM/yyyy", "H.mm.ss"), for tests and for callers that
// need a known form.
class PinnedRegionalFormat final : public IRegionalFormat {
public:
    PinnedRegionalFormat(QString dateFormat, QString timeFormat)
        : dateFormat_(std::move(dateFormat)), timeFormat_(std::move(timeFormat)) {}
    QString ShortDate(const QDate& date) const override { return date.toString(dateFormat_); }
    QString LongTime(const QTime& time) const override { return time.toString(timeFormat_); }

private:
    QString dateFormat_;
    QString timeFormat_;
};

// Defaults to the formats of the user's locale (LC_TIME on POSIX: strftime's %x and %X).
Seam<IRegionalFormat>& RegionalFormatSeam();

// The date in the short format, and the time of day in the long format.
QString DateText(const QDateTime& when);
QString TimeText(const QDateTime& when);

// The default text of a date-time value: short date, a blank, long time; at exactly
// midnight the date stands alone. Log stamps and the last-backup label use it.
QString DateTimeText(const QDateTime& when);

} // namespace vestrel
