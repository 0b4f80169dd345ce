#include "dbf/FieldValue.h"

#include "platform/VariantConversion.h"
#include "platform/VariantConversionException.h"

#include <cmath>
#include <limits>
#include <stdexcept>

const char* FieldKindName(FieldKind kind)
{
    switch (kind) {
    case FieldKind::Empty: return "Empty";
    case FieldKind::Null: return "Null";
    case FieldKind::Integer: return "Integer";
    case FieldKind::Double: return "Double";
    case FieldKind::Currency: return "Currency";
    case FieldKind::Date: return "Date";
    case FieldKind::Text: return "Text";
    case FieldKind::Logical: return "Logical";
    case FieldKind::MemoRef: return "MemoRef";
    case FieldKind::Unsigned: return "Unsigned";
    case FieldKind::Bytes: return "Bytes";
    }
    return "Unknown";
}

namespace {

[[noreturn]] void ThrowWrongKind(FieldKind have, const char* lpszWanted)
{
    throw std::logic_error(std::string("FieldValue holds ") + FieldKindName(have) + ", not " + lpszWanted);
}

[[noreturn]] void Refuse(FieldKind from, FieldKind to)
{
    ThrowVariantConversionException(std::string("Cannot convert a value of kind ") + FieldKindName(from)
                                    + " to " + FieldKindName(to) + ".");
}

[[noreturn]] void RefuseText(const std::string& strText, FieldKind to)
{
    ThrowVariantConversionException("Cannot convert the text \"" + strText + "\" to " + FieldKindName(to) + ".");
}

// strText read by parse (one of the VarXFromStr functions) for a conversion
// to the kind; refused when it does not read.
template <typename T>
T ParseText(const std::string& strText, FieldKind to, bool (*parse)(const std::string&, T&))
{
    T value {};
    if (!parse(strText, value))
        RefuseText(strText, to);
    return value;
}

} // namespace

FieldValue FieldValue::MakeNull()
{
    return FieldValue(FieldKind::Null, 0);
}

FieldValue FieldValue::MakeInteger(int32_t nValue)
{
    return FieldValue(FieldKind::Integer, nValue);
}

FieldValue FieldValue::MakeDouble(double dValue)
{
    return FieldValue(FieldKind::Double, 0, dValue);
}

FieldValue FieldValue::MakeCurrency(int64_t nUnits)
{
    return FieldValue(FieldKind::Currency, nUnits);
}

FieldValue FieldValue::MakeDate(double dOleDate)
{
    return FieldValue(FieldKind::Date, 0, dOleDate);
}

FieldValue FieldValue::MakeText(std::string strText)
{
    FieldValue v(FieldKind::Text, 0);
    v.m_strText = std::move(strText);
    return v;
}

FieldValue FieldValue::MakeLogical(bool bValue)
{
    return FieldValue(FieldKind::Logical, bValue ? 1 : 0);
}

FieldValue FieldValue::MakeMemoRef(int32_t nLength, int32_t nBlock)
{
    FieldValue v(FieldKind::MemoRef, nBlock);
    v.m_nMemoLength = nLength;
    return v;
}

FieldValue FieldValue::MakeUnsigned(uint32_t nValue)
{
    return FieldValue(FieldKind::Unsigned, nValue);
}

FieldValue FieldValue::MakeBytes(const unsigned char* pBytes, size_t nCount)
{
    FieldValue v(FieldKind::Bytes, 0);
    v.m_pBytes = pBytes;
    v.m_nByteCount = nCount;
    return v;
}

namespace {

// The member a getter returns, once the value's kind is the one it wants.
template <typename T>
T Checked(FieldKind have, FieldKind want, T value)
{
    if (have != want)
        ThrowWrongKind(have, FieldKindName(want));
    return value;
}

} // namespace

int32_t FieldValue::GetInteger() const
{
    return Checked(m_kind, FieldKind::Integer, static_cast<int32_t>(m_nValue));
}

double FieldValue::GetDouble() const
{
    return Checked(m_kind, FieldKind::Double, m_dValue);
}

int64_t FieldValue::GetCurrency() const
{
    return Checked(m_kind, FieldKind::Currency, m_nValue);
}

double FieldValue::GetDate() const
{
    return Checked(m_kind, FieldKind::Date, m_dValue);
}

const std::string& FieldValue::GetText() const
{
    return Checked<const std::string&>(m_kind, FieldKind::Text, m_strText);
}

bool FieldValue::GetLogical() const
{
    return Checked(m_kind, FieldKind::Logical, m_nValue != 0);
}

int32_t FieldValue::GetMemoLength() const
{
    return Checked(m_kind, FieldKind::MemoRef, m_nMemoLength);
}

int32_t FieldValue::GetMemoBlock() const
{
    return Checked(m_kind, FieldKind::MemoRef, static_cast<int32_t>(m_nValue));
}

uint32_t FieldValue::GetUnsigned() const
{
    return Checked(m_kind, FieldKind::Unsigned, static_cast<uint32_t>(m_nValue));
}

const unsigned char* FieldValue::GetBytes() const
{
    return Checked(m_kind, FieldKind::Bytes, m_pBytes);
}

size_t FieldValue::GetByteCount() const
{
    return Checked(m_kind, FieldKind::Bytes, m_nByteCount);
}

bool FieldValue::operator==(const FieldValue& other) const
{
    if (m_kind != other.m_kind)
        return false;
    switch (m_kind) {
    case FieldKind::Empty:
    case FieldKind::Null:
        return true;
    case FieldKind::Double:
    case FieldKind::Date:
        return m_dValue == other.m_dValue;
    case FieldKind::Text:
        return m_strText == other.m_strText;
    case FieldKind::MemoRef:
        return m_nValue == other.m_nValue && m_nMemoLength == other.m_nMemoLength;
    case FieldKind::Bytes:
        return m_pBytes == other.m_pBytes && m_nByteCount == other.m_nByteCount;
    default:
        return m_nValue == other.m_nValue;
    }
}

