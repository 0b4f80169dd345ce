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
#include "repair/RecordWindow.h"
#include "repair/RepairPaths.h"
#include "repair/RepairState.h"
#include "repair/RepairedTableWriter.h"
#include "repair/TextTransferUndo.h"

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <unordered_set>
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
// Bytes of damaged records read in one go (the file layer reads requests
// this large straight into the caller's buffer).
constexpr size_t kReadChunk = 1024 * 1024;
// References kept to settle the memo block size.
constexpr size_t kMemoSampleSize = 256;
// Bytes lost or inserted among the records beyond which the header's count
// is taken for damaged rather than the file for moved.
constexpr int64_t kMostMovedBytes = 1024 * 1024;
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

// Everything one run of SalvageTable holds; nothing survives the run.
struct CDBFRepair::SalvageRun {
    CFile source;
    uint64_t nFileLength = 0;
    CRawMemoReader memo;
    DamagedTableLayout layout;
    uint64_t nDataStart = 0;
    CRepairedTableWriter writer;
    bool bWriterOpen = false;
    bool bIdentityLayout = false;         // the new record is the damaged one
    bool bHasMemoPlans = false;           // some column's value is carried through the memo file
    std::vector<FieldPlan> plans;         // one per damaged field
    std::vector<const FieldPlan*> busy;   // the plans that need work per record
    CRecordJudge judge;                   // the fields whose bytes can be judged
    const unsigned char* pRecord = nullptr; // the damaged record being salvaged
    uint64_t nRecordOffset = 0;             // where it lies in the source
    WalkExpectation expect;                 // what the header's count says of the records
    int64_t nLastTaken = -1;                // number of the last record saved
    const CRecordEvidence* pEvidence = nullptr; // what healthy records look like
    // Memo blocks already copied, and the bytes copied again for records
    // that share a block: bounded by the source memo file's size.
    std::unordered_set<uint32_t> copiedBlocks;
    uint64_t nRepeatedMemoBytes = 0;
    std::string memoBytes; // the memo value being carried over
    std::vector<std::vector<int64_t>> firstMended; // per column: the first records mended
    int nResult = 0;
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
    const std::string strFix = bTableConverted
        ? std::string("The table went through a text-mode transfer (every LF had become CR LF); ")
            + (bMemoConverted ? "the table and its memo file were" : "the table was") + " turned back before the repair."
        : "The memo file went through a text-mode transfer without its table (every LF had become CR LF); it was"
          " turned back before the repair.";
    m_report.structureFixes.insert(m_report.structureFixes.begin(), strFix);
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
    FinishReport(nResult != 0 && !m_stats.bStopped);
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

    if (!ReadStructure(run.source)) {
        m_stats.bStopped = true;
        return 0;
    }
    if (!run.layout.bTerminator) {
        ReportErrorText("No field descriptors end in " + strSource
                        + " (no 0x0D terminator among the first 1024 blocks): no record can be salvaged.");
        return 0;
    }
    if (!PrepareMemo()) {
        m_stats.bStopped = true;
        return 0;
    }
    try {
        CLayoutPlanner planner(run.layout, run.source, run.nDataStart, run.memo.GetFormat(), run.memo.GetBlockSize(),
                               m_report, m_stats);
        run.writer.Create(strOutput, planner.Plan(strSource));
        run.bWriterOpen = run.writer.IsOpen();
    } catch (const CDBFException& e) {
        e.ReportError();
        run.bWriterOpen = false;
    }
    if (!run.bWriterOpen)
        return 0; // there is no new table to fill or to show
    m_stats.strOutputMemoPath = run.writer.HasMemoFile() ? run.writer.GetMemoPath() : std::string();
    m_stats.nFieldCount = run.writer.GetFieldCount();
    PlanFields();

