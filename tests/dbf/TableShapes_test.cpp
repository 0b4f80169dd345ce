// Table shapes real files have beyond the common ones: tables without
// fields (shapefile attribute tables), the Visual FoxPro versions 0x31 and
// 0x32, and repeated field names. Each is written through the engine and
// read back by the engine and by python3-dbfread.

#include "DbfTestTables.h"
#include "dbf/DBFException.h"
#include "dbf/DBFRecordset.h"
#include "dbf/DBFTableDef.h"
#include "dbf/MemoFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using dbftest::Field;

constexpr unsigned kReadWrite = CFile::modeReadWrite | CFile::shareDenyNone;

// dbfread's view: live and deleted record counts, the field names, and the
// records' values as Python reprs, one line each.
orvtest::CommandResult ReadWithDbfread(const std::string& strPath)
{
    return orvtest::RunPython(R"(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], ignore_missing_memofile=False, recfactory=lambda items: [v for _, v in items])
print(len(list(t)), len(list(t.deleted)), t.field_names)
for r in t:
    print(repr(r))
)", {strPath});
}

// Writes nRecords records through a recordset (every third one deleted);
// fill sets the fields of record i.
template <typename Fill>
void AddRecords(const std::string& strPath, int nRecords, Fill fill)
{
    CDBFRecordset rs;
    rs.Open(strPath, kReadWrite);
    ASSERT_TRUE(rs.IsOpen());
    for (int i = 0; i < nRecords; ++i) {
        rs.AddNew();
        fill(rs, i);
        rs.Update();
        if (i % 3 == 1)
            rs.Delete();
    }
}

} // namespace

// Header lengths 33 (no padding), 35 and 40 (writers that pad the header),
// and the Visual FoxPro layout: the table opens with its record count, and
// navigation and deletion marks work on records of the flag byte alone.
TEST(TableWithoutFields, OpensNavigatesAndReadsBackInDbfread)
{
    struct Case {
        uint8_t nVersion;
        int nPadding;
    };
    for (const Case c : {Case{0x03, 0}, Case{0x03, 2}, Case{0x03, 7}, Case{0x30, 0}}) {
        SCOPED_TRACE(testing::Message() << "version " << int(c.nVersion) << " padding " << c.nPadding);
        orvtest::TempDir dir;
        const std::string strPath = dir.File("shape.dbf");
        {
            CDBFTableDef table;
            ASSERT_TRUE(table.Create(strPath));
            table.SetNewTableKind(c.nVersion, 0);
            table.Append();
        }
        if (c.nPadding != 0) {
            // Pad after the terminator and say so in the header length.
            auto bytes = orvtest::ReadBytes(strPath);
            bytes.insert(bytes.begin() + 33, static_cast<size_t>(c.nPadding), 0);
            bytes[8] = static_cast<unsigned char>(33 + c.nPadding);
            orvtest::WriteBytes(strPath, bytes);
        }
        AddRecords(strPath, 5, [](CDBFRecordset&, int) {});

        CDBFRecordset rs;
        rs.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
        ASSERT_TRUE(rs.IsOpen());
        EXPECT_EQ(rs.GetFieldCount(), 0);
        EXPECT_EQ(rs.GetRecordCount(), 5);
        EXPECT_EQ(rs.GetTableDef()->GetHeader().GetRecordLength(), 1);
        std::string strFlags;
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
            strFlags += rs.IsDeleted() ? '*' : ' ';
        EXPECT_EQ(strFlags, " *  *");
        EXPECT_THROW(rs.GetFieldValue(0), std::out_of_range);

        const auto peer = ReadWithDbfread(strPath);
        EXPECT_EQ(peer.nExitCode, 0);
        EXPECT_EQ(peer.strOut, "3 2 []\n[]\n[]\n[]\n");
    }
}

TEST(TableWithoutFields, LongerRecordsWithoutDescriptorsAreRefused)
{
    orvtest::TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    {
        CDBFTableDef table;
        ASSERT_TRUE(table.Create(strPath));
        table.Append();
    }
    // Record length 5 with no descriptor to say what the 4 bytes hold.
    auto bytes = orvtest::ReadBytes(strPath);
    bytes[10] = 5;
    orvtest::WriteBytes(strPath, bytes);
    CDBFTableDef table;
    try {
        table.Open(strPath, CFile::modeRead);
        ADD_FAILURE() << "opened";
    } catch (const CDBFException& e) {
        EXPECT_EQ(e.m_nErrorCode, DBF_ERR_DESCRIPTORS);
    }
}

