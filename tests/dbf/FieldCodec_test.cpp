// Byte forms of field values: DecodeField / EncodeField by type letter,
// blank forms, and the guards against fields outside the record.

#include "DbfTestFields.h"
#include "dbf/ByteCodec.h"
#include "dbf/FieldCodec.h"
#include "platform/VariantConversion.h"
#include "platform/VariantConversionException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Field "F", by default right after the deletion flag.
DBFFieldDescriptor Field(char chType, uint16_t nWidth, uint8_t nDecimals = 0, uint32_t nOffset = 1)
{
    return dbftest::FieldAt("F", chType, nWidth, nDecimals, nOffset);
}

// A record of the deletion flag and one field holding the bytes.
std::vector<unsigned char> Record(const std::string& strField)
{
    std::vector<unsigned char> rec(1 + strField.size(), 0);
    rec[0] = ' ';
    std::memcpy(rec.data() + 1, strField.data(), strField.size());
    return rec;
}

std::string FieldText(const std::vector<unsigned char>& rec)
{
    return std::string(rec.begin() + 1, rec.end());
}

FieldValue Decode(char chType, const std::string& strBytes, uint8_t nDecimals = 0, uint8_t nFlags = 0)
{
    DBFFieldDescriptor fd = Field(chType, static_cast<uint16_t>(strBytes.size()), nDecimals);
    fd.SetFlags(nFlags);
    FieldValue v;
    EXPECT_EQ(DecodeField(Record(strBytes), fd, v), strBytes.size());
    return v;
}

std::string Encode(char chType, uint16_t nWidth, const FieldValue& v, uint8_t nDecimals = 0, char chFill = '#')
{
    std::vector<unsigned char> rec(1 + nWidth, static_cast<unsigned char>(chFill));
    EncodeField(rec, Field(chType, nWidth, nDecimals), v);
    return FieldText(rec);
}

OleDateParts Parts(const FieldValue& v)
{
    OleDateParts p;
    EXPECT_EQ(v.GetKind(), FieldKind::Date);
    EXPECT_TRUE(OleDateToParts(v.GetDate(), p));
    return p;
}

std::string TBytes(int32_t nJulian, int32_t nMillis)
{
    std::string s(8, '\0');
    dbfbytes::EncodeFixed32LE(reinterpret_cast<unsigned char*>(s.data()), static_cast<uint32_t>(nJulian));
    dbfbytes::EncodeFixed32LE(reinterpret_cast<unsigned char*>(s.data()) + 4, static_cast<uint32_t>(nMillis));
    return s;
}

} // namespace

TEST(FieldCodecCharacter, TrimsUnlessBinaryAndStopsAtNul)
{
    EXPECT_EQ(Decode('C', "ABC       ").GetText(), "ABC");
    EXPECT_EQ(Decode('C', "ABC \t\r\n  ").GetText(), "ABC");
    EXPECT_EQ(Decode('C', "ABC       ", 0, DBFFieldDescriptor::kFlagBinary).GetText(), "ABC       ");
    EXPECT_EQ(Decode('C', std::string("AB\0CDEFGHI", 10)).GetText(), "AB");
    EXPECT_EQ(Encode('C', 5, FieldValue::MakeText("Hello, world")), "Hello");
    EXPECT_EQ(Encode('C', 6, FieldValue::MakeText("ab")), "ab    ");
    EXPECT_EQ(Encode('C', 4, FieldValue::MakeNull()), "    ");
    EXPECT_EQ(Encode('C', 4, FieldValue::MakeInteger(-12)), "-12 ");
}

TEST(FieldCodecCharacter, WideCharacterFieldUsesBothLengthBytes)
{
    DBFFieldDescriptor fd;
    fd.SetType('C');
    fd.SetLength(0x2C);
    fd.SetDecimals(0x01);
    EXPECT_EQ(fd.GetWidth(), 300u);
    fd.SetType('N');
    EXPECT_EQ(fd.GetWidth(), 0x2Cu);
}

