#include "repair/PreviewFiller.h"

#include "repair/PreviewGridSink.h"
#include "repair/RepairContext.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

class CCountingGrid : public IPreviewGridSink {
public:
    void ClearGrid() override {}
    void InsertColumn(int, const std::string& strHeading) override { headings += strHeading + " "; }
    void InsertRow(int nIndex, const std::string& strLabel) override
    {
        EXPECT_EQ(strLabel, std::to_string(nIndex + 1));
        ++nRows;
    }
    void SetCellText(int, int, const std::string&) override {}
    void SetRowDeleted(int) override { ++nDeleted; }

    std::string headings;
    int nRows = 0;
    int nDeleted = 0;
};

} // namespace

// Over the real tables, read both ways: a row per record and a mark per deleted record, as
// python3-dbfread counts them, cut at the row limit; a column per field but
// the hidden _NullFlags.
TEST(PreviewFiller, ShowsEveryRecordThePeerReads)
{
    const std::string strScript = R"PY(
import sys, glob, dbfread
for p in sorted(glob.glob(sys.argv[1] + '/*.dbf')):
    t = dbfread.DBF(p, raw=True, ignore_missing_memofile=True, load=False)
    names = ' '.join(n for n in t.field_names if n.upper() != '_NULLFLAGS')
    print(p, sum(1 for _ in t), sum(1 for _ in t.deleted), ('Index ' + names + ' ').replace(' ', '|'))
)PY";
    std::istringstream peer(orvtest::RunPython(strScript, {orvtest::RealFixturesDir()}).strOut);
    int nTables = 0;
    std::string strPath, strHeadings;
    int nLive = 0, nDeleted = 0;
    while (peer >> strPath >> nLive >> nDeleted >> strHeadings) {
        SCOPED_TRACE(strPath);
        ++nTables;
        // A sound table reads the same through the storage engine and as found.
        for (const auto& [nLimit, bAsFound] : {std::pair{int64_t(0), false}, std::pair{int64_t(3), false},
                                               std::pair{int64_t(0), true}, std::pair{int64_t(3), true}}) {
            CRepairRunState state;
            CRepairContext context(state);
            CCountingGrid grid;
            CPreviewFiller filler(context, nLimit, std::string());
            if (bAsFound) {
                filler.FillAsFound(strPath, &grid);
            } else {
                filler.Fill(strPath, &grid);
            }
            const int nAll = nLive + nDeleted;
            EXPECT_EQ(grid.nRows, nLimit == 0 ? nAll : std::min<int>(nAll, static_cast<int>(nLimit)));
            if (nLimit == 0) {
                EXPECT_EQ(grid.nDeleted, nDeleted);
            }
            std::string strSeen = grid.headings;
            for (char& c : strSeen)
                c = c == ' ' ? '|' : c;
            EXPECT_EQ(strSeen, strHeadings);
        }
    }
    EXPECT_GE(nTables, 8);
}
