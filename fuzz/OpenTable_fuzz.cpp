// Opening a table: open it through the storage engine, walk every record and
// decode every field, memo values included. Errors of the engine (CException)
// are the expected answer to bad input; anything else, a crash, a hang or
// runaway memory is a fault.

#include "dbf/DBFRecordset.h"
#include "fuzz/FuzzFiles.h"
#include "platform/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    orvfuzz::SilenceReports();
    orvfuzz::ClearScratch();
    const orvfuzz::CarvedTable input = orvfuzz::Carve(pData, nSize);
    std::string strMemo;
    const std::string strTable = orvfuzz::PlaceTable(input, "table", strMemo);

    CDBFRecordset rs;
    try {
        rs.Open(strTable, CFile::modeRead | CFile::shareDenyNone);
    } catch (const CException&) {
        return 0;
    }
    if (!rs.IsOpen())
        return 0;
    const int nFields = rs.GetFieldCount();
    try {
        // Open has read record 0 (when there is one).
        for (; !rs.IsEOF(); rs.MoveNext()) {
            (void)rs.IsDeleted();
            for (int i = 0; i < nFields; ++i) {
                FieldValue value;
                try {
                    rs.GetFieldValue(i, value);
                } catch (const CException&) {
                    // One bad value does not end the walk.
                }
            }
        }
    } catch (const CException&) {
        // A record that cannot be read ends the walk.
    }
    rs.Close();
    return 0;
}

std::vector<std::vector<uint8_t>> orvfuzz::MakeSeeds(const std::string& strFixtures)
{
    return TableSeeds(strFixtures);
}
