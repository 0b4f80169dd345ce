// Tables written by python3-dbf (and by real database programs), damaged
// the ways the tool meets, repaired by CDBFRepair and read back by
// python3-dbfread: every recoverable record, value and memo text must equal
// the original.

#include "dbf/DBFRecordset.h"
#include "dbf/DBFTableDef.h"
#include "platform/ErrorReporter.h"
#include "platform/File.h"
#include "repair/DBFRepair.h"
#include "repair/PeerTables.h"
#include "repair/RepairTestTables.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using orvtest::TempDir;

using repairtest::Repaired;
using repairtest::RepairTable;

std::string Repeat(const std::string& str, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += str;
    return out;
}

// A pristine table and a copy of it (with its memo file) to damage.
class DamagedTable : public ::testing::Test {
protected:
    void Write(const std::string& strSpec, const std::string& strKind, const std::string& strRows,
               const std::string& strAfter = "", const std::string& strName = "damaged.dbf")
    {
        m_strPristine = m_dir.File("pristine/t.dbf");
        std::filesystem::create_directories(m_dir.File("pristine"));
        std::filesystem::create_directories(m_dir.File("work"));
        orvtest::WritePeerTable(m_strPristine, strSpec, strKind, strRows, strAfter);
        m_strDamaged = m_dir.File("work/" + strName);
        std::filesystem::copy_file(m_strPristine, m_strDamaged);
        const std::string strStem = m_strDamaged.substr(0, m_strDamaged.rfind('.'));
        const bool bUpper = strName != LowerAscii(strName);
        for (const char* pszExt : {"fpt", "dbt"}) {
            const std::string strMemo = m_dir.File(std::string("pristine/t.") + pszExt);
            if (orvtest::FileExists(strMemo)) {
                m_strMemo = strStem + "." + (bUpper ? UpperAscii(pszExt) : std::string(pszExt));
                std::filesystem::copy_file(strMemo, m_strMemo);
            }
        }
        m_strOutput = m_dir.File("out/repaired.dbf");
        std::filesystem::create_directories(m_dir.File("out"));
    }

    static std::string LowerAscii(std::string s)
    {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }
    static std::string UpperAscii(std::string s)
    {
        for (char& c : s)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

    uint16_t HeaderLength() const { return orvtest::HeaderLengthOf(m_strPristine); }
    uint16_t RecordLength() const { return orvtest::RecordLengthOf(m_strPristine); }
    // Offset of field nField's bytes in record nRecord (python3-dbf lays
    // fields out in order; nFieldOffset is the offset inside the record).
    uint64_t RecordOffset(int nRecord) const { return HeaderLength() + static_cast<uint64_t>(nRecord) * RecordLength(); }

    TempDir m_dir;
    std::string m_strPristine;
    std::string m_strDamaged;
    std::string m_strMemo;
    std::string m_strOutput;
};

const char kFoxSpec[] = "name C(12); qty N(9,2); born D; ok L; notes M";

std::string FoxRows()
{
    return "[('alpha', 1.5, datetime.date(2005,3,7), True, '" + Repeat("x", 300) + "'),"
           " ('beta', -2, None, False, 'short'),"
           " ('gamma', 3.25, datetime.date(1999,12,31), None, 'third text'),"
           " ('delta', 0, datetime.date(2024,2,29), False, '" + Repeat("0123456789", 50) + "')]";
}

// FoxPro abandons a value's blocks when it is edited to a longer text.
const char kFoxEdits[] = "with t[1] as r:\n    r.notes = 'beta was edited to a much longer text than before'\n"
                         "with t[2] as r:\n    r.notes = 'gamma, edited as well, and longer'\n";

TEST_F(DamagedTable, FoxProCountsAndLengthsZeroedLongAndEditedMemos)
{
    Write(kFoxSpec, "fp", FoxRows(), kFoxEdits);
    orvtest::ZeroHeaderCounts(m_strDamaged);
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_TRUE(run.errors.empty());
    EXPECT_EQ(run.stats.nMemoTextsRecovered, 4);
    EXPECT_EQ(run.stats.nMemoTextsLost, 0);
    // The table stays a FoxPro table with its .FPT.
    EXPECT_EQ(orvtest::ReadBytes(m_strOutput)[0], 0xF5);
    EXPECT_TRUE(orvtest::FileExists(m_dir.File("out/repaired.fpt")));
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput), "OK");
}

