#include "interchange/AccessDateSerial.h"

#include <cmath>

namespace {

constexpr qint64 kSecondsPerDay = 86400;
// Days from 1899-12-30 to 1970-01-01, where wall-clock seconds count from.
constexpr qint64 kSerialToUnixDays = 25569;
// 0100-01-01 and 9999-12-31 as serials.
constexpr qint64 kFirstDay = -657434;
constexpr qint64 kLastDay = 2958465;

struct Split
{
    qint64 day;     // whole days, as the serial's integer part
    qint64 seconds; // seconds after that day's midnight, 0 .. 86400 after rounding
};

std::optional<Split> split(double serial)
{
    // Anything outside a day beyond the range cannot round into it; checked before the
    // conversion to an integer, which would overflow for huge values.
    if (!std::isfinite(serial) || serial < double(kFirstDay - 1) || serial > double(kLastDay + 1))
        return std::nullopt;
    const double whole = std::trunc(serial);
    const double fraction = std::fabs(serial - whole);
    return Split{static_cast<qint64>(whole), std::llround(fraction * double(kSecondsPerDay))};
}

// Wall-clock seconds of a split serial, when its instant lies within the valid range.
std::optional<qint64> instant(const Split& s)
{
    const qint64 secondsSinceSerialEpoch = s.day * kSecondsPerDay + s.seconds;
    // Floor division: the day the instant falls on, whatever the serial's sign.
    qint64 day = secondsSinceSerialEpoch / kSecondsPerDay;
    if (secondsSinceSerialEpoch % kSecondsPerDay < 0)
        --day;
    if (day < kFirstDay || day > kLastDay)
        return std::nullopt;
    return secondsSinceSerialEpoch - kSerialToUnixDays * kSecondsPerDay;
}

} // namespace

std::optional<DateTimeValue> AccessDateSerial::toDateTime(double serial)
{
    const std::optional<Split> s = split(serial);
    if (!s)
        return std::nullopt;
    const std::optional<qint64> at = instant(*s);
    if (!at)
        return std::nullopt;
    return DateTimeValue(*at);
}

std::optional<DateTimeValue> AccessDateSerial::toDate(double serial)
{
    const std::optional<DateTimeValue> at = toDateTime(serial);
    if (!at || at->seconds() % kSecondsPerDay != 0)
        return std::nullopt;
    return at;
}

std::optional<DateTimeValue> AccessDateSerial::toTimeOfDay(double serial)
{
    const std::optional<Split> s = split(serial);
    // The date part must be the zero date, and the time must not round up to the next day.
    if (!s || s->day != 0 || s->seconds >= kSecondsPerDay)
        return std::nullopt;
    return DateTimeValue(s->seconds);
}
