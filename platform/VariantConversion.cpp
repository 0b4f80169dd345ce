#include "platform/VariantConversion.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <locale>
#include <mutex>
#include <sstream>
#include <vector>

namespace {

// The conventions of the user's default locale as single characters. The
// C/POSIX locale has no date conventions of its own; it takes those of US
// English, the usual default user locale: "M/d/yyyy" and English month names.
constexpr char kDay = '\x01';
constexpr char kMonth = '\x02';
constexpr char kYear = '\x03';

struct LocaleConventions {
    char cDecimal = '.';
    char cGroup = ',';
    enum Order { MDY, DMY, YMD } order = MDY;
    // The short date form: day, month and year (kDay, kMonth, kYear) in the
    // locale's order, with what stands between them; bPadDay and bPadMonth
    // for two-digit days and months.
    std::string strDateForm = "\x02/\x01/\x03";
    bool bPadDay = false;
    bool bPadMonth = false;
    // Lower-case month names, full and abbreviated, 1..12 at 0..11.
    std::array<std::string, 12> monthNames;
    std::array<std::string, 12> monthAbbreviations;
};

std::locale UserLocale()
{
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic(); // LANG names a locale that is not installed
    }
}

std::string TimeText(const std::locale& loc, const std::tm& tm, char cFormat)
{
    std::ostringstream out;
    out.imbue(loc);
    std::use_facet<std::time_put<char>>(loc).put(std::ostreambuf_iterator<char>(out), out, ' ', &tm, cFormat);
    return out.str();
}

std::string LowerAscii(std::string str)
{
    for (char& c : str)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return str;
}

// The short date form of the locale, read off its "%x" text of 2005-03-07
// (a day, month and year no two of which look alike).
void ReadDateForm(const std::string& strSample, LocaleConventions& lc)
{
    struct Part {
        const char* lpszPadded;
        const char* lpszPlain;
        char cField;
        bool* pbPadded;
    };
    bool bYearPadded = false;
    Part parts[] = {{"2005", "05", kYear, &bYearPadded}, {"03", "3", kMonth, &lc.bPadMonth}, {"07", "7", kDay, &lc.bPadDay}};
    std::string strForm;
    int nFound = 0;
    for (size_t i = 0; i < strSample.size();) {
        bool bMatched = false;
        for (Part& part : parts) {
            for (const bool bPadded : {true, false}) {
                const std::string_view str = bPadded ? part.lpszPadded : part.lpszPlain;
                if (strSample.compare(i, str.size(), str) != 0)
                    continue;
                strForm += part.cField;
                *part.pbPadded = bPadded;
                i += str.size();
                ++nFound;
                bMatched = true;
                break;
            }
            if (bMatched)
                break;
        }
        if (!bMatched)
            strForm += strSample[i++];
    }
    if (nFound != 3)
        return; // not a numeric date: the US form stays
    lc.strDateForm = strForm;
    const size_t d = strForm.find(kDay);
    const size_t m = strForm.find(kMonth);
    const size_t y = strForm.find(kYear);
    if (d == std::string::npos || m == std::string::npos || y == std::string::npos)
        lc.order = LocaleConventions::MDY;
    else if (y < m && y < d)
        lc.order = LocaleConventions::YMD;
    else
        lc.order = d < m ? LocaleConventions::DMY : LocaleConventions::MDY;
}

