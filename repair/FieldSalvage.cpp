#include "repair/FieldSalvage.h"

#include "dbf/ByteCodec.h"
#include "dbf/CalendarDate.h"
#include "dbf/FieldCodec.h"
#include "platform/VariantConversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// Upper case for ASCII and for the Cyrillic letters of Windows-1251, so
// that the Russian true words match in either case.
unsigned char UpperCase1251(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= 0xE0)
        return static_cast<unsigned char>(c - 0x20);
    if (c == 0xB8) // ё
        return 0xA8;
    return c;
}

std::string AsString(std::span<const unsigned char> bytes)
{
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

int DigitsValue(const unsigned char* p, size_t n)
{
    int nValue = 0;
    for (size_t i = 0; i < n; ++i)
        nValue = nValue * 10 + (p[i] - '0');
    return nValue;
}

// Whether a YYYYMMDD field holds a real date that the storage engine writes
// (years 100 to 9999).
bool IsStoredDate(std::span<const unsigned char> bytes)
{
    if (bytes.size() != 8)
        return false;
    for (unsigned char c : bytes) {
        if (!IsDigit(c))
            return false;
    }
    const int nYear = DigitsValue(bytes.data(), 4);
    return nYear >= 100 && CalendarDate::IsValidDate(nYear, DigitsValue(bytes.data() + 4, 2), DigitsValue(bytes.data() + 6, 2));
}

// The OLE date of a YYYYMMDD field, when its digits make a real date.
std::optional<double> DateFromDigits(std::span<const unsigned char> bytes)
{
    if (!IsStoredDate(bytes))
        return std::nullopt;
    const int64_t nDays = CalendarDate::JulianDayFromYMD(DigitsValue(bytes.data(), 4), DigitsValue(bytes.data() + 4, 2),
                                                         DigitsValue(bytes.data() + 6, 2))
        - kJulianDayOfOleZero;
    return OleDateFromDaysAndSeconds(nDays, 0);
}

constexpr int32_t kMillisecondsPerDay = 86400000;
// Dates the storage engine writes: years 100 to 9999 (OLE dates); outside
// them a date field is written blank.
const int64_t kFirstStoredJulianDay = CalendarDate::JulianDayFromYMD(100, 1, 1);
const int64_t kLastStoredJulianDay = CalendarDate::JulianDayFromYMD(9999, 12, 31);

std::optional<double> DateTimeFromBytes(std::span<const unsigned char> bytes)
{
    if (bytes.size() != 8)
        return std::nullopt;
    const int32_t nDay = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(bytes.data()));
    const int32_t nMs = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(bytes.data() + 4));
    if (nDay < kFirstStoredJulianDay || nDay > kLastStoredJulianDay)
        return std::nullopt;
    if (nMs < 0 || nMs >= kMillisecondsPerDay)
        return std::nullopt;
    // Whole seconds as the storage engine reads them: (ms + 1) / 1000, so
    // that 43199999 ms, a rounding of noon, is noon.
    return OleDateFromDaysAndSeconds(nDay - kJulianDayOfOleZero, (static_cast<int64_t>(nMs) + 1) / 1000);
}

} // namespace

std::span<const unsigned char> TextUpToNul(std::span<const unsigned char> bytes)
{
    const void* pNul = std::memchr(bytes.data(), 0, bytes.size());
    if (pNul == nullptr)
        return bytes;
    return bytes.first(static_cast<size_t>(static_cast<const unsigned char*>(pNul) - bytes.data()));
}

