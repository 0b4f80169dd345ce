// Table layout written by Create/CreateField/Append, and the checks Open
// makes on headers and descriptors (sizes, counts, widths, offsets).

#include "DbfTestTables.h"
#include "dbf/ByteCodec.h"
#include "dbf/DBFException.h"
#include "dbf/DBFTableDef.h"
#include "dbf/MemoFile.h"
#include "platform/ErrorReporter.h"
#include "platform/LocalTime.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>

namespace {

using dbftest::Field;
using dbftest::CreateTable;

int32_t OpenError(const std::string& strPath)
{
    CDBFTableDef table;
    try {
        table.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
    } catch (const CDBFException& e) {
        EXPECT_FALSE(table.IsOpen());
        return e.m_nErrorCode;
    }
    return table.IsOpen() ? 0 : -1;
}

void Patch(const std::string& strPath, size_t nOffset, const std::vector<unsigned char>& bytes)
{
    auto data = orvtest::ReadBytes(strPath);
    if (data.size() < nOffset + bytes.size())
        data.resize(nOffset + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(nOffset));
    orvtest::WriteBytes(strPath, data);
}

std::vector<unsigned char> Le16(uint16_t v)
{
    return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
}

std::vector<unsigned char> Le32(uint32_t v)
{
    std::vector<unsigned char> b(4);
    dbfbytes::EncodeFixed32LE(b.data(), v);
    return b;
}

void Resize(const std::string& strPath, size_t nLength)
{
    std::filesystem::resize_file(strPath, nLength);
}

// C(10), N(8,2), L(1).
const std::vector<DBFFieldDescriptor> kBasic = {Field("NAME", 'C', 10), Field("AMOUNT", 'N', 8, 2),
                                                Field("FLAG", 'L', 1)};

// Makes the table strPath of the basic fields and one more.
void CreateBasicWith(const std::string& strPath, const DBFFieldDescriptor& extra)
{
    auto fields = kBasic;
    fields.push_back(extra);
    CreateTable(strPath, fields);
}

} // namespace

TEST(DBFTableDefCreate, BasicTableLayoutIsByteExact)
{
    orvtest::TempDir dir;
    const std::string path = dir.File("basic.dbf");
    CreateTable(path, kBasic);
    const auto bytes = orvtest::ReadBytes(path);
    ASSERT_EQ(bytes.size(), 130u);
    EXPECT_EQ(bytes[0], 0x03);
    const std::tm local = CLocalTime::Now();
    EXPECT_EQ(bytes[1], local.tm_year);
    EXPECT_EQ(bytes[2], local.tm_mon + 1);
    EXPECT_EQ(bytes[3], local.tm_mday);
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(&bytes[4]), 0u);
    EXPECT_EQ(dbfbytes::DecodeFixed16LE(&bytes[8]), 129);
    EXPECT_EQ(dbfbytes::DecodeFixed16LE(&bytes[10]), 20);
    for (size_t i = 12; i < 32; ++i)
        EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(&bytes[32 + 12]), 1u);
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(&bytes[64 + 12]), 11u);
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(&bytes[96 + 12]), 19u);
    EXPECT_EQ(bytes[32 + 11], 'C');
    EXPECT_EQ(bytes[64 + 17], 2);
    EXPECT_EQ(bytes[128], 0x0D);
    EXPECT_EQ(bytes[129], 0x1A);
    EXPECT_FALSE(orvtest::FileExists(dir.File("basic.DBT")));
    EXPECT_FALSE(orvtest::FileExists(dir.File("basic.FPT")));
}

TEST(DBFTableDefCreate, MemoFieldMakesDBaseIIIWithDbt)
{
    orvtest::TempDir dir;
    CreateBasicWith(dir.File("memo.dbf"), Field("NOTES", 'M', 10));
    const auto bytes = orvtest::ReadBytes(dir.File("memo.dbf"));
    EXPECT_EQ(bytes[0], 0x83);
    EXPECT_EQ(dbfbytes::DecodeFixed16LE(&bytes[8]), 161);
    EXPECT_EQ(dbfbytes::DecodeFixed16LE(&bytes[10]), 30);
    EXPECT_EQ(bytes[28], 0); // dBASE tables carry no memo flag
    EXPECT_EQ(bytes.size(), 162u);
    ASSERT_TRUE(orvtest::FileExists(dir.File("memo.DBT")));
    EXPECT_EQ(orvtest::ReadBytes(dir.File("memo.DBT")).size(), 512u);
}

