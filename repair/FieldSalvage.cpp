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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

bool IsNumberText(std::span<const unsigned char> bytes)
{
    size_t i = 0;
    size_t n = bytes.size();
    while (i < n && bytes[i] == ' ')
        ++i;
    while (n > i && bytes[n - 1] == ' ')
        --n;
    if (i == n)
        return true; // blank: no value
    // Asterisks are dBASE's overflow form and the null of shapefile writers.
    if (std::all_of(bytes.begin() + static_cast<ptrdiff_t>(i), bytes.begin() + static_cast<ptrdiff_t>(n),
                    [](unsigned char c) { return c == '*'; }))
        return true;
    if (bytes[i] == '+' || bytes[i] == '-')
        ++i;
    size_t nDigits = 0;
    while (i < n && IsDigit(bytes[i])) {
        ++i;
        ++nDigits;
    }
    if (i < n && bytes[i] == '.') {
        ++i;
        while (i < n && IsDigit(bytes[i])) {
            ++i;
            ++nDigits;
        }
    }
    if (nDigits == 0)
        return false;
    if (i < n && (bytes[i] == 'e' || bytes[i] == 'E')) {
        ++i;
        if (i < n && (bytes[i] == '+' || bytes[i] == '-'))
            ++i;
        const size_t nExponent = i;
        while (i < n && IsDigit(bytes[i]))
            ++i;
        if (i == nExponent)
            return false;
    }
    return i == n;
}

bool IsDateText(std::span<const unsigned char> bytes)
{
    if (bytes.size() != 8)
        return true; // a date of another width is carried as it is
    // Blanks and zeros are the empty date of every writer.
    if (std::all_of(bytes.begin(), bytes.end(), [](unsigned char c) { return c == ' ' || c == '0'; }))
        return true;
    if (!std::all_of(bytes.begin(), bytes.end(), IsDigit))
        return false;
    const int nYear = DigitsValue(bytes.data(), 4);
    const int nMonth = DigitsValue(bytes.data() + 4, 2);
    const int nDay = DigitsValue(bytes.data() + 6, 2);
    // Every month has 28 days: only the days after them need the calendar.
    if (nYear >= 1 && nMonth >= 1 && nMonth <= 12 && nDay >= 1 && nDay <= 28)
        return true;
    return nYear >= 1 && CalendarDate::IsValidDate(nYear, nMonth, nDay);
}

bool IsDateTimeBytes(std::span<const unsigned char> bytes)
{
    if (bytes.size() != 8)
        return true;
    // Eight spaces or eight zero bytes: no value.
    if (std::all_of(bytes.begin(), bytes.end(), [](unsigned char c) { return c == ' '; }))
        return true;
    const uint32_t nDay = dbfbytes::DecodeFixed32LE(bytes.data());
    const uint32_t nMs = dbfbytes::DecodeFixed32LE(bytes.data() + 4);
    if (nDay == 0)
        return nMs == 0;
    return nDay >= static_cast<uint32_t>(kJulianDayOfYearOne) && nDay <= static_cast<uint32_t>(kLastStoredJulianDay)
        && nMs < static_cast<uint32_t>(kMillisecondsPerDay);
}

bool IsLogicalByte(unsigned char c)
{
    switch (c) {
    case 'T': case 't': case 'F': case 'f': case 'Y': case 'y': case 'N': case 'n': case '?': case ' ':
        return true;
    default:
        return false;
    }
}

} // namespace

bool IsSoundField(char chType, std::span<const unsigned char> bytes)
{
    switch (chType) {
    case 'N':
    case 'F':
        return IsNumberText(bytes);
    case 'D':
        return IsDateText(bytes);
    case 'L':
        return bytes.size() != 1 || IsLogicalByte(bytes[0]);
    case 'T':
        return IsDateTimeBytes(bytes);
    default:
        // Text, binary numbers and bytes of unknown types are taken as they are.
        return true;
    }
}

namespace {

// Whether the sixteen bytes at p hold, from byte nShift on, a number field
// of nLength bytes in its common form: spaces, an optional sign, digits
// with at most one point, spaces. False means only "not this form": the
// full check decides.
bool IsPlainNumber(const unsigned char* p, uint32_t nShift, uint32_t nLength)
{
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i nines = _mm_set1_epi8(9);
    const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const unsigned nDigitMask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(offset, nines), offset)));
    const unsigned nSpaceMask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))));
    const unsigned nPointMask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
    const unsigned nSignMask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')), _mm_cmpeq_epi8(v, _mm_set1_epi8('+')))));
    const unsigned nValid = (1u << nLength) - 1;
    const unsigned nFilled = ~(nSpaceMask >> nShift) & nValid;
    if (nFilled == 0)
        return true; // blank
    const int nLow = __builtin_ctz(nFilled);
    const int nHigh = 31 - __builtin_clz(nFilled);
    if (nFilled != (2u << nHigh) - (1u << nLow))
        return false; // a space inside
    const unsigned nPoint = (nPointMask >> nShift) & nFilled;
    const unsigned nDigits = (nDigitMask >> nShift) & nFilled;
    if ((nPoint & (nPoint - 1)) != 0 || nDigits == 0)
        return false;
    const unsigned nSign = (nSignMask >> nShift) & (1u << nLow);
    return (nDigits | nPoint | nSign) == nFilled;
