// Damage that shifts every record after it (a lost sector, stray bytes, a
// zeroed stretch) and a text-mode transfer of the table and its memo file:
// every record outside the damaged stretch comes back exact, no row is made
// of shifted bytes, and the report names the stretch. A transfer that
// reached the header, or the memo file alone, is turned back too; a sound
// table whose bytes hold CR LF is not.

#include "platform/ErrorReporter.h"
#include "repair/DBFRepair.h"
#include "repair/PeerTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using orvtest::TempDir;

struct Damage {
    const char* pszName;
    uint64_t nRemove;  // bytes taken out at the damage point
    uint64_t nInsert;  // stray bytes put in there
    uint64_t nZero;    // bytes zeroed there
    bool bTextMode;    // every LF of both files made CR LF
    int64_t nMostLost; // records that may be lost
};

// python3-dbfread's view of the records (all of them, deleted included),
// one repr per line, for a comparison as sets.
std::vector<std::string> RecordLines(const std::string& strPath)
{
    const std::string strOut = orvtest::PeerRecords(strPath);
    std::vector<std::string> lines;
    size_t nFrom = 0;
    for (size_t nEnd; (nEnd = strOut.find('\n', nFrom)) != std::string::npos; nFrom = nEnd + 1)
        lines.push_back(strOut.substr(nFrom, nEnd - nFrom));
    return lines;
}

// The bytes as a text-mode transfer leaves them: every LF made CR LF.
std::vector<unsigned char> TextModeCopy(const std::vector<unsigned char>& bytes)
{
    std::vector<unsigned char> converted;
    for (unsigned char c : bytes) {
        if (c == '\n')
            converted.push_back('\r');
        converted.push_back(c);
    }
    return converted;
}

TEST(Realignment, RecordsOutsideTheDamageComeBackExact)
{
    TempDir dir;
    const std::string strBase = dir.File("base.dbf");
    std::string strRows = "[";
    for (int i = 0; i < 300; ++i) {
        strRows += "('name " + std::to_string(i) + "', " + std::to_string(i) + ".25, datetime.date(2001, 1, "
            + std::to_string(1 + i % 28) + "), " + (i % 2 ? "True" : "False") + ", 'memo\\n" + std::to_string(i)
            + "\\r\\nline' * " + std::to_string(1 + i % 4) + "),";
    }
    orvtest::WritePeerTable(strBase, "name C(20); qty N(10,2); day D; ok L; notes M", "fp", strRows + "]",
                            "dbf.delete(t[3])");
    const std::vector<unsigned char> table = orvtest::ReadBytes(strBase);
    const std::vector<unsigned char> memo = orvtest::ReadBytes(dir.File("base.fpt"));
    const uint64_t nRecordLength = orvtest::RecordLengthOf(strBase);
    const uint64_t nAt = orvtest::HeaderLengthOf(strBase) + 150 * nRecordLength + 7;
    const std::vector<std::string> original = RecordLines(strBase);
    ASSERT_EQ(original.size(), 300u);

    const Damage damages[] = {
        {"sector", 512, 0, 0, false, 13}, {"one_byte", 0, 1, 0, false, 2}, {"seven_bytes", 0, 7, 0, false, 2},
        {"three_hundred_bytes", 0, 300, 0, false, 2}, {"zeroed_4k", 0, 0, 4096, false, 87},
        {"text_mode", 0, 0, 0, true, 0},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.pszName);
        std::vector<unsigned char> damaged = table;
        std::vector<unsigned char> damagedMemo = memo;
        if (d.bTextMode) {
            damaged = TextModeCopy(damaged);
            damagedMemo = TextModeCopy(damagedMemo);
        }
        damaged.erase(damaged.begin() + static_cast<long>(nAt), damaged.begin() + static_cast<long>(nAt + d.nRemove));
        for (uint64_t i = 0; i < d.nInsert; ++i)
            damaged.insert(damaged.begin() + static_cast<long>(nAt + i), static_cast<unsigned char>(i * 37 + 11));
        std::fill_n(damaged.begin() + static_cast<long>(nAt), d.nZero, 0);
        const std::string strDamaged = dir.File(std::string(d.pszName) + ".dbf");
        orvtest::WriteBytes(strDamaged, damaged);
        orvtest::WriteBytes(dir.File(std::string(d.pszName) + ".fpt"), damagedMemo);

        CRecordingReporter reporter;
        CScopedErrorReporter scope(&reporter);
        CDBFRepair engine;
        const std::string strOut = dir.File(std::string(d.pszName) + "_out.dbf");
        ASSERT_TRUE(engine.Repair(strDamaged, strOut));
        const RepairReport& report = engine.GetReport();

        const std::vector<std::string> repaired = RecordLines(strOut);
        int64_t nExact = 0;
        for (const std::string& strLine : repaired)
            nExact += std::find(original.begin(), original.end(), strLine) != original.end() ? 1 : 0;
        EXPECT_EQ(nExact, static_cast<int64_t>(repaired.size())) << "rows made of shifted bytes";
        EXPECT_GE(nExact, 300 - d.nMostLost);
        EXPECT_EQ(report.nRecordsWritten, static_cast<int64_t>(repaired.size()));
        if (d.bTextMode) {
            EXPECT_TRUE(report.bTransferUndone);
            EXPECT_EQ(report.nMemosMissing, 0);
            EXPECT_EQ(report.nMemosRecovered, 300);
            continue;
        }
        // The stretch is named: a dropped range around the damage point, and
        // the salvage lined up again after it.
        bool bNamed = false;
        for (const RepairReport::DroppedRange& range : report.dropped)
            bNamed = bNamed || (range.nOffset <= nAt && nAt < range.nOffset + range.nLength + nRecordLength);
        EXPECT_TRUE(bNamed);
        // Zeros move no bytes: the records after them stay where they were.
        EXPECT_EQ(report.realignments.empty(), d.nZero > 0);
        EXPECT_GT(report.nRecordsDropped, 0);
        EXPECT_TRUE(report.HasLosses());
    }
}