TEST(DBFTableDefCreate, IntegerFieldMakesVisualFoxProWithoutMemo)
{
    orvtest::TempDir dir;
    CreateBasicWith(dir.File("vfp.dbf"), Field("COUNT", 'I', 4));
    const auto bytes = orvtest::ReadBytes(dir.File("vfp.dbf"));
    EXPECT_EQ(bytes[0], 0x30);
    EXPECT_EQ(dbfbytes::DecodeFixed16LE(&bytes[8]), 424);
    EXPECT_EQ(dbfbytes::DecodeFixed16LE(&bytes[10]), 24);
    EXPECT_EQ(bytes[28], 0);
    EXPECT_EQ(bytes[128 + 18], DBFFieldDescriptor::kFlagBinary); // I gets the binary flag
    EXPECT_EQ(bytes[160], 0x0D);
    for (size_t i = 161; i < 424; ++i)
        ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(bytes[424], 0x1A);
    EXPECT_EQ(bytes.size(), 425u);
    EXPECT_FALSE(orvtest::FileExists(dir.File("vfp.FPT")));
}

TEST(DBFTableDefCreate, NullFlagsAloneCallForFpt)
{
    orvtest::TempDir dir;
    CreateBasicWith(dir.File("nf.dbf"), Field("_NullFlags", '0', 1));
    const auto bytes = orvtest::ReadBytes(dir.File("nf.dbf"));
    EXPECT_EQ(bytes[0], 0x30);
    EXPECT_EQ(bytes[28], DBFHeader::kFlagMemo);
    EXPECT_EQ(bytes[128 + 18], DBFFieldDescriptor::kFlagSystem | DBFFieldDescriptor::kFlagBinary);
    EXPECT_TRUE(orvtest::FileExists(dir.File("nf.FPT")));
}

TEST(DBFTableDefCreate, PresetVersionsChooseTheMemoKind)
{
    struct Case {
        uint8_t nVersion, nFlags;
        uint8_t nExpectedVersion;
        dbfformat::MemoKind kind;
        const char* lpszMemo;
    };
    const Case cases[] = {
        {0x43, 0, 0x8B, dbfformat::MemoKind::DBase4, "t.DBT"}, {0x63, 0, 0xCB, dbfformat::MemoKind::DBase4, "t.DBT"},
        {0xF5, 0, 0xF5, dbfformat::MemoKind::FoxPro, "t.FPT"}, {0xE5, 0, 0xE5, dbfformat::MemoKind::SIx, "t.SMT"},
        {0x30, 0x04, 0x30, dbfformat::MemoKind::VisualFoxProDbc, "t.DCT"},
    };
    for (const auto& c : cases) {
        orvtest::TempDir dir;
        CDBFTableDef table;
        ASSERT_TRUE(table.Create(dir.File("t.dbf")));
        table.SetNewTableKind(c.nVersion, c.nFlags);
        table.CreateField(Field("NOTES", 'M', 10));
        table.Append();
        EXPECT_EQ(table.GetHeader().GetVersion(), c.nExpectedVersion);
        EXPECT_EQ(table.GetMemoKind(), c.kind);
        table.Close();
        EXPECT_TRUE(orvtest::FileExists(dir.File(c.lpszMemo))) << c.lpszMemo;
        CDBFTableDef reopened;
        reopened.Open(dir.File("t.dbf"), CFile::modeRead);
        ASSERT_TRUE(reopened.IsOpen());
        EXPECT_EQ(reopened.GetMemoKind(), c.kind);
    }
    // Without a memo field the memo-bearing versions fall back.
    orvtest::TempDir dir;
    CDBFTableDef table;
    ASSERT_TRUE(table.Create(dir.File("t.dbf")));
    table.SetNewTableKind(0x8B, 0);
    table.CreateField(Field("NAME", 'C', 5));
    table.Append();
    EXPECT_EQ(table.GetHeader().GetVersion(), 0x43);
}

TEST(DBFTableDefCreate, OversizedRecordIsRefusedField)
{
    orvtest::TempDir dir;
    CDBFTableDef table;
    ASSERT_TRUE(table.Create(dir.File("big.dbf")));
    table.CreateField(Field("A", 'C', 65000));
    EXPECT_THROW(table.CreateField(Field("B", 'C', 1000)), CDBFException);
    table.Append();
    EXPECT_EQ(table.GetHeader().GetRecordLength(), 65001);
    EXPECT_EQ(table.GetFieldCount(), 1);
}

TEST(DBFTableDefCreate, CreateOverAnExistingFileTruncatesIt)
{
    orvtest::TempDir dir;
    orvtest::WriteBytes(dir.File("t.dbf"), std::vector<unsigned char>(5000, 'x'));
    CreateTable(dir.File("t.dbf"), kBasic);
    EXPECT_EQ(orvtest::ReadBytes(dir.File("t.dbf")).size(), 130u);
}

