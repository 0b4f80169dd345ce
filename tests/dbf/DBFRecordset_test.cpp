// Record access: blank records, adding, editing, deleting, navigation,
// memo fields through the memo file, and the checked arguments.

#include "DbfTestTables.h"
#include "dbf/ByteCodec.h"
#include "dbf/DBFException.h"
#include "dbf/DBFRecordset.h"
#include "dbf/MemoFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

namespace {

using dbftest::Field;
using dbftest::CreateTable;

constexpr unsigned kReadWrite = CFile::modeReadWrite | CFile::shareDenyNone;

// C(10), N(8,2), L(1), D(8), M(10): header 193, record 38.
class RecordsetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strPath = m_dir.File("t.dbf");
        CreateTable(m_strPath, {Field("NAME", 'C', 10), Field("AMOUNT", 'N', 8, 2), Field("FLAG", 'L', 1),
                                Field("DAY", 'D', 8), Field("NOTES", 'M', 10)});
    }

    void AddRow(CDBFRecordset& rs, const std::string& strName, double dAmount)
    {
        rs.AddNew();
        rs.SetFieldValue("NAME", FieldValue::MakeText(strName));
        rs.SetFieldValue("AMOUNT", FieldValue::MakeDouble(dAmount));
        rs.Update();
    }

    orvtest::TempDir m_dir;
    std::string m_strPath;
    static constexpr size_t kHeader = 193;
    static constexpr size_t kRecord = 38;
};

} // namespace

TEST_F(RecordsetTest, EmptyTableOpensBeforeTheFirstRecord)
{
    CDBFRecordset rs;
    rs.Open(m_strPath, kReadWrite);
    ASSERT_TRUE(rs.IsOpen());
    EXPECT_TRUE(rs.IsBOF());
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_EQ(rs.GetCurrentIndex(), 0);
    EXPECT_EQ(rs.GetRecordCount(), 0);
    EXPECT_THROW(rs.Delete(), std::out_of_range);
    EXPECT_THROW(rs.MoveFirst(), std::out_of_range);
}

TEST_F(RecordsetTest, AddNewStartsFromBlankForms)
{
    CDBFRecordset rs;
    rs.Open(m_strPath, kReadWrite);
    rs.AddNew();
    const auto& buffer = rs.GetTableDef()->GetRecordBuffer();
    const std::string strRecord(buffer.begin(), buffer.begin() + 28);
    EXPECT_EQ(strRecord, " " + std::string(10, ' ') + "    0.00" + "F" + std::string(8, ' '));
    EXPECT_EQ(std::string(buffer.begin() + 28, buffer.end()), std::string(10, '\0')); // memo left as is
    EXPECT_TRUE(rs.GetFieldValue("NOTES").IsEmpty());
    EXPECT_TRUE(rs.GetFieldValue("DAY").IsEmpty());
}

TEST_F(RecordsetTest, UpdateAppendsOverTheEndOfFileMark)
{
    CDBFRecordset rs;
    rs.Open(m_strPath, kReadWrite);
    AddRow(rs, "first", 1.5);
    EXPECT_EQ(rs.GetRecordCount(), 1);
    EXPECT_EQ(rs.GetCurrentIndex(), 0);
    EXPECT_FALSE(rs.IsBOF());
    EXPECT_FALSE(rs.IsEOF());
    AddRow(rs, "second", -2);
    rs.Close();
    const auto bytes = orvtest::ReadBytes(m_strPath);
    ASSERT_EQ(bytes.size(), kHeader + 2 * kRecord); // no new 0x1A
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(&bytes[4]), 2u);
    EXPECT_EQ(std::string(bytes.begin() + kHeader, bytes.begin() + kHeader + 20), " first         1.50F");
    EXPECT_EQ(std::string(bytes.begin() + kHeader + kRecord, bytes.begin() + kHeader + kRecord + 20),
              " second       -2.00F");

    CDBFRecordset again;
    again.Open(m_strPath, CFile::modeRead);
    ASSERT_TRUE(again.IsOpen());
    EXPECT_EQ(again.GetFieldValue("NAME").GetText(), "first");
    again.MoveNext();
    EXPECT_EQ(again.GetFieldValue(1).GetDouble(), -2.0);
    again.MoveNext();
    EXPECT_TRUE(again.IsEOF());
    EXPECT_EQ(again.GetFieldValue(1).GetDouble(), -2.0); // buffer unchanged at EOF
}

