#include "dbf/FieldCodec.h"

#include "dbf/ByteCodec.h"
#include "dbf/CalendarDate.h"
#include "platform/VariantConversion.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

bool IsWhite(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The field's bytes; std::out_of_range when they do not lie in the record.
template <typename Byte>
std::span<Byte> FieldBytes(std::span<Byte> record, const DBFFieldDescriptor& fd)
{
    const uint64_t nOffset = fd.GetOffset();
    const uint64_t nWidth = fd.GetWidth();
    if (nOffset + nWidth > record.size())
        throw std::out_of_range("field \"" + fd.GetName() + "\" at offset " + std::to_string(nOffset)
                                + " with width " + std::to_string(nWidth) + " lies outside the record of "
                                + std::to_string(record.size()) + " bytes");
    return record.subspan(static_cast<size_t>(nOffset), static_cast<size_t>(nWidth));
}

// The first n bytes of the field, zero-extended when the field is narrower.
template <size_t N>
std::array<unsigned char, N> FixedBytes(std::span<const unsigned char> field, unsigned char chPad = 0)
{
    std::array<unsigned char, N> bytes;
    bytes.fill(chPad);
    std::memcpy(bytes.data(), field.data(), std::min(N, field.size()));
    return bytes;
}

// Writes the first min(n, width) bytes.
void PutFixed(std::span<unsigned char> field, const unsigned char* pBytes, size_t n)
{
    std::memcpy(field.data(), pBytes, std::min(n, field.size()));
}

// Encodes value into N bytes with encode and writes the first min(N, width).
template <size_t N, typename Encode, typename T>
void PutEncoded(std::span<unsigned char> field, Encode encode, T value)
{
    std::array<unsigned char, N> bytes;
    encode(bytes.data(), value);
    PutFixed(field, bytes.data(), bytes.size());
}

// The OLE date for a D or T field: the value itself when it is a Date,
// otherwise its text read as a date. False when there is none or it has no
// calendar date. Raises CVariantConversionException when the value has no
// text form.
bool DateOfValue(const FieldValue& value, double& dDate, OleDateParts& parts)
{
    if (value.GetKind() == FieldKind::Date)
        dDate = value.GetDate();
    else if (!VarDateFromStr(value.ConvertTo(FieldKind::Text).GetText(), dDate))
        return false;
    return OleDateToParts(dDate, parts);
}

// The index after the leading white space and an optional sign of the n
// bytes at p, as atoi and atof skip them.
size_t SkipSpaceAndSign(const unsigned char* p, size_t n, bool& bNegative)
{
    size_t i = 0;
    while (i < n && IsWhite(p[i]))
        ++i;
    bNegative = false;
    if (i < n && (p[i] == '+' || p[i] == '-')) {
        bNegative = p[i] == '-';
        ++i;
    }
    return i;
}

// A decimal integer the way atoi reads it: leading white space, an optional
// sign, digits up to the first non-digit; no digits give 0. Saturates
// instead of overflowing.
int64_t ReadDecimalInteger(const unsigned char* p, size_t n)
{
    bool bNegative = false;
    size_t i = SkipSpaceAndSign(p, n, bNegative);
    int64_t nValue = 0;
    for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i)
        nValue = std::min<int64_t>(nValue * 10 + (p[i] - '0'), int64_t{1} << 40);
    return bNegative ? -nValue : nValue;
}

// A decimal floating-point number the way atof reads it: leading white
// space, an optional sign, digits with an optional point and exponent, up to
// the first character that does not fit; nothing readable gives 0.
double ReadDecimalNumber(const unsigned char* p, size_t n)
{
    bool bNegative = false;
    const size_t i = SkipSpaceAndSign(p, n, bNegative);
    const char* pBegin = reinterpret_cast<const char*>(p + i);
    const char* pEnd = reinterpret_cast<const char*>(p + n);
    double d = 0.0;
    const auto res = std::from_chars(pBegin, pEnd, d, std::chars_format::general);
    if (res.ec != std::errc())
        return 0.0;
    return bNegative ? -d : d;
}

void FillBytes(std::span<unsigned char> field, unsigned char ch)
{
    std::fill(field.begin(), field.end(), ch);
}

// Writes n right-aligned decimal digits of nValue (zero-padded) at p.
void PutDigits(unsigned char* p, int n, int64_t nValue)
{
    for (int k = n - 1; k >= 0; --k) {
        p[k] = static_cast<unsigned char>('0' + nValue % 10);
        nValue /= 10;
    }
}