// Tables whose header holds LF bytes (10 records, a field 10 wide, a date
// of the 10th) sent with their memo files, memo files sent alone, real
// programs' tables and memo files, and a sound table with CR LF in its
// texts and a record count of 0x0A0D.
TEST(Realignment, TextModeTransferOfHeaderAndMemo)
{
    constexpr const char* kBoth = "the table and its memo file were turned back";
    constexpr const char* kTable = "the table was turned back";
    constexpr const char* kMemo = "The memo file went through a text-mode transfer";
    const struct {
        const char* pszName;
        const char* pszSource; // python3-dbf table kind, or a real fixture with its memo file's extension
        int nRecords;          // for python3-dbf
        bool bTable;           // the table went through the transfer
        bool bMemo;            // the memo file did
        const char* pszFix;    // what the first structure fix says; nullptr: no transfer is named
    } cases[] = {
        {"fpt_with_table", "fp", 10, true, true, kBoth},
        {"dbt_with_table", "db3", 10, true, true, kBoth},
        {"fpt_alone", "fp", 10, false, true, kMemo},
        {"dbt_alone", "db3", 10, false, true, kMemo},
        {"table_alone", "fp", 10, true, false, kTable},
        {"sound_count_0A0D", "fp", 0x0A0D, false, false, nullptr},
        {"dbase_iv_with_table", "dbase_8b.dbt", 0, true, true, kBoth},
        {"dbase_iii_alone", "dbase_83.dbt", 0, false, true, kMemo},
        {"visual_foxpro_alone", "dbase_30.fpt", 0, false, true, kMemo},
        {"foxpro_table_alone", "dbase_f5.fpt", 0, true, false, kTable},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::string strBase = dir.File(std::string(c.pszName) + "_base.dbf");
        const std::string strSource = c.pszSource;
        const size_t nDot = strSource.find('.');
        const std::string strMemoExt = nDot != std::string::npos ? strSource.substr(nDot) : strSource == "fp" ? ".fpt" : ".dbt";
        const std::string strBaseMemo = dir.File(std::string(c.pszName) + "_base" + strMemoExt);
        if (nDot != std::string::npos) {
            const std::string strFixture = orvtest::RealFixturesDir() + "/" + strSource.substr(0, nDot);
            orvtest::WriteBytes(strBase, orvtest::ReadBytes(strFixture + ".dbf"));
            orvtest::WriteBytes(strBaseMemo, orvtest::ReadBytes(strFixture + strMemoExt));
        } else {
            orvtest::WritePeerTable(strBase, "name C(10); day D; notes M", strSource,
                                    "[('n%d\\r\\n' % i, datetime.date(2001, 10, 10), ('memo %d\\nline\\r\\n' % i) * (1 + i % 3))"
                                    " for i in range(" + std::to_string(c.nRecords) + ")]");
            orvtest::PatchBytes(strBase, 3, {10}); // last updated on the 10th
        }
        std::vector<unsigned char> table = orvtest::ReadBytes(strBase);
        std::vector<unsigned char> memo = orvtest::ReadBytes(strBaseMemo);
        if (c.bTable)
            table = TextModeCopy(table);
        if (c.bMemo)
            memo = TextModeCopy(memo);
        const std::string strSent = dir.File(std::string(c.pszName) + ".dbf");
        orvtest::WriteBytes(strSent, table);
        orvtest::WriteBytes(dir.File(std::string(c.pszName) + strMemoExt), memo);

        CRecordingReporter reporter;
        CScopedErrorReporter scope(&reporter);
        CDBFRepair engine;
        const std::string strOut = dir.File(std::string(c.pszName) + "_out.dbf");
        ASSERT_TRUE(engine.Repair(strSent, strOut));
        const RepairReport& report = engine.GetReport();
        // Real programs' texts hold bytes that cp1252 leaves undefined.
        EXPECT_EQ(orvtest::CompareWithPeer(strBase, strOut, nDot != std::string::npos ? "{'encoding': 'latin1'}" : "{}"),
                  "OK");
        EXPECT_EQ(report.bTransferUndone, c.pszFix != nullptr);
        const std::string strFirstFix = report.structureFixes.empty() ? std::string() : report.structureFixes.front();
        if (c.pszFix != nullptr)
            EXPECT_NE(strFirstFix.find(c.pszFix), std::string::npos) << strFirstFix;
        else
            EXPECT_EQ(strFirstFix.find("text-mode"), std::string::npos) << strFirstFix;
        EXPECT_EQ(orvtest::ReadBytes(strSent), table) << "the source was written";
    }
}