    SetStatus(kStatusAnalyzing);
    bool bSwitchArmed = true;
    run.nResult = 1;
    {
        CDamagedTableScanner scanner(run.source);
        CProgressMeter meter(run.nFileLength);
        const uint32_t nRecordLength = run.layout.nRecordLength;
        CRecordWindow window(run.source, run.nFileLength,
                             std::max<size_t>(kReadChunk, static_cast<size_t>(nRecordLength) * kWindowRecords),
                             static_cast<size_t>(nRecordLength) * kLookBehindRecords);
        run.expect = ExpectedRecords();
        CRecordWalk walk(window, scanner, run.layout, run.judge, run.nDataStart, run.expect);
        run.pEvidence = &walk.GetEvidence();
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
        while (walk.Next(step)) {
            if (RepairStopRequested()) {
                m_stats.bStopped = true;
                m_stats.nRecordsWritten = run.writer.GetRecordCount();
                return 0;
            }
            if (step.kind == WalkStep::Kind::Drop) {
                AddDroppedRange(step.nOffset, step.nLength, RepairReport::DropReason::Garbage, step.nRecord,
                                step.nRecords);
                continue;
            }
            for (int64_t i = 0; i < step.nRecords; ++i) {
                run.nRecordOffset = step.nOffset + static_cast<uint64_t>(i) * nRecordLength;
                run.pRecord = window.At(run.nRecordOffset, nRecordLength);
                SalvageRecord(run.pRecord[0], !step.bPerfect, step.bTouched, step.nRecord + i);
            }
        }
        if (RepairStopRequested()) {
            m_stats.bStopped = true;
            m_stats.nRecordsWritten = run.writer.GetRecordCount();
            return 0;
        }
        m_report.realignments = walk.GetRealignments();
        // What is left: an end-of-file mark and whatever follows it, or the
        // start of a record cut off by the end of the file.
        int64_t nAccounted = walk.GetEndRecord();
        if (walk.GetEnd() < run.nFileLength)
            nAccounted += SalvageTail(window, walk.GetEnd(), walk.GetEndRecord());
        // Records the header counts that the file no longer holds: their
        // bytes went with damage the walk could not place. (A file whole
        // records short of its count may only have a count not brought up
        // to date; but nothing says which, and no record may go unnamed.)
        if (const WalkExpectation& expect = run.expect; expect.nCount > 0 && nAccounted < expect.nCount)
            AddDroppedRange(std::min(walk.GetEnd(), run.nFileLength), 0, RepairReport::DropReason::CutOff, nAccounted,
                            expect.nCount - nAccounted);
        m_stats.nDataEnd = std::min(walk.GetEnd(), run.nFileLength);
        m_stats.nRecordsWritten = run.writer.GetRecordCount();
        run.writer.Close();
    }

