#include "platform/DateTimeText.h"

#include "platform/LocaleInfo.h"

namespace {

QString two(int v)
{
    return QString::number(v).rightJustified(2, u'0');
}

} // namespace

QString DateTimeText::date(const QDate& value)
{
    return QString::number(value.year()).rightJustified(4, u'0') + u'-' + two(value.month()) + u'-' +
           two(value.day());
}

QString DateTimeText::time(const QTime& value, QChar separator)
{
    return two(value.hour()) + separator + two(value.minute()) + separator + two(value.second());
}

QString DateTimeText::dateTime(const QDateTime& value, QChar separator)
{
    return date(value.date()) + u' ' + time(value.time(), separator);
}

QString DateTimeText::dateTimeMinutes(const QDateTime& value, QChar separator)
{
    return date(value.date()) + u' ' + two(value.time().hour()) + separator + two(value.time().minute());
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