TEST(DBFTableDefCreate, CreateInMissingFolderRaises3001)
{
    orvtest::TempDir dir;
    CDBFTableDef table;
    try {
        table.Create(dir.File("no/such/folder.dbf"));
        FAIL() << "no exception";
    } catch (const CDBFException& e) {
        EXPECT_EQ(e.m_nErrorCode, DBF_ERR_CREATE);
    }
    EXPECT_FALSE(table.IsOpen());
}

TEST(DBFTableDefOpen, FileMustHoldTheRecordsTheHeaderCounts)
{
    orvtest::TempDir dir;
    const std::string path = dir.File("t.dbf");
    CreateTable(path, kBasic);
    Patch(path, 4, Le32(2)); // two records of 20 bytes
    Resize(path, 129 + 40);
    EXPECT_EQ(OpenError(path), 0);
    Resize(path, 129 + 41);
    EXPECT_EQ(OpenError(path), 0);
    // Bytes after the end mark are not read, unless the header disagrees
    // with the descriptors (records of 21 bytes, fields that make 20).
    Resize(path, 129 + 300);
    EXPECT_EQ(OpenError(path), 0);
    Patch(path, 10, Le16(21));
    EXPECT_EQ(OpenError(path), DBF_ERR_HEADER_BAD);
    Patch(path, 10, Le16(20));
    Resize(path, 129 + 39);
    EXPECT_EQ(OpenError(path), DBF_ERR_HEADER_BAD);
}

TEST(DBFTableDefOpen, ImplausibleHeadersFailWith3006WithoutBigAllocations)
{
    orvtest::TempDir dir;
    const std::string path = dir.File("t.dbf");
    auto reset = [&] { CreateTable(path, kBasic); };
    reset();
    Patch(path, 10, Le16(0));
    EXPECT_EQ(OpenError(path), DBF_ERR_HEADER_BAD);
    reset();
    Patch(path, 4, Le32(0xFFFFFFFF)); // -1 records
    EXPECT_EQ(OpenError(path), DBF_ERR_HEADER_BAD);
    reset();
    Patch(path, 4, Le32(0x7FFFFFFF)); // claims 40 GB of records
    Patch(path, 10, Le16(0xFFFF));
    EXPECT_EQ(OpenError(path), DBF_ERR_HEADER_BAD);
    // A dBASE header of 32 bytes has no room for the terminator.
    reset();
    Patch(path, 8, Le16(32));
    Resize(path, 32 + 1);
    Patch(path, 10, Le16(2));
    EXPECT_EQ(OpenError(path), DBF_ERR_HEADER_BAD);
    // Shorter than a header at all.
    orvtest::WriteBytes(path, std::vector<unsigned char>(20, 0x03));
    EXPECT_EQ(OpenError(path), DBF_ERR_HEADER_SHORT);
    EXPECT_EQ(OpenError(dir.File("missing.dbf")), DBF_ERR_OPEN);
}

TEST(DBFTableDefOpen, DescriptorCountFollowsHeaderLengthAndTerminator)
{
    orvtest::TempDir dir;
    const std::string path = dir.File("t.dbf");
    CreateTable(path, kBasic);
    // Header of exactly 32 * 3 + 33 bytes: three descriptors are read and the
    // terminator byte is never looked at.
    Patch(path, 128, {'X'});
    {
        CDBFTableDef table;
        table.Open(path, CFile::modeRead);
        ASSERT_TRUE(table.IsOpen());
        EXPECT_EQ(table.GetFieldCount(), 3);
        EXPECT_EQ(table.GetFieldInfo(2).GetOffset(), 19u);
    }
    // A header with room for five stops at the descriptor that begins with
    // 0x0D.
    CreateTable(path, kBasic);
    auto bytes = orvtest::ReadBytes(path);
    bytes.insert(bytes.begin() + 129, 64, 0);
    orvtest::WriteBytes(path, bytes);
    Patch(path, 8, Le16(129 + 64));
    CDBFTableDef table;
    table.Open(path, CFile::modeRead);
    ASSERT_TRUE(table.IsOpen());
    EXPECT_EQ(table.GetFieldCount(), 3);
    EXPECT_THROW(table.GetFieldInfo(3), std::out_of_range);
    EXPECT_THROW(table.GetFieldInfo(-1), std::out_of_range);
}