    // The new table is read back only to fill a grid; without one the
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
    return run.nResult;
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

void CDBFRepair::PlanFields()
{
    SalvageRun& run = *m_pRun;
    run.plans.clear();
    run.busy.clear();
    bool bIdentity = run.writer.GetRecordLength() == run.layout.nRecordLength;
    for (const DamagedField& field : run.layout.fields) {
        FieldPlan plan{field.nOffset, field.nLength, field.nColumn, 0, 0, field.chType, field.nDecimals, false, false};
        if (field.nColumn >= 0) {
            const std::span<unsigned char> target = run.writer.FieldBytes(field.nColumn);
            plan.nTarget = static_cast<uint32_t>(target.data() - run.writer.Record().data());
            plan.nTargetLength = static_cast<uint32_t>(target.size());
            plan.bMemo = field.IsMemo();
            plan.bCheck = !plan.bMemo
                && (field.chType == 'N' || field.chType == 'F' || field.chType == 'D' || field.chType == 'L'
                    || field.chType == 'T');
        }
        if (plan.nColumn < 0 || plan.nTarget != plan.nSource || plan.nTargetLength != plan.nLength)
            bIdentity = false;
        run.plans.push_back(plan);
    }
    run.bIdentityLayout = bIdentity;
    std::vector<CRecordJudge::Field> checked;
    for (const DamagedField& field : run.layout.fields) {
        if (field.nLength > 0 && field.nColumn >= 0 && (field.chType == 'N' || field.chType == 'F' || field.chType == 'D'
                                  || field.chType == 'L' || field.chType == 'T'))
            checked.push_back({field.nOffset, field.nLength, field.chType});
    }
    run.judge = CRecordJudge(checked, run.layout.nRecordLength);
    m_stats.mendedPerColumn.assign(static_cast<size_t>(run.writer.GetFieldCount()), 0);
    run.firstMended.assign(static_cast<size_t>(run.writer.GetFieldCount()), {});
    run.bHasMemoPlans = false;
    for (const FieldPlan& plan : run.plans) {
        if (plan.bCheck || plan.bMemo)
            run.busy.push_back(&plan);
        run.bHasMemoPlans = run.bHasMemoPlans || (plan.bMemo && plan.nColumn >= 0);
    }
}

bool CDBFRepair::PrepareMemo()
{
    SalvageRun& run = *m_pRun;
    if (!run.memo.IsOpen())
        return true;
    std::vector<const DamagedField*> memoFields;
    for (const DamagedField& field : run.layout.fields) {
        if (field.IsMemo() && field.nLength > 0)
            memoFields.push_back(&field);
    }
    if (memoFields.empty())
        return true;

    CDamagedTableScanner scanner(run.source);
    const uint32_t nRecordLength = run.layout.nRecordLength;
    const size_t nChunkRecords = std::max<size_t>(1, kReadChunk / nRecordLength);
    std::vector<unsigned char> chunk(nChunkRecords * nRecordLength);
    std::vector<uint32_t> claimed, leftClaimed;
    constexpr size_t kShapeSample = 16;
    size_t nShaped = 0, nLeftShaped = 0;
    std::vector<MemoReference> sample;
    size_t nStride = 1;
    size_t nSeen = 0;
    uint64_t nFlagOffset = run.nDataStart;
    bool bEnd = false;
    while (!bEnd && nFlagOffset < run.nFileLength && run.nFileLength - nFlagOffset >= nRecordLength) {
        if (RepairStopRequested())
            return false;
        const size_t nRecords = static_cast<size_t>(
            std::min<uint64_t>(nChunkRecords, (run.nFileLength - nFlagOffset) / nRecordLength));
        run.source.Seek(static_cast<int64_t>(nFlagOffset), CFile::begin);
        if (run.source.Read(chunk.data(), nRecords * nRecordLength) < nRecords * nRecordLength)
            ThrowOsFileError(EIO, run.source.GetFilePath());
        for (size_t r = 0; r < nRecords; ++r, nFlagOffset += nRecordLength) {
            const unsigned char* pRecord = chunk.data() + r * nRecordLength;
            if (pRecord[0] == kEndOfFile && scanner.IsEndOfRecords(nFlagOffset, nRecordLength)) {
                bEnd = true;
                break;
            }
            for (const DamagedField* pField : memoFields) {
                const MemoReference ref = MemoReference::Parse(
                    std::span<const unsigned char>(pRecord + pField->nOffset, pField->nLength));
                if (ref.nKind != MemoReference::kBlock)
                    continue;
                // Writers align the block number one way, which the first
                // records show; a number read across shifted records (a
                // digit and the next field's blanks) comes out the other,
                // and would cut the values it seems to start inside.
                const unsigned char chLast = pRecord[pField->nOffset + pField->nLength - 1];
                const bool bText = pField->nLength > 4 && !IsMemoRefForm(std::span<const unsigned char>(
                                                               pRecord + pField->nOffset, pField->nLength));
                const bool bLeft = bText && (chLast == ' ' || chLast == 0);
                if (nShaped < kShapeSample) {
                    ++nShaped;
                    nLeftShaped += bLeft ? 1 : 0;
                }
                (bLeft ? leftClaimed : claimed).push_back(ref.nBlock);
                // An even sample over the whole table: every nStride-th
                // reference, thinned out as the table turns out longer.
                if (nSeen++ % nStride == 0) {
                    sample.push_back(ref);
                    if (sample.size() >= 2 * kMemoSampleSize) {
                        std::vector<MemoReference> thinned;
                        for (size_t i = 0; i < sample.size(); i += 2)
                            thinned.push_back(sample[i]);
                        sample.swap(thinned);
                        nStride *= 2;
                    }
                }
            }
        }
    }
    if (2 * nLeftShaped > nShaped)
        claimed.swap(leftClaimed);
    run.memo.SettleLayout(sample, run.layout.header.GetVersion());
    run.copiedBlocks.reserve(claimed.size());
    run.memo.SetClaimedBlocks(std::move(claimed));
    return true;
}

void CDBFRepair::SalvageField(const FieldPlan& plan)
{
    SalvageRun& run = *m_pRun;
    const std::span<const unsigned char> bytes(run.pRecord + plan.nSource, plan.nLength);
    if (plan.bMemo) {
        SalvageMemo(plan, bytes);
        return;
    }
    if (IsSoundField(plan.chType, bytes))
        return;
    // Copied already; mended in the new record.
    MendField(plan.chType, plan.nDecimals, run.writer.FieldBytes(plan.nColumn));
    NoteMendedValue(plan.nColumn, run.writer.GetRecordCount() + 1);
}

void CDBFRepair::SalvageMemo(const FieldPlan& plan, std::span<const unsigned char> bytes)
{
    SalvageRun& run = *m_pRun;
    const MemoReference ref = MemoReference::Parse(bytes);
    if (ref.nKind == MemoReference::kNone) {
        run.writer.StoreNoMemo(plan.nColumn);
        return;
    }
    std::string& strBytes = run.memoBytes;
    std::span<const unsigned char> bytesFound;
    uint32_t nType = 1;
    bool bValue = false;
    if (run.memo.IsOpen()) {
        if (ref.nKind == MemoReference::kBlock) {
            bValue = run.memo.ReadReferencedView(ref, strBytes, bytesFound, nType);
        } else if (plan.chType == 'M') {
            if (std::optional<std::string> text = run.memo.ScanNextText()) {
                strBytes = std::move(*text);
                bytesFound = std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(strBytes.data()),
                                                            strBytes.size());
                bValue = true;
            }
        }
    }
    if (!bValue) {
        ++m_stats.nMemoTextsLost;
        // Named by record and column, so that a person can look for it.
        if (m_report.missingMemos.size() < RepairReport::kMostMissingMemos)
            m_report.missingMemos.push_back(
                {run.nLastTaken + 1, run.layout.fields[static_cast<size_t>(&plan - run.plans.data())].strName});
        else
            ++m_report.nMissingMemosNotListed;
        run.writer.StoreNoMemo(plan.nColumn);
        return;
    }
    if (ref.nKind == MemoReference::kBlock && !run.copiedBlocks.insert(ref.nBlock).second) {
        // Records that share a block each get their own copy (a shared block
        // would let an edit of one change the other), but never more bytes
        // again than the source memo file holds.
        run.nRepeatedMemoBytes += bytesFound.size();
        if (run.nRepeatedMemoBytes > run.memo.GetLength()) {
            ++m_stats.nSharedMemosNotCopied;
            run.writer.StoreNoMemo(plan.nColumn);
            return;
        }
    }
    // A value the new memo file cannot take (a full disk) fails the run: the
    // error passes on, since going on would save a table that lost it.
    run.writer.StoreMemo(plan.nColumn, bytesFound, nType);
    ++m_stats.nMemoTextsRecovered;
}