// The salvage reads the record area a megabyte at a time and looks ahead
// of the record it takes: stray bytes anywhere around the end of the first
// piece must cost the record they hit and the one before it, and every
// other record must come back exact and in order.
TEST(Realignment, StrayBytesAtTheEndOfAReadPiece)
{
    TempDir dir;
    constexpr uint32_t kRecordLength = 1 + 20 + 10 + 8;
    constexpr uint32_t kHeaderLength = 32 + 3 * 32 + 1;
    constexpr uint32_t kRecords = 30000;
    std::vector<unsigned char> table(kHeaderLength, 0);
    table[0] = 0x03;
    table[4] = kRecords & 0xFF;
    table[5] = (kRecords >> 8) & 0xFF;
    table[8] = kHeaderLength & 0xFF;
    table[9] = kHeaderLength >> 8;
    table[10] = kRecordLength;
    const struct {
        const char* pszName;
        char chType;
        uint8_t nLength;
        uint8_t nDecimals;
    } fields[] = {{"NAME", 'C', 20, 0}, {"QTY", 'N', 10, 2}, {"DAY", 'D', 8, 0}};
    for (int i = 0; i < 3; ++i) {
        unsigned char* p = table.data() + 32 + 32 * i;
        std::memcpy(p, fields[i].pszName, std::strlen(fields[i].pszName));
        p[11] = static_cast<unsigned char>(fields[i].chType);
        p[16] = fields[i].nLength;
        p[17] = fields[i].nDecimals;
    }
    table[kHeaderLength - 1] = 0x0D;
    std::vector<std::string> records;
    for (uint32_t i = 0; i < kRecords; ++i) {
        char sz[64];
        // Letters in every record, so that no shifted view of the records
        // passes the number and date checks.
        std::snprintf(sz, sizeof sz, " Customer-%06u-abcd%10.2f2001%02u%02u", i, i * 0.25, 1 + i % 12, 1 + i % 28);
        records.emplace_back(sz, kRecordLength);
        table.insert(table.end(), records.back().begin(), records.back().end());
    }
    table.push_back(0x1A);

    const uint64_t nPieceEnd = kHeaderLength + 1024 * 1024;
    for (uint64_t nAt = nPieceEnd - 5 * kRecordLength; nAt < nPieceEnd + 2 * kRecordLength; nAt += 11) {
        SCOPED_TRACE(nAt);
        std::vector<unsigned char> damaged = table;
        const unsigned char stray[7] = {0x41, 0x2A, 0x39, 0x20, 0x00, 0x2E, 0x7F};
        damaged.insert(damaged.begin() + static_cast<long>(nAt), std::begin(stray), std::end(stray));
        orvtest::WriteBytes(dir.File("damaged.dbf"), damaged);

        CRecordingReporter reporter;
        CScopedErrorReporter scope(&reporter);
        CDBFRepair engine;
        ASSERT_TRUE(engine.Repair(dir.File("damaged.dbf"), dir.File("out.dbf")));
        const std::vector<unsigned char> out = orvtest::ReadBytes(dir.File("out.dbf"));
        const uint32_t nOutHeader = out[8] | (out[9] << 8);
        const uint32_t nWritten = out[4] | (out[5] << 8) | (out[6] << 16);
        auto written = [&](uint32_t i) {
            return std::string(reinterpret_cast<const char*>(out.data()) + nOutHeader + i * kRecordLength, kRecordLength);
        };
        // The records before and after the one that was hit, exact.
        uint32_t nFront = 0;
        while (nFront < nWritten && nFront < kRecords && written(nFront) == records[nFront])
            ++nFront;
        uint32_t nBack = 0;
        while (nBack < nWritten - nFront && nBack < kRecords - nFront
               && written(nWritten - 1 - nBack) == records[kRecords - 1 - nBack])
            ++nBack;
        EXPECT_GE(nFront + nBack, nWritten - 1) << "rows made of shifted bytes";
        // The record hit, and the one before it when the records moved.
        EXPECT_GE(nFront + nBack, kRecords - 2) << "records lost";
    }
}

} // namespace