TEST_F(DamagedTable, ZeroedMemoHeaderIsReadWithTheInferredBlockSize)
{
    Write(kFoxSpec, "fp", FoxRows(), kFoxEdits);
    orvtest::PatchBytes(m_strMemo, 0, std::vector<unsigned char>(8, 0));
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput), "OK");
}

TEST_F(DamagedTable, UnreadableReferenceGetsAnUnclaimedTextAndNoOtherRecordsText)
{
    Write(kFoxSpec, "fp", FoxRows());
    // Record 1's reference is garbage: the scan stands in and finds the one
    // text no reference claims, which is its own.
    const uint64_t nNotes = 1 + 12 + 9 + 8 + 1;
    orvtest::PatchBytes(m_strDamaged, RecordOffset(1) + nNotes, {' ', ' ', '#', '?', 'x', ' ', ' ', ' ', ' ', ' '});
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput), "OK");
}

TEST_F(DamagedTable, MemoWhoseBlockIsDestroyedComesBackEmpty)
{
    Write(kFoxSpec, "fp", FoxRows());
    const std::string strScript = R"PY(
import sys, dbfread
print(int(open(sys.argv[1], 'rb').read()[int(sys.argv[2]):int(sys.argv[2]) + 10]))
)PY";
    const uint64_t nNotes = 1 + 12 + 9 + 8 + 1;
    const int nBlock = std::stoi(orvtest::RunPython(strScript, {m_strDamaged, std::to_string(RecordOffset(1) + nNotes)}).strOut);
    const std::vector<unsigned char> memo = orvtest::ReadBytes(m_strMemo);
    const uint32_t nBlockSize = static_cast<uint32_t>((memo[6] << 8) | memo[7]);
    orvtest::PatchBytes(m_strMemo, static_cast<uint64_t>(nBlock) * nBlockSize, std::vector<unsigned char>(8, 0xEE));
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(run.stats.nMemoTextsLost, 1);
    const std::string strRecords = orvtest::PeerRecords(m_strOutput);
    EXPECT_NE(strRecords.find("('NAME', 'beta'), ('NOTES', None)"), std::string::npos) << strRecords;
    // Every other memo is intact.
    EXPECT_NE(strRecords.find("('NOTES', 'third text')"), std::string::npos) << strRecords;
    EXPECT_NE(strRecords.find("('NOTES', '" + Repeat("x", 300) + "')"), std::string::npos);
}

TEST_F(DamagedTable, UpperCaseNamesInAFolderWithADot)
{
    std::filesystem::create_directories(m_dir.File("work/Ann.Data"));
    Write(kFoxSpec, "fp", FoxRows(), "", "Ann.Data/SALES.DBF");
    ASSERT_TRUE(orvtest::FileExists(m_dir.File("work/Ann.Data/SALES.FPT")));
    orvtest::ZeroHeaderCounts(m_strDamaged);
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    // As paths: Windows names the folders with either separator.
    EXPECT_EQ(std::filesystem::path(run.stats.strSourceMemoPath), std::filesystem::path(m_dir.File("work/Ann.Data/SALES.FPT")));
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput), "OK");
}

TEST_F(DamagedTable, MissingMemoFileLeavesMemosEmptyAndKeepsEverythingElse)
{
    Write(kFoxSpec, "fp", FoxRows());
    std::filesystem::remove(m_strMemo);
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(run.stats.nMemoTextsLost, 4);
    const std::string strRecords = orvtest::PeerRecords(m_strOutput);
    EXPECT_NE(strRecords.find("('NAME', 'delta'), ('NOTES', None), ('OK', False), ('QTY', 0.0)"), std::string::npos)
        << strRecords;
}

TEST_F(DamagedTable, FirstRecordDeletedAndFileCutInTheMiddleOfARecord)
{
    Write(kFoxSpec, "fp", FoxRows(), "dbf.delete(t[0])");
    orvtest::ZeroHeaderCounts(m_strDamaged);
    orvtest::TruncateTo(m_strDamaged, RecordOffset(3) + 7);
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(run.stats.nRecordsWritten, 3);
    // Live records: the second and third (the first is deleted, the fourth cut).
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput, "{'live': 2}"), "OK");
}

TEST_F(DamagedTable, JunkAfterTheEndOfFileMarkIsNotARecord)
{
    Write("name C(12); qty N(9,2)", "db3", "[('a', 1), ('b', 2), ('c', 3)]");
    std::vector<unsigned char> data = orvtest::ReadBytes(m_strDamaged);
    ASSERT_EQ(data.back(), 0x1A);
    data.insert(data.end(), 3 * RecordLength(), 'Q');
    orvtest::WriteBytes(m_strDamaged, data);
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(run.stats.nRecordsWritten, 3);
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput), "OK");
}