WalkExpectation CDBFRepair::ExpectedRecords()
{
    SalvageRun& run = *m_pRun;
    const DBFHeader& header = run.layout.header;
    const uint32_t nRecordLength = run.layout.nRecordLength;
    WalkExpectation expect;
    const int64_t nCount = header.GetRecordCount();
    if (nCount <= 0 || header.GetRecordLength() != nRecordLength)
        return expect;
    if (header.GetHeaderLength() != run.nDataStart) {
        // The records start elsewhere: the count still says how many the
        // header knew of, when it is near what the file can hold.
        const uint64_t nArea = static_cast<uint64_t>(nCount) * nRecordLength;
        if (nArea <= run.nFileLength + std::max<uint64_t>(run.nFileLength / 2, kMostMovedBytes))
            expect.nCount = nCount;
        return expect;
    }
    const uint64_t nEnd = run.nDataStart + static_cast<uint64_t>(nCount) * nRecordLength;
    unsigned char chAt = 0;
    unsigned char chLast = 0;
    if (nEnd < run.nFileLength) {
        run.source.Seek(static_cast<int64_t>(nEnd), CFile::begin);
        run.source.Read(&chAt, 1);
    }
    run.source.Seek(static_cast<int64_t>(run.nFileLength - 1), CFile::begin);
    run.source.Read(&chLast, 1);
    int64_t nShift = 0;
    // An end mark right where the header's records end: what follows is
    // no record, and nothing moved.
    if (!(nEnd < run.nFileLength && chAt == kEndOfFile))
        nShift = static_cast<int64_t>(run.nFileLength) - (chLast == kEndOfFile ? 1 : 0) - static_cast<int64_t>(nEnd);
    // Whole records more or fewer: a count not brought up to date (a crash
    // after records were added or removed), which tells nothing of moved
    // bytes unless the records show damage. A count far off the file's
    // length is no count at all.
    if (nShift != 0 && nShift % static_cast<int64_t>(nRecordLength) == 0) {
        expect.nSpareRecords = nShift / static_cast<int64_t>(nRecordLength);
        expect.nCount = nCount;
        return expect;
    }
    if (std::abs(nShift) > std::max<int64_t>(static_cast<int64_t>(run.nFileLength / 2), kMostMovedBytes))
        return expect;
    expect.bCountKnown = true;
    expect.nCount = nCount;
    expect.nNetShift = nShift;
    return expect;
}