namespace {

// A table of nothing but digits and blanks, with bytes inserted far into
// it: a start shifted by as many bytes fills the file exactly and its first
// records fit perfectly as well. The header's own start wins, so the
// records before the damage are not read shifted.
TEST(Realignment, DigitsAndBlanksKeepTheHeadersStart)
{
    TempDir dir;
    const std::string strTable = dir.File("digits.dbf");
    orvtest::WritePeerTable(strTable, "code C(6); qty N(8,0); num N(6,0)", "db3",
                            "[('%d' % (i % 1000), i * 7 % 100000, i % 500) for i in range(2000)]");
    // Codes right-aligned, as many programs keep them (python3-dbf strips
    // leading blanks when it writes).
    const uint32_t nHeader = orvtest::HeaderLengthOf(strTable);
    const uint32_t nRecord = orvtest::RecordLengthOf(strTable);
    std::vector<unsigned char> bytes = orvtest::ReadBytes(strTable);
    for (uint32_t r = 0; r < 2000; ++r) {
        const auto code = bytes.begin() + nHeader + r * nRecord + 1;
        std::rotate(code, std::find(code, code + 6, ' '), code + 6);
    }
    orvtest::WriteBytes(strTable, bytes);
    std::vector<unsigned char> damaged = bytes;
    const uint64_t nAt = nHeader + 500ULL * nRecord + 5;
    damaged.insert(damaged.begin() + static_cast<long>(nAt), {'X', 'Y', 'Z'});
    orvtest::WriteBytes(dir.File("damaged.dbf"), damaged);

    CRecordingReporter reporter;
    CScopedErrorReporter scope(&reporter);
    CDBFRepair engine;
    ASSERT_TRUE(engine.Repair(dir.File("damaged.dbf"), dir.File("out.dbf")));
    EXPECT_EQ(engine.GetReport().nRecordAreaStart, nHeader);
    const std::vector<std::string> before = RecordLines(strTable);
    const std::vector<std::string> after = RecordLines(dir.File("out.dbf"));
    // The record just before the damaged one goes with it (the walk cannot
    // tell where in the two the inserted bytes began); all before it stay.
    ASSERT_GE(after.size(), 499u);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 499, after.begin()));
}

} // namespace