LocaleConventions Conventions()
{
    static const char* const kEnglish[] = {"january", "february", "march", "april", "may", "june", "july",
                                           "august", "september", "october", "november", "december"};
    LocaleConventions lc;
    for (int m = 0; m < 12; ++m) {
        lc.monthNames[m] = kEnglish[m];
        lc.monthAbbreviations[m] = std::string(kEnglish[m], 3);
    }
    const std::locale loc = UserLocale();
    const auto& punct = std::use_facet<std::numpunct<char>>(loc);
    lc.cDecimal = punct.decimal_point();
    lc.cGroup = punct.thousands_sep();
    if (lc.cGroup == lc.cDecimal || static_cast<unsigned char>(lc.cGroup) >= 0x80)
        lc.cGroup = lc.cDecimal == ',' ? '.' : ',';
    std::tm tm{};
    tm.tm_year = 2005 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 7;
    const std::string strSample = TimeText(loc, tm, 'x');
    if (strSample == TimeText(std::locale::classic(), tm, 'x'))
        return lc; // the C locale's dates
    ReadDateForm(strSample, lc);
    for (int m = 0; m < 12; ++m) {
        tm.tm_mon = m;
        lc.monthNames[m] = LowerAscii(TimeText(loc, tm, 'B'));
        lc.monthAbbreviations[m] = LowerAscii(TimeText(loc, tm, 'b'));
    }
    return lc;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A decimal number as its significant digits and a power of ten:
// value = (bNegative ? -1 : 1) * digits * 10^nExponent.
struct ParsedNumber {
    bool bNegative = false;
    std::string strDigits; // no leading zeros; empty for zero
    int64_t nExponent = 0;
};

bool ParseNumberText(const std::string& strText, const LocaleConventions& lc, ParsedNumber& out)
{
    size_t i = 0;
    size_t n = strText.size();
    while (i < n && IsBlank(strText[i]))
        ++i;
    while (n > i && IsBlank(strText[n - 1]))
        --n;
    if (i < n && (strText[i] == '+' || strText[i] == '-')) {
        out.bNegative = strText[i] == '-';
        ++i;
    }
    bool bAnyDigit = false;
    bool bInFraction = false;
    int64_t nFractionDigits = 0;
    for (; i < n; ++i) {
        const char c = strText[i];
        if (c >= '0' && c <= '9') {
            bAnyDigit = true;
            if (!(out.strDigits.empty() && c == '0'))
                out.strDigits.push_back(c);
            if (bInFraction)
                ++nFractionDigits;
            continue;
        }
        if (c == lc.cDecimal && !bInFraction) {
            bInFraction = true;
            continue;
        }
        // A group separator only between digits of the integer part.
        if (lc.cGroup != '\0' && c == lc.cGroup && !bInFraction && bAnyDigit && i + 1 < n
            && std::isdigit(static_cast<unsigned char>(strText[i + 1])))
            continue;
        break;
    }
    if (!bAnyDigit)
        return false;
    int64_t nExp = 0;
    if (i < n && (strText[i] == 'e' || strText[i] == 'E')) {
        ++i;
        bool bExpNegative = false;
        if (i < n && (strText[i] == '+' || strText[i] == '-')) {
            bExpNegative = strText[i] == '-';
            ++i;
        }
        if (i >= n || !std::isdigit(static_cast<unsigned char>(strText[i])))
            return false;
        for (; i < n && std::isdigit(static_cast<unsigned char>(strText[i])); ++i)
            nExp = std::min<int64_t>(nExp * 10 + (strText[i] - '0'), 1000000);
        if (bExpNegative)
            nExp = -nExp;
    }
    if (i != n)
        return false;
    // Zeros that followed the significant digits in the fraction count in
    // the exponent, not in the digits; drop trailing zeros into it.
    out.nExponent = nExp - nFractionDigits;
    while (!out.strDigits.empty() && out.strDigits.back() == '0') {
        out.strDigits.pop_back();
        ++out.nExponent;
    }
    return true;
}

bool ToDouble(const ParsedNumber& num, double& dValue)
{
    if (num.strDigits.empty()) {
        dValue = 0.0;
        return true;
    }
    const std::string strSci = num.strDigits + "e" + std::to_string(num.nExponent);
    double d = 0.0;
    const auto res = std::from_chars(strSci.data(), strSci.data() + strSci.size(), d);
    if (res.ec != std::errc() || res.ptr != strSci.data() + strSci.size() || !std::isfinite(d))
        return false;
    dValue = num.bNegative ? -d : d;
    return true;
}

// Exact units of 1/10 000, rounded half to even.
bool ToCurrency(const ParsedNumber& num, int64_t& nAmount)
{
    if (num.strDigits.empty()) {
        nAmount = 0;
        return true;
    }
    const int64_t nScale = num.nExponent + 4;
    const int64_t nLen = static_cast<int64_t>(num.strDigits.size());
    if (nLen + nScale > 20)
        return false;
    // keep: the digits that make whole units; the rest decides the rounding.
    const int64_t nKeep = nLen + std::min<int64_t>(nScale, 0);
    uint64_t nUnits = 0;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    for (int64_t k = 0; k < nKeep; ++k) {
        const unsigned d = static_cast<unsigned>(num.strDigits[static_cast<size_t>(k)] - '0');
        if (nUnits > (kMax - d) / 10)
            return false;
        nUnits = nUnits * 10 + d;
    }
    for (int64_t k = 0; k < nScale; ++k) {
        if (nUnits > kMax / 10)
            return false;
        nUnits *= 10;
    }
    if (nKeep < nLen) {
        const char cFirst = nKeep >= 0 ? num.strDigits[static_cast<size_t>(nKeep)] : '0';
        bool bRestNonZero = false;
        for (int64_t k = std::max<int64_t>(nKeep + 1, 0); k < nLen; ++k)
            bRestNonZero = bRestNonZero || num.strDigits[static_cast<size_t>(k)] != '0';
        if (nKeep < 0) {
            // Every digit lies below the first dropped position.
            bRestNonZero = true;
        }
        bool bUp = false;
        if (cFirst > '5')
            bUp = true;
        else if (cFirst == '5')
            bUp = bRestNonZero || (nUnits & 1) != 0;
        if (nKeep < 0)
            bUp = false; // below half a unit
        if (bUp) {
            if (nUnits == kMax)
                return false;
            ++nUnits;
        }
    }
    constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (num.bNegative) {
        if (nUnits > kMaxPositive + 1)
            return false;
        nAmount = nUnits == kMaxPositive + 1 ? std::numeric_limits<int64_t>::min()
                                             : -static_cast<int64_t>(nUnits);
    } else {
        if (nUnits > kMaxPositive)
            return false;
        nAmount = static_cast<int64_t>(nUnits);
    }
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y += m <= 2;
}

constexpr int64_t kUnixDaysOfOleZero = -25569; // 1899-12-30

bool IsLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool IsValidYMD(int y, int m, int d)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 0 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    return d <= kDays[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
}

// Date text tokens.
struct Token {
    enum Kind { number, word, separator } kind = separator;
    int64_t nValue = 0;
    int nDigits = 0;
    std::string strText;
    char cSep = 0;
};

std::vector<Token> Tokenize(const std::string& strText)
{
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < strText.size()) {
        const unsigned char c = static_cast<unsigned char>(strText[i]);
        if (std::isdigit(c)) {
            Token t;
            t.kind = Token::number;
            while (i < strText.size() && std::isdigit(static_cast<unsigned char>(strText[i]))) {
                t.nValue = std::min<int64_t>(t.nValue * 10 + (strText[i] - '0'), 100000000);
                ++t.nDigits;
                ++i;
            }
            tokens.push_back(t);
        } else if (std::isalpha(c)) {
            Token t;
            t.kind = Token::word;
            while (i < strText.size() && std::isalpha(static_cast<unsigned char>(strText[i])))
                t.strText.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(strText[i++]))));
            tokens.push_back(t);
        } else if (IsBlank(static_cast<char>(c))) {
            ++i; // blanks only separate
        } else {
            Token t;
            t.kind = Token::separator;
            t.cSep = static_cast<char>(c);
            tokens.push_back(t);
            ++i;
        }
    }
    return tokens;
}

