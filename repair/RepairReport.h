#pragma once
// What one repair run did and what it could not save, for the user: the
// records written and dropped (with their byte ranges and why), the
// re-alignments made, the values that did not fit their type, the memo
// values recovered and lost, and the fixes made to the structure.
//
// The engine fills it during the run (CDBFRepair::GetReport); the front ends
// only present it. Every count must agree with what the repaired table
// holds.

#include "repair/RepairOutcome.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CJsonWriter;

struct RepairReport {
    // Why a stretch of the record area became no rows.
    enum class DropReason {
        Garbage,       // bytes where records do not line up (lost or inserted bytes, zeros, noise)
        CutOff,        // the last record ends past the end of the file
        AfterEndMark,  // bytes after the end-of-file mark
    };
    struct DroppedRange {
        uint64_t nOffset = 0; // first byte, in the source table
        uint64_t nLength = 0;
        DropReason reason = DropReason::Garbage;
        int64_t nRecords = 0; // source records whose bytes lay in the range
    };
    // A record of the source that the damage touched: not saved, saved with
    // its tail cut off by the end of the file, or saved with values mended
    // (or with bytes that no healthy record holds, kept as they were).
    enum class RecordLossKind { Dropped, CutShort, Mended };
    struct RecordLoss {
        int64_t nRecord = 0;  // number in the source, from 1
        RecordLossKind kind = RecordLossKind::Dropped;
        uint64_t nOffset = 0; // where its bytes were taken or dropped
        uint64_t nLength = 0;
    };
    // Records lined up again at nTo after they stopped lining up at nFrom.
    struct Realignment {
        uint64_t nFrom = 0;
        uint64_t nTo = 0;
    };
    // Values of one column whose bytes did not fit its type (mended).
    struct ColumnIssue {
        std::string strColumn;
        int64_t nValues = 0;
        std::vector<int64_t> firstRecords; // record numbers of the new table, from 1; at most kFirstRecords
    };
    // A memo value that a record's reference points to but that was not
    // found (the record is saved with the memo field empty).
    struct MissingMemo {
        int64_t nRecord = 0; // number in the source, from 1
        std::string strColumn;
    };
    static constexpr size_t kFirstRecords = 5;
    static constexpr size_t kMostRanges = 1000; // ranges kept; the rest only counted
    static constexpr size_t kMostRecordLosses = 100000; // records listed; the rest only counted
    static constexpr size_t kMostMissingMemos = 100000; // memos listed; the rest only counted
    // The JSON form's version: raised when a key changes its meaning or goes.
    static constexpr int kSchemaVersion = 1;

    // Source and result.
    std::string strSource;
    std::string strSourceMemo;   // empty when none was found
    bool bDone = false;          // the run ended "Done"

    // Records.
    int64_t nRecordsWritten = 0;
    int64_t nDeletedRecords = 0;  // of those, marked deleted
    int64_t nRecordsDropped = 0;  // source records that became no row
    int64_t nRecordsCutShort = 0; // saved with fields lost to the end of the file
    int64_t nRecordsMended = 0;   // saved with damaged values mended or flagged
    // Every record counted above, in source order (at most kMostRecordLosses).
    std::vector<RecordLoss> recordLosses;
    int64_t nRecordLossesNotListed = 0;
    std::vector<DroppedRange> dropped;
    int64_t nDroppedRangesNotListed = 0;
    uint64_t nBytesDropped = 0; // of every range, listed or not
    std::vector<Realignment> realignments;

    // Values.
    int64_t nValuesMended = 0;
    std::vector<ColumnIssue> columns; // only columns with mended values

    // Memos.
    int64_t nMemosRecovered = 0;
    int64_t nMemosMissing = 0;        // a reference whose value was not found
    std::vector<MissingMemo> missingMemos; // those, in source order (at most kMostMissingMemos)
    int64_t nMissingMemosNotListed = 0;
    int64_t nMemosSharedNotCopied = 0;
    bool bMemoFileMissing = false;    // memo fields, but no memo file could be read

    // Structure.
    std::vector<std::string> structureFixes; // one sentence each
    uint64_t nRecordAreaStart = 0;
    uint32_t nRecordLength = 0;
    uint32_t nMemoBlockSize = 0;      // of the source memo file as settled, 0 when none
    bool bTransferUndone = false;     // a text-mode transfer's CR LF were turned back
    std::vector<std::string> indexFiles; // index files beside the source, stale now

    // What the front end made of the run (the engine leaves them empty).
    std::string strSavedTable;   // empty when nothing was saved
    std::string strSavedMemo;
    std::optional<RepairOutcome> outcome; // none: from bDone
    int nExitCode = -1;          // the run's exit status; -1 when not known

    // Records, values or memos were lost or dropped.
    bool HasLosses() const
    {
        return nRecordsDropped > 0 || nRecordsCutShort > 0 || nRecordsMended > 0 || nMemosMissing > 0
            || nMemosSharedNotCopied > 0 || bMemoFileMissing || nValuesMended > 0;
    }
};

// The report as one JSON object (UTF-8; paths as they are).
std::string RepairReportToJson(const RepairReport& report);
// The same object as the next value of json (nested in a larger result).
void WriteRepairReportJson(CJsonWriter& json, const RepairReport& report);
// "Nothing was lost." or "Finished with losses: " and what was lost, for a
// run that is Done.
std::string RepairReportVerdict(const RepairReport& report);
// The losses of a Done run, as the verdict names them ("2 records dropped
// (306 bytes), 1 value mended"); empty when nothing was lost.
std::string RepairReportLosses(const RepairReport& report);
// A short summary for people: a few lines, no trailing newline.
std::string RepairReportSummary(const RepairReport& report);
// The one-line form, for a status line ("2,000 records, 3 dropped, 1 memo lost").
std::string RepairReportOneLine(const RepairReport& report);

// A number with its thousands grouped by commas ("2,000").
std::string GroupedNumber(int64_t n);
