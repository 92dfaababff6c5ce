#include "interchange/AccessDateSerial.h"

#include <QDate>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const QDate kZeroDate(1899, 12, 30);

// Wall-clock seconds computed with QDate's calendar, independently of the code under test.
qint64 seconds(const QDate& date, int h = 0, int m = 0, int s = 0)
{
    return QDate(1970, 1, 1).daysTo(date) * 86400 + h * 3600 + m * 60 + s;
}

double serial(const QDate& date, int h = 0, int m = 0, int s = 0)
{
    return double(kZeroDate.daysTo(date)) + (h * 3600 + m * 60 + s) / 86400.0;
}

TEST(AccessDateSerial, InstantsAgainstTheCalendar)
{
    const QDate day(2024, 3, 4);
    EXPECT_EQ(AccessDateSerial::toDateTime(serial(day, 8, 59, 30))->seconds(), seconds(day, 8, 59, 30));
    EXPECT_EQ(AccessDateSerial::toDateTime(serial(day, 23, 59, 59))->seconds(), seconds(day, 23, 59, 59));
    EXPECT_EQ(AccessDateSerial::toDateTime(serial(day.addDays(1)))->seconds(), seconds(day.addDays(1)));
    EXPECT_EQ(AccessDateSerial::toDateTime(0.0)->seconds(), seconds(kZeroDate));
    EXPECT_EQ(AccessDateSerial::toDateTime(2.5)->seconds(), seconds(QDate(1900, 1, 1), 12));
    // Every day of a leap year and its turn, and a century not a leap year.
    for (QDate d(2023, 12, 25); d <= QDate(2025, 1, 5); d = d.addDays(1))
        ASSERT_EQ(AccessDateSerial::toDate(serial(d))->seconds(), seconds(d)) << d.toString().toStdString();
    EXPECT_EQ(AccessDateSerial::toDate(serial(QDate(1900, 3, 1)))->seconds(), seconds(QDate(1900, 3, 1)));
}

TEST(AccessDateSerial, NegativeSerialsCountDaysBackAndTheFractionForward)
{
    EXPECT_EQ(AccessDateSerial::toDateTime(-1.25)->seconds(), seconds(QDate(1899, 12, 29), 6));
    EXPECT_EQ(AccessDateSerial::toDateTime(-1.0)->seconds(), seconds(QDate(1899, 12, 29)));
    EXPECT_EQ(AccessDateSerial::toDateTime(-0.5)->seconds(), seconds(kZeroDate, 12));
    EXPECT_EQ(AccessDateSerial::toDateTime(-36522.75)->seconds(), seconds(QDate(1800, 1, 1), 18));
    EXPECT_EQ(AccessDateSerial::toDate(-2.0)->seconds(), seconds(QDate(1899, 12, 28)));
    EXPECT_FALSE(AccessDateSerial::toDate(-2.5));
}

TEST(AccessDateSerial, RoundsToTheWholeSecond)
{
    const QDate day(2024, 3, 4);
    EXPECT_EQ(AccessDateSerial::toDateTime(serial(day, 9) + 0.4 / 86400)->seconds(), seconds(day, 9));
    EXPECT_EQ(AccessDateSerial::toDateTime(serial(day, 9) + 0.6 / 86400)->seconds(), seconds(day, 9, 0, 1));
    // A fraction just short of a whole day rounds to the next midnight.
    const double almost = serial(day) + 86399.7 / 86400;
    EXPECT_EQ(AccessDateSerial::toDateTime(almost)->seconds(), seconds(day.addDays(1)));
    EXPECT_EQ(AccessDateSerial::toDate(almost)->seconds(), seconds(day.addDays(1)));
    EXPECT_EQ(AccessDateSerial::toDateTime(-1 - 86399.7 / 86400)->seconds(), seconds(kZeroDate));
}

TEST(AccessDateSerial, DatesMustBeMidnight)
{
    const QDate day(2024, 3, 5);
    EXPECT_EQ(AccessDateSerial::toDate(serial(day))->seconds(), seconds(day));
    EXPECT_FALSE(AccessDateSerial::toDate(serial(day, 0, 0, 1)));
    EXPECT_FALSE(AccessDateSerial::toDate(serial(day, 23, 59, 59)));
}

TEST(AccessDateSerial, TimesOfDayLieOnTheZeroDate)
{
    EXPECT_EQ(AccessDateSerial::toTimeOfDay(0.0)->seconds(), 0);
    EXPECT_EQ(AccessDateSerial::toTimeOfDay(serial(kZeroDate, 23, 59, 59))->seconds(), 86399);
    EXPECT_EQ(AccessDateSerial::toTimeOfDay(serial(kZeroDate, 8, 59, 30))->seconds(),
              8 * 3600 + 59 * 60 + 30);
    // A negative serial within the zero date's day counts forward from its midnight.
    EXPECT_EQ(AccessDateSerial::toTimeOfDay(-0.25)->seconds(), 6 * 3600);
    // Rounds up to 24:00:00: not a time of day.
    EXPECT_FALSE(AccessDateSerial::toTimeOfDay(86399.7 / 86400));
    EXPECT_FALSE(AccessDateSerial::toTimeOfDay(1.0));
    EXPECT_FALSE(AccessDateSerial::toTimeOfDay(serial(QDate(2024, 3, 4), 9)));
    EXPECT_FALSE(AccessDateSerial::toTimeOfDay(-1.25));
}

TEST(AccessDateSerial, RangeEndsAndValuesThatAreNoDates)
{
    const QDate first(100, 1, 1);
    const QDate last(9999, 12, 31);
    EXPECT_EQ(AccessDateSerial::toDate(serial(first))->seconds(), seconds(first));
    EXPECT_EQ(AccessDateSerial::toDateTime(serial(last, 23, 59, 59))->seconds(), seconds(last, 23, 59, 59));
    EXPECT_FALSE(AccessDateSerial::toDate(serial(first) - 1));
    EXPECT_FALSE(AccessDateSerial::toDateTime(serial(last) + 1));
    EXPECT_FALSE(AccessDateSerial::toDateTime(serial(last) + 86399.7 / 86400));
    for (const double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(), 1e300, -1e300})
        EXPECT_FALSE(AccessDateSerial::toDateTime(bad) || AccessDateSerial::toDate(bad) ||
                     AccessDateSerial::toTimeOfDay(bad));
}

} // namespace
