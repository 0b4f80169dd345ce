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
    EXPECT_EQ(DecodeSalvagedField('Y', Fixed64(123456))->GetCurrency(), 123456);
}

TEST(FieldSalvageText, DateTimeTextHasNoLeadingZeros)
{
    const auto bytes = Fixed32Pair(2453437, 50709000);
    EXPECT_EQ(FormatDateTimeText(bytes.data()), "3/7/2005 14:5:9");
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

// --- Sound bytes are kept, unsound ones mended ------------------------------

TEST(FieldSoundness, ChosenBytes)
{
    struct Case {
        char chType;
        std::vector<unsigned char> bytes;
        bool bSound;
    };
    const int32_t nDay = 2453437;
    const std::vector<Case> cases = {
        // Wide and odd-looking numbers that readers take as they stand.
        {'N', Bytes("1234567890123456789"), true}, {'N', Bytes("   -0.50"), true}, {'N', Bytes("  1.5e+3"), true},
        {'N', Bytes("        "), true}, {'N', Bytes("********"), true}, {'N', Bytes("   007.5"), true},
        {'N', Bytes("  12-3  "), false}, {'N', Bytes(std::string("\0\0\0\0", 4)), false}, {'N', Bytes("  1.5e  "), false},
        {'F', Bytes(" .5"), true}, {'F', Bytes(" . "), false},
        {'D', Bytes("20050307"), true}, {'D', Bytes("        "), true}, {'D', Bytes("00000000"), true},
        {'D', Bytes("20050230"), false}, {'D', Bytes("2005 307"), false},
        {'L', Bytes("?"), true}, {'L', Bytes("n"), true}, {'L', Bytes("x"), false}, {'L', {0}, false},
        {'T', Fixed32Pair(nDay, 86399999), true}, {'T', Fixed32Pair(0, 0), true}, {'T', Bytes("        "), true},
        {'T', Fixed32Pair(nDay, 86400000), false}, {'T', Fixed32Pair(-5, 0), false}, {'T', Fixed32Pair(0, 7), false},
        {'C', {0x01, 0xFF}, true}, {'I', {0xFF, 0xFF, 0xFF, 0xFF}, true}, {'V', {0x00, 0x07}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSoundField(c.chType, c.bytes), c.bSound) << c.chType << " " << std::string(c.bytes.begin(), c.bytes.end());
}

TEST(FieldSoundness, MendingKeepsWhatCanBeKept)
{
    struct Case {
        char chType;
        uint8_t nDecimals;
        std::string strIn;
        std::string strOut;
    };
    const std::vector<Case> cases = {
        {'N', 2, "  12.5x  ", "    12.50"}, {'N', 0, "-7-7", "  -7"}, {'N', 0, "abc", "   "},
        {'D', 0, "20051340", "        "}, {'L', 0, "x", " "},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bytes = Bytes(c.strIn);
        MendField(c.chType, c.nDecimals, bytes);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.strOut) << c.chType << " " << c.strIn;
    }
    std::vector<unsigned char> dateTime = Fixed32Pair(2453437, 90000000);
    MendField('T', 0, dateTime);
    EXPECT_EQ(dateTime, std::vector<unsigned char>(8, 0));
}

TEST(FieldSoundness, MendedBytesAreAlwaysSound)
{
    std::mt19937 rng(20240611);
    const char kTypes[] = {'N', 'F', 'D', 'L', 'T'};
    const char kAlphabet[] = " 0123456789.-+eE*?TFYN\x1A";
    for (int n = 0; n < 20000; ++n) {
        const char chType = kTypes[rng() % sizeof kTypes];
        const size_t nWidth = chType == 'L' ? 1 : (chType == 'D' || chType == 'T') ? 8 : 1 + rng() % 20;
        const uint8_t nDecimals = static_cast<uint8_t>(nWidth > 2 && chType != 'D' ? rng() % (nWidth - 1) : 0);
        std::vector<unsigned char> bytes(nWidth);
        for (auto& b : bytes)
            b = chType == 'T' ? static_cast<unsigned char>(rng()) : static_cast<unsigned char>(kAlphabet[rng() % (sizeof kAlphabet - 1)]);
        MendField(chType, nDecimals, bytes);
        ASSERT_TRUE(IsSoundField(chType, bytes)) << chType << " case " << n;
    }
}

// The record judge takes short number fields through a sixteen-byte path
// whose load may start before the field (a field at the record's end); it
// must count exactly what the field checks count, and read only the record.
TEST(FieldSoundness, RecordJudgeCountsWhatTheFieldChecksCount)
{
    std::mt19937 rng(20251209);
    const char kAlphabet[] = "      0123456789.-+eE*?TFx";
    for (int nLayout = 0; nLayout < 300; ++nLayout) {
        std::vector<CRecordJudge::Field> fields;
        uint32_t nOffset = 1;
        const int nFields = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < nFields; ++i) {
            const char chType = "NNNFDLTC"[rng() % 8];
            const uint32_t nWidth = chType == 'L' ? 1 : (chType == 'D' || chType == 'T') ? 8 : 1 + rng() % 20;
            fields.push_back({nOffset, nWidth, chType});
            nOffset += nWidth;
        }
        for (int nRecord = 0; nRecord < 200; ++nRecord) {
            std::vector<unsigned char> record(nOffset, ' ');
            int nExpected = 0;
            for (const CRecordJudge::Field& field : fields) {
                const auto begin = record.begin() + field.nOffset;
                const size_t nDigits = rng() % (field.nLength + 1);
                // Mostly right-aligned numbers, some with a stray byte.
                for (size_t k = field.nLength - nDigits; k < field.nLength; ++k)
                    begin[static_cast<long>(k)] = static_cast<unsigned char>('0' + rng() % 10);
                if (rng() % 3 == 0)
                    begin[static_cast<long>(rng() % field.nLength)] =
                        static_cast<unsigned char>(kAlphabet[rng() % (sizeof kAlphabet - 1)]);
                if (rng() % 4 == 0 && field.nLength > 2)
                    begin[static_cast<long>(rng() % (field.nLength - 1))] = rng() % 2 ? '-' : '.';
                nExpected += IsSoundField(field.chType, std::span<const unsigned char>(&*begin, field.nLength)) ? 0 : 1;
            }
            const CRecordJudge judge(fields, nOffset);
            ASSERT_EQ(judge.CountUnsound(record.data()), nExpected)
                << "layout " << nLayout << ": " << std::string(record.begin(), record.end());
        }
    }
}

} // namespace