// 1..12 for an English or locale month name (full or abbreviated), else 0.
int MonthFromWord(const std::string& strWord, const LocaleConventions& lc)
{
    static const char* const kEnglish[] = {"january", "february", "march", "april", "may", "june", "july",
                                           "august", "september", "october", "november", "december"};
    for (int m = 1; m <= 12; ++m) {
        const std::string strFull = kEnglish[m - 1];
        if (strWord == strFull || (strWord.size() == 3 && strFull.compare(0, 3, strWord) == 0))
            return m;
        if (strWord == "sept" && m == 9)
            return m;
        for (const std::string& strName : {lc.monthNames[m - 1], lc.monthAbbreviations[m - 1]}) {
            if (!strName.empty() && strWord == strName)
                return m;
        }
    }
    return 0;
}

int ExpandYear(const Token& t)
{
    if (t.nDigits <= 2)
        return static_cast<int>(t.nValue < 30 ? 2000 + t.nValue : 1900 + t.nValue);
    return static_cast<int>(t.nValue);
}

int CurrentYear()
{
    // std::localtime shares one buffer; the desktop program repairs on a
    // thread of its own.
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    const std::time_t now = std::time(nullptr);
    return std::localtime(&now)->tm_year + 1900;
}

bool IsDateSeparator(char c)
{
    return c == '/' || c == '-' || c == '.' || c == ',';
}

} // namespace