namespace {

// The value as a double, for the numeric kinds (Logical true is -1, the
// variant's true).
bool NumericValue(const FieldValue& v, double& d)
{
    switch (v.GetKind()) {
    case FieldKind::Integer: d = v.GetInteger(); return true;
    case FieldKind::Double: d = v.GetDouble(); return true;
    case FieldKind::Currency: d = static_cast<double>(v.GetCurrency()) / 10000.0; return true;
    case FieldKind::Date: d = v.GetDate(); return true;
    case FieldKind::Logical: d = v.GetLogical() ? -1.0 : 0.0; return true;
    case FieldKind::Unsigned: d = v.GetUnsigned(); return true;
    default: return false;
    }
}

std::string TextOf(const FieldValue& v)
{
    switch (v.GetKind()) {
    case FieldKind::Integer: return std::to_string(v.GetInteger());
    case FieldKind::Double: return VarBstrFromR8(v.GetDouble());
    case FieldKind::Currency: return VarBstrFromCy(v.GetCurrency());
    case FieldKind::Date: {
        std::string strText = VarBstrFromDate(v.GetDate());
        if (strText.empty())
            Refuse(FieldKind::Date, FieldKind::Text);
        return strText;
    }
    case FieldKind::Logical: return VarBstrFromBool(v.GetLogical());
    case FieldKind::Unsigned: return std::to_string(v.GetUnsigned());
    default: Refuse(v.GetKind(), FieldKind::Text);
    }
}

} // namespace

FieldValue FieldValue::ConvertTo(FieldKind kind) const
{
    if (kind == m_kind)
        return *this;
    if (m_kind == FieldKind::Empty) {
        switch (kind) {
        case FieldKind::Integer: return MakeInteger(0);
        case FieldKind::Double: return MakeDouble(0.0);
        case FieldKind::Currency: return MakeCurrency(0);
        case FieldKind::Date: return MakeDate(0.0);
        case FieldKind::Text: return MakeText({});
        case FieldKind::Logical: return MakeLogical(false);
        case FieldKind::Unsigned: return MakeUnsigned(0);
        default: Refuse(m_kind, kind);
        }
    }
    if (m_kind == FieldKind::Null || m_kind == FieldKind::MemoRef || m_kind == FieldKind::Bytes)
        Refuse(m_kind, kind);

    const bool bFromText = m_kind == FieldKind::Text;
    switch (kind) {
    case FieldKind::Text:
        return MakeText(TextOf(*this));
    case FieldKind::Double: {
        double d = 0.0;
        if (bFromText)
            d = ParseText(m_strText, kind, VarR8FromStr);
        else
            NumericValue(*this, d);
        return MakeDouble(d);
    }
    case FieldKind::Integer: {
        if (bFromText)
            return MakeInteger(ParseText(m_strText, kind, VarI4FromStr));
        if (m_kind == FieldKind::Currency) {
            // Exact: whole units rounded half to even.
            const int64_t q = m_nValue / 10000;
            const int64_t r = m_nValue % 10000;
            int64_t w = q;
            if (r > 5000 || (r == 5000 && (q & 1)))
                ++w;
            else if (r < -5000 || (r == -5000 && (q & 1)))
                --w;
            if (w < std::numeric_limits<int32_t>::min() || w > std::numeric_limits<int32_t>::max())
                Refuse(m_kind, kind);
            return MakeInteger(static_cast<int32_t>(w));
        }
        double d = 0.0;
        NumericValue(*this, d);
        int32_t n = 0;
        if (!VarI4FromR8(d, n))
            Refuse(m_kind, kind);
        return MakeInteger(n);
    }
    case FieldKind::Currency: {
        if (bFromText)
            return MakeCurrency(ParseText(m_strText, kind, VarCyFromStr));
        if (m_kind == FieldKind::Integer || m_kind == FieldKind::Unsigned || m_kind == FieldKind::Logical) {
            const int64_t whole = m_kind == FieldKind::Logical ? (m_nValue ? -1 : 0) : m_nValue;
            return MakeCurrency(whole * 10000);
        }
        double d = 0.0;
        NumericValue(*this, d);
        int64_t n = 0;
        if (!VarCyFromR8(d, n))
            Refuse(m_kind, kind);
        return MakeCurrency(n);
    }
    case FieldKind::Date: {
        if (bFromText)
            return MakeDate(ParseText(m_strText, kind, VarDateFromStr));
        double d = 0.0;
        NumericValue(*this, d);
        if (!(d > kOleDateMin - 1.0 && d < kOleDateEnd))
            Refuse(m_kind, kind);
        return MakeDate(d);
    }
    case FieldKind::Logical: {
        if (bFromText)
            return MakeLogical(ParseText(m_strText, kind, VarBoolFromStr));
        double d = 0.0;
        NumericValue(*this, d);
        return MakeLogical(d != 0.0);
    }
    case FieldKind::Unsigned: {
        double d = 0.0;
        if (bFromText)
            d = ParseText(m_strText, kind, VarR8FromStr);
        else
            NumericValue(*this, d);
        d = std::nearbyint(d);
        if (!(d >= 0.0 && d <= 4294967295.0))
            Refuse(m_kind, kind);
        return MakeUnsigned(static_cast<uint32_t>(d));
    }
    default:
        Refuse(m_kind, kind);
    }
}