double ParseFieldNumber(std::span<const unsigned char> bytes)
{
    const unsigned char* p = bytes.data();
    const unsigned char* pEnd = p + bytes.size();
    while (p < pEnd && IsSpace(*p))
        ++p;
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-')) {
        bNegative = *p == '-';
        ++p;
    }
    const unsigned char* pNumber = p;
    size_t nDigits = 0;
    while (p < pEnd && IsDigit(*p)) {
        ++p;
        ++nDigits;
    }
    if (p < pEnd && *p == '.') {
        ++p;
        while (p < pEnd && IsDigit(*p)) {
            ++p;
            ++nDigits;
        }
    }
    if (nDigits == 0)
        return 0.0;
    // An exponent counts only when digits follow it.
    if (p < pEnd && (*p == 'e' || *p == 'E')) {
        const unsigned char* q = p + 1;
        if (q < pEnd && (*q == '+' || *q == '-'))
            ++q;
        if (q < pEnd && IsDigit(*q)) {
            while (q < pEnd && IsDigit(*q))
                ++q;
            p = q;
        }
    }
    double dValue = 0.0;
    const auto result = std::from_chars(reinterpret_cast<const char*>(pNumber), reinterpret_cast<const char*>(p),
                                        dValue, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: atof gives infinity or 0.
        const bool bHuge = [&] {
            // Overflow when the exponent is positive or the mantissa is large.
            for (const unsigned char* q = pNumber; q < p; ++q) {
                if (*q == 'e' || *q == 'E')
                    return q + 1 < p && q[1] != '-';
            }
            return true;
        }();
        dValue = bHuge ? HUGE_VAL : 0.0;
    }
    return bNegative ? -dValue : dValue;
}

bool IsTrueWord(std::span<const unsigned char> bytes)
{
    size_t nBegin = 0;
    size_t nEnd = bytes.size();
    while (nBegin < nEnd && IsSpace(bytes[nBegin]))
        ++nBegin;
    while (nEnd > nBegin && IsSpace(bytes[nEnd - 1]))
        --nEnd;
    std::string strWord;
    strWord.reserve(nEnd - nBegin);
    for (size_t i = nBegin; i < nEnd; ++i)
        strWord.push_back(static_cast<char>(UpperCase1251(bytes[i])));
    static const char* const kTrueWords[] = {
        "T", "Y", "YES", "TRUE",
        "\xC4\xC0",                 // ДА
        "\xC8\xD1\xD2\xC8\xCD\xC0", // ИСТИНА
    };
    for (const char* pszWord : kTrueWords) {
        if (strWord == pszWord)
            return true;
    }
    return false;
}

std::optional<FieldValue> DecodeSalvagedField(char chType, std::span<const unsigned char> bytes)
{
    switch (chType) {
    case 'C':
        return FieldValue::MakeText(AsString(TextUpToNul(bytes)));
    case 'N':
    case 'F': {
        // A field without a single digit (blank, or the asterisks of an
        // overflow) holds no number: it stays blank instead of becoming 0.
        const auto text = TextUpToNul(bytes);
        if (std::none_of(text.begin(), text.end(), IsDigit))
            return FieldValue::MakeNull();
        return FieldValue::MakeDouble(ParseFieldNumber(text));
    }
    case 'I':
        if (bytes.size() != 4)
            return std::nullopt;
        return FieldValue::MakeInteger(static_cast<int32_t>(dbfbytes::DecodeFixed32LE(bytes.data())));
    case 'Y':
        if (bytes.size() != 8)
            return std::nullopt;
        return FieldValue::MakeCurrency(static_cast<int64_t>(dbfbytes::DecodeFixed64LE(bytes.data())));
    case 'B':
        if (bytes.size() != 8)
            return std::nullopt;
        return FieldValue::MakeDouble(dbfbytes::DecodeDoubleLE(bytes.data()));
    case 'D':
        if (const auto date = DateFromDigits(bytes))
            return FieldValue::MakeDate(*date);
        return std::nullopt;
    case 'T':
        if (const auto date = DateTimeFromBytes(bytes))
            return FieldValue::MakeDate(*date);
        return std::nullopt;
    case 'L': {
        // A blank or "?" logical is unknown, not false: it stays blank.
        const auto text = TextUpToNul(bytes);
        if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return IsSpace(c) || c == '?'; }))
            return FieldValue::MakeNull();
        return FieldValue::MakeLogical(IsTrueWord(text));
    }
    case 'G':
    case 'P':
        return FieldValue::MakeText(AsString(TextUpToNul(bytes)));
    default:
        return std::nullopt;
    }
}

