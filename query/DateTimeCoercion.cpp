#include "query/DateTimeCoercion.h"

#include "platform/DateTimeText.h"
#include "platform/LocaleInfo.h"

namespace {

constexpr qint64 kDay = 86400;

std::optional<QTime> parseTime(QStringView text, QChar separator)
{
    // h:n or h:n:s, one or two digits each, with ':' or the locale's separator
    const QList<QStringView> parts = [&] {
        QList<QStringView> out;
        qsizetype start = 0;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == u':' || text[i] == separator) {
                out.append(text.mid(start, i - start));
                start = i + 1;
            }
        }
        return out;
    }();
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    int values[3] = {0, 0, 0};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (parts[i].isEmpty() || parts[i].size() > 2)
            return std::nullopt;
        for (QChar c : parts[i])
            if (c < u'0' || c > u'9')
                return std::nullopt;
        values[i] = parts[i].toInt();
    }
    if (!QTime::isValid(values[0], values[1], values[2]))
        return std::nullopt;
    return QTime(values[0], values[1], values[2]);
}

std::optional<QDate> parseDate(QStringView text)
{
    // yyyy-m-d with one or two digits for month and day; read by hand, as a swipe reads
    // several of these.
    const auto digits = [&](qsizetype from, qsizetype to, int* value) {
        if (to <= from)
            return false;
        int v = 0;
        for (qsizetype i = from; i < to; ++i) {
            const QChar c = text[i];
            if (c < u'0' || c > u'9')
                return false;
            v = v * 10 + (c.unicode() - u'0');
        }
        *value = v;
        return true;
    };
    const qsizetype first = text.indexOf(u'-');
    const qsizetype second = first < 0 ? -1 : text.indexOf(u'-', first + 1);
    if (first != 4 || second < 0 || second - first - 1 > 2 || text.size() - second - 1 > 2)
        return std::nullopt;
    int year = 0;
    int month = 0;
    int day = 0;
    if (!digits(0, first, &year) || !digits(first + 1, second, &month) ||
        !digits(second + 1, text.size(), &day))
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

} // namespace

std::optional<DateTimeValue> DateTimeCoercion::parse(const QString& text)
{
    const QString trimmed = text.trimmed();
    // The locale is looked up only for a text with a time in it: dates are bound on every
    // row of an import.
    const qsizetype blank = trimmed.indexOf(u' ');
    if (blank >= 0) {
        const auto date = parseDate(QStringView(trimmed).left(blank));
        const auto time =
            parseTime(QStringView(trimmed).mid(blank + 1).trimmed(), LocaleInfo::timeSeparator());
        if (!date || !time)
            return std::nullopt;
        return DateTimeValue::fromDate(*date) + DateTimeValue::fromTime(*time);
    }
    if (const auto date = parseDate(trimmed))
        return DateTimeValue::fromDate(*date);
    if (const auto time = parseTime(trimmed, LocaleInfo::timeSeparator()))
        return DateTimeValue::fromTime(*time);
    return std::nullopt;
}

QString DateTimeCoercion::format(DateTimeValue value)
{
    const qint64 s = value.seconds();
    qint64 days = s / kDay;
    qint64 rest = s % kDay;
    if (rest < 0) {
        rest += kDay;
        --days;
    }
    const QDateTime dt = value.toDateTime();
    if (rest == 0)
        return DateTimeText::date(dt.date());
    if (days == 0)
        return DateTimeText::time(dt.time());
    return DateTimeText::dateTime(dt);
}