void CDBFRepair::AddDroppedRange(uint64_t nOffset, uint64_t nLength, RepairReport::DropReason reason,
                                 int64_t nFirstRecord, int64_t nRecords)
{
    if (nLength == 0 && nRecords == 0)
        return;
    m_report.nRecordsDropped += nRecords;
    m_report.nBytesDropped += nLength;
    if (m_report.dropped.size() < RepairReport::kMostRanges)
        m_report.dropped.push_back({nOffset, nLength, reason, nRecords});
    else
        ++m_report.nDroppedRangesNotListed;
    const uint32_t nRecordLength = m_pRun->layout.nRecordLength;
    for (int64_t i = 0; i < nRecords; ++i) {
        // The record's own bytes within the range; none when they were lost.
        const uint64_t nAt = std::min(nOffset + static_cast<uint64_t>(i) * nRecordLength, nOffset + nLength);
        const uint64_t nHere = std::min<uint64_t>(nRecordLength, nOffset + nLength - nAt);
        NoteRecordLoss(nFirstRecord + i, RepairReport::RecordLossKind::Dropped, nAt, nHere);
    }
}

void CDBFRepair::NoteRecordLoss(int64_t nRecord, RepairReport::RecordLossKind kind, uint64_t nOffset, uint64_t nLength)
{
    // A record both mended in place and found to end before the end mark
    // is one loss, not two.
    if (!m_report.recordLosses.empty() && m_report.recordLosses.back().nRecord == nRecord + 1
        && m_report.recordLosses.back().kind == kind)
        return;
    if (kind == RepairReport::RecordLossKind::Mended)
        ++m_report.nRecordsMended;
    else if (kind == RepairReport::RecordLossKind::CutShort)
        ++m_report.nRecordsCutShort;
    if (m_report.recordLosses.size() < RepairReport::kMostRecordLosses)
        m_report.recordLosses.push_back({nRecord + 1, kind, nOffset, nLength});
    else
        ++m_report.nRecordLossesNotListed;
}

