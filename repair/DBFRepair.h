#pragma once
// The repair engine: one damaged DBF table in, a new well-formed table (and
// memo file) out, and the preview grid filled with what was salvaged.
//
// A run (SalvageTable):
//  1. Find the memo file beside the damaged table (FPT, DBT or SMT, any
//     letter case; beside the real file when the table is a symbolic link)
//     and open both read-only. The source is never written.
//  2. Read the raw field descriptors from offset 32 up to the 0x0D
//     terminator (at most 1024 blocks); the damaged header's counts and
//     lengths are hints only.
//  3. Find where the records begin by evidence (repair/DamagedTableScanner.h)
//     and settle the widths the descriptors leave open.
//  4. Write the new table's structure as the source has it where it is
//     sound: version, flags, code page, every descriptor's bytes, the bytes
//     after the terminator. Columns that hold nothing (width 0) or whose
//     width is lost are left out, their bytes still counted.
//  5. Copy record after record. A value whose bytes are sound for its type
//     goes across byte for byte; one that is not is mended (FieldSalvage.h).
//     Memo values (text and binary, with their block type) are read through
//     each record's own reference, a scan standing in only for references
//     that cannot be read, and written into the new memo file.
//  6. Read the new table back into the preview grid (repair/PreviewFiller.h).
//
// The run's context (repair/RepairContext.h) carries its stop flag, its
// progress sink and its report; the grid sink may be null. The engine is
// single-threaded, GUI-free, and polls the context's stop token while it
// works.

#include "repair/MendedCells.h"
#include "repair/RepairContext.h"
#include "repair/RepairReport.h"
#include "repair/PreviewGridSink.h"
#include "repair/RepairProgressSink.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class CFile;

// Choices of one repair run.
struct RepairOptions {
    // Records marked deleted ("*") stay marked in the repaired table unless
    // this asks to bring them back to life.
    bool bUndelete = false;
    // The preview shows at most this many rows; 0 shows every row.
    int64_t nPreviewRowLimit = 0;
    // The code page the grid reads texts in, by name ("cp1251", "IBM866");
    // empty: the table's code-page mark decides.
    std::string strEncoding;
    // The memo file to read; empty: the one beside the table.
    std::string strMemoPath;
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
    int64_t nMemoTextsLost = 0;        // memo references whose value could not be found
    int64_t nSharedMemosNotCopied = 0; // references to a value copied often enough already
    bool bMemoFileMissing = false;     // memo fields, but no memo file could be read
    int64_t nValuesMended = 0;         // values whose bytes did not fit their type
    std::vector<int64_t> mendedPerColumn; // the same, per column of the new table
    bool bStopped = false;             // the stop flag ended the run
    std::string strSourceMemoPath;     // memo file found beside the source, or empty
    std::string strOutputMemoPath;     // memo file written beside the new table, or empty
};

class CDBFRepair {
public:
    // A run for the context; pGrid may be null (nothing is read back).
    explicit CDBFRepair(CRepairContext& context, IPreviewGridSink* pGrid = nullptr);
    // A run with a context of its own over the process-wide run state and
    // error reporter; either sink may be null.
    explicit CDBFRepair(IRepairProgressSink* pProgress = nullptr, IPreviewGridSink* pGrid = nullptr);
    ~CDBFRepair();
    CDBFRepair(const CDBFRepair&) = delete;
    CDBFRepair& operator=(const CDBFRepair&) = delete;

    void SetOptions(const RepairOptions& options) { m_options = options; }
    const RepairOptions& GetOptions() const { return m_options; }
    const RepairStatistics& GetStatistics() const { return m_stats; }
    // What the last run did and could not save (repair/RepairReport.h),
    // kept in the context.
    const RepairReport& GetReport() const { return m_context.Report(); }
    // The cells the last run mended, with the source's bytes of each.
    const CMendedCells& GetMendedCells() const { return m_mendedCells; }

    // SalvageTable, true when it returned 1. Platform file errors and
    // storage errors outside the four tolerated places leave as exceptions.
    bool Repair(const std::string& strSource, const std::string& strOutput);

    // One run as described at the top; returns 1 or 0.
    int SalvageTable(const std::string& strSource, const std::string& strOutput);

    // The table path with symbolic links resolved (the memo file lies
    // beside the real table); the path itself when it cannot be resolved.
    static std::string ResolvedTablePath(const std::string& strPath);

private:
    struct SalvageRun;

    RepairReport& Report() { return m_context.Report(); }
    int RunSalvage(const std::string& strSource, const std::string& strOutput, const std::string& strMemoPath);
    int SalvageInto(const std::string& strSource, const std::string& strOutput, const std::string& strMemoPath);
    // Reads the damaged descriptors and finds the record area. False when
    // the stop flag ended it.
    bool ReadStructure(CFile& source);
    // Plans the new table's layout and creates it; false when it cannot be.
    bool CreateTable(const std::string& strSource, const std::string& strOutput);
    // Walks the record area and salvages what the walk takes; false when
    // the stop flag ended it.
    bool WalkRecords();

    SalvageRun* m_pRun = nullptr;

    std::unique_ptr<CRepairContext> m_pOwnContext;
    CRepairContext& m_context;
    IPreviewGridSink* m_pGrid;
    RepairOptions m_options;
    RepairStatistics m_stats;
    CMendedCells m_mendedCells;
};
