#pragma once
// The new table's structure for one salvage: the damaged header and
// descriptors where they are sound, mended where they are not.

#include "dbf/DBFFormat.h"
#include "repair/RepairedTableWriter.h"

#include <cstdint>
#include <string>

class CFile;
class CRepairContext;
struct DamagedTableLayout;
struct RepairReport;
struct RepairStatistics;

class CLayoutPlanner {
public:
    // memoFormat: the source memo file's, None when there is none to read;
    // nMemoBlockSize: its block size. The area between the terminator and
    // nDataStart is read from source. What is left out, mended or missing
    // goes to the run's report and error reporter (the context) and to the
    // statistics.
    CLayoutPlanner(DamagedTableLayout& layout, CFile& source, uint64_t nDataStart, dbfformat::MemoKind memoFormat,
                   uint32_t nMemoBlockSize, CRepairContext& context, RepairStatistics& stats);

    // Numbers the columns of the layout's fields (-1 for those left out)
    // and returns the structure to create.
    RepairedTableLayout Plan(const std::string& strSource);

private:
    // The new table's version byte: the source's when it is a known one
    // (made memo-bearing when memo fields need it), else derived from the
    // fields and the memo file.
    uint8_t ChooseVersion() const;
    // Tells the user through the error reporter and keeps the fix in the report.
    void NoteFix(const std::string& strMessage, const std::string& strFix);

    DamagedTableLayout& m_layout;
    CFile& m_source;
    uint64_t m_nDataStart;
    dbfformat::MemoKind m_memoFormat;
    uint32_t m_nMemoBlockSize;
    CRepairContext& m_context;
    RepairReport& m_report;
    RepairStatistics& m_stats;
};
