// Layouts and damage that once lost data or ran away: damaged widths,
// zero-width columns, memo fields of odd widths, shared memo blocks, a table
// reached through a symbolic link, a missing memo file. Each repaired table
// must open in the storage engine with what the run says it recovered.

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

using SalvageRun = repairtest::Repaired;

SalvageRun Repair(const std::string& strSource, const std::string& strOutput)
{
    return repairtest::RepairTable(strSource, strOutput);
}

// The texts of field nField of every record, read through the storage
// engine (memo texts included).
std::vector<std::string> FieldTexts(const std::string& strPath, int nField)
{
    CDBFTableDef table;
    table.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
    EXPECT_TRUE(table.IsOpen()) << strPath;
    std::vector<std::string> texts;
    if (!table.IsOpen())
        return texts;
    std::vector<unsigned char> record(table.GetHeader().GetRecordLength());
    for (int32_t r = 0; r < table.GetRecordCount(); ++r) {
        table.ReadRecord(r, record);
        FieldValue value;
        table.LoadFieldValue(record, table.GetFieldInfo(nField), value);
        const DBFFieldDescriptor& fd = table.GetFieldInfo(nField);
        if (value.GetKind() == FieldKind::Text || fd.GetType() == 'M') {
            texts.push_back(value.GetKind() == FieldKind::Text ? value.GetText() : std::string());
            continue;
        }
        // Other kinds: the stored text without its blanks.
        std::string strRaw(reinterpret_cast<const char*>(record.data() + fd.GetOffset()), fd.GetWidth());
        strRaw.erase(0, strRaw.find_first_not_of(' '));
        strRaw.erase(strRaw.find_last_not_of(' ') + 1);
        texts.push_back(strRaw);
    }
    return texts;
}

std::string Rows(int n)
{
    std::string strRows = "[";
    for (int i = 0; i < n; ++i)
        strRows += "('name " + std::to_string(i) + "', " + std::to_string(i) + ".5, 'memo text " + std::to_string(i) + "'),";
    return strRows + "]";
}

const char kSpec[] = "name C(12); qty N(8,2); notes M";

TEST(SalvageFaults, DamagedLengthBytesKeepTheLayout)
{
    // One damaged N width is what the header's record length leaves over;
    // two apart are split as the records' digits say; two side by side
    // cannot be told apart, so they are left out, their bytes still
    // counted. Every other value lands in its place.
    struct Case {
        std::vector<int> damaged; // descriptor numbers
        int nColumns;
    };
    for (const Case& c : {Case{{1}, 5}, Case{{1, 3}, 5}, Case{{3, 4}, 3}}) {
        TempDir dir;
        const std::string strSource = dir.File("t.dbf");
        orvtest::WritePeerTable(strSource, "name C(12); qty N(8,2); code C(4); n2 N(5,0); n3 N(3,0)", "db3",
                                "[('alpha', 1.5, 'x1', 7, 1), ('beta', -2, 'x2', 8, 2), ('gamma', 3, 'x3', 9, 3)]");
        for (int n : c.damaged)
            orvtest::PatchBytes(strSource, 32 + 32 * n + 16, {0xC8});
        const SalvageRun run = Repair(strSource, dir.File("out.dbf"));
        SCOPED_TRACE(c.damaged.size() * 10 + c.damaged.back());
        ASSERT_TRUE(run.bOk);
        EXPECT_EQ(run.errors.size(), 1u); // said once
        EXPECT_EQ(run.stats.nRecordsWritten, 3);
        EXPECT_EQ(run.stats.nFieldCount, c.nColumns);
        EXPECT_EQ(FieldTexts(dir.File("out.dbf"), 0), (std::vector<std::string>{"alpha", "beta", "gamma"}));
        EXPECT_EQ(FieldTexts(dir.File("out.dbf"), 2), (std::vector<std::string>{"x1", "x2", "x3"}));
        if (c.nColumns == 5) {
            EXPECT_EQ(FieldTexts(dir.File("out.dbf"), 3), (std::vector<std::string>{"7", "8", "9"}));
        }
    }
}

