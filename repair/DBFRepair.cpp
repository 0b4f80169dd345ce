#include "repair/DBFRepair.h"

#include "dbf/DBFException.h"
#include "dbf/DBFTableDef.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "platform/FileSystem.h"
#include "platform/TempFolder.h"
#include "repair/DamagedTableScanner.h"
#include "repair/LayoutPlanner.h"
#include "repair/PreviewFiller.h"
#include "repair/ProgressMeter.h"
#include "repair/RawMemoReader.h"
#include "repair/RecordSalvage.h"
#include "repair/RecordWalk.h"
#include "repair/RecordWindow.h"
#include "repair/RepairPaths.h"
#include "repair/RepairReportFinisher.h"
#include "repair/RepairedTableWriter.h"
#include "repair/TextTransferUndo.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

constexpr const char* kStatusAnalyzing = "Analyzing Data........";
constexpr const char* kStatusExtracting = "Extracting Data........";
// The salvage loop reports half the percentage: the preview owns the rest.
constexpr int kSalvageSwitchValue = 25;
// Bytes of damaged records the read window takes in one go (the file
// layer reads requests this large straight into the caller's buffer).
constexpr size_t kReadChunk = 1024 * 1024;
// Records the read window holds, and keeps behind a move forward: the walk
// judges a batch of records and looks ahead of them before the salvage
// takes them.
constexpr size_t kWindowRecords = 400;
constexpr size_t kLookBehindRecords = 300;

void OpenForReading(CFile& file, const std::string& strPath)
{
    CFileException error;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary, &error))
        throw error;
}

// Points the engine at a run's state for the run's lifetime.
template <typename T>
class CRunScope {
public:
    CRunScope(T*& pSlot, T* pRun) : m_pSlot(pSlot) { m_pSlot = pRun; }
    ~CRunScope() { m_pSlot = nullptr; }
    CRunScope(const CRunScope&) = delete;
    CRunScope& operator=(const CRunScope&) = delete;

private:
    T*& m_pSlot;
};

} // namespace

// Everything one run of SalvageTable holds; nothing survives the run.
struct CDBFRepair::SalvageRun {
    CFile source;
    uint64_t nFileLength = 0;
    CRawMemoReader memo;
    DamagedTableLayout layout;
    uint64_t nDataStart = 0;
    std::unique_ptr<CRecordSalvage> pSalvage;
};

CDBFRepair::CDBFRepair(CRepairContext& context, IPreviewGridSink* pGrid) : m_context(context), m_pGrid(pGrid)
{
}

CDBFRepair::CDBFRepair(IRepairProgressSink* pProgress, IPreviewGridSink* pGrid)
    : m_pOwnContext(std::make_unique<CRepairContext>(ProcessRunState(), pProgress)), m_context(*m_pOwnContext),
      m_pGrid(pGrid)
{
}

CDBFRepair::~CDBFRepair() = default;

bool CDBFRepair::Repair(const std::string& strSource, const std::string& strOutput)
{
    return SalvageTable(strSource, strOutput) != 0;
}

int CDBFRepair::SalvageTable(const std::string& strSource, const std::string& strOutput)
{
    const std::string strTable = ResolvedTablePath(strSource);
    const std::string strMemo = m_options.strMemoPath.empty() ? FindMemoCompanion(strTable) : m_options.strMemoPath;
    // Index files are bound to record numbers: none is copied, each is
    // named to be rebuilt (the new header claims no structural index).
    // Named as the user named the table, unless it is a link to elsewhere.
    const bool bLink = CFileSystem::IsLink(strSource);
    std::vector<std::string> indexFiles = CDBFTableDef::FindIndexFiles(bLink ? strTable : strSource);
    const bool bTableConverted = CTextTransferUndo::TableLooksConverted(strTable, m_context.StopToken());
    const bool bMemoConverted = !strMemo.empty()
        && CTextTransferUndo::MemoLooksConverted(strMemo, bTableConverted, m_context.StopToken());
    if (!bTableConverted && !bMemoConverted) {
        const int nResult = RunSalvage(strSource, strOutput, strMemo);
        Report().indexFiles = std::move(indexFiles);
        return nResult;
    }

    // A text-mode transfer turned every LF into CR LF (in the table and its
    // memo file, or in the memo file alone): the repair works on private
    // copies with the conversion undone.
    static std::atomic<unsigned> s_nCopies{0};
    const std::string strStem = CTempFolder::ProcessFolder() + "/transfer_" + std::to_string(s_nCopies++) + "_";
    const std::string strTableCopy = strStem + "table.dbf";
    std::string strMemoCopy;
    struct CRemove {
        std::vector<std::string> paths;
        ~CRemove()
        {
            for (const std::string& strPath : paths)
                CFileSystem::Remove(strPath);
        }
    } remove;
    if (bTableConverted) {
        remove.paths.push_back(strTableCopy);
        CTextTransferUndo::Undo(strTable, strTableCopy, m_context.StopToken());
    }
    if (bMemoConverted) {
        strMemoCopy = strStem + "table." + PathExtension(strMemo);
        remove.paths.push_back(strMemoCopy);
        CTextTransferUndo::Undo(strMemo, strMemoCopy, m_context.StopToken());
    }
    const int nResult = RunSalvage(bTableConverted ? strTableCopy : strSource, strOutput,
                                   bMemoConverted ? strMemoCopy : strMemo);
    Report().strSource = strSource;
    Report().strSourceMemo = strMemo;
    m_stats.strSourceMemoPath = strMemo;
    Report().bTransferUndone = true;
    Report().indexFiles = std::move(indexFiles);
    CRepairReportFinisher(Report(), m_stats).NoteTransferUndone(bTableConverted, bMemoConverted);
    return nResult;
}

