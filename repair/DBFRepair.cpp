#include "repair/DBFRepair.h"

#include "dbf/DBFException.h"
#include "dbf/DBFFormat.h"
#include "dbf/DBFTableDef.h"
#include "dbf/FieldCodec.h"
#include "platform/CodePageDecoder.h"
#include "platform/ErrorReporter.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "platform/FileSystem.h"
#include "platform/TempFolder.h"
#include "platform/VariantConversionException.h"
#include "repair/DamagedTableScanner.h"
#include "repair/FieldSalvage.h"
#include "repair/LayoutPlanner.h"
#include "repair/ProgressMeter.h"
#include "repair/RawMemoReader.h"
#include "repair/RecordWalk.h"
#include "repair/RecordSalvage.h"
#include "repair/RecordWindow.h"
#include "repair/RepairPaths.h"
#include "repair/RepairReportFinisher.h"
#include "repair/RepairState.h"
#include "repair/RepairedTableWriter.h"
#include "repair/TextTransferUndo.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr const char* kStatusAnalyzing = "Analyzing Data........";
constexpr const char* kStatusExtracting = "Extracting Data........";
constexpr const char* kStatusAdding = "Adding Data........";
constexpr const char* kStatusPleaseWait = "Please wait....the file repairing is in process";

using dbfformat::kDeletedFlag;
using dbfformat::kEndOfFile;
using dbfformat::kLiveFlag;
constexpr int kPreviewColumnWidth = 100;
// The salvage loop reports half the percentage: the preview owns the rest.
constexpr int kSalvageSwitchValue = 25;
constexpr int kPleaseWaitPercent = 90;
// Bytes of damaged records the read window takes in one go (the file
// layer reads requests this large straight into the caller's buffer).
constexpr size_t kReadChunk = 1024 * 1024;
// Records the read window holds, and keeps behind a move forward: the walk
// judges a batch of records and looks ahead of them before the salvage
// takes them.
constexpr size_t kWindowRecords = 400;
constexpr size_t kLookBehindRecords = 300;
// Records whose texts decide the code page of an unmarked table.
constexpr int kTextSampleRecords = 4096;

bool IsTextType(char chType)
{
    return chType == 'C' || chType == 'V';
}

// Hidden system columns (_NullFlags) are no column of the preview grid.
bool IsHiddenFromGrid(const DamagedField& field)
{
    return (field.descriptor.GetFlags() & DBFFieldDescriptor::kFlagSystem) != 0 || field.chType == '0';
}

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

CDBFRepair::CDBFRepair(IRepairProgressSink* pProgress, IPreviewGridSink* pGrid)
    : m_pProgress(pProgress), m_pGrid(pGrid)
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
    const bool bTableConverted = CTextTransferUndo::TableLooksConverted(strTable);
    const bool bMemoConverted = !strMemo.empty() && CTextTransferUndo::MemoLooksConverted(strMemo, bTableConverted);
    if (!bTableConverted && !bMemoConverted) {
        const int nResult = RunSalvage(strSource, strOutput, strMemo);
        m_report.indexFiles = std::move(indexFiles);
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
        CTextTransferUndo::Undo(strTable, strTableCopy);
    }
    if (bMemoConverted) {
        strMemoCopy = strStem + "table." + PathExtension(strMemo);
        remove.paths.push_back(strMemoCopy);
        CTextTransferUndo::Undo(strMemo, strMemoCopy);
    }
    const int nResult = RunSalvage(bTableConverted ? strTableCopy : strSource, strOutput,
                                   bMemoConverted ? strMemoCopy : strMemo);
    m_report.strSource = strSource;
    m_report.strSourceMemo = strMemo;
    m_stats.strSourceMemoPath = strMemo;
    m_report.bTransferUndone = true;
    m_report.indexFiles = std::move(indexFiles);
    CRepairReportFinisher(m_report, m_stats).NoteTransferUndone(bTableConverted, bMemoConverted);
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
    CurrentRunState().Stop().store(0);
    m_stats = RepairStatistics();
    m_report = RepairReport();
    m_report.strSource = strSource;
    m_mendedCells.Clear();
    BeginSinks();
    SetProgressValue(0);

    SalvageRun run;
    CRunScope<SalvageRun> scope(m_pRun, &run);
    const int nResult = SalvageInto(strSource, strOutput, strMemoPath);
    static const std::vector<std::vector<int64_t>> s_noneMended;
    CRepairReportFinisher(m_report, m_stats)
        .Finish(nResult != 0 && !m_stats.bStopped, run.layout, run.nDataStart, run.memo,
                run.pSalvage ? run.pSalvage->GetFirstMended() : s_noneMended);
    return nResult;
}

