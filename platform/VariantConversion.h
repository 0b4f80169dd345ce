#pragma once
// The variant conversions of the storage and repair engines: numbers,
// currency amounts, dates and logicals to and from text under the user's
// default locale (QLocale::system(): decimal and group separators, the order
// of day, month and year), and the OLE date arithmetic.
//
// Texts are the table's byte strings; the locale's separators are matched as
// single characters. The parsers return false for a text they refuse and
// never raise.
//
// Currency amounts are signed 64-bit counts of 1/10 000 units and are parsed
// and printed with exact integer arithmetic, never through a double.
//
// OLE dates: days since 1899-12-30 00:00 as a double, the fraction is the
// time of day; before that day the whole part is negative and the fraction
// still counts forward from the start of the day. Valid years: 0 to 9999
// (wider than the platform's 100 to 9999, so that any date a table can hold
// converts).

#include <cstdint>
#include <string>

// Year, month, day, hour, minute, second of an OLE date.
struct OleDateParts {
    int nYear = 0;
    int nMonth = 0;
    int nDay = 0;
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
};

// Smallest OLE date (0000-01-01) and the first day after the largest
// (10000-01-01).
constexpr double kOleDateMin = -693959.0;
constexpr double kOleDateEnd = 2958466.0;

// The OLE date of the parts; false for an invalid date or time or a year
// outside 0..9999.
bool OleDateFromParts(const OleDateParts& parts, double& dDate);
// The parts of an OLE date, the time taken to the nearest second (a time
// that rounds to 24:00:00 carries into the next day); false when the date is
// outside the valid range or not a number.
bool OleDateToParts(double dDate, OleDateParts& parts);
// The OLE date that is nDays days after 1899-12-30 plus nSeconds seconds
// (either may be negative or carry over a day).
double OleDateFromDaysAndSeconds(int64_t nDays, int64_t nSeconds);
// Whole days (truncated toward zero) and seconds of the day (to the nearest
// second, carried into the day count when it rounds to a whole day) of an
// OLE date. The inverse of OleDateFromDaysAndSeconds.
void OleDateToDaysAndSeconds(double dDate, int64_t& nDays, int64_t& nSeconds);

// Currency text to amount ("12.3456", "-1,234.5", "1e3"), rounded half to
// even at the fourth decimal; false when refused or out of range.
bool VarCyFromStr(const std::string& strText, int64_t& nAmount);
// Amount to text: shortest form with the locale's decimal separator
// ("12.3456", "12.5", "-3", "0").
std::string VarBstrFromCy(int64_t nAmount);
// Date or date-time text to OLE date: the locale's day/month/year order,
// a year-first form ("2005/03/07", "2005-03-07"), two-digit years (00-29 are
// 2000s, 30-99 1900s), an optional time "h:m[:s]" with AM/PM, or a time
// alone (on 1899-12-30). False when refused.
bool VarDateFromStr(const std::string& strText, double& dDate);
// OLE date to text in the locale's short date form with a four-digit year,
// followed by the time "h:mm:ss" (24-hour) when the time is not midnight;
// a date 0 with a time gives the time alone.
std::string VarBstrFromDate(double dDate);
// Number text to double (locale decimal and group separators, optional sign
// and exponent, surrounding spaces); false when refused or not finite.
bool VarR8FromStr(const std::string& strText, double& dValue);
// Double to text: up to 15 significant digits, locale decimal separator.
std::string VarBstrFromR8(double dValue);
// Number text to 32-bit integer (rounded half to even); false when refused
// or out of range.
bool VarI4FromStr(const std::string& strText, int32_t& nValue);
// Double to 32-bit integer (rounded half to even); false when out of range.
bool VarI4FromR8(double dValue, int32_t& nValue);
// Double to currency amount (rounded half to even); false when out of range.
bool VarCyFromR8(double dValue, int64_t& nAmount);
// Text to logical: "True"/"False" in any case, or a number (non-zero is
// true); false when refused.
bool VarBoolFromStr(const std::string& strText, bool& bValue);
// "True" or "False".
std::string VarBstrFromBool(bool bValue);
