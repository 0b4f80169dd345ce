// Random damage thrown at the repair engine: whatever the bytes, a run ends
// with a result or a reported error, never a crash, a hang or a write to the
// source; a run that says it succeeded leaves a table that opens.

#include "dbf/DBFRecordset.h"
#include "platform/ErrorReporter.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "repair/DBFRepair.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

using orvtest::TempDir;

class CCountingGrid : public IPreviewGridSink {
public:
    void ClearGrid() override { m_nRows = m_nColumns = 0; }
    void InsertColumn(int, const std::string&) override { ++m_nColumns; }
    void InsertRow(int, const std::string&) override { ++m_nRows; }
    void SetCellText(int nRow, int nColumn, const std::string&) override
    {
        // Cells only ever land in rows and columns that exist.
        EXPECT_LT(nRow, m_nRows);
        EXPECT_LT(nColumn, m_nColumns);
    }
    int m_nRows = 0;
    int m_nColumns = 0;
};

void Damage(std::vector<unsigned char>& bytes, std::mt19937& rng)
{
    if (bytes.empty())
        return;
    switch (rng() % 4) {
    case 0: // scattered bytes anywhere
        for (int i = 0, n = 1 + static_cast<int>(rng() % 16); i < n; ++i)
            bytes[rng() % bytes.size()] = static_cast<unsigned char>(rng());
        break;
    case 1: // the header and descriptors, where damage hurts most
        for (int i = 0, n = 1 + static_cast<int>(rng() % 8); i < n; ++i)
            bytes[rng() % std::min<size_t>(bytes.size(), 600)] = static_cast<unsigned char>(rng());
        break;
    case 2: // a run of zeros or 0xFF, as a bad sector leaves it
    {
        const size_t at = rng() % bytes.size();
        const size_t len = std::min<size_t>(bytes.size() - at, 1 + rng() % 700);
        std::fill_n(bytes.begin() + static_cast<long>(at), len, (rng() & 1) ? 0x00 : 0xFF);
        break;
    }
    default: // cut short
        bytes.resize(rng() % bytes.size());
        break;
    }
}

} // namespace

TEST(HostileBytes, RandomDamageToRealTablesAndMemosNeverCrashesOrTouchesTheSource)
{
    const std::string strFixtures = orvtest::RealFixturesDir();
    ASSERT_TRUE(std::filesystem::is_directory(strFixtures));
    std::mt19937 rng(20261208);
    CRecordingReporter reporter;
    CScopedErrorReporter scope(&reporter);
    int nRuns = 0, nDone = 0;
    // ORV_HOSTILE_ROUNDS asks for a longer hunt than the suite's default.
    const char* pRounds = std::getenv("ORV_HOSTILE_ROUNDS");
    const int nRounds = pRounds ? std::max(1, std::atoi(pRounds)) : 24;

    for (const auto& entry : std::filesystem::directory_iterator(strFixtures)) {
        if (entry.path().extension() != ".dbf")
            continue;
        // The memo companions of this table (any extension but .dbf, same stem).
        std::vector<std::filesystem::path> memos;
        for (const auto& other : std::filesystem::directory_iterator(strFixtures))
            if (other.path().stem() == entry.path().stem() && other.path() != entry.path())
                memos.push_back(other.path());

        for (int round = 0; round < nRounds; ++round) {
            TempDir dir;
            const std::string strSource = dir.File(entry.path().filename().string());
            auto table = orvtest::ReadBytes(entry.path().string());
            Damage(table, rng);
            orvtest::WriteBytes(strSource, table);
            std::vector<std::pair<std::string, std::vector<unsigned char>>> memoCopies;
            for (const auto& memo : memos) {
                auto bytes = orvtest::ReadBytes(memo.string());
                if (rng() % 2)
                    Damage(bytes, rng);
                memoCopies.emplace_back(dir.File(memo.filename().string()), bytes);
                orvtest::WriteBytes(memoCopies.back().first, bytes);
            }

            std::filesystem::create_directory(dir.File("out"));
            const std::string strOutput = dir.File("out/repaired.dbf");
            CCountingGrid grid;
            CDBFRepair engine(nullptr, &grid);
            bool bOk = false;
            try {
                bOk = engine.Repair(strSource, strOutput);
            } catch (const CException& e) {
                // A reported failure is an acceptable end; anything else
                // escapes and fails the test.
                SCOPED_TRACE(e.GetMessage());
            }
            ++nRuns;

            ASSERT_EQ(orvtest::ReadBytes(strSource), table) << entry.path() << " round " << round;
            for (const auto& [path, bytes] : memoCopies)
                ASSERT_EQ(orvtest::ReadBytes(path), bytes) << path;

            if (bOk) {
                ++nDone;
                CDBFRecordset rs;
                rs.Open(strOutput, CFile::modeRead | CFile::shareDenyNone);
                ASSERT_TRUE(rs.IsOpen()) << entry.path() << " round " << round;
                EXPECT_EQ(rs.GetRecordCount(), engine.GetStatistics().nRecordsWritten);
            }
        }
    }
    EXPECT_GE(nRuns, 8 * nRounds);
    std::printf("%d damaged tables, %d repaired\n", nRuns, nDone);
    // Most damage leaves something to save: the engine must not give up on
    // every damaged table.
    EXPECT_GT(nDone, nRuns / 2);
}
