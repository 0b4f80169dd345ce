#pragma once
// The end of a run's report: the counts the run kept, the columns it
// mended, and what the damaged header said that the file did not bear out,
// in words for people (the structure fixes).

#include <cstdint>
#include <string>
#include <vector>

class CRawMemoReader;
struct DamagedTableLayout;
struct RepairReport;
struct RepairStatistics;

class CRepairReportFinisher {
public:
    CRepairReportFinisher(RepairReport& report, const RepairStatistics& stats) : m_report(report), m_stats(stats) {}

    // Completes the report of a run that read the layout, found its records
    // at nDataStart and mended the firstMended records of each column of
    // the new table (the first few). bDone: the run saved its table.
    void Finish(bool bDone, const DamagedTableLayout& layout, uint64_t nDataStart, const CRawMemoReader& memo,
                const std::vector<std::vector<int64_t>>& firstMended);
    // The repair worked on a copy with a text-mode transfer undone, of the
    // table (and its memo file) or of the memo file alone: said first.
    void NoteTransferUndone(bool bTableConverted, bool bMemoConverted);

    // The fix told for a last record the end of the file cut off after
    // nHeld of its nRecordLength bytes.
    static std::string CutOffRecordFix(uint64_t nHeld, uint32_t nRecordLength);

private:
    RepairReport& m_report;
    const RepairStatistics& m_stats;
};