TEST(FieldCodecNumeric, DecodesLikeAtof)
{
    EXPECT_DOUBLE_EQ(Decode('N', " 3.14", 2).GetDouble(), 3.14);
    EXPECT_DOUBLE_EQ(Decode('N', "   -7").GetDouble(), -7.0);
    EXPECT_DOUBLE_EQ(Decode('F', " 1.5E2xyz").GetDouble(), 150.0);
    EXPECT_DOUBLE_EQ(Decode('N', "  +2.5").GetDouble(), 2.5);
    EXPECT_EQ(Decode('N', "     ").GetDouble(), 0.0);
    EXPECT_EQ(Decode('N', "*****").GetDouble(), 0.0);
}

TEST(FieldCodecNumeric, FormatsFixedPointRightAligned)
{
    EXPECT_EQ(Encode('N', 5, FieldValue::MakeDouble(3.14159), 2), " 3.14");
    EXPECT_EQ(Encode('N', 5, FieldValue::MakeDouble(-1), 2), "-1.00");
    EXPECT_EQ(Encode('N', 6, FieldValue::MakeDouble(2.675), 2), "  2.67"); // binary 2.67499..., as printf
    EXPECT_EQ(Encode('N', 6, FieldValue::MakeDouble(0.125), 2), "  0.12"); // exact tie to even, as printf
    EXPECT_EQ(Encode('N', 4, FieldValue::MakeDouble(42.7), 0), "  43");
    EXPECT_EQ(Encode('N', 8, FieldValue(), 2), "    0.00");
    EXPECT_EQ(Encode('N', 4, FieldValue::MakeNull(), 2), "    ");
    EXPECT_EQ(Encode('N', 8, FieldValue::MakeText("12.5"), 1), "    12.5");
}

TEST(FieldCodecNumeric, TooWideKeepsIntegerPartOrMarksOverflow)
{
    // The decimals are cut; the integer part is never shifted or cut.
    EXPECT_EQ(Encode('N', 5, FieldValue::MakeDouble(1234.5), 2), "1234.");
    EXPECT_EQ(Encode('N', 4, FieldValue::MakeDouble(1234.5), 2), "1234");
    EXPECT_EQ(Encode('N', 6, FieldValue::MakeDouble(-1234.567), 3), "-1234.");
    // An integer part wider than the field is written as asterisks rather
    // than as a cut that would read back as another number.
    EXPECT_EQ(Encode('N', 4, FieldValue::MakeDouble(123456.0), 0), "****");
    EXPECT_EQ(Encode('N', 4, FieldValue::MakeDouble(-1234.0), 0), "****");
}

TEST(FieldCodecNumeric, UnconvertibleValueLeavesSpacesAndRaises)
{
    std::vector<unsigned char> rec(1 + 6, '#');
    EXPECT_THROW(EncodeField(rec, Field('N', 6, 2), FieldValue::MakeText("abc")), CVariantConversionException);
    EXPECT_EQ(FieldText(rec), "      ");
    std::vector<unsigned char> rec2(1 + 4, '#');
    EXPECT_THROW(EncodeField(rec2, Field('I', 4), FieldValue::MakeText("x")), CVariantConversionException);
    EXPECT_EQ(FieldText(rec2), "####"); // other types keep their old bytes
}

TEST(FieldCodecDate, DecodesOnlyRealDates)
{
    EXPECT_TRUE(Decode('D', "20060230").IsEmpty());
    EXPECT_TRUE(Decode('D', "        ").IsEmpty());
    EXPECT_TRUE(Decode('D', "00000000").IsEmpty());
    EXPECT_TRUE(Decode('D', "20061301").IsEmpty());
    const OleDateParts p = Parts(Decode('D', "19991231"));
    EXPECT_EQ(p.nYear, 1999);
    EXPECT_EQ(p.nMonth, 12);
    EXPECT_EQ(p.nDay, 31);
    EXPECT_EQ(Parts(Decode('D', "20000229")).nDay, 29);
    EXPECT_TRUE(Decode('D', "19000229").IsEmpty());
    EXPECT_EQ(Parts(Decode('D', "00010101")).nYear, 1);
}