namespace {

// A number field whose text is already what the storage engine would write
// for its value: right-aligned, an optional minus, digits without a leading
// zero, exactly nDecimals decimals, at most 15 significant digits (so the
// text survives the trip through a double unchanged).
bool IsCanonicalNumber(std::span<const unsigned char> bytes, uint8_t nDecimals)
{
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n && bytes[i] == ' ')
        ++i;
    if (i < n && bytes[i] == '-')
        ++i;
    const size_t nIntStart = i;
    while (i < n && IsDigit(bytes[i]))
        ++i;
    const size_t nIntDigits = i - nIntStart;
    if (nIntDigits == 0 || (nIntDigits > 1 && bytes[nIntStart] == '0'))
        return false;
    if (nDecimals > 0) {
        if (i >= n || bytes[i] != '.')
            return false;
        ++i;
        for (uint8_t k = 0; k < nDecimals; ++k, ++i) {
            if (i >= n || !IsDigit(bytes[i]))
                return false;
        }
    }
    return i == n && nIntDigits + nDecimals <= 15;
}

} // namespace

namespace {

// One writer per kind of field; each writes the field whole or leaves the
// blank form, or returns false for the value path.

bool WriteCharacter(uint8_t, const unsigned char* pBytes, unsigned char* pField, size_t nWidth)
{
    const void* pNul = std::memchr(pBytes, 0, nWidth);
    const size_t nText = pNul == nullptr ? nWidth : static_cast<size_t>(static_cast<const unsigned char*>(pNul) - pBytes);
    std::memcpy(pField, pBytes, nText);
    std::memset(pField + nText, ' ', nWidth - nText);
    return true;
}

bool WriteNumber(uint8_t nDecimals, const unsigned char* pBytes, unsigned char* pField, size_t nWidth)
{
    const std::span<const unsigned char> bytes(pBytes, nWidth);
    if (IsCanonicalNumber(bytes, nDecimals)) {
        std::memcpy(pField, pBytes, nWidth);
        return true;
    }
    const auto text = TextUpToNul(bytes);
    if (std::none_of(text.begin(), text.end(), IsDigit)) {
        std::memset(pField, ' ', nWidth);
        return true;
    }
    return false;
}

bool WriteDate(uint8_t, const unsigned char* pBytes, unsigned char* pField, size_t)
{
    // A real date is written back digit for digit; anything else stays as
    // the blank record has it.
    if (IsStoredDate(std::span<const unsigned char>(pBytes, 8)))
        std::memcpy(pField, pBytes, 8);
    return true;
}

bool WriteLogical(uint8_t, const unsigned char* pBytes, unsigned char* pField, size_t)
{
    const unsigned char c = pBytes[0];
    if (c == 0 || IsSpace(c) || c == '?')
        pField[0] = ' ';
    else
        pField[0] = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? 'T' : 'F';
    return true;
}

bool WriteFour(uint8_t, const unsigned char* pBytes, unsigned char* pField, size_t)
{
    std::memcpy(pField, pBytes, 4);
    return true;
}

bool WriteEight(uint8_t, const unsigned char* pBytes, unsigned char* pField, size_t)
{
    std::memcpy(pField, pBytes, 8);
    return true;
}

bool WriteDateTime(uint8_t, const unsigned char* pBytes, unsigned char* pField, size_t)
{
    const int32_t nDay = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(pBytes));
    const int32_t nMs = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(pBytes + 4));
    if (nDay < kFirstStoredJulianDay || nDay > kLastStoredJulianDay || nMs < 0 || nMs >= kMillisecondsPerDay)
        return true; // no value: stays blank
    if (nDay == kLastStoredJulianDay)
        return false; // a time that rounds into the next day leaves the range
    int64_t nSeconds = (static_cast<int64_t>(nMs) + 1) / 1000;
    int64_t nStoredDay = nDay;
    if (nSeconds == 86400) {
        nSeconds = 0;
        ++nStoredDay;
    }
    dbfbytes::EncodeFixed32LE(pField, static_cast<uint32_t>(nStoredDay));
    dbfbytes::EncodeFixed32LE(pField + 4, static_cast<uint32_t>(nSeconds * 1000));
    return true;
}

