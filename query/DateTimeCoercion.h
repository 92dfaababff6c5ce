#pragma once

#include "query/DateTimeValue.h"

#include <QString>

#include <optional>

// Conversions between the terminal's date/time texts and the stored whole seconds.
class DateTimeCoercion
{
public:
    // Reads "yyyy-mm-dd", "hh:nn[:ss]" or "yyyy-mm-dd hh:nn[:ss]" (':' or the locale's time
    // separator); surrounding blanks are ignored. Anything else, or an impossible date or
    // time, gives no value.
    static std::optional<DateTimeValue> parse(const QString& text);
    // The text a date/time column shows: the date when it is not the zero date, then the
    // time when it is not midnight.
    static QString format(DateTimeValue value);
};
