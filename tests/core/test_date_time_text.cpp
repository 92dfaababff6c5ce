// The date and time texts every swipe hands to the database and shows on the status line,
// held to Qt's own formatting of the same values, and the few values outside a plain
// date or time written as they always were.

#include "platform/DateTimeText.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

TEST(DateTimeText, EveryDayAndSecondAsQtWritesThem)
{
    for (const int year : {1, 9, 99, 999, 1000, 1899, 1999, 2000, 2024, 2026, 9999}) {
        for (QDate day(year, 1, 1); day.isValid() && day.year() == year; day = day.addDays(1)) {
            ASSERT_EQ(DateTimeText::date(day), day.toString(u"yyyy-MM-dd"));
            ASSERT_EQ(DateTimeText::dateTime(QDateTime(day, QTime(23, 59, 58), Qt::UTC), u':'),
                      day.toString(u"yyyy-MM-dd") + QStringLiteral(" 23:59:58"));
        }
    }
    const QDate day(2026, 3, 2);
    for (int second = 0; second < 24 * 3600; ++second) {
        const QTime time = QTime(0, 0).addSecs(second);
        ASSERT_EQ(DateTimeText::time(time, u':'), time.toString(u"hh:mm:ss"));
        ASSERT_EQ(DateTimeText::time(time, u'.'), time.toString(u"hh.mm.ss"));
        ASSERT_EQ(DateTimeText::dateTime(QDateTime(day, time, Qt::UTC), u':'),
                  QStringLiteral("2026-03-02 ") + time.toString(u"hh:mm:ss"));
        ASSERT_EQ(DateTimeText::dateTimeMinutes(QDateTime(day, time, Qt::UTC), u'.'),
                  QStringLiteral("2026-03-02 ") + time.toString(u"hh.mm"));
    }
}

TEST(DateTimeText, ValuesBeyondAPlainDateKeepTheirOldForm)
{
    EXPECT_EQ(DateTimeText::date(QDate(10000, 1, 2)), QStringLiteral("10000-01-02"));
    EXPECT_EQ(DateTimeText::date(QDate()), QStringLiteral("0000-00-00"));
    EXPECT_EQ(DateTimeText::time(QTime(), u':'), QStringLiteral("-1:-1:-1"));
    EXPECT_EQ(DateTimeText::dateTime(QDateTime(QDate(10000, 1, 2), QTime(3, 4, 5), Qt::UTC), u':'),
              QStringLiteral("10000-01-02 03:04:05"));
    EXPECT_EQ(DateTimeText::dateTimeMinutes(QDateTime(QDate(10000, 1, 2), QTime(3, 4, 5), Qt::UTC), u':'),
              QStringLiteral("10000-01-02 03:04"));
}

} // namespace