bool OleDateFromParts(const OleDateParts& parts, double& dDate)
{
    if (!IsValidYMD(parts.nYear, parts.nMonth, parts.nDay))
        return false;
    if (parts.nHour < 0 || parts.nHour > 23 || parts.nMinute < 0 || parts.nMinute > 59 || parts.nSecond < 0
        || parts.nSecond > 59)
        return false;
    const int64_t nDays = DaysFromCivil(parts.nYear, parts.nMonth, parts.nDay) - kUnixDaysOfOleZero;
    dDate = OleDateFromDaysAndSeconds(nDays, parts.nHour * 3600 + parts.nMinute * 60 + parts.nSecond);
    return true;
}

bool OleDateToParts(double dDate, OleDateParts& parts)
{
    if (!std::isfinite(dDate) || dDate < -700000.0 || dDate > 3000000.0)
        return false;
    int64_t nDays = 0;
    int64_t nSeconds = 0;
    OleDateToDaysAndSeconds(dDate, nDays, nSeconds);
    int64_t y = 0;
    int m = 0;
    int d = 0;
    CivilFromDays(nDays + kUnixDaysOfOleZero, y, m, d);
    if (y < 0 || y > 9999)
        return false;
    parts.nYear = static_cast<int>(y);
    parts.nMonth = m;
    parts.nDay = d;
    parts.nHour = static_cast<int>(nSeconds / 3600);
    parts.nMinute = static_cast<int>(nSeconds % 3600 / 60);
    parts.nSecond = static_cast<int>(nSeconds % 60);
    return true;
}

double OleDateFromDaysAndSeconds(int64_t nDays, int64_t nSeconds)
{
    int64_t nTotal = nDays * 86400 + nSeconds;
    int64_t nDay = nTotal / 86400;
    int64_t nRest = nTotal % 86400;
    if (nRest < 0) {
        nRest += 86400;
        --nDay;
    }
    const double dFraction = static_cast<double>(nRest) / 86400.0;
    return nDay >= 0 ? static_cast<double>(nDay) + dFraction : static_cast<double>(nDay) - dFraction;
}

void OleDateToDaysAndSeconds(double dDate, int64_t& nDays, int64_t& nSeconds)
{
    const double dWhole = std::trunc(dDate);
    const double dFraction = std::fabs(dDate - dWhole);
    nDays = static_cast<int64_t>(dWhole);
    nSeconds = std::llround(dFraction * 86400.0);
    if (nSeconds >= 86400) {
        nSeconds -= 86400;
        ++nDays;
    }
}

bool VarCyFromStr(const std::string& strText, int64_t& nAmount)
{
    ParsedNumber num;
    if (!ParseNumberText(strText, Conventions(), num))
        return false;
    return ToCurrency(num, nAmount);
}

std::string VarBstrFromCy(int64_t nAmount)
{
    const bool bNegative = nAmount < 0;
    const uint64_t nAbs = bNegative ? 0 - static_cast<uint64_t>(nAmount) : static_cast<uint64_t>(nAmount);
    std::string strText = (bNegative ? "-" : "") + std::to_string(nAbs / 10000);
    uint64_t nFraction = nAbs % 10000;
    if (nFraction != 0) {
        std::string strFraction = std::to_string(nFraction);
        strFraction.insert(0, 4 - strFraction.size(), '0');
        while (strFraction.back() == '0')
            strFraction.pop_back();
        strText += Conventions().cDecimal;
        strText += strFraction;
    }
    return strText;
}

bool VarR8FromStr(const std::string& strText, double& dValue)
{
    ParsedNumber num;
    if (!ParseNumberText(strText, Conventions(), num))
        return false;
    return ToDouble(num, dValue);
}

std::string VarBstrFromR8(double dValue)
{
    if (!std::isfinite(dValue))
        return std::isnan(dValue) ? "NaN" : (dValue < 0 ? "-Infinity" : "Infinity");
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, dValue, std::chars_format::general, 15);
    std::string strText(buf, res.ptr);
    const char cDecimal = Conventions().cDecimal;
    for (char& c : strText) {
        if (c == '.')
            c = cDecimal;
        else if (c == 'e')
            c = 'E';
    }
    if (strText == "-0")
        strText = "0";
    return strText;
}