TEST(FieldCodecDate, EncodesDigitsOrSpaces)
{
    OleDateParts p;
    p.nYear = 2006;
    p.nMonth = 7;
    p.nDay = 4;
    p.nHour = 13;
    double d = 0;
    ASSERT_TRUE(OleDateFromParts(p, d));
    EXPECT_EQ(Encode('D', 8, FieldValue::MakeDate(d)), "20060704");
    p.nYear = 999;
    ASSERT_TRUE(OleDateFromParts(p, d));
    EXPECT_EQ(Encode('D', 8, FieldValue::MakeDate(d)), "09990704");
    EXPECT_EQ(Encode('D', 8, FieldValue()), "        ");
    EXPECT_EQ(Encode('D', 8, FieldValue::MakeText("    /  /  ")), "        ");
    EXPECT_EQ(Encode('D', 8, FieldValue::MakeText("2005/03/07")), "20050307");
    // A date before 1899-12-30 (negative OLE date) keeps its day.
    p.nYear = 1850;
    p.nMonth = 1;
    p.nDay = 2;
    p.nHour = 18;
    ASSERT_TRUE(OleDateFromParts(p, d));
    EXPECT_LT(d, 0);
    EXPECT_EQ(Encode('D', 8, FieldValue::MakeDate(d)), "18500102");
}

TEST(FieldCodecDateTime, DecodesJulianDayAndRoundedMilliseconds)
{
    OleDateParts p = Parts(Decode('T', TBytes(2453921, 0)));
    EXPECT_EQ(p.nYear, 2006);
    EXPECT_EQ(p.nMonth, 7);
    EXPECT_EQ(p.nDay, 4);
    EXPECT_EQ(p.nHour, 0);
    p = Parts(Decode('T', TBytes(2453921, 43199998)));
    EXPECT_EQ(p.nHour, 11);
    EXPECT_EQ(p.nMinute, 59);
    EXPECT_EQ(p.nSecond, 59);
    p = Parts(Decode('T', TBytes(2453921, 43199999)));
    EXPECT_EQ(p.nHour, 12);
    EXPECT_EQ(p.nMinute, 0);
    EXPECT_EQ(p.nSecond, 0);
    EXPECT_TRUE(Decode('T', TBytes(0, 0)).IsEmpty());
    EXPECT_TRUE(Decode('T', TBytes(1721425, 0)).IsEmpty());
    p = Parts(Decode('T', TBytes(1721426, 0)));
    EXPECT_EQ(p.nYear, 1);
    // Before 1899-12-30 the OLE date is negative and the time still counts
    // forward within its day.
    p = Parts(Decode('T', TBytes(2415018, 6 * 3600 * 1000)));
    EXPECT_EQ(p.nYear, 1899);
    EXPECT_EQ(p.nDay, 29);
    EXPECT_EQ(p.nHour, 6);
}

TEST(FieldCodecDateTime, EncodesRoundTripAndBlank)
{
    const std::string bytes = TBytes(2453437, 50709000);
    std::vector<unsigned char> rec(9, '#');
    EncodeField(rec, Field('T', 8), Decode('T', bytes));
    EXPECT_EQ(FieldText(rec), bytes);
    EXPECT_EQ(Encode('T', 8, FieldValue()), std::string(8, ' '));
    EXPECT_EQ(Encode('T', 8, FieldValue::MakeText("no date")), std::string(8, ' '));
    EXPECT_EQ(Encode('T', 8, FieldValue::MakeText("3/7/2005 14:5:9")), bytes);
    // 23:59:59.6 rounds to the next day's midnight, not to 24:00:00.
    const double d = Decode('T', TBytes(2453437, 0)).GetDate() + (86399.6 / 86400.0);
    EXPECT_EQ(Encode('T', 8, FieldValue::MakeDate(d)), TBytes(2453438, 0));
    // The negative OLE date of 1899-12-29 06:00 goes back to its day.
    EXPECT_EQ(Encode('T', 8, Decode('T', TBytes(2415018, 21600000))), TBytes(2415018, 21600000));
}

