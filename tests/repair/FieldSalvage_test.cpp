// How the salvage turns a damaged field's bytes into a value, the preview's
// display texts, and the straight byte path that must write what the value
// path writes.

#include "dbf/ByteCodec.h"
#include "dbf/CalendarDate.h"
#include "dbf/FieldCodec.h"
#include "platform/VariantConversion.h"
#include "repair/DBFRepair.h"
#include "repair/FieldSalvage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Bytes(const std::string& str)
{
    return {str.begin(), str.end()};
}

std::vector<unsigned char> Fixed32Pair(int32_t a, int32_t b)
{
    std::vector<unsigned char> v(8);
    dbfbytes::EncodeFixed32LE(v.data(), static_cast<uint32_t>(a));
    dbfbytes::EncodeFixed32LE(v.data() + 4, static_cast<uint32_t>(b));
    return v;
}

std::vector<unsigned char> Fixed64(int64_t n)
{
    std::vector<unsigned char> v(8);
    dbfbytes::EncodeFixed64LE(v.data(), static_cast<uint64_t>(n));
    return v;
}

std::vector<unsigned char> DoubleBytes(double d)
{
    std::vector<unsigned char> v(8);
    dbfbytes::EncodeDoubleLE(v.data(), d);
    return v;
}

std::optional<FieldValue> Decode(char chType, const std::vector<unsigned char>& bytes)
{
    return DecodeSalvagedField(chType, bytes);
}

double OleDate(int nYear, int nMonth, int nDay, int nSeconds = 0)
{
    return OleDateFromDaysAndSeconds(CalendarDate::JulianDayFromYMD(nYear, nMonth, nDay) - kJulianDayOfOleZero,
                                     nSeconds);
}

TEST(FieldSalvageDecode, CharacterTextEndsAtTheFirstNulAndKeepsTrailingSpaces)
{
    EXPECT_EQ(Decode('C', Bytes("AB  "))->GetText(), "AB  ");
    EXPECT_EQ(Decode('C', Bytes(std::string("AB\0CD", 5)))->GetText(), "AB");
    EXPECT_EQ(Decode('C', Bytes("0"))->GetText(), "0");
}

TEST(FieldSalvageDecode, NumbersAreReadFromTheirTextAndBlankStaysBlank)
{
    EXPECT_DOUBLE_EQ(Decode('N', Bytes("   12.50"))->GetDouble(), 12.5);
    EXPECT_DOUBLE_EQ(Decode('F', Bytes("  -3.25e2"))->GetDouble(), -325.0);
    EXPECT_DOUBLE_EQ(Decode('N', Bytes(" 7abc"))->GetDouble(), 7.0);
    // A field without a digit holds no number: it stays blank instead of 0.
    EXPECT_TRUE(Decode('N', Bytes("        "))->IsNull());
    EXPECT_TRUE(Decode('N', Bytes("*****"))->IsNull());
    EXPECT_TRUE(Decode('F', Bytes(std::string("\0\0\0", 3)))->IsNull());
}

TEST(FieldSalvageDecode, BinaryNumbersKeepTheirFullValue)
{
    EXPECT_EQ(Decode('I', {0, 0, 0, 0})->GetInteger(), 0);
    EXPECT_EQ(Decode('I', {0xFE, 0xFF, 0xFF, 0xFF})->GetInteger(), -2);
    // Currency: all 64 bits and the four decimals (12.3456 and 0.5).
    EXPECT_EQ(Decode('Y', Fixed64(123456))->GetCurrency(), 123456);
    EXPECT_EQ(Decode('Y', Fixed64(5000))->GetCurrency(), 5000);
    EXPECT_EQ(Decode('Y', Fixed64(-90000000000123LL))->GetCurrency(), -90000000000123LL);
    // Double: the whole value, not a 32-bit whole number.
    EXPECT_DOUBLE_EQ(Decode('B', DoubleBytes(12.75))->GetDouble(), 12.75);
    EXPECT_DOUBLE_EQ(Decode('B', DoubleBytes(-0.5))->GetDouble(), -0.5);
    EXPECT_DOUBLE_EQ(Decode('B', DoubleBytes(1e12 + 0.25))->GetDouble(), 1e12 + 0.25);
    // Other widths are no such number (a dBASE binary memo reference).
    EXPECT_FALSE(Decode('B', Bytes("         7")));
    EXPECT_FALSE(Decode('I', {1, 2}));
}

