#pragma once
// How the salvage turns the raw bytes of one damaged field into a value for
// the new table, and how the preview shows a field of the new table.
//
// Values are built from the bytes directly, never through locale-dependent
// text: currency keeps its full 64-bit amount, doubles their full value,
// dates and date-times come from their digits and day numbers.

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/FieldValue.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The value of a field of type letter chType whose bytes are given; no value
// when the bytes hold nothing that can be kept (the field then stays as the
// blank record has it). Memo fields ("M") get no value here: their text
// comes from the memo file.
//
//   C        Text: the bytes up to the first NUL, trailing spaces kept
//   N, F     Double: the text read as a decimal number; Null (blank) when
//            the field holds no digit at all
//   I        Integer: 4 bytes, little-endian (no value for another width)
//   Y        Currency: 8 bytes, little-endian 1/10 000 units
//   B        Double: 8 bytes, IEEE little-endian (no value for another
//            width: that is a dBASE binary memo reference)
//   D        Date: YYYYMMDD digits of a real date in years 1..9999
//   T        Date: Julian day and milliseconds of a real date-time in years
//            1..9999, to the nearest second
//   L        Logical: true for T, Y, YES, TRUE, ДА, ИСТИНА (Windows-1251) in
//            any letter case with spaces around; Null (blank) for a blank
//            or "?" field; false for anything else
//   G, P     Text: the field's own bytes (the storage engine writes no
//            binary memo values, so these stay blank)
//   others   no value
std::optional<FieldValue> DecodeSalvagedField(char chType, std::span<const unsigned char> bytes);

// Whether a field's bytes are a sound stored form of its type. Sound bytes
// go into the new table byte for byte, so a repair never changes what a
// healthy value says (wide numbers, milliseconds, blank forms all stay).
//   N, F   blank, asterisks (overflow, or a shapefile null), or one number:
//          optional sign, digits with an optional point, optional exponent,
//          spaces around
//   D      eight blanks or zeros, or YYYYMMDD of a real date
//   L      one of T t F f Y y N n ? or a blank
//   T      eight spaces, eight zero bytes, or a day from 1 Jan 0001 to
//          31 Dec 9999 with milliseconds below one day
//   others always sound (text, binary numbers, null flags and the bytes of
//          types the engine does not decode are carried as they are)
bool IsSoundField(char chType, std::span<const unsigned char> bytes);

// Judges the fields of whole records as IsSoundField does. The salvage
// judges every record, so the work per field is settled once: fields are
// grouped by type, and short number fields are first matched against their
// common form sixteen bytes at a time.
class CRecordJudge {
public:
    struct Field {
        uint32_t nOffset;
        uint32_t nLength;
        char chType;
    };
    CRecordJudge() = default;
    // The fields lie in records of nRecordLength bytes.
    CRecordJudge(std::span<const Field> fields, uint32_t nRecordLength);

    size_t GetFieldCount() const { return m_nFields; }
    // How many fields of the record at pRecord (nRecordLength bytes) are
    // unsound.
    int CountUnsound(const unsigned char* pRecord) const;

private:
    struct NumberField {
        uint32_t nOffset;
        uint32_t nLength;
        uint32_t nLoad;  // where the sixteen bytes holding the field start
        uint32_t nShift; // the field's place in them
        bool bVector;    // whether the sixteen bytes lie in the record
    };
    size_t m_nFields = 0;
    std::vector<NumberField> m_numbers;
    std::vector<Field> m_dates;
    std::vector<Field> m_logicals;
    std::vector<Field> m_dateTimes;
    std::vector<Field> m_others;
};

// Rewrites unsound bytes of a field in place into what can be kept of
// them: the number a damaged N or F text begins with (blank without a
// digit), a blank date or logical, a zero (blank) date-time. Other types
// are left as they are.
void MendField(char chType, uint8_t nDecimals, std::span<unsigned char> bytes);

// The text of a field as the preview grid shows it (Memo, General, Picture
// for the memo-like fields; TRUE/FALSE for logicals; the field's text for
// C, N, F; YYYY/MM/DD for dates; FormatDateTimeText for date-times; the
// amount for currency; "%lf" for doubles).
std::string PreviewFieldText(char chType, std::span<const unsigned char> bytes);

// Whether the field is no column of the preview grid: a hidden system
// column (_NullFlags).
bool IsHiddenFromGrid(const DBFFieldDescriptor& descriptor);

// Whether values of the type are text in the table's code page (C, V).
bool IsCodePageText(char chType);

// "month/day/year hour:minute:second" without leading zeros from the 8
// bytes of a date-time field (Julian day, milliseconds); month, day and
// year are 0 when the day number is not a valid date.
std::string FormatDateTimeText(const unsigned char* pBytes);

// The number at the start of the text the way atof reads a decimal number:
// leading white space, an optional sign, digits with an optional point and
// exponent; 0 when there are no digits.
double ParseFieldNumber(std::span<const unsigned char> bytes);

// Whether the trimmed, upper-cased text is one of the logical true words.
bool IsTrueWord(std::span<const unsigned char> bytes);

// The bytes up to the first NUL.
std::span<const unsigned char> TextUpToNul(std::span<const unsigned char> bytes);