#else
    (void)p;
    (void)nShift;
    (void)nLength;
    return false;
#endif
}

} // namespace

CRecordJudge::CRecordJudge(std::span<const Field> fields, uint32_t nRecordLength) : m_nFields(fields.size())
{
    constexpr uint32_t kVector = 16;
    for (const Field& field : fields) {
        switch (field.chType) {
        case 'N':
        case 'F': {
            NumberField number{field.nOffset, field.nLength, 0, 0, false};
            if (field.nLength <= kVector && nRecordLength >= kVector && field.nOffset + field.nLength <= nRecordLength) {
                number.nLoad = std::min(field.nOffset, nRecordLength - kVector);
                number.nShift = field.nOffset - number.nLoad;
                number.bVector = true;
            }
            m_numbers.push_back(number);
            break;
        }
        case 'D':
            m_dates.push_back(field);
            break;
        case 'L':
            m_logicals.push_back(field);
            break;
        case 'T':
            m_dateTimes.push_back(field);
            break;
        default:
            m_others.push_back(field);
            break;
        }
    }
}

int CRecordJudge::CountUnsound(const unsigned char* pRecord) const
{
    // The order of the checks does not matter for the count.
    int nUnsound = 0;
    for (const NumberField& field : m_numbers) {
        if (field.bVector && IsPlainNumber(pRecord + field.nLoad, field.nShift, field.nLength))
            continue;
        if (!IsNumberText(std::span<const unsigned char>(pRecord + field.nOffset, field.nLength)))
            ++nUnsound;
    }
    for (const Field& field : m_dates) {
        if (!IsDateText(std::span<const unsigned char>(pRecord + field.nOffset, field.nLength)))
            ++nUnsound;
    }
    for (const Field& field : m_logicals) {
        if (field.nLength == 1 && !IsLogicalByte(pRecord[field.nOffset]))
            ++nUnsound;
    }
    for (const Field& field : m_dateTimes) {
        if (!IsDateTimeBytes(std::span<const unsigned char>(pRecord + field.nOffset, field.nLength)))
            ++nUnsound;
    }
    for (const Field& field : m_others) {
        if (!IsSoundField(field.chType, std::span<const unsigned char>(pRecord + field.nOffset, field.nLength)))
            ++nUnsound;
    }
    return nUnsound;
}

void MendField(char chType, uint8_t nDecimals, std::span<unsigned char> bytes)
{
    switch (chType) {
    case 'N':
    case 'F': {
        // Keep the number the damaged text begins with, written the way the
        // storage engine writes it; without a digit the field is blank.
        const std::optional<FieldValue> value = DecodeSalvagedField(chType, bytes);
        std::fill(bytes.begin(), bytes.end(), static_cast<unsigned char>(' '));
        if (!value || value->GetKind() != FieldKind::Double || !std::isfinite(value->GetDouble()))
            return;
        DBFFieldDescriptor fd;
        fd.SetType(chType);
        fd.SetLength(static_cast<uint8_t>(std::min<size_t>(bytes.size(), 255)));
        fd.SetDecimals(nDecimals);
        fd.SetOffset(0);
        try {
            EncodeField(bytes, fd, *value);
        } catch (const std::exception&) {
            std::fill(bytes.begin(), bytes.end(), static_cast<unsigned char>(' '));
        }
        return;
    }
    case 'D':
        std::fill(bytes.begin(), bytes.end(), static_cast<unsigned char>(' '));
        return;
    case 'L':
        if (!bytes.empty())
            bytes[0] = ' ';
        return;
    case 'T':
        std::fill(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
        return;
    default:
        return;
    }
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

bool IsHiddenFromGrid(const DBFFieldDescriptor& descriptor)
{
    return (descriptor.GetFlags() & DBFFieldDescriptor::kFlagSystem) != 0 || descriptor.GetType() == '0';
}

bool IsCodePageText(char chType)
{
    return chType == 'C' || chType == 'V';
}
