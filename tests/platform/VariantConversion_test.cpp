// The platform's variant conversions. The test process runs with the C/POSIX
// locale (or whatever LANG says); the cases below only rely on the point as
// decimal separator and month-first dates, which hold for the C locale
// (read with US English conventions) and for en_US.

#include "platform/VariantConversion.h"

#include <gtest/gtest.h>

#include <limits>
#include <locale>

namespace {

bool UsFormats()
{
    std::string strName = "C";
    try {
        strName = std::locale("").name();
    } catch (const std::runtime_error&) {
        // a locale that is not installed reads as C
    }
    return strName == "C" || strName == "POSIX" || strName.rfind("C.", 0) == 0 || strName.rfind("en_US", 0) == 0;
}

OleDateParts DateOf(const std::string& strText)
{
    double d = 0;
    OleDateParts p;
    EXPECT_TRUE(VarDateFromStr(strText, d)) << strText;
    EXPECT_TRUE(OleDateToParts(d, p)) << strText;
    return p;
}

} // namespace

TEST(VariantCurrency, ParsesExactlyWithoutDouble)
{
    ASSERT_TRUE(UsFormats()) << "these cases assume the C or en_US locale";
    int64_t n = 0;
    ASSERT_TRUE(VarCyFromStr("12.3456", n));
    EXPECT_EQ(n, 123456);
    ASSERT_TRUE(VarCyFromStr("922337203685477.5807", n));
    EXPECT_EQ(n, std::numeric_limits<int64_t>::max());
    ASSERT_TRUE(VarCyFromStr("-922337203685477.5808", n));
    EXPECT_EQ(n, std::numeric_limits<int64_t>::min());
    EXPECT_FALSE(VarCyFromStr("922337203685477.5808", n));
    EXPECT_FALSE(VarCyFromStr("1e20", n));
    // A double would turn this into ...5.5808 or ...5.5806.
    ASSERT_TRUE(VarCyFromStr("900719925474099.1234", n));
    EXPECT_EQ(n, 9007199254740991234);
    ASSERT_TRUE(VarCyFromStr(" -1,234.5 ", n));
    EXPECT_EQ(n, -12345000);
    ASSERT_TRUE(VarCyFromStr("1.5e3", n));
    EXPECT_EQ(n, 15000000);
    ASSERT_TRUE(VarCyFromStr("+0.00000001", n));
    EXPECT_EQ(n, 0);
}

TEST(VariantCurrency, RoundsHalfToEvenAtTheFourthDecimal)
{
    int64_t n = 0;
    ASSERT_TRUE(VarCyFromStr("0.00005", n));
    EXPECT_EQ(n, 0);
    ASSERT_TRUE(VarCyFromStr("0.00015", n));
    EXPECT_EQ(n, 2);
    ASSERT_TRUE(VarCyFromStr("0.000051", n));
    EXPECT_EQ(n, 1);
    ASSERT_TRUE(VarCyFromStr("-0.00025", n));
    EXPECT_EQ(n, -2);
    ASSERT_TRUE(VarCyFromStr("0.00004999", n));
    EXPECT_EQ(n, 0);
}

TEST(VariantCurrency, RefusesWhatIsNoNumber)
{
    int64_t n = 7;
    for (const char* s : {"", "   ", "-", "abc", "12abc", "1.2.3", "1e", ",5", "1,,2", "--1"})
        EXPECT_FALSE(VarCyFromStr(s, n)) << s;
    EXPECT_EQ(n, 7);
}

TEST(VariantCurrency, PrintsShortestForm)
{
    EXPECT_EQ(VarBstrFromCy(123456), "12.3456");
    EXPECT_EQ(VarBstrFromCy(125000), "12.5");
    EXPECT_EQ(VarBstrFromCy(-30000), "-3");
    EXPECT_EQ(VarBstrFromCy(0), "0");
    EXPECT_EQ(VarBstrFromCy(-1), "-0.0001");
    EXPECT_EQ(VarBstrFromCy(std::numeric_limits<int64_t>::min()), "-922337203685477.5808");
    int64_t n = 0;
    for (int64_t v : {int64_t{1}, int64_t{-99990}, std::numeric_limits<int64_t>::max()}) {
        ASSERT_TRUE(VarCyFromStr(VarBstrFromCy(v), n));
        EXPECT_EQ(n, v);
    }
}

