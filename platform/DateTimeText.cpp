#include "platform/DateTimeText.h"

#include "platform/LocaleInfo.h"

namespace {

QString two(int v)
{
    return QString::number(v).rightJustified(2, u'0');
}

// Writes v as exactly `width` digits, zero padded; false when it is negative or longer.
// Every swipe composes several of these texts, so they are written into one buffer rather
// than put together from a number text per field.
bool putDigits(QChar* out, int v, int width)
{
    if (v < 0)
        return false;
    for (int i = width - 1; i >= 0; --i) {
        out[i] = QChar(u'0' + v % 10);
        v /= 10;
    }
    return v == 0;
}

// "yyyy-mm-dd" into out[0..9]; false outside the years 0 to 9999 (and for an invalid date
// beside them), which the composed form below writes as it always did.
bool putDate(QChar* out, const QDate& value)
{
    int year = 0;
    int month = 0;
    int day = 0;
    value.getDate(&year, &month, &day);
    out[4] = u'-';
    out[7] = u'-';
    return putDigits(out, year, 4) && putDigits(out + 5, month, 2) && putDigits(out + 8, day, 2);
}

// "hh:nn" or "hh:nn:ss" into out; false for an invalid time.
bool putTime(QChar* out, const QTime& value, QChar separator, bool seconds)
{
    out[2] = separator;
    if (seconds)
        out[5] = separator;
    return putDigits(out, value.hour(), 2) && putDigits(out + 3, value.minute(), 2) &&
           (!seconds || putDigits(out + 6, value.second(), 2));
}

QString composedDate(const QDate& value)
{
    return QString::number(value.year()).rightJustified(4, u'0') + u'-' + two(value.month()) + u'-' +
           two(value.day());
}

QString composedTime(const QTime& value, QChar separator)
{
    return two(value.hour()) + separator + two(value.minute()) + separator + two(value.second());
}

} // namespace

QString DateTimeText::date(const QDate& value)
{
    QChar text[10];
    return putDate(text, value) ? QString(text, 10) : composedDate(value);
}

QString DateTimeText::time(const QTime& value, QChar separator)
{
    QChar text[8];
    return putTime(text, value, separator, true) ? QString(text, 8) : composedTime(value, separator);
}

QString DateTimeText::dateTime(const QDateTime& value, QChar separator)
{
    const QDate day = value.date();
    const QTime time = value.time();
    QChar text[19];
    text[10] = u' ';
    if (putDate(text, day) && putTime(text + 11, time, separator, true))
        return QString(text, 19);
    return composedDate(day) + u' ' + composedTime(time, separator);
}

QString DateTimeText::dateTimeMinutes(const QDateTime& value, QChar separator)
{
    const QDate day = value.date();
    const QTime time = value.time();
    QChar text[16];
    text[10] = u' ';
    if (putDate(text, day) && putTime(text + 11, time, separator, false))
        return QString(text, 16);
    return composedDate(day) + u' ' + two(time.hour()) + separator + two(time.minute());
}

QString DateTimeText::dateTime(const QDateTime& value)
{
    return dateTime(value, LocaleInfo::timeSeparator());
}

QString DateTimeText::time(const QTime& value)
{
    return time(value, LocaleInfo::timeSeparator());
}

QString DateTimeText::dateTimeMinutes(const QDateTime& value)
{
    return dateTimeMinutes(value, LocaleInfo::timeSeparator());
}
