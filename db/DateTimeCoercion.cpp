#include "db/DateTimeCoercion.h"

#include "platform/DateTimeText.h"
#include "platform/LocaleInfo.h"

#include <QRegularExpression>

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
    static const QRegularExpression pattern(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})$"));
    const QRegularExpressionMatch m = pattern.match(text.toString());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!date.isValid())
        return std::nullopt;
    return date;
}

} // namespace

std::optional<DateTimeValue> DateTimeCoercion::parse(const QString& text)
{
    const QString trimmed = text.trimmed();
    const QChar separator = LocaleInfo::timeSeparator();
    const qsizetype blank = trimmed.indexOf(u' ');
    if (blank >= 0) {
        const auto date = parseDate(QStringView(trimmed).left(blank));
        const auto time = parseTime(QStringView(trimmed).mid(blank + 1).trimmed(), separator);
        if (!date || !time)
            return std::nullopt;
        return DateTimeValue::fromDate(*date) + DateTimeValue::fromTime(*time);
    }
    if (const auto date = parseDate(trimmed))
        return DateTimeValue::fromDate(*date);
    if (const auto time = parseTime(trimmed, separator))
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