void EncodeNumber(std::span<unsigned char> field, const DBFFieldDescriptor& fd, double dValue)
{
    // Largest double is about 1.8e308: 309 digits, a sign, a point and up to
    // 255 decimals.
    char buf[640];
    const auto res = std::to_chars(buf, buf + sizeof buf, dValue, std::chars_format::fixed, fd.GetDecimals());
    std::string strText;
    if (res.ec == std::errc() && std::isfinite(dValue))
        strText.assign(buf, res.ptr);
    const size_t nWidth = field.size();
    if (strText.empty() || strText.size() > nWidth) {
        // Too wide: keep the integer part and as many decimals as fit; a
        // number whose integer part does not fit is written as asterisks, not
        // as a cut of its digits that would read as another number.
        const size_t nIntegerPart = std::min(strText.find('.'), strText.size());
        if (strText.empty() || nIntegerPart > nWidth) {
            FillBytes(field, '*');
            return;
        }
        strText.resize(nWidth);
    }
    std::memcpy(field.data() + (nWidth - strText.size()), strText.data(), strText.size());
}

} // namespace

size_t DecodeField(std::span<const unsigned char> record, const DBFFieldDescriptor& fd, FieldValue& value)
{
    const std::span<const unsigned char> field = FieldBytes(record, fd);
    const size_t nWidth = field.size();
    const unsigned char* p = field.data();
    const char chType = fd.GetType();

    auto textUpToNul = [&]() {
        const size_t n = static_cast<size_t>(std::find(field.begin(), field.end(), 0) - field.begin());
        return std::string(reinterpret_cast<const char*>(p), n);
    };

    switch (chType) {
    case 'C': {
        std::string strText = textUpToNul();
        if (!(fd.GetFlags() & DBFFieldDescriptor::kFlagBinary)) {
            while (!strText.empty() && IsWhite(static_cast<unsigned char>(strText.back())))
                strText.pop_back();
        }
        value = FieldValue::MakeText(std::move(strText));
        break;
    }
    case 'D': {
        const auto b = FixedBytes<8>(field, ' ');
        const int64_t nYear = ReadDecimalInteger(b.data(), 4);
        const int64_t nMonth = ReadDecimalInteger(b.data() + 4, 2);
        const int64_t nDay = ReadDecimalInteger(b.data() + 6, 2);
        OleDateParts parts;
        parts.nYear = static_cast<int>(nYear);
        parts.nMonth = static_cast<int>(nMonth);
        parts.nDay = static_cast<int>(nDay);
        double dDate = 0.0;
        if (nYear <= 9999 && CalendarDate::IsValidDate(nYear, static_cast<int>(nMonth), static_cast<int>(nDay))
            && OleDateFromParts(parts, dDate))
            value = FieldValue::MakeDate(dDate);
        else
            value = FieldValue();
        break;
    }
    case 'N':
    case 'F':
        value = FieldValue::MakeDouble(ReadDecimalNumber(p, nWidth));
        break;
    case 'I':
        value = FieldValue::MakeInteger(static_cast<int32_t>(dbfbytes::DecodeFixed32LE(FixedBytes<4>(field).data())));
        break;
    case 'Y':
        value = FieldValue::MakeCurrency(static_cast<int64_t>(dbfbytes::DecodeFixed64LE(FixedBytes<8>(field).data())));
        break;
    case 'L':
        value = FieldValue::MakeLogical(nWidth > 0 && (p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y'));
        break;
    case 'T': {
        const auto b = FixedBytes<8>(field);
        const int32_t nJulian = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(b.data()));
        const int32_t nMillis = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(b.data() + 4));
        if (nJulian < kJulianDayOfYearOne) {
            value = FieldValue();
            break;
        }
        // (M + 1) / 1000: 43199999 ms is already 12:00:00.
        const int64_t nSeconds = (static_cast<int64_t>(nMillis) + 1) / 1000;
        value = FieldValue::MakeDate(
            OleDateFromDaysAndSeconds(static_cast<int64_t>(nJulian) - kJulianDayOfOleZero, nSeconds));
        break;
    }
    case '0': {
        // Only the low 4 bytes fit the Unsigned kind; a wider null-flags
        // field (more than 32 nullable columns) gives its first 4 bytes.
        value = FieldValue::MakeUnsigned(dbfbytes::DecodeFixed32LE(FixedBytes<4>(field).data()));
        break;
    }
    case 'B':
        if (fd.GetLength() == 8) {
            value = FieldValue::MakeDouble(dbfbytes::DecodeDoubleLE(FixedBytes<8>(field).data()));
            break;
        }
        [[fallthrough]];
    case 'M':
    case 'G':
    case 'P':
        if ((chType == 'M' || chType == 'B') && IsMemoRefForm(field)) {
            value = FieldValue::MakeMemoRef(static_cast<int32_t>(dbfbytes::DecodeFixed32LE(p + 2)),
                                            static_cast<int32_t>(dbfbytes::DecodeFixed32LE(p + 6)));
        } else if (nWidth == 4) {
            value = FieldValue::MakeUnsigned(dbfbytes::DecodeFixed32LE(p));
        } else if (nWidth == 10) {
            // A negative or oversized number names no block.
            const int64_t nBlock = ReadDecimalInteger(p, nWidth);
            value = FieldValue::MakeUnsigned(nBlock > 0 && nBlock <= 0xFFFFFFFF ? static_cast<uint32_t>(nBlock) : 0);
        } else {
            value = FieldValue::MakeUnsigned(0); // no reference form for this width
        }
        break;
    default:
        value = FieldValue::MakeText(textUpToNul());
        break;
    }
    return nWidth;
}

