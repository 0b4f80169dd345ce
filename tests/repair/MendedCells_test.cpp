// The cells a repair mends reach the front ends with the bytes the source
// held there: each damaged value of a table written by python3-dbf is found
// at its record and grid column, holding the damaged file's bytes, and no
// sound cell is listed.

#include "repair/DBFRepair.h"
#include "repair/PeerTables.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// NAME C(10) at byte 1, QTY N(6,0) at 11, SOLD D at 17: grid columns 1 to 3.
struct Column {
    uint32_t nOffset;
    uint32_t nLength;
};
const Column kColumns[] = {{1, 10}, {11, 6}, {17, 8}};
constexpr int kRecords = 30;

struct Damage {
    int nRecord; // from 1
    int nColumn; // grid column
    std::string strBytes;
};

struct Case {
    const char* pszName;
    std::vector<Damage> damage;
    int nCutInto = 0; // grid column of the last record that the end of the file cuts, or 0
};

const Case kCases[] = {
    {"numbers and dates", {{3, 2, "12x4!?"}, {17, 3, "2001ab31"}, {17, 2, "\x01\x02\x03\x04\x05\x06"}}},
    {"one value", {{30, 3, "99999999"}}},
    {"cut inside a field", {}, 2},
};

} // namespace

class MendedCellsTest : public ::testing::TestWithParam<Case> {};

TEST_P(MendedCellsTest, EveryMendedCellCarriesTheSourcesBytes)
{
    const Case& c = GetParam();
    orvtest::TempDir dir;
    const std::string strSource = dir.File("t.dbf");
    orvtest::WritePeerTable(strSource, "name C(10); qty N(6,0); sold D", "db3",
                            "[('r%d' % i, i, datetime.date(2001, 1, 1 + i % 28)) for i in range(30)]");
    std::vector<unsigned char> bytes = orvtest::ReadBytes(strSource);
    const uint32_t nHeader = bytes[8] | (bytes[9] << 8);
    const uint32_t nRecordLength = bytes[10] | (bytes[11] << 8);
    const auto at = [&](int nRecord, int nColumn) {
        return nHeader + static_cast<size_t>(nRecord - 1) * nRecordLength + kColumns[nColumn - 1].nOffset;
    };
    std::set<std::pair<int64_t, int>> expected;
    for (const Damage& d : c.damage) {
        std::copy(d.strBytes.begin(), d.strBytes.end(), bytes.begin() + static_cast<ptrdiff_t>(at(d.nRecord, d.nColumn)));
        expected.insert({d.nRecord, d.nColumn});
    }
    if (c.nCutInto > 0) {
        // Two bytes of the field are left; the columns after it are gone too.
        bytes.resize(at(kRecords, c.nCutInto) + 2);
        for (int n = c.nCutInto; n <= 3; ++n)
            expected.insert({kRecords, n});
    }
    orvtest::WriteBytes(strSource, bytes);

    CDBFRepair engine;
    ASSERT_TRUE(engine.Repair(strSource, dir.File("out.dbf")));
    ASSERT_EQ(engine.GetReport().nRecordsDropped, 0) << c.pszName;
    const CMendedCells& cells = engine.GetMendedCells();
    EXPECT_EQ(static_cast<int64_t>(cells.GetCells().size()), engine.GetStatistics().nValuesMended) << c.pszName;
    std::set<std::pair<int64_t, int>> found;
    for (const CMendedCells::Cell& cell : cells.GetCells()) {
        found.insert({cell.nRecord, cell.nColumn});
        EXPECT_EQ(cells.Find(cell.nRecord, cell.nColumn), &cell);
        const size_t nAt = at(static_cast<int>(cell.nRecord), cell.nColumn);
        const size_t nHeld = nAt < bytes.size() ? std::min<size_t>(cell.nLength, bytes.size() - nAt) : 0;
        EXPECT_EQ(cell.nLength, kColumns[cell.nColumn - 1].nLength);
        EXPECT_EQ(cell.bCutOff, nHeld < cell.nLength) << c.pszName;
        EXPECT_EQ(cell.strBytes, std::string(bytes.begin() + static_cast<ptrdiff_t>(std::min(nAt, bytes.size())),
                                             bytes.begin() + static_cast<ptrdiff_t>(std::min(nAt, bytes.size()) + nHeld)))
            << c.pszName << " record " << cell.nRecord << " column " << cell.nColumn;
    }
    EXPECT_EQ(found, expected) << c.pszName;
    EXPECT_EQ(cells.Find(1, 1), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Damage, MendedCellsTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string str = info.param.pszName;
                             for (char& ch : str)
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return str;
                         });
