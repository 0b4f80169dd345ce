#pragma once
// Where a record of the source stands in the preview grid, which shows the
// repaired table: every record the report lists as dropped has no row, so a
// saved record's row is its number less the dropped records before it, and
// a dropped record's place is the row that follows where it was.

#include "repair/RepairReport.h"

#include <cstdint>
#include <vector>

class CRecordGridRows {
public:
    explicit CRecordGridRows(const RepairReport& report);

    // The grid row (from 0) of record nRecord of the source (from 1).
    int64_t RowOf(int64_t nRecord) const;

private:
    std::vector<int64_t> m_dropped; // source numbers of the dropped records, ascending
};
