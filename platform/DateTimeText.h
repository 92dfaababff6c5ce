#pragma once

#include <QChar>
#include <QDateTime>
#include <QString>

// The date/time texts the terminal hands to the database and shows: "yyyy-mm-dd hh:nn:ss",
// "yyyy-mm-dd", "hh:nn:ss" and "yyyy-mm-dd hh:nn", 24-hour clock, each ':' replaced by
// the locale's time separator.
class DateTimeText
{
public:
    static QString dateTime(const QDateTime& value, QChar separator);
    static QString date(const QDate& value);
    static QString time(const QTime& value, QChar separator);
    static QString dateTimeMinutes(const QDateTime& value, QChar separator);

    static QString dateTime(const QDateTime& value);
    static QString time(const QTime& value);
    static QString dateTimeMinutes(const QDateTime& value);
};
