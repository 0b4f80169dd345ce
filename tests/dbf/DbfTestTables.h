#pragma once
// Tables for the storage engine tests, made through Create/CreateField/Append.

#include "DbfTestFields.h"
#include "dbf/DBFTableDef.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dbftest {

// A table with the fields and no records, closed again.
inline void CreateTable(const std::string& strPath, const std::vector<DBFFieldDescriptor>& fields)
{
    CDBFTableDef table;
    ASSERT_TRUE(table.Create(strPath));
    for (const auto& fd : fields)
        table.CreateField(fd);
    table.Append();
    table.Close();
}

} // namespace dbftest
