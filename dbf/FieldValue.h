#pragma once
// The tagged value exchanged between the storage engine and the repair
// engine. The kind codes are those of the OLE Automation variant.
//
// A FieldValue owns its text. A Bytes value only refers to a buffer owned by
// the table that read it (valid until the table's next binary read or its
// Close); copying the value copies the reference.
//
// Dates are OLE dates: days since 1899-12-30 00:00, the fraction is the time
// of day; before that day the whole part is negative and the fraction still
// counts forward from the start of the day (-1.25 is 1899-12-29 06:00).
//
// ConvertTo follows the variant conversion rules (platform/VariantConversion.h)
// with the user's default locale; a refused conversion raises
// CVariantConversionException.

#include <cstddef>
#include <cstdint>
#include <string>

enum class FieldKind : uint16_t {
    Empty = 0,
    Null = 1,
    Integer = 3,
    Double = 5,
    Currency = 6,
    Date = 7,
    Text = 8,
    Logical = 11,
    MemoRef = 14,
    Unsigned = 19,
    Bytes = 0x4011,
};

// "Empty", "Null", "Integer", ...
const char* FieldKindName(FieldKind kind);

class FieldValue {
public:
    FieldValue() = default; // Empty

    static FieldValue MakeEmpty() { return FieldValue(); }
    static FieldValue MakeNull();
    static FieldValue MakeInteger(int32_t nValue);
    static FieldValue MakeDouble(double dValue);
    // A count of 1/10 000 units (12.3456 is 123456).
    static FieldValue MakeCurrency(int64_t nUnits);
    static FieldValue MakeDate(double dOleDate);
    static FieldValue MakeText(std::string strText);
    static FieldValue MakeLogical(bool bValue);
    // The 10-byte binary memo reference: memo length and first block.
    static FieldValue MakeMemoRef(int32_t nLength, int32_t nBlock);
    // A memo block number, or the bits of a null-flags field.
    static FieldValue MakeUnsigned(uint32_t nValue);
    // Refers to nCount bytes at pBytes; does not copy them.
    static FieldValue MakeBytes(const unsigned char* pBytes, size_t nCount);

    FieldKind GetKind() const { return m_kind; }
    // The variant type code of the kind (0, 1, 3, 5, ...).
    uint16_t GetTypeCode() const { return static_cast<uint16_t>(m_kind); }
    bool IsEmpty() const { return m_kind == FieldKind::Empty; }
    bool IsNull() const { return m_kind == FieldKind::Null; }

    // Accessors of the stored content. REQUIRES: the value has that kind;
    // otherwise std::logic_error is raised (use ConvertTo to convert).
    int32_t GetInteger() const;
    double GetDouble() const;
    int64_t GetCurrency() const;
    double GetDate() const;
    const std::string& GetText() const;
    bool GetLogical() const;
    int32_t GetMemoLength() const;
    int32_t GetMemoBlock() const;
    uint32_t GetUnsigned() const;
    const unsigned char* GetBytes() const;
    size_t GetByteCount() const;

    // This value converted to the kind: a value of that kind as it is, Empty
    // to 0, 0.0, zero currency, empty text or false (and date 0), all other
    // pairs by the variant conversion rules. Conversions to Empty, Null,
    // MemoRef and Bytes, and from Null, MemoRef and Bytes to another kind,
    // are refused. Raises CVariantConversionException when refused.
    FieldValue ConvertTo(FieldKind kind) const;

    // Same kind and same content (Bytes: same reference and count).
    bool operator==(const FieldValue& other) const;

private:
    // A value of the kind with its number members set (the Make functions
    // set the rest).
    FieldValue(FieldKind kind, int64_t nValue, double dValue = 0.0)
        : m_kind(kind), m_nValue(nValue), m_dValue(dValue) {}

    FieldKind m_kind = FieldKind::Empty;
    int64_t m_nValue = 0;      // Integer, Currency, Logical, Unsigned, MemoRef block
    int32_t m_nMemoLength = 0; // MemoRef length
    double m_dValue = 0.0;     // Double, Date
    std::string m_strText;     // Text
    const unsigned char* m_pBytes = nullptr;
    size_t m_nByteCount = 0;
};
