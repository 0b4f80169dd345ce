#pragma once
// The salvage of the records a walk hands out: each damaged record copied
// into the new table field by field, its typed values mended where their
// bytes do not fit, its memo values carried into the new memo file, and
// every record, value and byte range lost named in the report.
//
// A run: ReadMemoReferences, create the new table (Writer), PlanFields,
// then the walk's steps (TakeRecords, DropRange), then the bytes after the
// last whole record (SalvageTail, CountMissingRecords).

#include "repair/FieldSalvage.h"
#include "repair/RecordWalk.h"
#include "repair/RepairReport.h"
#include "repair/RepairedTableWriter.h"

#include <cstdint>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

class CFile;
class CMendedCells;
class CRawMemoReader;
class CRepairContext;
class CRecordWindow;
struct DamagedTableLayout;
struct RepairStatistics;

// Where a damaged field's bytes come from and where they go in the new
// record, and what each record needs done to them.
struct FieldPlan {
    uint32_t nSource;     // offset in the damaged record
    uint32_t nLength;     // width in the damaged record
    int nColumn;          // column of the new table, -1 when left out
    uint32_t nTarget;     // offset in the new record
    uint32_t nTargetLength;
    char chType;
    uint8_t nDecimals;
    bool bCheck;          // bytes whose soundness depends on their content
    bool bMemo;           // a memo reference to carry over
};

class CRecordSalvage {
public:
    // The context's report takes what is lost. The layout and nDataStart
    // are the ones the structure was read into; the layout's columns are
    // numbered before PlanFields. bUndelete brings records marked deleted
    // back to life.
    CRecordSalvage(CRepairContext& context, CFile& source, uint64_t nFileLength, const DamagedTableLayout& layout,
                   uint64_t nDataStart, CRawMemoReader& memo, bool bUndelete, RepairStatistics& stats,
                   CMendedCells& mendedCells);
    CRecordSalvage(const CRecordSalvage&) = delete;
    CRecordSalvage& operator=(const CRecordSalvage&) = delete;

    // Reads every record's memo references once: they settle the memo
    // file's block size and tell the scan which blocks are taken. False
    // when the stop flag ended it.
    bool ReadMemoReferences();
    CRepairedTableWriter& Writer() { return m_writer; }
    // Where every damaged field goes in the new record (the writer's table
    // is created).
    void PlanFields();
    // What the header's record count says of the record area, where the
    // header agrees with the start the analysis found; kept for the tail.
    const WalkExpectation& ExpectRecords();
    const CRecordJudge& GetJudge() const { return m_judge; }
    // What healthy records look like, as the walk learned it.
    void SetEvidence(const CRecordEvidence* pEvidence) { m_pEvidence = pEvidence; }

    // The records of a Take step, read from the window.
    void TakeRecords(CRecordWindow& window, const WalkStep& step);
    // Bytes that became no row, holding nRecords records of the source from
    // nFirstRecord on (numbers from 0).
    void DropRange(uint64_t nOffset, uint64_t nLength, RepairReport::DropReason reason, int64_t nFirstRecord,
                   int64_t nRecords);
    // The bytes after the last whole record: an end mark and what follows
    // it, or record nRecord of the source cut off by the end of the file.
    // Returns how many records of the source it accounted for (0 or 1).
    int SalvageTail(CRecordWindow& window, uint64_t nOffset, int64_t nRecord);
    // Records the header counts beyond the nAccounted the file held, named
    // as cut off at nEnd.
    void CountMissingRecords(int64_t nAccounted, uint64_t nEnd);

    // Per column of the new table: the first records mended.
    const std::vector<std::vector<int64_t>>& GetFirstMended() const { return m_firstMended; }

private:
    // Copies the current damaged record (m_pRecord) into the new table,
    // mending its typed values when bCheckValues (they are not all known
    // sound) and carrying its memo values over.
    // bTouched: the damage reached it (bytes no healthy record holds are
    // blanked, and the record is counted as mended under its number in the
    // source).
    void SalvageRecord(unsigned char chFlag, bool bCheckValues, bool bTouched, int64_t nSourceRecord);
    // Checks (and mends) one copied field, or carries its memo value over.
    void SalvageField(const FieldPlan& plan);
    void SalvageMemo(const FieldPlan& plan, std::span<const unsigned char> bytes);
    // Whether the bytes begin as a record does: a flag, and fields without
    // bytes that text never holds.
    bool LooksLikeRecordHead(const unsigned char* p, uint64_t nBytes) const;
    void NoteRecordLoss(int64_t nRecord, RepairReport::RecordLossKind kind, uint64_t nOffset, uint64_t nLength);
    void NoteMendedValue(int nColumn, int64_t nRecordNumber);
    // Keeps the source's bytes of a mended value, for the front ends.
    void NoteMendedBytes(int nColumn, int64_t nRecordNumber);

    CRepairContext& m_context;
    RepairReport& m_report;
    CFile& m_source;
    const uint64_t m_nFileLength;
    const DamagedTableLayout& m_layout;
    const uint64_t m_nDataStart;
    CRawMemoReader& m_memo;
    const bool m_bUndelete;
    RepairStatistics& m_stats;
    CMendedCells& m_mendedCells;

    CRepairedTableWriter m_writer;
    bool m_bIdentityLayout = false;         // the new record is the damaged one
    bool m_bHasMemoPlans = false;           // some column's value is carried through the memo file
    std::vector<FieldPlan> m_plans;         // one per damaged field
    std::vector<const FieldPlan*> m_busy;   // the plans that need work per record
    CRecordJudge m_judge;                   // the fields whose bytes can be judged
    const unsigned char* m_pRecord = nullptr; // the damaged record being salvaged
    uint64_t m_nRecordOffset = 0;             // where it lies in the source
    WalkExpectation m_expect;                 // what the header's count says of the records
    int64_t m_nLastTaken = -1;                // number of the last record saved
    const CRecordEvidence* m_pEvidence = nullptr; // what healthy records look like
    // Memo blocks already copied, and the bytes copied again for records
    // that share a block: bounded by the source memo file's size.
    std::unordered_set<uint32_t> m_copiedBlocks;
    uint64_t m_nRepeatedMemoBytes = 0;
    std::string m_memoBytes; // the memo value being carried over
    std::vector<std::vector<int64_t>> m_firstMended; // per column: the first records mended
};