TEST(SalvageFaults, ZeroWidthColumnsAreLeftOut)
{
    TempDir dir;
    const std::string strSource = dir.File("t.dbf");
    orvtest::WritePeerTable(strSource, "a C(1); name C(12); b C(1)", "db3", "[('x', 'alpha', 'y'), ('z', 'beta', 'w')]");
    // The two one-byte columns become zero-width ones, and the header's
    // record length follows, as a writer that made them would have it.
    orvtest::PatchBytes(strSource, 32 + 16, {0});
    orvtest::PatchBytes(strSource, 32 + 2 * 32 + 16, {0});
    std::vector<unsigned char> data = orvtest::ReadBytes(strSource);
    const uint16_t nHeader = orvtest::HeaderLengthOf(strSource);
    std::vector<unsigned char> rebuilt(data.begin(), data.begin() + nHeader);
    rebuilt[10] = 13;
    for (size_t r = 0; r < 2; ++r) {
        const auto p = data.begin() + nHeader + static_cast<long>(r) * 15;
        rebuilt.push_back(p[0]);
        rebuilt.insert(rebuilt.end(), p + 2, p + 14);
    }
    rebuilt.push_back(0x1A);
    orvtest::WriteBytes(strSource, rebuilt);
    const SalvageRun run = Repair(strSource, dir.File("out.dbf"));
    ASSERT_TRUE(run.bOk);
    EXPECT_EQ(run.stats.nFieldCount, 1);
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_NE(run.errors[0].find("width 0"), std::string::npos) << run.errors[0];
    EXPECT_EQ(FieldTexts(dir.File("out.dbf"), 0), (std::vector<std::string>{"alpha", "beta"}));
}

TEST(SalvageFaults, MemoFieldsOfOddWidthsKeepTheirTexts)
{
    // An M field of width 8 in a FoxPro table, and a SIx table whose memo
    // field is 4 bytes wide: the new table's field takes its kind's width,
    // and every text counted as recovered reads back from it.
    TempDir dir;
    const std::string strFox = dir.File("fox.dbf");
    {
        // python3-dbf writes M(10); the reference's digits fit 8 bytes too.
        orvtest::WritePeerTable(strFox, "notes M; name C(6)", "fp", "[('one',  'a'), ('two', 'b')]");
        std::vector<unsigned char> data = orvtest::ReadBytes(strFox);
        const uint16_t nHeader = orvtest::HeaderLengthOf(strFox);
        const uint16_t nRecord = orvtest::RecordLengthOf(strFox);
        std::vector<unsigned char> rebuilt(data.begin(), data.begin() + nHeader);
        rebuilt[32 + 16] = 8;
        rebuilt[10] = static_cast<unsigned char>(nRecord - 2);
        for (size_t r = 0; r < 2; ++r) {
            const auto p = data.begin() + nHeader + static_cast<long>(r * nRecord);
            rebuilt.push_back(p[0]);
            rebuilt.insert(rebuilt.end(), p + 3, p + nRecord);
        }
        rebuilt.push_back(0x1A);
        orvtest::WriteBytes(strFox, rebuilt);
    }
    const SalvageRun fox = Repair(strFox, dir.File("fox_out.dbf"));
    ASSERT_TRUE(fox.bOk);
    EXPECT_EQ(fox.stats.nMemoTextsRecovered, 2);
    EXPECT_EQ(FieldTexts(dir.File("fox_out.dbf"), 0), (std::vector<std::string>{"one", "two"}));

    const std::string strSix = dir.File("six.dbf");
    repairtest::WriteSIxTable(strSix, {"first text", "second"});
    {
        // The NOTES reference cut to its 4-byte block number.
        std::vector<unsigned char> data = orvtest::ReadBytes(strSix);
        const uint16_t nHeader = orvtest::HeaderLengthOf(strSix);
        const uint16_t nRecord = orvtest::RecordLengthOf(strSix);
        std::vector<unsigned char> rebuilt(data.begin(), data.begin() + nHeader);
        rebuilt[32 + 32 + 16] = 4;
        rebuilt[10] = static_cast<unsigned char>(nRecord - 6);
        for (size_t r = 0; r < 2; ++r) {
            const auto p = data.begin() + nHeader + static_cast<long>(r * nRecord);
            rebuilt.insert(rebuilt.end(), p, p + 9);
            rebuilt.insert(rebuilt.end(), p + 9 + 6, p + 9 + 10);
        }
        rebuilt.push_back(0x1A);
        orvtest::WriteBytes(strSix, rebuilt);
    }
    const SalvageRun six = Repair(strSix, dir.File("six_out.dbf"));
    ASSERT_TRUE(six.bOk);
    EXPECT_EQ(six.stats.nMemoTextsRecovered, 2);
    const std::vector<std::string> texts = FieldTexts(dir.File("six_out.dbf"), 1);
    EXPECT_EQ(static_cast<int64_t>(std::count_if(texts.begin(), texts.end(), [](const std::string& s) { return !s.empty(); })),
              six.stats.nMemoTextsRecovered);
}