int CDBFRepair::SalvageInto(const std::string& strSource, const std::string& strOutput,
                            const std::string& strMemoPath)
{
    SalvageRun& run = *m_pRun;
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
        ReportErrorText("No field descriptors end in " + strSource
                        + " (no 0x0D terminator among the first 1024 blocks): no record can be salvaged.");
        return 0;
    }
    run.pSalvage = std::make_unique<CRecordSalvage>(run.source, run.nFileLength, run.layout, run.nDataStart, run.memo,
                                                    m_options.bUndelete, m_report, m_stats, m_mendedCells);
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
        FillPreview(strOutput, m_pGrid);
    } else if (!m_stats.bStopped) {
        CurrentRunState().Progress().store(100);
        SetProgressValue(100);
    }
    if (!CurrentRunState().IsStopSet() && m_pProgress != nullptr)
        m_pProgress->ShowPreview();
    return 1;
}

bool CDBFRepair::CreateTable(const std::string& strSource, const std::string& strOutput)
{
    SalvageRun& run = *m_pRun;
    CRepairedTableWriter& writer = run.pSalvage->Writer();
    try {
        CLayoutPlanner planner(run.layout, run.source, run.nDataStart, run.memo.GetFormat(), run.memo.GetBlockSize(),
                               m_report, m_stats);
        writer.Create(strOutput, planner.Plan(strSource));
        if (!writer.IsOpen())
            return false;
    } catch (const CDBFException& e) {
        e.ReportError();
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
    SetStatus(kStatusAnalyzing);
    bool bSwitchArmed = true;
    CDamagedTableScanner scanner(run.source);
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
        CurrentRunState().Progress().store(nValue);
        if (nValue >= kSalvageSwitchValue && bSwitchArmed) {
            SetStatus(kStatusExtracting);
            bSwitchArmed = false;
        }
        SetProgressValue(nValue);
    });
    WalkStep step;
    bool bStopped = false;
    while (walk.Next(step)) {
        if (RepairStopRequested()) {
            bStopped = true;
            break;
        }
        if (step.kind == WalkStep::Kind::Drop)
            salvage.DropRange(step.nOffset, step.nLength, RepairReport::DropReason::Garbage, step.nRecord,
                              step.nRecords);
        else
            salvage.TakeRecords(window, step);
    }
    if (bStopped || RepairStopRequested()) {
        m_stats.bStopped = true;
        m_stats.nRecordsWritten = salvage.Writer().GetRecordCount();
        return false;
    }
    m_report.realignments = walk.GetRealignments();
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
    CDamagedTableScanner scanner(source);
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