bool VarI4FromR8(double dValue, int32_t& nValue)
{
    if (!std::isfinite(dValue))
        return false;
    const double dRounded = std::nearbyint(dValue); // half to even in the default rounding mode
    if (dRounded < -2147483648.0 || dRounded > 2147483647.0)
        return false;
    nValue = static_cast<int32_t>(dRounded);
    return true;
}

bool VarI4FromStr(const std::string& strText, int32_t& nValue)
{
    double d = 0.0;
    return VarR8FromStr(strText, d) && VarI4FromR8(d, nValue);
}

bool VarCyFromR8(double dValue, int64_t& nAmount)
{
    if (!std::isfinite(dValue))
        return false;
    const double dUnits = std::nearbyint(dValue * 10000.0);
    // 2^63 is exactly representable; anything at or above it does not fit.
    if (dUnits < -9223372036854775808.0 || dUnits >= 9223372036854775808.0)
        return false;
    nAmount = static_cast<int64_t>(dUnits);
    return true;
}

bool VarBoolFromStr(const std::string& strText, bool& bValue)
{
    size_t i = 0;
    size_t n = strText.size();
    while (i < n && IsBlank(strText[i]))
        ++i;
    while (n > i && IsBlank(strText[n - 1]))
        --n;
    std::string strWord;
    for (size_t k = i; k < n; ++k)
        strWord.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(strText[k]))));
    if (strWord == "true" || strWord == "#true#") {
        bValue = true;
        return true;
    }
    if (strWord == "false" || strWord == "#false#") {
        bValue = false;
        return true;
    }
    double d = 0.0;
    if (!VarR8FromStr(strText, d))
        return false;
    bValue = d != 0.0;
    return true;
}

std::string VarBstrFromBool(bool bValue)
{
    return bValue ? "True" : "False";
}