TEST_F(RecordsetTest, EditCancelAndDeleteTouchOnlyTheirRecord)
{
    {
        CDBFRecordset rs;
        rs.Open(m_strPath, kReadWrite);
        for (int i = 0; i < 3; ++i)
            AddRow(rs, "row" + std::to_string(i), i);
    }
    const auto before = orvtest::ReadBytes(m_strPath);
    CDBFRecordset rs;
    rs.Open(m_strPath, kReadWrite);
    rs.Move(1);
    rs.Delete();
    EXPECT_TRUE(rs.IsDeleted());
    EXPECT_EQ(rs.GetRecordCount(), 3);
    rs.Close();
    const auto after = orvtest::ReadBytes(m_strPath);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        if (i == kHeader + kRecord)
            EXPECT_EQ(after[i], '*');
        else
            ASSERT_EQ(after[i], before[i]) << i;
    }
    rs.Open(m_strPath, kReadWrite);
    rs.Move(1);
    EXPECT_TRUE(rs.IsDeleted());
    rs.Undelete();
    rs.Close();
    EXPECT_EQ(orvtest::ReadBytes(m_strPath), before);

    rs.Open(m_strPath, kReadWrite);
    rs.Move(2);
    rs.Edit();
    rs.SetFieldValue("NAME", FieldValue::MakeText("changed"));
    rs.CancelUpdate();
    EXPECT_EQ(rs.GetFieldValue("NAME").GetText(), "row2");
    rs.Edit();
    rs.SetFieldValue("NAME", FieldValue::MakeText("changed"));
    rs.Update();
    rs.Move(0);
    rs.Move(2);
    EXPECT_EQ(rs.GetFieldValue("NAME").GetText(), "changed");
    EXPECT_EQ(rs.GetRecordCount(), 3);
}

TEST_F(RecordsetTest, MemoTextIsWrittenAtOnceAndOtherKindsAreIgnored)
{
    CDBFRecordset rs;
    rs.Open(m_strPath, kReadWrite);
    rs.AddNew();
    rs.SetFieldValue("NOTES", FieldValue::MakeInteger(5));
    EXPECT_TRUE(rs.GetFieldValue("NOTES").IsEmpty());
    const auto memoBefore = orvtest::ReadBytes(m_dir.File("t.DBT")).size();
    const std::string strLong(1000, 'q');
    rs.SetFieldValue("NOTES", FieldValue::MakeText(strLong));
    // Reached the memo file before any Update.
    EXPECT_GT(orvtest::ReadBytes(m_dir.File("t.DBT")).size(), memoBefore);
    FieldValue v;
    EXPECT_EQ(rs.GetFieldValue("NOTES", v), strLong.size() + 1); // dBASE III counts the terminator
    EXPECT_EQ(v.GetText(), strLong);
    rs.Update();
    rs.Close();
    rs.Open(m_strPath, CFile::modeRead);
    EXPECT_EQ(rs.GetFieldValue("NOTES").GetText(), strLong);
}

TEST_F(RecordsetTest, ArgumentsOutsideTheTableAreRefused)
{
    CDBFRecordset rs;
    EXPECT_THROW(rs.GetFieldValue(0), std::logic_error);
    rs.Open(m_strPath, kReadWrite);
    AddRow(rs, "x", 1);
    EXPECT_THROW(rs.GetFieldValue(-1), std::out_of_range);
    EXPECT_THROW(rs.GetFieldValue(5), std::out_of_range);
    EXPECT_THROW(rs.SetFieldValue(5, FieldValue()), std::out_of_range);
    EXPECT_THROW(rs.GetFieldValue("name"), std::out_of_range); // names compare case-sensitively
    EXPECT_THROW(rs.SetFieldValue("NOPE", FieldValue()), std::out_of_range);
    EXPECT_THROW(rs.Move(1), std::out_of_range);
    EXPECT_THROW(rs.Move(-1), std::out_of_range);
    EXPECT_NO_THROW(rs.Move(0));
    try {
        rs.GetFieldValue("NOPE");
    } catch (const std::out_of_range& e) {
        EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos);
    }
}

TEST_F(RecordsetTest, ClosedOrUnopenableTableLeavesRecordsetClosed)
{
    CDBFRecordset rs;
    EXPECT_THROW(rs.Open(m_dir.File("missing.dbf"), kReadWrite), CDBFException);
    EXPECT_FALSE(rs.IsOpen());
    EXPECT_EQ(rs.GetCurrentIndex(), -1);
    EXPECT_THROW(rs.Open("", kReadWrite), CDBFException); // the default path is empty
    EXPECT_THROW(rs.AddNew(), std::logic_error);
}

TEST(RecordsetBinaryMemo, GeneralFieldWithoutBlockIsEmpty)
{
    orvtest::TempDir dir;
    CreateTable(dir.File("g.dbf"), {Field("PIC", 'G', 4), Field("NAME", 'C', 4)});
    CDBFRecordset rs;
    rs.Open(dir.File("g.dbf"), kReadWrite);
    rs.AddNew();
    rs.SetFieldValue(0, FieldValue::MakeText("ignored")); // G is not written
    rs.SetFieldValue(1, FieldValue::MakeText("abcd"));
    rs.Update();
    FieldValue v = FieldValue::MakeInteger(1);
    EXPECT_EQ(rs.GetFieldValue(0, v), 0u);
    EXPECT_TRUE(v.IsEmpty());
    EXPECT_EQ(rs.GetFieldValue(1).GetText(), "abcd");
}