TEST(DBFTableDefOpen, VisualFoxProHeaderNeedsRoomForOneField)
{
    orvtest::TempDir dir;
    const std::string path = dir.File("t.dbf");
    // One C(4) field: header 32 + 32 + 1 + 263 = 328.
    std::vector<unsigned char> bytes(328 + 1, 0);
    bytes[0] = 0x30;
    dbfbytes::EncodeFixed16LE(&bytes[8], 328);
    dbfbytes::EncodeFixed16LE(&bytes[10], 5);
    std::memcpy(&bytes[32], "NAME", 4);
    bytes[32 + 11] = 'C';
    dbfbytes::EncodeFixed32LE(&bytes[32 + 12], 1);
    bytes[32 + 16] = 4;
    bytes[64] = 0x0D;
    bytes[328] = 0x1A;
    orvtest::WriteBytes(path, bytes);
    {
        CDBFTableDef table;
        table.Open(path, CFile::modeRead);
        ASSERT_TRUE(table.IsOpen());
        EXPECT_EQ(table.GetFieldCount(), 1);
    }
    Patch(path, 8, Le16(327));
    Resize(path, 327);
    EXPECT_EQ(OpenError(path), DBF_ERR_VFP_NO_FIELD);
    // A short Visual FoxPro file is caught by the size check first.
    Patch(path, 8, Le16(328));
    Patch(path, 4, Le32(3));
    Resize(path, 328 + 5);
    EXPECT_EQ(OpenError(path), DBF_ERR_HEADER_BAD);
}

TEST(DBFTableDefOpen, DescriptorsOutsideTheRecordFailWith3009)
{
    orvtest::TempDir dir;
    const std::string path = dir.File("t.dbf");
    // Numeric length byte of 128 or more is outside the width rule.
    CreateTable(path, kBasic);
    Patch(path, 64 + 16, {200});
    EXPECT_EQ(OpenError(path), DBF_ERR_DESCRIPTORS);
    // Widths that add up beyond the record length.
    CreateTable(path, kBasic);
    Patch(path, 32 + 16, {30});
    EXPECT_EQ(OpenError(path), DBF_ERR_DESCRIPTORS);
    // A character width of 0xFF00 through its high byte.
    CreateTable(path, kBasic);
    Patch(path, 32 + 17, {0xFF});
    EXPECT_EQ(OpenError(path), DBF_ERR_DESCRIPTORS);
    // Visual FoxPro offsets are taken as stored: one past the record, and one
    // on the deletion flag.
    CreateTable(path, {Field("A", 'C', 4), Field("N", 'I', 4)});
    Patch(path, 64 + 12, Le32(6));
    EXPECT_EQ(OpenError(path), DBF_ERR_DESCRIPTORS);
    Patch(path, 64 + 12, Le32(0xFFFFFFFE));
    EXPECT_EQ(OpenError(path), DBF_ERR_DESCRIPTORS);
    Patch(path, 64 + 12, Le32(0));
    EXPECT_EQ(OpenError(path), DBF_ERR_DESCRIPTORS);
    Patch(path, 64 + 12, Le32(5));
    EXPECT_EQ(OpenError(path), 0);
}

TEST(DBFTableDefOpen, OpenTwiceKeepsTheFirstTable)
{
    orvtest::TempDir dir;
    CreateTable(dir.File("a.dbf"), kBasic);
    CreateTable(dir.File("b.dbf"), {Field("X", 'C', 3)});
    CDBFTableDef table;
    table.Open(dir.File("a.dbf"), CFile::modeRead);
    table.Open(dir.File("b.dbf"), CFile::modeRead);
    EXPECT_EQ(table.GetFieldCount(), 3);
    EXPECT_EQ(table.GetFilePath(), dir.File("a.dbf"));
    table.Close();
    EXPECT_FALSE(table.IsOpen());
    table.Open(dir.File("b.dbf"), CFile::modeRead);
    EXPECT_EQ(table.GetFieldCount(), 1);
}

TEST(DBFTableDefOpen, MemoFileMustExistUnlessOptional)
{
    orvtest::TempDir dir;
    CreateBasicWith(dir.File("m.dbf"), Field("NOTES", 'M', 10));
    std::filesystem::remove(dir.File("m.DBT"));
    EXPECT_EQ(OpenError(dir.File("m.dbf")), DBF_ERR_MEMO_OPEN);
    CDBFTableDef table;
    table.SetMemoFileOptional(true);
    table.Open(dir.File("m.dbf"), CFile::modeRead);
    ASSERT_TRUE(table.IsOpen());
    EXPECT_TRUE(table.IsMemoFileMissing());
    EXPECT_EQ(table.GetMemoKind(), dbfformat::MemoKind::DBase3);
    EXPECT_EQ(table.GetMemoFile(), nullptr);
}