bool VarDateFromStr(const std::string& strText, double& dDate)
{
    const LocaleConventions lc = Conventions();
    const std::vector<Token> tokens = Tokenize(strText);

    std::vector<Token> dateNumbers;
    int nMonthWord = 0;
    bool bHaveTime = false;
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;

    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        const bool bTimeStart = t.kind == Token::number && i + 1 < tokens.size()
            && tokens[i + 1].kind == Token::separator && tokens[i + 1].cSep == ':';
        if (bTimeStart) {
            if (bHaveTime)
                return false;
            bHaveTime = true;
            int64_t values[3] = {t.nValue, 0, 0};
            int nCount = 1;
            size_t k = i + 1;
            while (nCount < 3 && k + 1 < tokens.size() && tokens[k].kind == Token::separator
                   && tokens[k].cSep == ':' && tokens[k + 1].kind == Token::number) {
                values[nCount++] = tokens[k + 1].nValue;
                k += 2;
            }
            if (nCount < 2)
                return false;
            i = k - 1;
            // Optional AM/PM right after the time.
            bool bAm = false;
            bool bPm = false;
            if (i + 1 < tokens.size() && tokens[i + 1].kind == Token::word) {
                const std::string& w = tokens[i + 1].strText;
                bAm = w == "am" || w == "a";
                bPm = w == "pm" || w == "p";
                if (bAm || bPm)
                    ++i;
            }
            if (bAm || bPm) {
                if (values[0] < 1 || values[0] > 12)
                    return false;
                values[0] = values[0] % 12 + (bPm ? 12 : 0);
            }
            if (values[0] > 23 || values[1] > 59 || values[2] > 59)
                return false;
            nHour = static_cast<int>(values[0]);
            nMinute = static_cast<int>(values[1]);
            nSecond = static_cast<int>(values[2]);
            continue;
        }
        switch (t.kind) {
        case Token::number:
            dateNumbers.push_back(t);
            break;
        case Token::word: {
            if (t.strText == "t" && bHaveTime == false && i + 2 < tokens.size())
                break; // ISO "2006-07-04T14:05:09"
            const int m = MonthFromWord(t.strText, lc);
            if (m == 0 || nMonthWord != 0)
                return false;
            nMonthWord = m;
            break;
        }
        case Token::separator:
            if (!IsDateSeparator(t.cSep))
                return false;
            break;
        }
    }

    const int nTimeSeconds = nHour * 3600 + nMinute * 60 + nSecond;
    if (dateNumbers.empty() && nMonthWord == 0) {
        if (!bHaveTime)
            return false;
        dDate = OleDateFromDaysAndSeconds(0, nTimeSeconds);
        return true;
    }

    for (const Token& t : dateNumbers)
        if (t.nDigits > 4)
            return false;

    auto tryDate = [&](int y, int m, int d) {
        OleDateParts parts;
        parts.nYear = y;
        parts.nMonth = m;
        parts.nDay = d;
        parts.nHour = nHour;
        parts.nMinute = nMinute;
        parts.nSecond = nSecond;
        return OleDateFromParts(parts, dDate);
    };
    auto looksLikeYear = [](const Token& t) { return t.nDigits >= 3 || t.nValue > 31; };

    if (nMonthWord != 0) {
        if (dateNumbers.size() == 1) {
            if (looksLikeYear(dateNumbers[0]))
                return false;
            return tryDate(CurrentYear(), nMonthWord, static_cast<int>(dateNumbers[0].nValue));
        }
        if (dateNumbers.size() != 2)
            return false;
        const Token& a = dateNumbers[0];
        const Token& b = dateNumbers[1];
        if (looksLikeYear(a) && !looksLikeYear(b))
            return tryDate(ExpandYear(a), nMonthWord, static_cast<int>(b.nValue));
        return tryDate(ExpandYear(b), nMonthWord, static_cast<int>(a.nValue));
    }

    if (dateNumbers.size() == 2) {
        const int a = static_cast<int>(dateNumbers[0].nValue);
        const int b = static_cast<int>(dateNumbers[1].nValue);
        if (looksLikeYear(dateNumbers[0]) || looksLikeYear(dateNumbers[1]))
            return false;
        if (lc.order == LocaleConventions::DMY)
            return tryDate(CurrentYear(), b, a) || tryDate(CurrentYear(), a, b);
        return tryDate(CurrentYear(), a, b) || tryDate(CurrentYear(), b, a);
    }
    if (dateNumbers.size() != 3)
        return false;
    const Token& a = dateNumbers[0];
    const Token& b = dateNumbers[1];
    const Token& c = dateNumbers[2];
    if (a.nDigits >= 3 || lc.order == LocaleConventions::YMD)
        return tryDate(ExpandYear(a), static_cast<int>(b.nValue), static_cast<int>(c.nValue));
    const int y = ExpandYear(c);
    // The locale's order first; a text that makes no date that way is read
    // the other way round, as the platform's parser does ("13/1/2005").
    if (lc.order == LocaleConventions::DMY)
        return tryDate(y, static_cast<int>(b.nValue), static_cast<int>(a.nValue))
            || tryDate(y, static_cast<int>(a.nValue), static_cast<int>(b.nValue));
    return tryDate(y, static_cast<int>(a.nValue), static_cast<int>(b.nValue))
        || tryDate(y, static_cast<int>(b.nValue), static_cast<int>(a.nValue));
}

std::string VarBstrFromDate(double dDate)
{
    OleDateParts parts;
    if (!OleDateToParts(dDate, parts))
        return {};
    const LocaleConventions lc = Conventions();
    const bool bHasTime = parts.nHour != 0 || parts.nMinute != 0 || parts.nSecond != 0;
    char time[32];
    std::snprintf(time, sizeof time, "%d:%02d:%02d", parts.nHour, parts.nMinute, parts.nSecond);
    int64_t nDays = 0;
    int64_t nSeconds = 0;
    OleDateToDaysAndSeconds(dDate, nDays, nSeconds);
    if (nDays == 0 && bHasTime)
        return time;
    // The short form with a four-digit year. Year 0 has no date text: the
    // calendar of the locale conventions goes from 1 BC to AD 1.
    std::string strText;
    if (parts.nYear != 0) {
        for (const char c : lc.strDateForm) {
            char field[16];
            if (c == kDay)
                std::snprintf(field, sizeof field, lc.bPadDay ? "%02d" : "%d", parts.nDay);
            else if (c == kMonth)
                std::snprintf(field, sizeof field, lc.bPadMonth ? "%02d" : "%d", parts.nMonth);
            else if (c == kYear)
                std::snprintf(field, sizeof field, "%04d", parts.nYear);
            else
                field[0] = c, field[1] = '\0';
            strText += field;
        }
    }
    if (bHasTime)
        strText += std::string(" ") + time;
    return strText;
}
