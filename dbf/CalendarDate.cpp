#include "dbf/CalendarDate.h"

CalendarDate CalendarDate::FromJulianDay(int64_t nJulianDay)
{
    CalendarDate date;
    int64_t l = nJulianDay + 68569;
    const int64_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    const int64_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    const int64_t j = 80 * l / 2447;
    date.m_nDay = static_cast<int>(l - 2447 * j / 80);
    l = j / 11;
    date.m_nMonth = static_cast<int>(j + 2 - 12 * l);
    date.m_nYear = 100 * (n - 49) + i + l;
    date.m_nJulianDay = nJulianDay;
    return date;
}

int64_t CalendarDate::JulianDayFromYMD(int nYear, int nMonth, int nDay)
{
    int64_t y = nYear;
    int64_t m = nMonth;
    if (nMonth <= 2) {
        y -= 1;
        m += 9;
    } else {
        m -= 3;
    }
    return nDay + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 + 1721119;
}

CalendarDate CalendarDate::FromYMD(int nYear, int nMonth, int nDay)
{
    CalendarDate date;
    date.m_nYear = nYear;
    date.m_nMonth = nMonth;
    date.m_nDay = nDay;
    date.m_nJulianDay = JulianDayFromYMD(nYear, nMonth, nDay);
    return date;
}

int CalendarDate::DaysInMonth(int64_t nYear, int nMonth)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (nMonth < 1 || nMonth > 12)
        return 0;
    const bool bLeap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
    return kDays[nMonth - 1] + (nMonth == 2 && bLeap ? 1 : 0);
}

bool CalendarDate::IsValidDate(int64_t nYear, int nMonth, int nDay)
{
    return nYear >= 0 && nMonth >= 1 && nMonth <= 12 && nDay >= 1 && nDay <= DaysInMonth(nYear, nMonth);
}

bool CalendarDate::IsValid() const
{
    return IsValidDate(m_nYear, m_nMonth, m_nDay);
}
