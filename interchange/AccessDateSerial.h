#pragma once

#include "query/DateTimeValue.h"

#include <optional>

// Access date serials: days since 1899-12-30, the fraction the time of day. A negative
// serial counts its whole days back while its fraction still counts forward from that
// day's midnight (-1.25 is 1899-12-29 06:00). Values are rounded to the whole second and
// must lie within 0100-01-01 .. 9999-12-31; nullopt means the value is not valid for the
// column asked about.
class AccessDateSerial
{
public:
    // The instant, as wall-clock seconds.
    static std::optional<DateTimeValue> toDateTime(double serial);
    // A date: the instant must be a midnight.
    static std::optional<DateTimeValue> toDate(double serial);
    // A time of day stored on 1899-12-30: seconds since midnight, below 24:00:00.
    static std::optional<DateTimeValue> toTimeOfDay(double serial);
};