TEST(SalvageFaults, SharedMemoBlocksAreCopiedNoMoreThanTheMemoFileHolds)
{
    TempDir dir;
    const std::string strSource = dir.File("t.dbf");
    // 400 records whose memo references all name the first record's block.
    const std::string strBig(2000, 'm');
    std::string strRows = "[";
    for (int i = 0; i < 400; ++i)
        strRows += "('r" + std::to_string(i) + "', 1, '" + (i == 0 ? strBig : std::string("x")) + "'),";
    orvtest::WritePeerTable(strSource, kSpec, "fp", strRows + "]");
    std::vector<unsigned char> data = orvtest::ReadBytes(strSource);
    const uint16_t nHeader = orvtest::HeaderLengthOf(strSource);
    const uint16_t nRecord = orvtest::RecordLengthOf(strSource);
    const auto first = data.begin() + nHeader + 1 + 12 + 8;
    for (int r = 1; r < 400; ++r)
        std::copy(first, first + 10, data.begin() + nHeader + r * nRecord + 1 + 12 + 8);
    orvtest::WriteBytes(strSource, data);
    const uint64_t nMemoSize = std::filesystem::file_size(dir.File("t.fpt"));

    const SalvageRun run = Repair(strSource, dir.File("out.dbf"));
    ASSERT_TRUE(run.bOk);
    EXPECT_GT(run.stats.nSharedMemosNotCopied, 0);
    EXPECT_LE(std::filesystem::file_size(run.stats.strOutputMemoPath), 2 * nMemoSize + 1024);
    const std::vector<std::string> texts = FieldTexts(dir.File("out.dbf"), 2);
    ASSERT_EQ(texts.size(), 400u);
    EXPECT_EQ(texts[0], strBig);
    EXPECT_EQ(static_cast<int64_t>(std::count(texts.begin(), texts.end(), strBig)), run.stats.nMemoTextsRecovered);
}

TEST(SalvageFaults, MemoFileBesideTheLinkedTableAndAMissingOne)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("real"));
    std::filesystem::create_directories(dir.File("links"));
    const std::string strReal = dir.File("real/t.dbf");
    orvtest::WritePeerTable(strReal, kSpec, "fp", Rows(5));
    std::filesystem::create_symlink(strReal, dir.File("links/t.dbf"));
    const SalvageRun linked = Repair(dir.File("links/t.dbf"), dir.File("linked_out.dbf"));
    ASSERT_TRUE(linked.bOk);
    EXPECT_EQ(linked.stats.nMemoTextsRecovered, 5);
    EXPECT_TRUE(linked.errors.empty());
    EXPECT_EQ(orvtest::CompareWithPeer(strReal, dir.File("linked_out.dbf")), "OK");

    // Without its memo file the table still comes back, and the loss is said.
    std::filesystem::remove(dir.File("real/t.fpt"));
    const SalvageRun missing = Repair(strReal, dir.File("missing_out.dbf"));
    ASSERT_TRUE(missing.bOk);
    EXPECT_TRUE(missing.stats.bMemoFileMissing);
    EXPECT_EQ(missing.stats.nMemoTextsLost, 5);
    ASSERT_EQ(missing.errors.size(), 1u);
    EXPECT_NE(missing.errors[0].find("memo file"), std::string::npos);
    EXPECT_EQ(FieldTexts(dir.File("missing_out.dbf"), 0).size(), 5u);
}

} // namespace