void EncodeField(std::span<unsigned char> record, const DBFFieldDescriptor& fd, const FieldValue& value)
{
    const std::span<unsigned char> field = FieldBytes(record, fd);
    const char chType = fd.GetType();
    const bool bNull = value.IsNull();

    switch (chType) {
    case 'C': {
        FillBytes(field, ' ');
        if (bNull)
            break;
        const FieldValue text = value.ConvertTo(FieldKind::Text);
        const std::string& s = text.GetText();
        std::memcpy(field.data(), s.data(), std::min(s.size(), field.size()));
        break;
    }
    case 'N':
    case 'F':
        FillBytes(field, ' ');
        if (!bNull)
            EncodeNumber(field, fd, value.ConvertTo(FieldKind::Double).GetDouble());
        break;
    case 'D': {
        double dDate = 0.0;
        OleDateParts parts;
        if (!DateOfValue(value, dDate, parts)) {
            FillBytes(field, ' ');
            break;
        }
        FillBytes(field, '0');
        std::array<unsigned char, 8> digits;
        PutDigits(digits.data(), 4, parts.nYear);
        PutDigits(digits.data() + 4, 2, parts.nMonth);
        PutDigits(digits.data() + 6, 2, parts.nDay);
        PutFixed(field, digits.data(), digits.size());
        break;
    }
    case 'T': {
        double dDate = 0.0;
        OleDateParts parts;
        if (!DateOfValue(value, dDate, parts)) {
            FillBytes(field, ' ');
            break;
        }
        int64_t nDays = 0;
        int64_t nSeconds = 0;
        OleDateToDaysAndSeconds(dDate, nDays, nSeconds);
        std::array<unsigned char, 8> bytes;
        dbfbytes::EncodeFixed32LE(bytes.data(), static_cast<uint32_t>(nDays + kJulianDayOfOleZero));
        dbfbytes::EncodeFixed32LE(bytes.data() + 4, static_cast<uint32_t>(nSeconds * 1000));
        PutFixed(field, bytes.data(), bytes.size());
        break;
    }
    case 'L':
        if (bNull) {
            FillBytes(field, ' ');
        } else {
            const bool b = value.ConvertTo(FieldKind::Logical).GetLogical();
            if (!field.empty())
                field[0] = b ? 'T' : 'F';
        }
        break;
    case 'I':
        if (bNull)
            FillBytes(field, 0);
        else
            PutEncoded<4>(field, dbfbytes::EncodeFixed32LE,
                          static_cast<uint32_t>(value.ConvertTo(FieldKind::Integer).GetInteger()));
        break;
    case 'Y':
        if (bNull)
            FillBytes(field, 0);
        else
            PutEncoded<8>(field, dbfbytes::EncodeFixed64LE,
                          static_cast<uint64_t>(value.ConvertTo(FieldKind::Currency).GetCurrency()));
        break;
    case '0': {
        FillBytes(field, 0);
        if (value.GetKind() == FieldKind::Unsigned)
            PutEncoded<4>(field, dbfbytes::EncodeFixed32LE, value.GetUnsigned());
        break;
    }
    case 'B':
        if (fd.GetLength() == 8) {
            if (bNull)
                FillBytes(field, 0);
            else
                PutEncoded<8>(field, dbfbytes::EncodeDoubleLE, value.ConvertTo(FieldKind::Double).GetDouble());
        }
        break;
    case 'M':
        if (value.GetKind() == FieldKind::Unsigned && field.size() == 4) {
            dbfbytes::EncodeFixed32LE(field.data(), value.GetUnsigned());
        } else if (value.GetKind() == FieldKind::Unsigned && field.size() == 10) {
            FillBytes(field, ' ');
            if (value.GetUnsigned() != 0) {
                const std::string s = std::to_string(value.GetUnsigned());
                std::memcpy(field.data() + (10 - s.size()), s.data(), s.size());
            }
        } else if (value.GetKind() == FieldKind::MemoRef && field.size() == 10) {
            const bool bHasBlock = value.GetMemoBlock() != 0;
            field[0] = bHasBlock ? 8 : 0;
            field[1] = 0;
            dbfbytes::EncodeFixed32LE(field.data() + 2, bHasBlock ? static_cast<uint32_t>(value.GetMemoLength()) : 0);
            dbfbytes::EncodeFixed32LE(field.data() + 6, bHasBlock ? static_cast<uint32_t>(value.GetMemoBlock()) : 0);
        }
        break;
    default:
        break; // G, P, binary-memo B and other letters are not written here
    }
}

bool IsMemoRefForm(std::span<const unsigned char> field)
{
    return field.size() == 10 && field[0] >= 1 && field[0] <= 8 && field[1] == 0;
}