std::string CDBFRepair::ResolvedTablePath(const std::string& strPath)
{
    // A table reached through a symbolic link keeps its memo file beside
    // the link's target.
    std::string strTarget;
    return CFileSystem::Canonical(strPath, strTarget) != 0 ? strPath : strTarget;
}

int CDBFRepair::RunSalvage(const std::string& strSource, const std::string& strOutput,
                           const std::string& strMemoPath)
{
    m_context.BeginRun();
    m_stats = RepairStatistics();
    Report() = RepairReport();
    Report().strSource = strSource;
    m_mendedCells.Clear();
    m_context.SetProgress(0);

    SalvageRun run;
    CRunScope<SalvageRun> scope(m_pRun, &run);
    const int nResult = SalvageInto(strSource, strOutput, strMemoPath);
    static const std::vector<std::vector<int64_t>> s_noneMended;
    CRepairReportFinisher(Report(), m_stats)
        .Finish(nResult != 0 && !m_stats.bStopped, run.layout, run.nDataStart, run.memo,
                run.pSalvage ? run.pSalvage->GetFirstMended() : s_noneMended);
    return nResult;
}

int CDBFRepair::SalvageInto(const std::string& strSource, const std::string& strOutput,
                            const std::string& strMemoPath)
{
    SalvageRun& run = *m_pRun;
    run.memo.SetStopToken(m_context.StopToken());
    if (!strMemoPath.empty() && run.memo.Open(strMemoPath))
        m_stats.strSourceMemoPath = strMemoPath;
    OpenForReading(run.source, strSource);
    run.source.AdviseSequential();
    run.nFileLength = run.source.GetLength();

    // 1. The structure: the descriptors and where the records begin.
    if (!ReadStructure(run.source)) {
        m_stats.bStopped = true;
        return 0;
    }
    if (!run.layout.bTerminator) {
        m_context.ReportError("No field descriptors end in " + strSource
                              + " (no 0x0D terminator among the first 1024 blocks): no record can be salvaged.");
        return 0;
    }
    run.pSalvage = std::make_unique<CRecordSalvage>(m_context, run.source, run.nFileLength, run.layout,
                                                    run.nDataStart, run.memo, m_options.bUndelete, m_stats,
                                                    m_mendedCells);
    if (!run.pSalvage->ReadMemoReferences()) {
        m_stats.bStopped = true;
        return 0;
    }
    // 2. The new table's layout, and the table created.
    if (!CreateTable(strSource, strOutput))
        return 0; // there is no new table to fill or to show
    // 3. The records, walked and salvaged.
    if (!WalkRecords())
        return 0;
    // 4. The new table read back, only to fill a grid; without one the
    // salvage has carried the progress to the end.
    if (m_pGrid != nullptr) {
        m_pGrid->ClearGrid();
        CPreviewFiller(m_context, m_options.nPreviewRowLimit, m_options.strEncoding).Fill(strOutput, m_pGrid);
    } else if (!m_stats.bStopped) {
        m_context.State().Progress().store(100);
        m_context.SetProgress(100);
    }
    if (!m_context.IsStopSet())
        m_context.ShowPreview();
    return 1;
}