void CDBFRepair::SalvageRecord(unsigned char chFlag, bool bCheckValues, bool bTouched, int64_t nSourceRecord)
{
    SalvageRun& run = *m_pRun;
    run.nLastTaken = nSourceRecord;
    const bool bDeleted = chFlag == kDeletedFlag;
    // A sound record of a table whose layout stays and whose values need
    // nothing goes across as it is: the bulk of most tables.
    if (run.bIdentityLayout && !bCheckValues && !bTouched && !run.bHasMemoPlans
        && (chFlag == kLiveFlag || (bDeleted && !m_options.bUndelete))) {
        if (bDeleted)
            ++m_stats.nDeletedRecords;
        run.writer.AppendRecordBytes(run.pRecord);
        return;
    }
    const std::span<unsigned char> target = run.writer.Record();
    if (run.bIdentityLayout) {
        std::memcpy(target.data(), run.pRecord, run.layout.nRecordLength);
    } else {
        for (const FieldPlan& plan : run.plans) {
            if (plan.nColumn >= 0 && !plan.bMemo)
                std::memcpy(target.data() + plan.nTarget, run.pRecord + plan.nSource, plan.nLength);
        }
    }
    for (const FieldPlan* pPlan : run.busy) {
        if (bCheckValues || pPlan->bMemo)
            SalvageField(*pPlan);
    }
    if (bTouched) {
        // Text bytes no healthy record holds there (NUL or control bytes, or
        // high bytes in a table without them) are the damage: blanked, so
        // that what is left of the text reads as it was.
        for (const FieldPlan& plan : run.plans) {
            if (plan.nColumn < 0 || plan.bMemo || !IsTextType(plan.chType) || run.pEvidence == nullptr
                || !run.pEvidence->BreaksHard(run.pRecord, plan.nSource, plan.nLength))
                continue;
            run.pEvidence->BlankHardBreaks(target.data() + plan.nTarget, plan.nSource,
                                           std::min(plan.nLength, plan.nTargetLength));
            NoteMendedValue(plan.nColumn, run.writer.GetRecordCount() + 1);
        }
        NoteRecordLoss(nSourceRecord, RepairReport::RecordLossKind::Mended, run.nRecordOffset,
                       run.layout.nRecordLength);
    }
    // A damaged flag makes a live record; deleted ones stay deleted.
    if (bDeleted)
        ++m_stats.nDeletedRecords;
    target[0] = bDeleted && !m_options.bUndelete ? kDeletedFlag : kLiveFlag;
    run.writer.Update();
}

