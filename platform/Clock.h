#pragma once

#include <QDateTime>
#include <QTimeZone>

// Source of the local wall-clock time. Logic never reads the system time directly, so
// tests can decide what "now" is.
class Clock
{
public:
    virtual ~Clock() = default;
    // Local wall-clock date and time with milliseconds. The value is marked Qt::UTC only
    // so that Qt never shifts it across a daylight-saving gap; read its date and time
    // fields as the wall clock.
    virtual QDateTime now() const = 0;
    // The zone the wall clock runs in, to turn it into an instant when comparing it with
    // another machine's clock.
    virtual QTimeZone timeZone() const { return QTimeZone::systemTimeZone(); }
};
