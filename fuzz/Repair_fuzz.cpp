// The whole repair: a damaged table and its memo file repaired into the
// scratch folder. Rules: the source files are never changed; a run that
// reports success leaves a table that the storage engine opens, with the
// record count the run reported, and whose every record and field reads.

#include "dbf/DBFRecordset.h"
#include "fuzz/FuzzFiles.h"
#include "platform/Exception.h"
#include "repair/DBFRepair.h"
#include "repair/RepairState.h"

#include <filesystem>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    orvfuzz::SilenceReports();
    orvfuzz::ClearScratch();
    const orvfuzz::CarvedTable input = orvfuzz::Carve(pData, nSize);
    std::string strMemo;
    const std::string strSource = orvfuzz::PlaceTable(input, "damaged", strMemo);
    const std::string strOutFolder = orvfuzz::ScratchFolder() + "/out";
    std::filesystem::create_directory(strOutFolder);
    const std::string strOutput = strOutFolder + "/repaired.dbf";

    CDBFRepair engine;
    bool bDone = false;
    try {
        bDone = engine.Repair(strSource, strOutput);
    } catch (const CException&) {
        bDone = false;
    }
    const RepairStatistics& stats = engine.GetStatistics();

    ORV_FUZZ_CHECK(orvfuzz::ReadFile(strSource) == std::vector<uint8_t>(input.table.begin(), input.table.end()),
                   "the source table is unchanged");
    if (!strMemo.empty())
        ORV_FUZZ_CHECK(orvfuzz::ReadFile(strMemo) == std::vector<uint8_t>(input.memo.begin(), input.memo.end()),
                       "the source memo file is unchanged");
    if (!bDone || stats.bStopped)
        return 0;

    CDBFRecordset rs;
    try {
        rs.Open(strOutput, CFile::modeRead | CFile::shareDenyNone);
    } catch (const CException& e) {
        orvfuzz::Broken("the repaired table does not open: " + e.GetMessage());
    }
    ORV_FUZZ_CHECK(rs.IsOpen(), "the repaired table opens");
    ORV_FUZZ_CHECK(rs.GetRecordCount() == stats.nRecordsWritten, "the repaired table holds the records reported");
    ORV_FUZZ_CHECK(rs.GetFieldCount() == stats.nFieldCount, "the repaired table has the fields reported");
    try {
        // Open has read record 0 (when there is one).
        for (; !rs.IsEOF(); rs.MoveNext()) {
            for (int i = 0; i < rs.GetFieldCount(); ++i) {
                FieldValue value;
                rs.GetFieldValue(i, value);
            }
        }
    } catch (const CException& e) {
        orvfuzz::Broken("a record of the repaired table does not read: " + e.GetMessage());
    }
    return 0;
}

std::vector<std::vector<uint8_t>> orvfuzz::MakeSeeds(const std::string& strFixtures)
{
    return TableSeeds(strFixtures);
}
