#include "postgres/PgDateStyle.h"

#include <QList>

namespace {

int monthOf(QByteArrayView name)
{
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 0; m < 12; ++m)
        if (name == QByteArrayView(kMonths[m]))
            return m + 1;
    return 0;
}

bool allDigits(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

QByteArray isoDate(QByteArrayView year, int month, QByteArrayView day)
{
    QByteArray out(year.data(), year.size());
    out += '-';
    if (month < 10)
        out += '0';
    out += QByteArray::number(month);
    out += '-';
    out += QByteArray(day.data(), day.size());
    return out;
}

} // namespace

QByteArray PgDateStyle::toIso(QByteArrayView text, QByteArrayView dateStyle, bool withTime)
{
    const QByteArray unchanged(text.data(), text.size());
    const QByteArray style = QByteArray(dateStyle.data(), dateStyle.size()).toUpper();
    // ISO output is year-first whatever the field order says.
    if (style.startsWith("ISO") || text.endsWith(" BC"))
        return unchanged;
    const bool dayFirst = style.contains("DMY");
    const QList<QByteArray> words = unchanged.split(' ');
    QByteArray date;
    QByteArray time;
    if (style.startsWith("POSTGRES") && withTime) {
        // "Wed Dec 17 07:37:16 1997" or, day first, "Wed 17 Dec 07:37:16 1997".
        if (words.size() < 5)
            return unchanged;
        const QByteArray& first = words.at(1);
        const QByteArray& second = words.at(2);
        const int month = monthOf(dayFirst ? second : first);
        const QByteArray& day = dayFirst ? first : second;
        if (month == 0 || !allDigits(day) || !allDigits(words.at(4)))
            return unchanged;
        date = isoDate(words.at(4), month, day);
        time = words.at(3);
    } else {
        // "12/17/1997" (SQL), "12-17-1997" (Postgres), "17.12.1997" (German), each with
        // its time after a blank.
        const QByteArray& day = words.first();
        const char separator = style.startsWith("GERMAN") ? '.' : style.startsWith("SQL") ? '/' : '-';
        const QList<QByteArray> parts = day.split(separator);
        if (parts.size() != 3 || !allDigits(parts.at(0)) || !allDigits(parts.at(1)) ||
            !allDigits(parts.at(2)))
            return unchanged;
        const bool germanOrDayFirst = separator == '.' || dayFirst;
        const QByteArray& d = germanOrDayFirst ? parts.at(0) : parts.at(1);
        const int month = (germanOrDayFirst ? parts.at(1) : parts.at(0)).toInt();
        date = isoDate(parts.at(2), month, d);
        if (withTime) {
            if (words.size() < 2)
                return unchanged;
            time = words.at(1);
        }
    }
    return withTime ? date + ' ' + time : date;
}