// 0x31 and 0x32 are Visual FoxPro tables: offsets from the descriptors, the
// 263-byte area, the memo file by the table flags; types the engine does not
// decode (V, Q) read as the raw bytes of their width.
TEST(VisualFoxProVersions, KeepTheirVersionLayoutAndMemo)
{
    for (const uint8_t nVersion : {uint8_t{0x30}, uint8_t{0x31}, uint8_t{0x32}}) {
        SCOPED_TRACE(testing::Message() << "version " << int(nVersion));
        orvtest::TempDir dir;
        const std::string strPath = dir.File("v.dbf");
        {
            CDBFTableDef table;
            ASSERT_TRUE(table.Create(strPath));
            table.SetNewTableKind(nVersion, 0);
            table.CreateField(Field("NAME", 'C', 6));
            table.CreateField(Field("CNT", 'I', 4));
            table.CreateField(Field("VC", 'V', 5));
            table.CreateField(Field("NOTES", 'M', 4));
            table.Append();
            EXPECT_EQ(table.GetHeader().GetVersion(), nVersion);
        }
        AddRecords(strPath, 3, [](CDBFRecordset& rs, int i) {
            rs.SetFieldValue("NAME", FieldValue::MakeText("n" + std::to_string(i)));
            rs.SetFieldValue("CNT", FieldValue::MakeInteger(i * 7));
            rs.SetFieldValue("NOTES", FieldValue::MakeText("memo " + std::to_string(i)));
        });
        // The V field as stored by hand (the engine does not write it).
        auto bytes = orvtest::ReadBytes(strPath);
        ASSERT_EQ(bytes[0], nVersion);
        const size_t nFirstRecord = 32 + 4 * 32 + 1 + 263;
        ASSERT_EQ(bytes[8] + 256 * bytes[9], static_cast<int>(nFirstRecord));
        std::copy_n("abc\0\0", 5, bytes.begin() + static_cast<std::ptrdiff_t>(nFirstRecord + 1 + 6 + 4));
        orvtest::WriteBytes(strPath, bytes);

        CDBFRecordset rs;
        rs.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
        ASSERT_TRUE(rs.IsOpen());
        EXPECT_EQ(rs.GetTableDef()->GetMemoKind(), dbfformat::MemoKind::VisualFoxPro);
        EXPECT_EQ(rs.GetFieldInfo(3).GetOffset(), 16u);
        EXPECT_EQ(rs.GetFieldValue("VC").GetText(), "abc");
        rs.Move(2);
        EXPECT_EQ(rs.GetFieldValue("NOTES").GetText(), "memo 2");
        EXPECT_EQ(rs.GetFieldValue("CNT").GetInteger(), 14);

        const auto peer = ReadWithDbfread(strPath);
        EXPECT_EQ(peer.nExitCode, 0);
        EXPECT_EQ(peer.strOut, "2 1 ['NAME', 'CNT', 'VC', 'NOTES']\n['n0', 0, 'abc', 'memo 0']\n"
                               "['n2', 14, '', 'memo 2']\n");
    }
}

// Both columns of a repeated name are kept in order; lookup by name finds the
// first, the second is reached by index.
TEST(RepeatedFieldNames, BothColumnsAreKept)
{
    orvtest::TempDir dir;
    const std::string strPath = dir.File("dup.dbf");
    dbftest::CreateTable(strPath, {Field("ID", 'C', 4), Field("ID", 'N', 5), Field("X", 'L', 1)});
    AddRecords(strPath, 2, [](CDBFRecordset& rs, int i) {
        rs.SetFieldValue(0, FieldValue::MakeText("c" + std::to_string(i)));
        rs.SetFieldValue(1, FieldValue::MakeDouble(10 + i));
    });
    CDBFRecordset rs;
    rs.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
    ASSERT_TRUE(rs.IsOpen());
    ASSERT_EQ(rs.GetFieldCount(), 3);
    EXPECT_EQ(rs.GetTableDef()->FindField("ID"), 0);
    EXPECT_EQ(rs.GetFieldValue("ID").GetText(), "c0");
    EXPECT_EQ(rs.GetFieldValue(1).GetDouble(), 10.0);
    EXPECT_EQ(rs.GetFieldInfo(1).GetOffset(), 5u);

    // dbfread lists both names and both values.
    const auto peer = ReadWithDbfread(strPath);
    EXPECT_EQ(peer.strOut, "1 1 ['ID', 'ID', 'X']\n['c0', 10, False]\n");
}
