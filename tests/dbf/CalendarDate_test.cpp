#include "dbf/CalendarDate.h"
#include "platform/VariantConversion.h"

#include <gtest/gtest.h>

TEST(CalendarDate, KnownDaysBothWays)
{
    CalendarDate d = CalendarDate::FromJulianDay(2453921);
    EXPECT_EQ(d.GetYear(), 2006);
    EXPECT_EQ(d.GetMonth(), 7);
    EXPECT_EQ(d.GetDay(), 4);
    EXPECT_TRUE(d.IsValid());
    EXPECT_EQ(CalendarDate::JulianDayFromYMD(2006, 7, 4), 2453921);

    d = CalendarDate::FromJulianDay(2451604);
    EXPECT_EQ(d.GetYear(), 2000);
    EXPECT_EQ(d.GetMonth(), 2);
    EXPECT_EQ(d.GetDay(), 29);
    EXPECT_TRUE(d.IsValid());
    EXPECT_EQ(CalendarDate::FromYMD(2000, 2, 29).GetJulianDay(), 2451604);

    EXPECT_EQ(CalendarDate::JulianDayFromYMD(1899, 12, 30), 2415019);
    EXPECT_EQ(CalendarDate::JulianDayFromYMD(1, 1, 1), 1721426);
}

TEST(CalendarDate, Validity)
{
    EXPECT_FALSE(CalendarDate::FromYMD(1900, 2, 29).IsValid());
    EXPECT_TRUE(CalendarDate::FromYMD(2400, 2, 29).IsValid());
    EXPECT_FALSE(CalendarDate::FromYMD(2006, 4, 31).IsValid());
    EXPECT_FALSE(CalendarDate::FromYMD(2006, 13, 1).IsValid());
    EXPECT_FALSE(CalendarDate::FromYMD(2006, 0, 1).IsValid());
    EXPECT_FALSE(CalendarDate::FromYMD(-1, 1, 1).IsValid());
    EXPECT_TRUE(CalendarDate::FromYMD(0, 1, 1).IsValid());
    // Day 0 of the Julian count lies before year 0: not a valid date.
    EXPECT_FALSE(CalendarDate::FromJulianDay(0).IsValid());
}

TEST(CalendarDate, AgreesWithOleDateArithmeticEverywhere)
{
    // The calendar formulas and the platform's day arithmetic are written
    // independently; they must agree on every day from 0001-01-01 to
    // 9999-12-31 and round-trip.
    const int64_t nFirst = CalendarDate::JulianDayFromYMD(1, 1, 1);
    const int64_t nLast = CalendarDate::JulianDayFromYMD(9999, 12, 31);
    for (int64_t j = nFirst; j <= nLast; j += 13) {
        const CalendarDate d = CalendarDate::FromJulianDay(j);
        ASSERT_TRUE(d.IsValid()) << j;
        ASSERT_EQ(CalendarDate::JulianDayFromYMD(static_cast<int>(d.GetYear()), d.GetMonth(), d.GetDay()), j);
        OleDateParts p;
        ASSERT_TRUE(OleDateToParts(OleDateFromDaysAndSeconds(j - 2415019, 0), p)) << j;
        ASSERT_EQ(p.nYear, d.GetYear()) << j;
        ASSERT_EQ(p.nMonth, d.GetMonth()) << j;
        ASSERT_EQ(p.nDay, d.GetDay()) << j;
    }
}

TEST(CalendarDate, ExtremeDayNumbersDoNotOverflow)
{
    const CalendarDate d = CalendarDate::FromJulianDay(INT32_MAX);
    EXPECT_GT(d.GetYear(), 5000000);
    EXPECT_TRUE(d.IsValid());
    EXPECT_EQ(CalendarDate::JulianDayFromYMD(static_cast<int>(d.GetYear()), d.GetMonth(), d.GetDay()), INT32_MAX);
}
