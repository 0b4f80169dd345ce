#pragma once
// Tables the repair tests make through our own storage engine, for the
// formats no peer writes, and one engine run with what it reported.

#include "dbf/DBFRecordset.h"
#include "dbf/DBFTableDef.h"
#include "dbf/DbfTestFields.h"
#include "platform/ErrorReporter.h"
#include "platform/File.h"
#include "repair/DBFRepair.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace repairtest {

// One run of the engine (mode 0) with the errors it reported.
struct Repaired {
    bool bOk = false;
    RepairStatistics stats;
    std::vector<std::string> errors;
};

inline Repaired RepairTable(const std::string& strSource, const std::string& strOutput)
{
    CRecordingReporter reporter;
    CScopedErrorReporter scope(&reporter);
    CDBFRepair engine;
    Repaired result;
    result.bOk = engine.Repair(strSource, strOutput);
    result.stats = engine.GetStatistics();
    result.errors = reporter.Messages();
    return result;
}

// A SIx table (0xE5, .SMT memo) with NAME C(8) and NOTES M(10): one record
// per text, named "n0", "n1", …; an empty text leaves the record's memo
// field without a value.
inline void WriteSIxTable(const std::string& strPath, const std::vector<std::string>& texts)
{
    CDBFTableDef table;
    ASSERT_TRUE(table.Create(strPath));
    table.SetNewTableKind(0xE5, 0);
    table.CreateField(dbftest::Field("NAME", 'C', 8));
    table.CreateField(dbftest::Field("NOTES", 'M', 10));
    table.Append();
    table.Close();
    CDBFRecordset rs;
    rs.Open(strPath, CFile::modeReadWrite | CFile::shareDenyNone);
    ASSERT_TRUE(rs.IsOpen());
    for (size_t i = 0; i < texts.size(); ++i) {
        rs.AddNew();
        rs.SetFieldValue(0, FieldValue::MakeText("n" + std::to_string(i)));
        if (!texts[i].empty())
            rs.SetFieldValue(1, FieldValue::MakeText(texts[i]));
        rs.Update();
    }
}

} // namespace repairtest