bool WriteNothing(uint8_t, const unsigned char*, unsigned char*, size_t)
{
    return true;
}

} // namespace

SalvagedFieldWriter SalvagedFieldWriterFor(char chType, size_t nWidth)
{
    switch (chType) {
    case 'C':
        return &WriteCharacter;
    case 'N':
    case 'F':
        return &WriteNumber;
    case 'D':
        return nWidth == 8 ? &WriteDate : nullptr;
    case 'L':
        return nWidth == 1 ? &WriteLogical : nullptr;
    case 'I':
        return nWidth == 4 ? &WriteFour : nullptr;
    case 'Y':
        return nWidth == 8 ? &WriteEight : nullptr;
    case 'B':
        // Another width is a dBASE binary memo reference: nothing is stored.
        return nWidth == 8 ? &WriteEight : &WriteNothing;
    case 'T':
        return nWidth == 8 ? &WriteDateTime : nullptr;
    case 'M':
        return nullptr;
    default:
        // G, P and unknown letters: the storage engine writes nothing.
        return &WriteNothing;
    }
}

bool WriteSalvagedFieldBytes(char chType, uint8_t nDecimals, std::span<const unsigned char> bytes,
                             std::span<unsigned char> field)
{
    if (field.size() != bytes.size())
        return false;
    const SalvagedFieldWriter pfnWrite = SalvagedFieldWriterFor(chType, bytes.size());
    return pfnWrite != nullptr && pfnWrite(nDecimals, bytes.data(), field.data(), bytes.size());
}

std::string FormatDateTimeText(const unsigned char* pBytes)
{
    const int32_t nDay = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(pBytes));
    const int32_t nMs = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(pBytes + 4));
    const CalendarDate date = CalendarDate::FromJulianDay(nDay);
    long long nYear = 0;
    int nMonth = 0;
    int nDate = 0;
    if (date.IsValid()) {
        nYear = date.GetYear();
        nMonth = date.GetMonth();
        nDate = date.GetDay();
    }
    const int32_t s = nMs / 1000;
    const int32_t h = s / 3600;
    const int32_t m = (s - 3600 * h) / 60;
    const int32_t sec = s - 3600 * h - 60 * m;
    char szText[96];
    std::snprintf(szText, sizeof szText, "%d/%d/%lld %d:%d:%d", nMonth, nDate, nYear, h, m, sec);
    return szText;
}

std::string PreviewFieldText(char chType, std::span<const unsigned char> bytes)
{
    char szText[512];
    switch (chType) {
    case 'C':
    case 'N':
    case 'F':
        return AsString(TextUpToNul(bytes));
    case 'I':
        if (bytes.size() != 4)
            return AsString(TextUpToNul(bytes));
        std::snprintf(szText, sizeof szText, "%ld",
                      static_cast<long>(static_cast<int32_t>(dbfbytes::DecodeFixed32LE(bytes.data()))));
        return szText;
    case 'Y':
        if (bytes.size() != 8)
            return std::string();
        return VarBstrFromCy(static_cast<int64_t>(dbfbytes::DecodeFixed64LE(bytes.data())));
    case 'D': {
        std::string strText = AsString(TextUpToNul(bytes));
        if (strText.size() > 6)
            strText.insert(6, 1, '/');
        if (strText.size() > 4)
            strText.insert(4, 1, '/');
        return strText;
    }
    case 'T':
        // A blank date-time (spaces or zero bytes) shows blank.
        if (bytes.size() != 8 || std::all_of(bytes.begin(), bytes.end(), [](unsigned char c) { return c == ' ' || c == 0; }))
            return std::string();
        return FormatDateTimeText(bytes.data());
    case 'B':
        if (bytes.size() != 8)
            return "B";
        std::snprintf(szText, sizeof szText, "%lf", dbfbytes::DecodeDoubleLE(bytes.data()));
        return szText;
    case 'L':
        return IsTrueWord(TextUpToNul(bytes)) ? "TRUE" : "FALSE";
    case 'M':
        return "Memo";
    case 'G':
        return "General";
    case 'P':
        return "Picture";
    case '\0':
        return std::string();
    default:
        return std::string(1, chType);
    }
}