TEST(FieldSalvageDecode, DatesComeFromTheirDigits)
{
    EXPECT_DOUBLE_EQ(Decode('D', Bytes("20050307"))->GetDate(), OleDate(2005, 3, 7));
    EXPECT_DOUBLE_EQ(Decode('D', Bytes("18000101"))->GetDate(), OleDate(1800, 1, 1));
    EXPECT_FALSE(Decode('D', Bytes("20050230")));
    EXPECT_FALSE(Decode('D', Bytes("        ")));
    EXPECT_FALSE(Decode('D', Bytes("2005 3 7")));
    EXPECT_FALSE(Decode('D', Bytes("20051301")));
}

TEST(FieldSalvageDecode, DateTimesComeFromTheDayNumberAndMilliseconds)
{
    // 2453437 is 7 March 2005; 50709000 ms is 14:05:09. No text round trip,
    // so no locale can swap day and month.
    const auto value = Decode('T', Fixed32Pair(2453437, 50709000));
    ASSERT_TRUE(value);
    EXPECT_DOUBLE_EQ(value->GetDate(), OleDate(2005, 3, 7, 14 * 3600 + 5 * 60 + 9));
    // 43199999 ms is a rounding of noon, read as noon.
    EXPECT_DOUBLE_EQ(Decode('T', Fixed32Pair(2453437, 43199999))->GetDate(), OleDate(2005, 3, 7, 12 * 3600));
    // Before 1899-12-30 the OLE date is negative; still exact.
    EXPECT_DOUBLE_EQ(Decode('T', Fixed32Pair(2378497, 3600000))->GetDate(), OleDate(1800, 1, 1, 3600));
    EXPECT_FALSE(Decode('T', Fixed32Pair(0, 0)));
    EXPECT_FALSE(Decode('T', Fixed32Pair(-5, 0)));
    EXPECT_FALSE(Decode('T', Fixed32Pair(0x7FFFFFFF, 0)));
    EXPECT_FALSE(Decode('T', Fixed32Pair(2453437, -1)));
    EXPECT_FALSE(Decode('T', Fixed32Pair(2453437, 86400000)));
    EXPECT_FALSE(Decode('T', Bytes("        ")));
}

TEST(FieldSalvageDecode, LogicalWords)
{
    for (const char* pszTrue : {"T", "t", "Y", "y", " yes ", "TRUE", "True", "\xC4\xC0", "\xE4\xE0",
                                "\xC8\xD1\xD2\xC8\xCD\xC0"})
        EXPECT_TRUE(Decode('L', Bytes(pszTrue))->GetLogical()) << pszTrue;
    for (const char* pszFalse : {"F", "N", "X", "0", "no"})
        EXPECT_FALSE(Decode('L', Bytes(pszFalse))->GetLogical()) << pszFalse;
    // An unknown logical stays unknown.
    EXPECT_TRUE(Decode('L', Bytes(" "))->IsNull());
    EXPECT_TRUE(Decode('L', Bytes("?"))->IsNull());
}

TEST(FieldSalvageDecode, MemoLikeAndUnknownTypes)
{
    EXPECT_EQ(Decode('G', Bytes("         3"))->GetText(), "         3");
    EXPECT_FALSE(Decode('M', Bytes("         3")));
    EXPECT_FALSE(Decode('V', Bytes("abc")));
    EXPECT_FALSE(Decode('0', {0}));
    EXPECT_FALSE(Decode('\0', Bytes("abc")));
    // The engine's own entry point gives the same answers.
    EXPECT_EQ(CDBFRepair::DecodeFieldBytes('Y', Fixed64(123456))->GetCurrency(), 123456);
}

TEST(FieldSalvageText, DateTimeTextHasNoLeadingZeros)
{
    const auto bytes = Fixed32Pair(2453437, 50709000);
    EXPECT_EQ(CDBFRepair::FormatDateTimeField(bytes.data()), "3/7/2005 14:5:9");
    const auto invalid = Fixed32Pair(-1, 50709000);
    EXPECT_EQ(FormatDateTimeText(invalid.data()), "0/0/0 14:5:9");
}