TEST(VariantNumber, DoublesAndIntegers)
{
    double d = 0;
    ASSERT_TRUE(VarR8FromStr("  -1,234.5e1 ", d));
    EXPECT_DOUBLE_EQ(d, -12345.0);
    EXPECT_FALSE(VarR8FromStr("1e999", d));
    EXPECT_FALSE(VarR8FromStr("0x10", d));
    EXPECT_EQ(VarBstrFromR8(0.1), "0.1");
    EXPECT_EQ(VarBstrFromR8(-2.5), "-2.5");
    EXPECT_EQ(VarBstrFromR8(1.0 / 3.0), "0.333333333333333");
    int32_t n = 0;
    ASSERT_TRUE(VarI4FromStr("2.5", n));
    EXPECT_EQ(n, 2);
    ASSERT_TRUE(VarI4FromStr("3.5", n));
    EXPECT_EQ(n, 4);
    EXPECT_FALSE(VarI4FromStr("2147483648", n));
    ASSERT_TRUE(VarI4FromStr("-2147483648", n));
    EXPECT_EQ(n, std::numeric_limits<int32_t>::min());
    EXPECT_FALSE(VarI4FromR8(std::numeric_limits<double>::quiet_NaN(), n));
}

TEST(VariantLogical, TextForms)
{
    bool b = false;
    ASSERT_TRUE(VarBoolFromStr(" TRUE ", b));
    EXPECT_TRUE(b);
    ASSERT_TRUE(VarBoolFromStr("false", b));
    EXPECT_FALSE(b);
    ASSERT_TRUE(VarBoolFromStr("-1", b));
    EXPECT_TRUE(b);
    ASSERT_TRUE(VarBoolFromStr("0", b));
    EXPECT_FALSE(b);
    EXPECT_FALSE(VarBoolFromStr("yes", b));
    EXPECT_EQ(VarBstrFromBool(true), "True");
}

TEST(VariantDate, ParsesYearFirstLocaleOrderAndTimes)
{
    ASSERT_TRUE(UsFormats()) << "these cases assume the C or en_US locale";
    OleDateParts p = DateOf("2005/03/07");
    EXPECT_EQ(p.nYear, 2005);
    EXPECT_EQ(p.nMonth, 3);
    EXPECT_EQ(p.nDay, 7);
    p = DateOf("3/7/2005 14:5:9");
    EXPECT_EQ(p.nMonth, 3);
    EXPECT_EQ(p.nDay, 7);
    EXPECT_EQ(p.nHour, 14);
    EXPECT_EQ(p.nMinute, 5);
    EXPECT_EQ(p.nSecond, 9);
    p = DateOf("13/1/2005"); // no 13th month: read day first
    EXPECT_EQ(p.nMonth, 1);
    EXPECT_EQ(p.nDay, 13);
    p = DateOf("7/4/29");
    EXPECT_EQ(p.nYear, 2029);
    p = DateOf("7/4/30");
    EXPECT_EQ(p.nYear, 1930);
    p = DateOf("2006-07-04T12:30:00");
    EXPECT_EQ(p.nHour, 12);
    EXPECT_EQ(p.nMinute, 30);
    p = DateOf("Jul 4, 2006 12:15 AM");
    EXPECT_EQ(p.nMonth, 7);
    EXPECT_EQ(p.nHour, 0);
    EXPECT_EQ(p.nMinute, 15);
    p = DateOf("4 July 2006 1:00 pm");
    EXPECT_EQ(p.nDay, 4);
    EXPECT_EQ(p.nHour, 13);
    double d = 1;
    ASSERT_TRUE(VarDateFromStr("06:00", d));
    EXPECT_DOUBLE_EQ(d, 0.25);
}

TEST(VariantDate, RefusedTextsAreNotDates)
{
    double d = 0;
    for (const char* s : {"", "    /  /  ", "2006/02/30", "2006/13/01", "hello", "12", "1/2/3/4", "25:00",
                          "10:61", "2006/07/04 13:00 PM", "20050307", "1/1/10000", "3/7/2005 x"})
        EXPECT_FALSE(VarDateFromStr(s, d)) << s;
}

TEST(VariantDate, TextRoundTripAndParts)
{
    OleDateParts in;
    in.nYear = 1850;
    in.nMonth = 12;
    in.nDay = 31;
    in.nHour = 23;
    in.nMinute = 59;
    in.nSecond = 58;
    double d = 0;
    ASSERT_TRUE(OleDateFromParts(in, d));
    EXPECT_LT(d, 0);
    double back = 0;
    ASSERT_TRUE(VarDateFromStr(VarBstrFromDate(d), back)) << VarBstrFromDate(d);
    EXPECT_NEAR(back, d, 1e-9);
    OleDateParts out;
    ASSERT_TRUE(OleDateToParts(d, out));
    EXPECT_EQ(out.nDay, 31);
    EXPECT_EQ(out.nSecond, 58);
    EXPECT_EQ(VarBstrFromDate(0.5), "12:00:00");
    in.nYear = 0;
    in.nMonth = 2;
    in.nDay = 29; // year 0 is a leap year of the proleptic calendar
    EXPECT_TRUE(OleDateFromParts(in, d));
    in.nYear = 1900;
    EXPECT_FALSE(OleDateFromParts(in, d));
    EXPECT_FALSE(OleDateToParts(std::numeric_limits<double>::infinity(), out));
}