bool CDBFRepair::CreateTable(const std::string& strSource, const std::string& strOutput)
{
    SalvageRun& run = *m_pRun;
    CRepairedTableWriter& writer = run.pSalvage->Writer();
    try {
        CLayoutPlanner planner(run.layout, run.source, run.nDataStart, run.memo.GetFormat(), run.memo.GetBlockSize(),
                               m_context, m_stats);
        writer.Create(strOutput, planner.Plan(strSource));
        if (!writer.IsOpen())
            return false;
    } catch (const CDBFException& e) {
        m_context.ReportError(e.GetMessage());
        return false;
    }
    m_stats.strOutputMemoPath = writer.HasMemoFile() ? writer.GetMemoPath() : std::string();
    m_stats.nFieldCount = writer.GetFieldCount();
    run.pSalvage->PlanFields();
    return true;
}

bool CDBFRepair::WalkRecords()
{
    SalvageRun& run = *m_pRun;
    CRecordSalvage& salvage = *run.pSalvage;
    m_context.SetStatus(kStatusAnalyzing);
    bool bSwitchArmed = true;
    CDamagedTableScanner scanner(run.source, m_context.StopToken());
    CProgressMeter meter(run.nFileLength);
    const uint32_t nRecordLength = run.layout.nRecordLength;
    CRecordWindow window(run.source, run.nFileLength,
                         std::max<size_t>(kReadChunk, static_cast<size_t>(nRecordLength) * kWindowRecords),
                         static_cast<size_t>(nRecordLength) * kLookBehindRecords);
    CRecordWalk walk(window, scanner, run.layout, salvage.GetJudge(), run.nDataStart, salvage.ExpectRecords());
    salvage.SetEvidence(&walk.GetEvidence());
    const uint32_t nLastFieldOffset = run.layout.fields.empty() ? 0 : run.layout.fields.back().nOffset;
    // Measured at the last field's start, as a record's fields are taken
    // one after another.
    walk.SetProgress([&](uint64_t nOffset) {
        const uint64_t nAt = nOffset + nLastFieldOffset;
        if (nAt < meter.GetNextOffset() || !meter.Advance(nAt))
            return;
        // With a grid to fill the salvage is the first half of the run.
        const int nValue = m_pGrid != nullptr ? meter.GetPercent() / 2 : meter.GetPercent();
        m_context.State().Progress().store(nValue);
        if (nValue >= kSalvageSwitchValue && bSwitchArmed) {
            m_context.SetStatus(kStatusExtracting);
            bSwitchArmed = false;
        }
        m_context.SetProgress(nValue);
    });
    WalkStep step;
    bool bStopped = false;
    while (walk.Next(step)) {
        if (m_context.StopRequested()) {
            bStopped = true;
            break;
        }
        if (step.kind == WalkStep::Kind::Drop)
            salvage.DropRange(step.nOffset, step.nLength, RepairReport::DropReason::Garbage, step.nRecord,
                              step.nRecords);
        else
            salvage.TakeRecords(window, step);
    }
    if (bStopped || m_context.StopRequested()) {
        m_stats.bStopped = true;
        m_stats.nRecordsWritten = salvage.Writer().GetRecordCount();
        return false;
    }
    Report().realignments = walk.GetRealignments();
    // What is left: an end-of-file mark and whatever follows it, or the
    // start of a record cut off by the end of the file.
    int64_t nAccounted = walk.GetEndRecord();
    if (walk.GetEnd() < run.nFileLength)
        nAccounted += salvage.SalvageTail(window, walk.GetEnd(), walk.GetEndRecord());
    salvage.CountMissingRecords(nAccounted, std::min(walk.GetEnd(), run.nFileLength));
    m_stats.nDataEnd = std::min(walk.GetEnd(), run.nFileLength);
    m_stats.nRecordsWritten = salvage.Writer().GetRecordCount();
    salvage.Writer().Close();
    return true;
}

bool CDBFRepair::ReadStructure(CFile& source)
{
    SalvageRun& run = *m_pRun;
    CDamagedTableScanner scanner(source, m_context.StopToken());
    if (!scanner.ReadDescriptors(run.layout))
        return false;
    m_stats.nDescriptorCount = static_cast<int>(run.layout.fields.size());
    m_stats.bTerminatorFound = run.layout.bTerminator;
    if (!run.layout.bTerminator) {
        run.nDataStart = run.nFileLength;
        return true;
    }
    if (!scanner.FindDataStart(run.layout, run.nDataStart))
        return false;
    m_stats.nRecordLength = run.layout.nRecordLength;
    m_stats.nDataStart = run.nDataStart;
    return true;
}
