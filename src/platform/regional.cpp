#include "platform/regional.h"

#include <QLocale>

#ifndef _WIN32
#include <clocale>
#include <ctime>
#include <locale.h>
#endif

namespace vestrel {
namespace {

#ifdef _WIN32
// Qt's system locale on Windows follows the user's regional settings.
class SystemRegionalFormat final : public IRegionalFormat {
public:
    QString ShortDate(const QDate& date) const override {
        return QLocale::system().toString(date, QLocale::ShortFormat);
    }
    QString LongTime(const QTime& time) const override {
        return QLocale::system().toString(time, QLocale::LongFormat);
    }
};
#else
// strftime with a locale object of its own, so the process-wide locale is left alone.
class SystemRegionalFormat final : public IRegionalFormat {
public:
    SystemRegionalFormat() {
        locale_ = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        if (locale_ == static_cast<locale_t>(nullptr)) // an unknown LC_TIME: use the C formats
            locale_ = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }
    ~SystemRegionalFormat() override {
        if (locale_ != static_cast<locale_t>(nullptr))
            freelocale(locale_);
    }
    SystemRegionalFormat(const SystemRegionalFormat&) = delete;
    SystemRegionalFormat& operator=(const SystemRegionalFormat&) = delete;

    QString ShortDate(const QDate& date) const override {
        std::tm tm{};
        tm.tm_year = date.year() - 1900;
        tm.tm_mon = date.month() - 1;
        tm.tm_mday = date.day();
        tm.tm_wday = date.dayOfWeek() % 7;
        tm.tm_yday = date.dayOfYear() - 1;
        return format("%x", tm);
    }
    QString LongTime(const QTime& time) const override {
        std::tm tm{};
        tm.tm_year = 70;
        tm.tm_mday = 1;
        tm.tm_hour = time.hour();
        tm.tm_min = time.minute();
        tm.tm_sec = time.second();
        return format("%X", tm);
    }

private:
    QString format(const char* conversion, const std::tm& tm) const {
        char buffer[128];
        const std::size_t n = strftime_l(buffer, sizeof buffer, conversion, &tm, locale_);
        return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
    }

    locale_t locale_;
};
#endif

} // namespace

Seam<IRegionalFormat>& RegionalFormatSeam() {
    static SystemRegionalFormat system;
    static Seam<IRegionalFormat> seam(system);
    return seam;
}

QString DateText(const QDateTime& when) {
    return RegionalFormatSeam().get().ShortDate(when.date());
}

QString TimeText(const QDateTime& when) {
    return RegionalFormatSeam().get().LongTime(when.time());
}

QString DateTimeText(const QDateTime& when) {
    // The clock reads milliseconds, the texts whole seconds: 00:00:00.250 is midnight too.
    const QTime time = when.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return DateText(when);
    return DateText(when) + QLatin1Char(' ') + TimeText(when);
}

} // namespace vestrel