TEST_F(DamagedTable, EndOfFileByteInPlaceOfAFlagWithRecordsAfterIt)
{
    Write("name C(12); qty N(9,2)", "db3", "[('a', 1), ('b', 2), ('c', 3), ('d', 4)]");
    orvtest::PatchBytes(m_strDamaged, RecordOffset(1), {0x1A});
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput), "OK");
}

TEST_F(DamagedTable, VisualFoxProEveryTypeKeepsItsFullValue)
{
    Write("name C(10); i I; y Y; t T; b B; l L; d D; m M; n N(8,3)", "vfp",
          "[('a', 5, decimal.Decimal('12.3456'), datetime.datetime(2005,3,7,14,5,9), 12.75, True, datetime.date(2001,1,2), 'memo vfp', 3.5),"
          " ('b', -7, decimal.Decimal('0.5'), datetime.datetime(1899,12,29,6,0,0), -0.5, False, datetime.date(1800,1,1), '" + Repeat("m", 700) + "', -0.125),"
          " ('c', -2147483647, decimal.Decimal('-922337203685.4775'), datetime.datetime(9999,12,31,23,59,59), 1e300, None, None, '', 0)]");
    orvtest::ZeroHeaderCounts(m_strDamaged);
    // A blank in the area after the terminator.
    orvtest::PatchBytes(m_strDamaged, HeaderLength() - 100, {' '});
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(orvtest::ReadBytes(m_strOutput)[0], 0x30);
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput), "OK");
}

TEST_F(DamagedTable, DBase3MemoKeepsItsKind)
{
    Write("name C(10); notes M; qty N(10,3)", "db3",
          "[('a', 'hello dbase', 1.25), ('b', '" + Repeat("y", 600) + "', -3), ('c', '', 0)]");
    orvtest::ZeroHeaderCounts(m_strDamaged);
    const Repaired run = RepairTable(m_strDamaged, m_strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(orvtest::ReadBytes(m_strOutput)[0], 0x83);
    EXPECT_TRUE(orvtest::FileExists(m_dir.File("out/repaired.dbt")));
    EXPECT_EQ(orvtest::CompareWithPeer(m_strPristine, m_strOutput), "OK");
}

TEST(DamagedSIxTable, MemoTextsComeBackThroughTheLengthInTheReference)
{
    TempDir dir;
    const std::string strSource = dir.File("six.dbf");
    const std::vector<std::string> texts = {"first SIx memo", std::string(500, 's'), "third"};
    repairtest::WriteSIxTable(strSource, texts);
    orvtest::ZeroHeaderCounts(strSource);
    const std::string strOutput = dir.File("out.dbf");
    const Repaired run = RepairTable(strSource, strOutput);
    EXPECT_TRUE(run.bOk);
    EXPECT_EQ(run.stats.nMemoTextsRecovered, 3);
    EXPECT_EQ(orvtest::ReadBytes(strOutput)[0], 0xE5);
    CDBFRecordset rs;
    rs.Open(strOutput, CFile::modeRead | CFile::shareDenyNone);
    ASSERT_EQ(rs.GetRecordCount(), 3);
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(rs.GetFieldValue("NOTES").GetText(), texts[i]);
        rs.MoveNext();
    }
}

// Tables written by real database programs, undamaged: the repair keeps
// every record and every value.
TEST(RealTables, RepairKeepsEveryRecordAndValue)
{
    const std::string strDir = orvtest::RealFixturesDir();
    ASSERT_TRUE(std::filesystem::is_directory(strDir)) << strDir;
    int nTables = 0;
    for (const auto& entry : std::filesystem::directory_iterator(strDir)) {
        if (entry.path().extension() != ".dbf")
            continue;
        ++nTables;
        TempDir out;
        const std::string strOutput = out.File("repaired.dbf");
        const Repaired run = RepairTable(entry.path().string(), strOutput);
        EXPECT_TRUE(run.bOk) << entry.path();
        EXPECT_TRUE(run.errors.empty()) << entry.path() << ": " << (run.errors.empty() ? "" : run.errors[0]);
        EXPECT_EQ(run.stats.nMemoTextsLost, 0) << entry.path();
        // Bytes are compared as Latin-1 text, whatever the code page.
        EXPECT_EQ(orvtest::CompareWithPeer(entry.path().string(), strOutput, "{'encoding': 'latin-1'}"), "OK")
            << entry.path();
    }
    EXPECT_GE(nTables, 8);
}

} // namespace