TEST(FieldCodecLogical, LettersAndBlank)
{
    for (char c : std::string("TtYy"))
        EXPECT_TRUE(Decode('L', std::string(1, c)).GetLogical()) << c;
    for (char c : std::string("FfNn? x"))
        EXPECT_FALSE(Decode('L', std::string(1, c)).GetLogical()) << c;
    EXPECT_EQ(Encode('L', 1, Decode('L', "?")), "F");
    EXPECT_EQ(Encode('L', 1, FieldValue()), "F");
    EXPECT_EQ(Encode('L', 1, FieldValue::MakeLogical(true)), "T");
    EXPECT_EQ(Encode('L', 1, FieldValue::MakeText("true")), "T");
    EXPECT_EQ(Encode('L', 1, FieldValue::MakeInteger(0)), "F");
    EXPECT_EQ(Encode('L', 1, FieldValue::MakeNull()), " ");
}

TEST(FieldCodecBinary, IntegerCurrencyDoubleAndNullFlags)
{
    EXPECT_EQ(Decode('I', std::string("\xFE\xFF\xFF\xFF", 4)).GetInteger(), -2);
    EXPECT_EQ(Encode('I', 4, FieldValue::MakeInteger(-2)), std::string("\xFE\xFF\xFF\xFF", 4));
    EXPECT_EQ(Encode('I', 4, FieldValue::MakeNull()), std::string(4, '\0'));
    EXPECT_EQ(Encode('I', 4, FieldValue()), std::string(4, '\0'));

    const std::string cy("\x40\xE2\x01\x00\x00\x00\x00\x00", 8); // 123456 = 12.3456
    EXPECT_EQ(Decode('Y', cy).GetCurrency(), 123456);
    EXPECT_EQ(Encode('Y', 8, FieldValue::MakeText("12.3456")), cy);
    EXPECT_EQ(Encode('Y', 8, FieldValue::MakeCurrency(INT64_MIN)), std::string("\0\0\0\0\0\0\0\x80", 8));

    std::string dbl(8, '\0');
    dbfbytes::EncodeDoubleLE(reinterpret_cast<unsigned char*>(dbl.data()), -12.75);
    EXPECT_EQ(Decode('B', dbl).GetDouble(), -12.75);
    EXPECT_EQ(Encode('B', 8, FieldValue::MakeDouble(-12.75)), dbl);

    EXPECT_EQ(Decode('0', std::string("\x05", 1)).GetUnsigned(), 5u);
    EXPECT_EQ(Encode('0', 1, FieldValue()), std::string(1, '\0'));
    EXPECT_EQ(Encode('0', 2, FieldValue::MakeUnsigned(0x0102)), std::string("\x02\x01", 2));
}

TEST(FieldCodecBinary, WideNullFlagsFieldIsHandledWithinItsBytes)
{
    // 40 nullable columns need 5 bytes: the value keeps the low 4, encoding
    // writes 5 bytes and no more.
    EXPECT_EQ(Decode('0', std::string("\x01\x02\x03\x04\x05", 5)).GetUnsigned(), 0x04030201u);
    std::vector<unsigned char> rec(1 + 5 + 1, '#');
    EncodeField(rec, Field('0', 5), FieldValue::MakeUnsigned(0xFFFFFFFF));
    EXPECT_EQ(std::string(rec.begin() + 1, rec.end()), std::string("\xFF\xFF\xFF\xFF\x00#", 6));
}

