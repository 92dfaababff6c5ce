#pragma once

#include <QDateTime>
#include <QtGlobal>

// A date/time as the database stores it: whole seconds of the local wall clock since
// 1970-01-01 00:00:00. A date is its midnight, a time of day is seconds since midnight,
// so adding a date and a time gives the instant, as Jet's day fractions do.
class DateTimeValue
{
public:
    constexpr DateTimeValue() = default;
    constexpr explicit DateTimeValue(qint64 seconds) : m_seconds(seconds) {}

    static DateTimeValue fromDateTime(const QDateTime& wallClock);
    static DateTimeValue fromDate(const QDate& date);
    static DateTimeValue fromTime(const QTime& time);

    constexpr qint64 seconds() const { return m_seconds; }
    QDateTime toDateTime() const;
    // The date and the time of day apart, without a QDateTime between: the local store and
    // its record read tens of thousands of them before each forwarding round.
    QDate date() const;
    QTime timeOfDay() const;

    constexpr DateTimeValue operator+(DateTimeValue other) const
    {
        return DateTimeValue(m_seconds + other.m_seconds);
    }
    constexpr auto operator<=>(const DateTimeValue&) const = default;

private:
    qint64 m_seconds = 0;
};