void CDBFRepair::FillPreview(const std::string& strRepaired, IPreviewGridSink* pGrid)
{
    CurrentRunState().Stop().store(0);
    bool bWaitArmed = true;

    CFile file;
    OpenForReading(file, strRepaired);
    const uint64_t nLength = file.GetLength();
    CProgressMeter meter(nLength);
    // The preview carries the bar on from where the salvage left it.
    auto report = [&](uint64_t nOffset) {
        if (!meter.Advance(nOffset))
            return;
        const int nPercent = meter.GetPercent();
        if (nPercent == kPleaseWaitPercent && bWaitArmed) {
            SetStatus(kStatusPleaseWait);
            bWaitArmed = false;
        }
        if (nPercent > CurrentRunState().Progress().load())
            SetProgressValue(nPercent);
    };

    if (pGrid != nullptr)
        pGrid->InsertColumn(0, "Index", kPreviewColumnWidth);
    CDamagedTableScanner scanner(file);
    DamagedTableLayout layout;
    if (!scanner.ReadDescriptors(layout))
        return;
    // Hidden system columns (_NullFlags) are no column of the grid.
    std::vector<int> gridColumns;
    int nGridColumns = 0;
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        const bool bHidden = IsHiddenFromGrid(layout.fields[i]);
        gridColumns.push_back(bHidden ? -1 : ++nGridColumns);
        if (pGrid != nullptr && !bHidden)
            pGrid->InsertColumn(nGridColumns, layout.fields[i].strName, kPreviewColumnWidth);
        report(32 + 32 * (i + 1));
    }
    uint64_t nFlagOffset = nLength;
    if (layout.bTerminator && !scanner.FindDataStart(layout, nFlagOffset))
        return;
    std::unique_ptr<CCodePageDecoder> pDecoder;
    if (pGrid != nullptr)
        pDecoder = MakeTextDecoder(file, layout, nFlagOffset, m_options.strEncoding);

    if (pGrid != nullptr)
        pGrid->InsertRow(0, "1");
    SetStatus(kStatusAdding);

    const uint32_t nRecordLength = layout.nRecordLength;
    const uint32_t nLastFieldOffset = layout.fields.empty() ? 0 : layout.fields.back().nOffset;
    std::vector<unsigned char> record(nRecordLength);
    const int64_t nRowLimit = m_options.nPreviewRowLimit;
    int64_t nRow = 0;
    while (nFlagOffset < nLength && nLength - nFlagOffset >= nRecordLength) {
        if (nRowLimit > 0 && nRow >= nRowLimit)
            break;
        // Without a grid only the progress is wanted, and that needs no
        // record bytes.
        if (pGrid != nullptr) {
            file.Seek(static_cast<int64_t>(nFlagOffset), CFile::begin);
            file.Read(record.data(), nRecordLength);
            if (record[0] == kEndOfFile && scanner.IsEndOfRecords(nFlagOffset, nRecordLength))
                break;
        }
        if (nRow > 0 && pGrid != nullptr)
            pGrid->InsertRow(static_cast<int>(nRow), std::to_string(nRow + 1));
        const bool bProgress = nFlagOffset + nLastFieldOffset >= meter.GetNextOffset();
        if (pGrid == nullptr && !bProgress) {
            // Nothing to show and no percentage to pass in this record.
            if (RepairStopRequested())
                return;
            ++nRow;
            nFlagOffset += nRecordLength;
            continue;
        }
        for (size_t i = 0; i < layout.fields.size(); ++i) {
            if (RepairStopRequested())
                return;
            const DamagedField& field = layout.fields[i];
            if (bProgress)
                report(nFlagOffset + field.nOffset);
            if (pGrid != nullptr && gridColumns[i] > 0) {
                const std::span<const unsigned char> bytes(record.data() + field.nOffset, field.nLength);
                std::string strText = PreviewFieldText(field.chRawType, bytes);
                // Text in the table's code page; plain ASCII needs no decoding.
                if (IsTextType(field.chType)
                    && std::any_of(strText.begin(), strText.end(), [](char c) { return (c & 0x80) != 0; }))
                    strText = pDecoder->ToUtf8(strText);
                pGrid->SetCellText(static_cast<int>(nRow), gridColumns[i], strText);
            }
        }
        if (RepairStopRequested())
            return;
        if (pGrid != nullptr && record[0] == kDeletedFlag)
            pGrid->SetRowDeleted(static_cast<int>(nRow));
        ++nRow;
        nFlagOffset += nRecordLength;
    }
}

std::unique_ptr<CCodePageDecoder> CDBFRepair::MakeTextDecoder(CFile& file, const DamagedTableLayout& layout,
                                                               uint64_t nDataStart, const std::string& strEncoding)
{
    const uint8_t nMark = layout.header.GetCodePageMark();
    if (!strEncoding.empty() || !CCodePageDecoder::IsUndecidedMark(nMark))
        return std::make_unique<CCodePageDecoder>(nMark, TextEvidence::None, strEncoding);
    // An unmarked table: its texts tell UTF-8, DOS 850 and Windows-1252 apart.
    CCodePageDecoder::CTextVote vote;
    const uint32_t nRecordLength = layout.nRecordLength;
    const uint64_t nLength = file.GetLength();
    std::vector<unsigned char> record(nRecordLength);
    for (int n = 0; n < kTextSampleRecords && nDataStart + nRecordLength <= nLength; ++n, nDataStart += nRecordLength) {
        file.Seek(static_cast<int64_t>(nDataStart), CFile::begin);
        if (file.Read(record.data(), nRecordLength) != nRecordLength)
            break;
        for (const DamagedField& field : layout.fields) {
            if (IsTextType(field.chType))
                vote.Add(std::string_view(reinterpret_cast<const char*>(record.data() + field.nOffset), field.nLength));
        }
    }
    return std::make_unique<CCodePageDecoder>(nMark, vote.GetEvidence());
}

void CDBFRepair::BeginSinks()
{
    m_strLastStatus.clear();
    m_bStatusSent = false;
    m_nLastProgress = -1;
}

void CDBFRepair::SetStatus(const std::string& strText)
{
    if (m_bStatusSent && strText == m_strLastStatus)
        return;
    m_bStatusSent = true;
    m_strLastStatus = strText;
    if (m_pProgress != nullptr)
        m_pProgress->SetStatusText(strText);
}

void CDBFRepair::SetProgressValue(int nValue)
{
    if (nValue == m_nLastProgress)
        return;
    m_nLastProgress = nValue;
    if (m_pProgress != nullptr)
        m_pProgress->SetProgress(nValue);
}
