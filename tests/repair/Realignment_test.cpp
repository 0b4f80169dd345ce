// Damage that shifts every record after it (a lost sector, stray bytes, a
// zeroed stretch) and a text-mode transfer of the table and its memo file:
// every record outside the damaged stretch comes back exact, no row is made
// of shifted bytes, and the report names the stretch.

#include "platform/ErrorReporter.h"
#include "repair/DBFRepair.h"
#include "repair/PeerTables.h"

#include <gtest/gtest.h>

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
        {"sector", 512, 0, 0, false, 12}, {"one_byte", 0, 1, 0, false, 1}, {"seven_bytes", 0, 7, 0, false, 1},
        {"three_hundred_bytes", 0, 300, 0, false, 1}, {"zeroed_4k", 0, 0, 4096, false, 87},
        {"text_mode", 0, 0, 0, true, 0},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.pszName);
        std::vector<unsigned char> damaged = table;
        std::vector<unsigned char> damagedMemo = memo;
        if (d.bTextMode) {
            for (auto* pBytes : {&damaged, &damagedMemo}) {
                std::vector<unsigned char> converted;
                for (unsigned char c : *pBytes) {
                    if (c == '\n')
                        converted.push_back('\r');
                    converted.push_back(c);
                }
                pBytes->swap(converted);
            }
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
        EXPECT_FALSE(report.realignments.empty());
        EXPECT_GT(report.nRecordsDropped, 0);
        EXPECT_TRUE(report.HasLosses());
    }
}

} // namespace