TEST(FieldCodecBinary, FixedSizeTypesInNarrowFieldsStayInside)
{
    // A damaged descriptor gives an integer 2 bytes and a date-time 3: the
    // codec reads and writes only those bytes.
    std::vector<unsigned char> rec = {' ', 0x05, 0x01, '#'};
    FieldValue v;
    DecodeField(rec, Field('I', 2), v);
    EXPECT_EQ(v.GetInteger(), 0x0105);
    EncodeField(rec, Field('I', 2), FieldValue::MakeInteger(0x7FFFFFFF));
    EXPECT_EQ(rec[3], '#');
    EncodeField(rec, Field('D', 2), FieldValue::MakeText("2005/03/07"));
    EXPECT_EQ(rec[3], '#');
    DecodeField(rec, Field('T', 2), v);
    EXPECT_TRUE(v.IsEmpty());
}

TEST(FieldCodecMemo, BlockNumberForms)
{
    EXPECT_EQ(Decode('M', "       123").GetUnsigned(), 123u);
    EXPECT_EQ(Decode('M', "          ").GetUnsigned(), 0u);
    EXPECT_EQ(Decode('M', std::string(10, '\0')).GetUnsigned(), 0u);
    EXPECT_EQ(Decode('M', "       -12").GetUnsigned(), 0u);
    EXPECT_EQ(Decode('M', "9999999999").GetUnsigned(), 0u); // names no 32-bit block
    EXPECT_EQ(Decode('M', std::string("\x07\x00\x00\x00", 4)).GetUnsigned(), 7u);
    EXPECT_EQ(Decode('G', "        42").GetUnsigned(), 42u);
    EXPECT_EQ(Decode('M', "123").GetUnsigned(), 0u); // width 3: no reference form

    EXPECT_EQ(Encode('M', 10, FieldValue::MakeUnsigned(0)), "          ");
    EXPECT_EQ(Encode('M', 10, FieldValue::MakeUnsigned(4294967295u)), "4294967295");
    EXPECT_EQ(Encode('M', 10, FieldValue::MakeUnsigned(77)), "        77");
    EXPECT_EQ(Encode('M', 4, FieldValue::MakeUnsigned(0x01020304)), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(Encode('M', 10, FieldValue::MakeText("not a reference")), std::string(10, '#'));
    EXPECT_EQ(Encode('G', 10, FieldValue::MakeUnsigned(5)), std::string(10, '#'));
}

TEST(FieldCodecMemo, BinaryReference)
{
    const std::string ref("\x08\x00\x2C\x01\x00\x00\x05\x00\x00\x00", 10);
    const FieldValue v = Decode('M', ref);
    ASSERT_EQ(v.GetKind(), FieldKind::MemoRef);
    EXPECT_EQ(v.GetMemoLength(), 300);
    EXPECT_EQ(v.GetMemoBlock(), 5);
    EXPECT_EQ(Encode('M', 10, v), ref);
    EXPECT_EQ(Encode('M', 10, FieldValue::MakeMemoRef(300, 0)), std::string(10, '\0'));
    EXPECT_EQ(Decode('B', ref).GetKind(), FieldKind::MemoRef);
    // Byte 0 outside 1..8 or byte 1 not 0: a decimal block number instead.
    EXPECT_EQ(Decode('M', std::string("\x09\x00\x2C\x01\x00\x00\x05\x00\x00\x00", 10)).GetKind(), FieldKind::Unsigned);
}

TEST(FieldCodecBounds, FieldOutsideRecordIsRefused)
{
    std::vector<unsigned char> rec(11, ' ');
    FieldValue v;
    EXPECT_THROW(DecodeField(rec, Field('C', 10, 0, 2), v), std::out_of_range);
    EXPECT_THROW(EncodeField(rec, Field('C', 10, 0, 2), FieldValue::MakeText("x")), std::out_of_range);
    EXPECT_THROW(DecodeField(rec, Field('C', 1, 0, 0xFFFFFFFF), v), std::out_of_range);
    EXPECT_NO_THROW(DecodeField(rec, Field('C', 10, 0, 1), v));
}

TEST(FieldCodecOtherTypes, CarriedAsUntrimmedText)
{
    EXPECT_EQ(Decode('V', "ab  ").GetText(), "ab  ");
    EXPECT_EQ(Encode('V', 3, FieldValue::MakeText("xyz")), "###");
}