TEST(DBFTableDefOpen, MemoFileIsFoundWhateverItsCase)
{
    orvtest::TempDir dir;
    CreateBasicWith(dir.File("m.dbf"), Field("NOTES", 'M', 10));
    std::filesystem::rename(dir.File("m.DBT"), dir.File("m.dbt"));
    CDBFTableDef table;
    table.Open(dir.File("m.dbf"), CFile::modeRead);
    ASSERT_TRUE(table.IsOpen());
    EXPECT_EQ(table.GetMemoPath(), dir.File("m.dbt"));
    ASSERT_NE(table.GetMemoFile(), nullptr);
    EXPECT_TRUE(table.GetMemoFile()->IsMemoOpen());
}

TEST(DBFTableDefMemoPath, ReplacesTheLastExtensionOfTheFileName)
{
    EXPECT_EQ(CDBFTableDef::BuildMemoPath("/a/b/sales.dbf", "DBT"), "/a/b/sales.DBT");
    EXPECT_EQ(CDBFTableDef::BuildMemoPath("sales.old.dbf", "FPT"), "sales.old.FPT");
    EXPECT_EQ(CDBFTableDef::BuildMemoPath("sales", "SMT"), "sales.SMT");
    EXPECT_EQ(CDBFTableDef::BuildMemoPath("/x.d/sales", "DCT"), "/x.d/sales.DCT");
}

TEST(DBFTableDefMemoPath, VersionAndFlagsChooseTheKind)
{
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x03, 0x02), dbfformat::MemoKind::None);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x30, 0x00), dbfformat::MemoKind::None);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x30, 0x02), dbfformat::MemoKind::VisualFoxPro);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x30, 0x06), dbfformat::MemoKind::VisualFoxProDbc);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x43, 0x02), dbfformat::MemoKind::None);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x7B, 0), dbfformat::MemoKind::DBase4);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x8B, 0), dbfformat::MemoKind::DBase4);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0xCB, 0), dbfformat::MemoKind::DBase4);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x83, 0), dbfformat::MemoKind::DBase3);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0xE5, 0), dbfformat::MemoKind::SIx);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0xF5, 0), dbfformat::MemoKind::FoxPro);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x31, 0x02), dbfformat::MemoKind::VisualFoxPro);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x32, 0x06), dbfformat::MemoKind::VisualFoxProDbc);
    EXPECT_EQ(dbfformat::MemoKindForVersion(0x32, 0x00), dbfformat::MemoKind::None);
}

TEST(DBFTableDefRecords, ReadBeyondTheEndRaises3018)
{
    orvtest::TempDir dir;
    const std::string path = dir.File("t.dbf");
    CreateTable(path, kBasic);
    Patch(path, 4, Le32(1));
    Resize(path, 129 + 20);
    CDBFTableDef table;
    table.Open(path, CFile::modeRead);
    ASSERT_TRUE(table.IsOpen());
    std::vector<unsigned char> buffer(20);
    EXPECT_NO_THROW(table.ReadRecord(0, buffer));
    auto code = [&](std::function<void()> f) {
        try {
            f();
        } catch (const CDBFException& e) {
            return e.m_nErrorCode;
        }
        return 0;
    };
    EXPECT_EQ(code([&] { table.ReadRecord(1, buffer); }), DBF_ERR_RECORD_EOF);
    EXPECT_EQ(code([&] { table.ReadRecord(-1, buffer); }), DBF_ERR_RECORD_EOF);
    EXPECT_EQ(code([&] { table.ReadRecord(INT32_MAX, buffer); }), DBF_ERR_RECORD_EOF);
    std::vector<unsigned char> small(19);
    EXPECT_THROW(table.ReadRecord(0, small), std::length_error);
}

TEST(DBFTableDefRealFiles, EveryRealTableOpens)
{
    namespace fs = std::filesystem;
    int nTables = 0;
    for (const auto& entry : fs::directory_iterator(orvtest::RealFixturesDir())) {
        if (entry.path().extension() != ".dbf")
            continue;
        ++nTables;
        CDBFTableDef table;
        table.Open(entry.path().string(), CFile::modeRead | CFile::shareDenyNone);
        ASSERT_TRUE(table.IsOpen()) << entry.path();
        EXPECT_GT(table.GetFieldCount(), 0) << entry.path();
        if (table.GetMemoKind() != dbfformat::MemoKind::None) {
            ASSERT_NE(table.GetMemoFile(), nullptr) << entry.path();
            EXPECT_TRUE(table.GetMemoFile()->IsMemoOpen()) << entry.path();
        }
    }
    EXPECT_EQ(nTables, 8);
}