int CDBFRepair::SalvageTail(CRecordWindow& window, uint64_t nOffset, int64_t nRecord)
{
    SalvageRun& run = *m_pRun;
    const uint64_t nRest = run.nFileLength - nOffset;
    const unsigned char* p = window.At(nOffset, static_cast<size_t>(nRest));
    if (p == nullptr)
        return 0;
    // Zeros and end marks are padding, not data.
    const auto isPadding = [](const unsigned char* q, uint64_t n) {
        return std::all_of(q, q + n, [](unsigned char c) { return c == 0 || c == kEndOfFile; });
    };
    const uint32_t nRecordLength = run.layout.nRecordLength;
    if (p[0] == kEndOfFile) {
        // Bytes after the end mark: the start of a record whose append was
        // cut short counts as a record lost; junk is no record, though it
        // is named.
        if (nRest > 1 && !isPadding(p + 1, nRest - 1)) {
            const int nRecords = LooksLikeRecordHead(p + 1, nRest - 1) ? 1 : 0;
            AddDroppedRange(nOffset + 1, nRest - 1, RepairReport::DropReason::AfterEndMark, nRecord, nRecords);
            return nRecords;
        }
        return 0;
    }
    if (isPadding(p, nRest))
        return 0;
    // A record cut off by the end of the file: the fields it holds whole are
    // kept, the others left blank and counted as lost. A file cut short
    // loses its end mark too: one that still ends in it lost bytes inside
    // the record, and what it holds is not its fields.
    const bool bFlag = p[0] == kLiveFlag || p[0] == kDeletedFlag;
    if (p[nRest - 1] == kEndOfFile) {
        // (Past the records the header counts, they are no record of it.)
        const WalkExpectation& expect = run.expect;
        const int nRecords = !expect.bCountKnown || nRecord < expect.nCount ? 1 : 0;
        AddDroppedRange(nOffset, nRest, RepairReport::DropReason::CutOff, nRecord, nRecords);
        // Bytes short of a record before the end mark: bytes were inserted
        // or lost near the end, and the record before them may hold the
        // change, as it lies.
        if (nRecord > 0 && run.nLastTaken == nRecord - 1)
            NoteRecordLoss(nRecord - 1, RepairReport::RecordLossKind::Mended, nOffset - nRecordLength, nRecordLength);
        return nRecords;
    }
    int nWhole = 0;
    for (const DamagedField& field : run.layout.fields) {
        if (field.nColumn >= 0 && field.nOffset + field.nLength <= nRest)
            ++nWhole;
    }
    if (!bFlag || nWhole == 0) {
        // Past the records the header counts, bytes without a flag are no
        // record of it.
        const WalkExpectation& expect = run.expect;
        const bool bRecord = bFlag || !expect.bCountKnown || nRecord < expect.nCount;
        AddDroppedRange(nOffset, nRest, RepairReport::DropReason::CutOff, nRecord, bRecord ? 1 : 0);
        return bRecord ? 1 : 0;
    }
    std::vector<unsigned char> record(nRecordLength, 0);
    std::memcpy(record.data(), p, static_cast<size_t>(nRest));
    run.pRecord = record.data();
    run.nRecordOffset = nOffset;
    const int64_t nRecordNumber = run.writer.GetRecordCount() + 1;
    // Blank the missing fields first, so their checks see blanks.
    for (const DamagedField& field : run.layout.fields) {
        if (field.nOffset + field.nLength <= nRest)
            continue;
        const bool bBinary = !field.IsMemo()
            && (field.chType == 'I' || field.chType == 'Y' || field.chType == 'T' || field.chType == '0'
                || (field.chType == 'B' && field.nLength == 8) || field.chType == 'Q' || field.chType == 'V');
        // A memo reference of blanks: its value is gone with the record's tail.
        std::fill(record.begin() + field.nOffset, record.begin() + field.nOffset + field.nLength,
                  static_cast<unsigned char>(bBinary ? 0 : ' '));
        if (field.nColumn >= 0)
            NoteMendedValue(field.nColumn, nRecordNumber);
    }
    SalvageRecord(p[0], true, false, nRecord);
    NoteRecordLoss(nRecord, RepairReport::RecordLossKind::CutShort, nOffset, nRest);
    m_report.structureFixes.push_back("The last record is cut off after " + std::to_string(nRest) + " of its "
                                      + std::to_string(nRecordLength) + " bytes; its whole fields were kept.");
    return 1;
}

bool CDBFRepair::LooksLikeRecordHead(const unsigned char* p, uint64_t nBytes) const
{
    const SalvageRun& run = *m_pRun;
    if (p[0] != kLiveFlag && p[0] != kDeletedFlag)
        return false;
    // Zeros where the write stopped are no part of it.
    while (nBytes > 0 && p[nBytes - 1] == 0)
        --nBytes;
    int nWhole = 0;
    for (const DamagedField& field : run.layout.fields) {
        if (field.nColumn < 0 || field.nOffset + field.nLength > nBytes)
            continue;
        // A torn write may leave any value, but not bytes text never holds.
        if (run.pEvidence != nullptr && run.pEvidence->BreaksHard(p, field.nOffset, field.nLength))
            return false;
        ++nWhole;
    }
    return nWhole > 0;
}

void CDBFRepair::NoteMendedValue(int nColumn, int64_t nRecordNumber)
{
    ++m_stats.nValuesMended;
    ++m_stats.mendedPerColumn[static_cast<size_t>(nColumn)];
    std::vector<int64_t>& first = m_pRun->firstMended[static_cast<size_t>(nColumn)];
    if (first.size() < RepairReport::kFirstRecords)
        first.push_back(nRecordNumber);
    NoteMendedBytes(nColumn, nRecordNumber);
}