TEST(FieldSalvageText, PreviewShowsDisplayTexts)
{
    EXPECT_EQ(PreviewFieldText('C', Bytes("abc ")), "abc ");
    EXPECT_EQ(PreviewFieldText('N', Bytes("  1.50")), "  1.50");
    EXPECT_EQ(PreviewFieldText('I', std::vector<unsigned char>{0xFE, 0xFF, 0xFF, 0xFF}), "-2");
    EXPECT_EQ(PreviewFieldText('Y', Fixed64(123456)), VarBstrFromCy(123456));
    EXPECT_EQ(PreviewFieldText('Y', Fixed64(120000)), VarBstrFromCy(120000));
    EXPECT_EQ(PreviewFieldText('B', DoubleBytes(12.75)), "12.750000");
    EXPECT_EQ(PreviewFieldText('D', Bytes("20050307")), "2005/03/07");
    EXPECT_EQ(PreviewFieldText('D', Bytes("        ")), "    /  /  ");
    EXPECT_EQ(PreviewFieldText('T', Fixed32Pair(2453437, 50709000)), "3/7/2005 14:5:9");
    EXPECT_EQ(PreviewFieldText('T', Bytes("        ")), "");
    EXPECT_EQ(PreviewFieldText('L', Bytes("t")), "TRUE");
    EXPECT_EQ(PreviewFieldText('L', Bytes("F")), "FALSE");
    EXPECT_EQ(PreviewFieldText('L', Bytes("?")), "FALSE");
    EXPECT_EQ(PreviewFieldText('M', Bytes("         1")), "Memo");
    EXPECT_EQ(PreviewFieldText('G', Bytes("         1")), "General");
    EXPECT_EQ(PreviewFieldText('P', Bytes("         1")), "Picture");
    EXPECT_EQ(PreviewFieldText('V', Bytes("xyz")), "V");
    EXPECT_EQ(PreviewFieldText('\0', Bytes("xyz")), "");
}

// --- The straight byte path against the value path ---------------------

struct FieldCase {
    char chType;
    uint8_t nWidth;
    uint8_t nDecimals;
    std::vector<unsigned char> bytes;
};

// What the value path writes: a blank record as AddNew makes it, then the
// salvaged value stored through EncodeField (what StoreFieldValue does for
// every type but memo).
std::vector<unsigned char> ThroughValue(const FieldCase& c)
{
    DBFFieldDescriptor fd;
    fd.SetName("F");
    fd.SetType(c.chType);
    fd.SetLength(c.nWidth);
    fd.SetDecimals(c.nDecimals);
    fd.SetOffset(1);
    std::vector<unsigned char> record(1u + c.nWidth, 0);
    EncodeField(record, fd, FieldValue());
    const auto value = DecodeSalvagedField(c.chType, c.bytes);
    if (value && c.chType != 'G' && c.chType != 'P' && !(c.chType == 'B' && c.nWidth != 8))
        EncodeField(record, fd, *value);
    return std::vector<unsigned char>(record.begin() + 1, record.end());
}

std::optional<std::vector<unsigned char>> ThroughBytes(const FieldCase& c)
{
    DBFFieldDescriptor fd;
    fd.SetType(c.chType);
    fd.SetLength(c.nWidth);
    fd.SetDecimals(c.nDecimals);
    fd.SetOffset(1);
    std::vector<unsigned char> record(1u + c.nWidth, 0);
    EncodeField(record, fd, FieldValue());
    std::span<unsigned char> field(record.data() + 1, c.nWidth);
    if (!WriteSalvagedFieldBytes(c.chType, c.nDecimals, c.bytes, field))
        return std::nullopt;
    return std::vector<unsigned char>(field.begin(), field.end());
}

