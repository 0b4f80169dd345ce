#pragma once
// Julian day numbers to and from Gregorian year, month and day, with the
// date's validity. Integer arithmetic throughout (divisions truncate), in 64
// bits so that any 32-bit day number from a damaged field is safe.

#include <cstdint>

class CalendarDate {
public:
    CalendarDate() = default;

    // The Gregorian date of Julian day nJulianDay (2453921 is 2006-07-04).
    static CalendarDate FromJulianDay(int64_t nJulianDay);
    // The date with its Julian day number computed from year, month, day
    // (computed even for an invalid date; check IsValid).
    static CalendarDate FromYMD(int nYear, int nMonth, int nDay);
    static int64_t JulianDayFromYMD(int nYear, int nMonth, int nDay);

    // Year not negative, month 1..12, day within the month (February 29 in
    // leap years of the Gregorian calendar).
    bool IsValid() const;
    static bool IsValidDate(int64_t nYear, int nMonth, int nDay);
    static int DaysInMonth(int64_t nYear, int nMonth);

    int64_t GetYear() const { return m_nYear; }
    int GetMonth() const { return m_nMonth; }
    int GetDay() const { return m_nDay; }
    int64_t GetJulianDay() const { return m_nJulianDay; }

private:
    int64_t m_nYear = 0;
    int m_nMonth = 0;
    int m_nDay = 0;
    int64_t m_nJulianDay = 0;
};