void CDBFRepair::NoteMendedBytes(int nColumn, int64_t nRecordNumber)
{
    const SalvageRun& run = *m_pRun;
    int nGridColumn = 0;
    for (size_t i = 0; i < run.plans.size(); ++i) {
        const FieldPlan& plan = run.plans[i];
        if (plan.nColumn < 0 || IsHiddenFromGrid(run.layout.fields[i]))
            continue;
        ++nGridColumn;
        if (plan.nColumn != nColumn)
            continue;
        // A field the end of the file cut into was blanked before its
        // note: what the file held of it is read again.
        const uint64_t nAt = run.nRecordOffset + plan.nSource;
        const uint64_t nHeld = nAt < run.nFileLength ? std::min<uint64_t>(plan.nLength, run.nFileLength - nAt) : 0;
        if (nHeld == plan.nLength) {
            m_mendedCells.Add(nRecordNumber, nGridColumn, {run.pRecord + plan.nSource, plan.nLength}, plan.nLength,
                              false);
            return;
        }
        std::vector<unsigned char> held(static_cast<size_t>(nHeld));
        if (nHeld > 0) {
            m_pRun->source.Seek(static_cast<int64_t>(nAt), CFile::begin);
            held.resize(m_pRun->source.Read(held.data(), held.size()));
        }
        m_mendedCells.Add(nRecordNumber, nGridColumn, held, plan.nLength, true);
        return;
    }
}

void CDBFRepair::FinishReport(bool bDone)
{
    SalvageRun& run = *m_pRun;
    RepairReport& report = m_report;
    report.bDone = bDone;
    report.strSourceMemo = m_stats.strSourceMemoPath;
    report.nRecordsWritten = m_stats.nRecordsWritten;
    report.nDeletedRecords = m_stats.nDeletedRecords;
    report.nValuesMended = m_stats.nValuesMended;
    report.nMemosRecovered = m_stats.nMemoTextsRecovered;
    report.nMemosMissing = m_stats.nMemoTextsLost;
    report.nMemosSharedNotCopied = m_stats.nSharedMemosNotCopied;
    report.bMemoFileMissing = m_stats.bMemoFileMissing;
    report.nRecordAreaStart = run.nDataStart;
    report.nRecordLength = run.layout.nRecordLength;
    report.nMemoBlockSize = run.memo.IsOpen() ? run.memo.GetBlockSize() : 0;
    int nColumn = 0;
    for (const DamagedField& field : run.layout.fields) {
        if (field.nColumn < 0)
            continue;
        const size_t i = static_cast<size_t>(nColumn++);
        if (i < m_stats.mendedPerColumn.size() && m_stats.mendedPerColumn[i] > 0)
            report.columns.push_back({field.strName, m_stats.mendedPerColumn[i], run.firstMended[i]});
    }
    if (!run.layout.bTerminator)
        return;
    // What the damaged header said that the file did not bear out.
    const DBFHeader& header = run.layout.header;
    if (header.GetRecordCount() != report.nRecordsWritten + report.nRecordsDropped && bDone)
        report.structureFixes.push_back("The header's record count was " + std::to_string(header.GetRecordCount()) + "; "
                                        + std::to_string(report.nRecordsWritten) + " records were found.");
    if (header.GetHeaderLength() != run.nDataStart)
        report.structureFixes.push_back("The records start at offset " + std::to_string(run.nDataStart)
                                        + ", not at the header's " + std::to_string(header.GetHeaderLength()) + ".");
    if (header.GetRecordLength() != run.layout.nRecordLength)
        report.structureFixes.push_back("The records are " + std::to_string(run.layout.nRecordLength)
                                        + " bytes long, not the header's " + std::to_string(header.GetRecordLength()) + ".");
    if (run.memo.IsOpen() && run.memo.GetHeaderBlockSize() != run.memo.GetBlockSize())
        report.structureFixes.push_back("The memo block size " + std::to_string(run.memo.GetBlockSize())
                                        + " was inferred from the records (the memo header says "
                                        + std::to_string(run.memo.GetHeaderBlockSize()) + ").");
    for (const DamagedField& field : run.layout.fields) {
        if (field.nColumn < 0)
            continue;
        if (field.bWide)
            report.structureFixes.push_back("Column " + field.strName + " is a wide character field of "
                                            + std::to_string(field.nLength) + " bytes.");
        if (!dbfformat::IsDecodedType(field.chType))
            report.structureFixes.push_back("Column " + field.strName + " of type " + std::string(1, field.chType)
                                            + " is carried as it is.");
    }
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