std::vector<FieldCase> ChosenCases()
{
    std::vector<FieldCase> cases;
    auto add = [&](char t, uint8_t w, uint8_t d, std::vector<unsigned char> b) { cases.push_back({t, w, d, std::move(b)}); };
    for (const char* psz : {"    12.50", "    -0.00", "     0.00", "   007.50", "      .50", "  12.5   ", "123456.78",
                            "*********", "         ", "  1e3    ", " +12.50  ", "999999.99", "   -12.34"})
        add('N', 9, 2, Bytes(psz));
    for (const char* psz : {"       0", "      -0", "12345678", "00000012", "     1.5", "  -99999"})
        add('N', 8, 0, Bytes(psz));
    add('N', 17, 0, Bytes("12345678901234567"));
    add('N', 16, 0, Bytes("1234567890123456"));
    add('N', 15, 0, Bytes("123456789012345"));
    add('F', 20, 4, Bytes("   9007199254.7409"));
    add('N', 5, 2, Bytes(std::string(" 1\0.5", 5)));
    for (const char* psz : {"20050307", "00991231", "01000101", "99991231", "20050229", "20000229", "        ", "2005030 "})
        add('D', 8, 0, Bytes(psz));
    for (const char* psz : {"T", "t", "y", "N", "F", " ", "?", "x"})
        add('L', 1, 0, Bytes(psz));
    add('L', 1, 0, {0});
    add('L', 3, 0, Bytes("YES"));
    add('C', 6, 0, Bytes("abc   "));
    add('C', 6, 0, Bytes(std::string("ab\0cd ", 6)));
    add('C', 3, 0, {0xC4, 0xC0, 0x20});
    add('I', 4, 0, {0xFF, 0xFF, 0xFF, 0x7F});
    add('Y', 8, 0, Fixed64(-1));
    add('B', 8, 0, DoubleBytes(-1.0 / 3.0));
    add('B', 10, 0, Bytes("         5"));
    add('G', 10, 0, Bytes("         5"));
    const int64_t nFirst = CalendarDate::JulianDayFromYMD(100, 1, 1);
    const int64_t nLast = CalendarDate::JulianDayFromYMD(9999, 12, 31);
    for (int64_t nDay : {nFirst - 1, nFirst, int64_t{2415019}, int64_t{2415018}, int64_t{2453437}, nLast - 1, nLast,
                         nLast + 1}) {
        for (int32_t nMs : {0, 999, 1000, 43199999, 50709000, 86399000, 86399499, 86399999, 86400000, -1})
            add('T', 8, 0, Fixed32Pair(static_cast<int32_t>(nDay), nMs));
    }
    add('T', 8, 0, Bytes("        "));
    return cases;
}

TEST(FieldSalvageBytes, ChosenCasesWriteWhatTheValuePathWrites)
{
    int nStraight = 0;
    for (const FieldCase& c : ChosenCases()) {
        const auto straight = ThroughBytes(c);
        if (!straight)
            continue; // left to the value path
        ++nStraight;
        EXPECT_EQ(*straight, ThroughValue(c))
            << "type " << c.chType << " bytes " << std::string(c.bytes.begin(), c.bytes.end());
    }
    // The common forms must take the straight path, or it saves nothing.
    EXPECT_GT(nStraight, 60);
    EXPECT_TRUE(ThroughBytes({'N', 9, 2, Bytes("    12.50")}));
    EXPECT_TRUE(ThroughBytes({'D', 8, 0, Bytes("20050307")}));
    EXPECT_TRUE(ThroughBytes({'T', 8, 0, Fixed32Pair(2453437, 50709000)}));
    EXPECT_FALSE(ThroughBytes({'N', 9, 2, Bytes("   007.50")}));
    EXPECT_FALSE(ThroughBytes({'M', 10, 0, Bytes("         1")}));
}

TEST(FieldSalvageBytes, RandomBytesWriteWhatTheValuePathWrites)
{
    std::mt19937 rng(20240611);
    const char kTypes[] = {'C', 'N', 'F', 'D', 'L', 'I', 'Y', 'B', 'T'};
    const char kAlphabet[] = " 0123456789.-+e*?TFYN\x1A";
    for (int n = 0; n < 20000; ++n) {
        FieldCase c;
        c.chType = kTypes[rng() % sizeof kTypes];
        c.nWidth = static_cast<uint8_t>(c.chType == 'I' ? 4 : (c.chType == 'Y' || c.chType == 'B' || c.chType == 'T' || c.chType == 'D') ? 8 : c.chType == 'L' ? 1 : 1 + rng() % 20);
        c.nDecimals = static_cast<uint8_t>((c.chType == 'N' || c.chType == 'F') && c.nWidth > 2 ? rng() % (c.nWidth - 1) : 0);
        c.bytes.resize(c.nWidth);
        const bool bText = c.chType == 'C' || c.chType == 'N' || c.chType == 'F' || c.chType == 'D' || c.chType == 'L';
        for (auto& b : c.bytes)
            b = bText ? static_cast<unsigned char>(kAlphabet[rng() % (sizeof kAlphabet - 1)]) : static_cast<unsigned char>(rng());
        if (c.chType == 'T' && rng() % 2) {
            // Mostly plausible date-times, which take the straight path.
            const auto v = Fixed32Pair(static_cast<int32_t>(1700000 + rng() % 3000000), static_cast<int32_t>(rng() % 86400000));
            c.bytes = v;
        }
        const auto straight = ThroughBytes(c);
        if (straight) {
            ASSERT_EQ(*straight, ThroughValue(c)) << "type " << c.chType << " case " << n;
        }
    }
}

} // namespace
