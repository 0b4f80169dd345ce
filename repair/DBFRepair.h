#pragma once
// The repair engine: one damaged DBF table in, a new well-formed table (and
// memo file) out, and the preview grid filled with what was salvaged.
//
// A run (SalvageTable):
//  1. Find the memo file beside the damaged table (FPT, DBT or SMT, any
//     letter case) and open both read-only. The source is never written.
//  2. Read the raw field descriptors from offset 32 up to the 0x0D
//     terminator (at most 1024 blocks); the damaged header's counts and
//     lengths are not trusted. Create the new table with the same fields,
//     keeping the source's table kind when its version byte is a known one.
//  3. Find where the records begin: the first candidate start (after the
//     terminator, after the Visual FoxPro area, the header's own length,
//     the first blank after the terminator) at which the deletion flags of
//     the first records line up.
//  4. Salvage record after record, field by field by type letter, until the
//     end-of-file mark or the last complete record. Memo texts are read
//     through each record's own memo reference; a sequential scan of the
//     memo file stands in only for references that cannot be read.
//  5. Read the new table back into the preview grid.
//
// Progress and texts go to the two sinks, each of which may be null. The
// engine is single-threaded, GUI-free, and polls RepairStopRequested()
// (repair/RepairState.h) while it works.

#include "dbf/FieldValue.h"
#include "repair/PreviewGridSink.h"
#include "repair/RepairProgressSink.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

class CDBFTableDef;
class CException;
class CFile;

// Choices of one repair run.
struct RepairOptions {
    // Records marked deleted ("*") stay marked in the repaired table unless
    // this asks to bring them back to life.
    bool bUndelete = false;
    // FillPreview shows at most this many rows; 0 shows every row.
    int64_t nPreviewRowLimit = 0;
};

// What the last run found and wrote; reset when a run starts.
struct RepairStatistics {
    int nDescriptorCount = 0;          // descriptor blocks before the terminator
    int nFieldCount = 0;               // columns of the new table
    bool bTerminatorFound = false;
    uint64_t nDataStart = 0;           // offset of the first record's deletion flag
    uint64_t nDataEnd = 0;             // end of the last record taken
    uint32_t nRecordLength = 0;        // deletion flag plus the field lengths
    int64_t nRecordsWritten = 0;       // records appended to the new table
    int64_t nDeletedRecords = 0;       // of those, records the source marked deleted
    int64_t nMemoTextsRecovered = 0;   // memo fields that received a text
    int64_t nMemoTextsLost = 0;        // memo references whose text could not be found
    int64_t nFieldErrors = 0;          // values the new table refused
    bool bStopped = false;             // the stop flag ended the run
    std::string strSourceMemoPath;     // memo file found beside the source, or empty
    std::string strOutputMemoPath;     // memo file written beside the new table, or empty
};

class CDBFRepair {
public:
    // Either sink may be null; the engine then reports nothing through it.
    explicit CDBFRepair(IRepairProgressSink* pProgress = nullptr, IPreviewGridSink* pGrid = nullptr);
    ~CDBFRepair();
    CDBFRepair(const CDBFRepair&) = delete;
    CDBFRepair& operator=(const CDBFRepair&) = delete;

    void SetOptions(const RepairOptions& options) { m_options = options; }
    const RepairOptions& GetOptions() const { return m_options; }
    const RepairStatistics& GetStatistics() const { return m_stats; }

    // Mode 0: SalvageTable, true when it returned 1. Mode 1: RepairFromCopy,
    // always false. Any other mode: nothing, false. Platform file errors and
    // storage errors outside the four tolerated places leave as exceptions.
    bool Repair(const std::string& strSource, const std::string& strOutput, int nMode);

    // One run as described at the top; returns 1 or 0.
    int SalvageTable(const std::string& strSource, const std::string& strOutput);

    // Repairs a working copy ("temps.dbf" in the process's temporary folder)
    // whose header terminator was patched in at the header length.
    void RepairFromCopy(const std::string& strSource, const std::string& strOutput);

    // Copies nCount bytes from the start of one open file to the start of
    // another.
    static void CopyBytes(CFile& source, CFile& target, uint64_t nCount);

    // Reads the table back raw and fills the grid (which the caller has
    // cleared). Progress continues from g_nRepairProgress.
    void FillPreview(const std::string& strRepaired, IPreviewGridSink* pGrid);

    // The text form of an 8-byte date-time field: month/day/year
    // hour:minute:second without leading zeros ("3/7/2005 14:5:9"); an
    // invalid day number gives 0/0/0.
    static std::string FormatDateTimeField(const unsigned char* pBytes);

    // The value the salvage stores for a damaged field's bytes (see
    // repair/FieldSalvage.h); no value leaves the field blank.
    static std::optional<FieldValue> DecodeFieldBytes(char chType, std::span<const unsigned char> bytes);

private:
    struct SalvageRun;

    int RunSalvage(const std::string& strSource, const std::string& strOutput, const std::string& strMemoPath);
    // Reads the damaged descriptors, writes the new table's structure and
    // finds the record area. False when the stop flag ended it.
    bool ReadStructure(CFile& source, CDBFTableDef& table, bool bTableCreated);
    // Writes the source's code page mark into the new table's header.
    void KeepCodePage(const std::string& strOutput);
    // Reads every record's memo references once: they settle the memo
    // file's block size and tell the scan which blocks are taken.
    bool PrepareMemo();
    // The memo text for a memo field's bytes (empty when there is none).
    std::string RecoverMemoText(std::span<const unsigned char> field);
    // Decodes field i of the current damaged record into the new record.
    void SalvageField(int i);
    // Shows a value the new table refused, once per run and message; the
    // repeats are only counted, so a damaged column does not bury the user
    // in identical messages.
    void ReportFieldError(const CException& e);

    void SetStatus(const std::string& strText);
    void SetProgressValue(int nValue);
    void BeginSinks();

    SalvageRun* m_pRun = nullptr;

    IRepairProgressSink* m_pProgress;
    IPreviewGridSink* m_pGrid;
    RepairOptions m_options;
    RepairStatistics m_stats;
    // Last values handed to the progress sink, so that it hears of changes only.
    std::string m_strLastStatus;
    int m_nLastProgress = -1;
    bool m_bStatusSent = false;
};
