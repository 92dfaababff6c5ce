#pragma once

#include <QDateTime>

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
};
