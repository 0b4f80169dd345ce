#include "repair/DBFRepair.h"

#include "dbf/DBFException.h"
#include "dbf/DBFTableDef.h"
#include "platform/ErrorReporter.h"
#include "platform/File.h"
#include "platform/TempFolder.h"
#include "platform/VariantConversionException.h"
#include "repair/DamagedTableScanner.h"
#include "repair/FieldSalvage.h"
#include "repair/ProgressMeter.h"
#include "repair/RawMemoReader.h"
#include "repair/RepairPaths.h"
#include "repair/RepairState.h"
#include "repair/RepairedTableWriter.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kStatusAnalyzing = "Analyzing Data........";
constexpr const char* kStatusExtracting = "Extracting Data........";
constexpr const char* kStatusAdding = "Adding Data........";
constexpr const char* kStatusPleaseWait = "Please wait....the file repairing is in process";

constexpr unsigned char kDeletedFlag = 0x2A;
constexpr unsigned char kEndOfFile = 0x1A;
constexpr int kPreviewColumnWidth = 100;
// The salvage loop reports half the percentage: the preview owns the rest.
constexpr int kSalvageSwitchValue = 25;
constexpr int kPleaseWaitPercent = 90;
// Bytes of damaged records read in one go (the file layer reads requests
// this large straight into the caller's buffer).
constexpr size_t kReadChunk = 1024 * 1024;
// References kept to settle the memo block size.
constexpr size_t kMemoSampleSize = 256;

// The version bytes of the table kinds the storage engine knows; a source
// with one of them keeps its kind.
bool IsKnownVersion(uint8_t nVersion)
{
    switch (nVersion) {
    case 0x03:
    case 0x30:
    case 0x43:
    case 0x63:
    case 0x7B:
    case 0x83:
    case 0x8B:
    case 0xCB:
    case 0xE5:
    case 0xF5:
        return true;
    default:
        return false;
    }
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

// Where a damaged field's bytes come from and, for the fields whose bytes
// can be written straight, where they go in the new record.
struct FieldPlan {
    uint32_t nSource;
    uint32_t nLength;
    uint8_t nDecimals;
    unsigned char* pTarget;
    SalvagedFieldWriter pfnWrite; // null: through SalvageField
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
    std::vector<FieldPlan> plans;         // one per damaged field
    std::vector<unsigned char> chunk;     // damaged records read at once
    const unsigned char* pRecord = nullptr; // the damaged record being salvaged
    std::set<std::string> reportedErrors;
    int nResult = 0;
};

CDBFRepair::CDBFRepair(IRepairProgressSink* pProgress, IPreviewGridSink* pGrid)
    : m_pProgress(pProgress), m_pGrid(pGrid)
{
}

CDBFRepair::~CDBFRepair() = default;

bool CDBFRepair::Repair(const std::string& strSource, const std::string& strOutput, int nMode)
{
    if (nMode == 0)
        return SalvageTable(strSource, strOutput) != 0;
    if (nMode == 1)
        RepairFromCopy(strSource, strOutput);
    return false;
}

int CDBFRepair::SalvageTable(const std::string& strSource, const std::string& strOutput)
{
    return RunSalvage(strSource, strOutput, FindMemoCompanion(strSource));
}

int CDBFRepair::RunSalvage(const std::string& strSource, const std::string& strOutput,
                           const std::string& strMemoPath)
{
    g_bStopRepair.store(0);
    m_stats = RepairStatistics();
    BeginSinks();
    SetProgressValue(0);

    SalvageRun run;
    CRunScope<SalvageRun> scope(m_pRun, &run);
    if (!strMemoPath.empty() && run.memo.Open(strMemoPath))
        m_stats.strSourceMemoPath = strMemoPath;
    OpenForReading(run.source, strSource);
    run.nFileLength = run.source.GetLength();

    CDBFTableDef table;
    bool bCreated = false;
    try {
        bCreated = table.Create(strOutput);
    } catch (const CDBFException& e) {
        e.ReportError();
    }
    if (!ReadStructure(run.source, table, bCreated)) {
        m_stats.bStopped = true;
        return 0;
    }
    if (!bCreated)
        return 0; // there is no new table to fill or to show
    KeepCodePage(strOutput);

    try {
        run.writer.Open(strOutput);
        run.bWriterOpen = run.writer.IsOpen();
        if (run.bWriterOpen)
            run.writer.AddNew();
    } catch (const CDBFException& e) {
        e.ReportError();
        run.bWriterOpen = false;
    }
    if (!run.bWriterOpen) {
        // Nothing can be written: the run has failed whatever follows.
        run.nResult = 0;
    } else {
        m_stats.strOutputMemoPath = run.writer.GetMemoPath();
        // Columns of the new table in creation order; a descriptor that was
        // left out keeps -1 and is skipped in every record.
        int nColumn = 0;
        for (DamagedField& field : run.layout.fields) {
            if (field.nColumn < 0)
                continue;
            field.nColumn = nColumn < run.writer.GetFieldCount() ? nColumn : -1;
            ++nColumn;
        }
        m_stats.nFieldCount = run.writer.GetFieldCount();
        for (const DamagedField& field : run.layout.fields) {
            FieldPlan plan{field.nOffset, field.nLength, field.nDecimals, nullptr, nullptr};
            if (field.nColumn >= 0 && field.chType != 'M') {
                const std::span<unsigned char> target = run.writer.DirectFieldBytes(field.nColumn);
                if (target.size() == field.nLength && !target.empty()) {
                    plan.pTarget = target.data();
                    plan.pfnWrite = SalvagedFieldWriterFor(field.chType, field.nLength);
                }
            }
            run.plans.push_back(plan);
        }
    }

    SetStatus(kStatusAnalyzing);
    bool bSwitchArmed = true;
    if (run.bWriterOpen) {
        if (!PrepareMemo()) {
            m_stats.bStopped = true;
            return 0;
        }
        CDamagedTableScanner scanner(run.source);
        CProgressMeter meter(run.nFileLength);
        const uint32_t nRecordLength = run.layout.nRecordLength;
        const int nFields = static_cast<int>(run.layout.fields.size());
        const uint32_t nLastFieldOffset = nFields > 0 ? run.layout.fields.back().nOffset : 0;
        // The records are read a chunk at a time, straight into the chunk.
        const size_t nChunkRecords = std::max<size_t>(1, kReadChunk / nRecordLength);
        run.chunk.resize(nChunkRecords * nRecordLength);
        uint64_t nFlagOffset = run.nDataStart;
        bool bEnd = false;
        while (!bEnd && nFlagOffset < run.nFileLength && run.nFileLength - nFlagOffset >= nRecordLength) {
            const size_t nRecords = static_cast<size_t>(
                std::min<uint64_t>(nChunkRecords, (run.nFileLength - nFlagOffset) / nRecordLength));
            run.source.Seek(static_cast<int64_t>(nFlagOffset), CFile::begin);
            if (run.source.Read(run.chunk.data(), nRecords * nRecordLength) < nRecords * nRecordLength)
                break; // the file shrank under us: what was read is all there is
            for (size_t r = 0; r < nRecords; ++r, nFlagOffset += nRecordLength) {
                run.pRecord = run.chunk.data() + r * nRecordLength;
                const unsigned char chFlag = run.pRecord[0];
                if (chFlag == kEndOfFile && scanner.IsEndOfRecords(nFlagOffset, nRecordLength)) {
                    bEnd = true;
                    break;
                }
                // Most records lie wholly inside one percent of the file.
                const bool bProgress = nFlagOffset + nLastFieldOffset >= meter.GetNextOffset();
                for (int i = 0; i < nFields; ++i) {
                    if (RepairStopRequested()) {
                        m_stats.bStopped = true;
                        m_stats.nRecordsWritten = run.writer.GetRecordCount();
                        return 0;
                    }
                    if (bProgress && meter.Advance(nFlagOffset + run.layout.fields[static_cast<size_t>(i)].nOffset)) {
                        const int nValue = meter.GetPercent() / 2;
                        g_nRepairProgress.store(nValue);
                        if (nValue >= kSalvageSwitchValue && bSwitchArmed) {
                            SetStatus(kStatusExtracting);
                            bSwitchArmed = false;
                            run.nResult = 1;
                        }
                        SetProgressValue(nValue);
                    }
                    // The plain cases go straight to the new record's bytes.
                    const FieldPlan& plan = run.plans[static_cast<size_t>(i)];
                    if (plan.pfnWrite != nullptr
                        && plan.pfnWrite(plan.nDecimals, run.pRecord + plan.nSource, plan.pTarget, plan.nLength))
                        continue;
                    SalvageField(i);
                }
                if (chFlag == kDeletedFlag) {
                    ++m_stats.nDeletedRecords;
                    if (!m_options.bUndelete)
                        run.writer.MarkDeleted();
                }
                run.writer.Update();
                run.writer.AddNew();
            }
        }
        m_stats.nDataEnd = std::min(nFlagOffset, run.nFileLength);
        m_stats.nRecordsWritten = run.writer.GetRecordCount();
        run.writer.Close();
    }

    if (m_pGrid != nullptr)
        m_pGrid->ClearGrid();
    FillPreview(strOutput, m_pGrid);
    if (g_bStopRepair.load() == 0 && m_pProgress != nullptr)
        m_pProgress->ShowPreview();
    return run.nResult;
}

bool CDBFRepair::ReadStructure(CFile& source, CDBFTableDef& table, bool bTableCreated)
{
    SalvageRun& run = *m_pRun;
    CDamagedTableScanner scanner(source);
    if (!scanner.ReadDescriptors(run.layout))
        return false;
    m_stats.nDescriptorCount = static_cast<int>(run.layout.fields.size());
    m_stats.bTerminatorFound = run.layout.bTerminator;
    m_stats.nRecordLength = run.layout.nRecordLength;

    if (bTableCreated) {
        const uint8_t nVersion = run.layout.header.GetVersion();
        if (IsKnownVersion(nVersion))
            table.SetNewTableKind(nVersion, 0);
        for (DamagedField& field : run.layout.fields) {
            field.nColumn = -1;
            if (field.IsNullFlags())
                continue;
            try {
                table.CreateField(field.MakeDescriptor());
                field.nColumn = 0; // numbered once the new table is open
            } catch (const CDBFException& e) {
                e.ReportError();
            }
        }
        table.Append();
        table.Close();
    }

    if (!run.layout.bTerminator) {
        run.nDataStart = run.nFileLength;
        run.nResult = 0;
        return true;
    }
    run.nResult = 1;
    if (!scanner.FindDataStart(run.layout, run.nDataStart))
        return false;
    m_stats.nDataStart = run.nDataStart;
    return true;
}

void CDBFRepair::KeepCodePage(const std::string& strOutput)
{
    // The code page mark tells readers how to decode the texts; it goes
    // with the table kind, so it is kept when the kind is.
    const DBFHeader& header = m_pRun->layout.header;
    const uint8_t nCodePage = header.GetCodePageMark();
    if (!IsKnownVersion(header.GetVersion()) || nCodePage == 0)
        return;
    CFile output;
    CFileException error;
    if (!output.Open(strOutput, CFile::modeReadWrite | CFile::typeBinary, &error))
        throw error;
    output.Seek(29, CFile::begin);
    output.Write(&nCodePage, 1);
    output.Close();
}

bool CDBFRepair::PrepareMemo()
{
    SalvageRun& run = *m_pRun;
    if (!run.memo.IsOpen())
        return true;
    std::vector<const DamagedField*> memoFields;
    for (const DamagedField& field : run.layout.fields) {
        if (field.chType == 'M' && field.nColumn >= 0)
            memoFields.push_back(&field);
    }
    if (memoFields.empty())
        return true;

    CDamagedTableScanner scanner(run.source);
    const uint32_t nRecordLength = run.layout.nRecordLength;
    std::vector<unsigned char> record(nRecordLength);
    std::vector<uint32_t> claimed;
    std::vector<MemoReference> sample;
    size_t nStride = 1;
    size_t nSeen = 0;
    int64_t nUnreadable = 0;
    uint64_t nFlagOffset = run.nDataStart;
    while (nFlagOffset < run.nFileLength && run.nFileLength - nFlagOffset >= nRecordLength) {
        if (RepairStopRequested())
            return false;
        run.source.Seek(static_cast<int64_t>(nFlagOffset), CFile::begin);
        run.source.Read(record.data(), nRecordLength);
        if (record[0] == kEndOfFile && scanner.IsEndOfRecords(nFlagOffset, nRecordLength))
            break;
        for (const DamagedField* pField : memoFields) {
            const MemoReference ref = MemoReference::Parse(
                std::span<const unsigned char>(record.data() + pField->nOffset, pField->nLength));
            if (ref.nKind == MemoReference::kUnreadable) {
                ++nUnreadable;
                continue;
            }
            if (ref.nKind != MemoReference::kBlock)
                continue;
            claimed.push_back(ref.nBlock);
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
        nFlagOffset += nRecordLength;
    }
    run.memo.SettleLayout(sample, run.layout.header.GetVersion());
    if (nUnreadable > 0)
        run.memo.SetClaimedBlocks(std::move(claimed));
    return true;
}

std::string CDBFRepair::RecoverMemoText(std::span<const unsigned char> field)
{
    SalvageRun& run = *m_pRun;
    const MemoReference ref = MemoReference::Parse(field);
    if (ref.nKind == MemoReference::kNone)
        return std::string();
    std::optional<std::string> text;
    if (run.memo.IsOpen()) {
        if (ref.nKind == MemoReference::kBlock)
            text = run.memo.ReadReferenced(ref);
        else
            text = run.memo.ScanNextText();
    }
    if (!text) {
        ++m_stats.nMemoTextsLost;
        return std::string();
    }
    ++m_stats.nMemoTextsRecovered;
    return std::move(*text);
}

std::optional<FieldValue> CDBFRepair::DecodeFieldBytes(char chType, std::span<const unsigned char> bytes)
{
    return DecodeSalvagedField(chType, bytes);
}

void CDBFRepair::SalvageField(int i)
{
    SalvageRun& run = *m_pRun;
    const DamagedField& field = run.layout.fields[static_cast<size_t>(i)];
    if (field.nColumn < 0)
        return;
    const std::span<const unsigned char> bytes(run.pRecord + field.nOffset, field.nLength);
    if (field.chType != 'M') {
        const std::span<unsigned char> target = run.writer.DirectFieldBytes(field.nColumn);
        if (!target.empty() && WriteSalvagedFieldBytes(field.chType, field.nDecimals, bytes, target))
            return;
    }
    std::optional<FieldValue> value;
    if (field.chType == 'M') {
        std::string strText = RecoverMemoText(bytes);
        if (strText.empty())
            return;
        value = FieldValue::MakeText(std::move(strText));
    } else {
        value = DecodeFieldBytes(field.chType, bytes);
        if (!value)
            return;
    }
    try {
        run.writer.SetFieldValue(field.nColumn, *value);
    } catch (const CDBFException& e) {
        ReportFieldError(e);
    } catch (const CVariantConversionException& e) {
        ReportFieldError(e);
    }
}

void CDBFRepair::ReportFieldError(const CException& e)
{
    ++m_stats.nFieldErrors;
    if (m_pRun != nullptr && !m_pRun->reportedErrors.insert(e.GetMessage()).second)
        return;
    e.ReportError();
}

void CDBFRepair::RepairFromCopy(const std::string& strSource, const std::string& strOutput)
{
    const std::string strWorkingCopy = CTempFolder::ProcessFolder() + "/temps.dbf";
    {
        CFile source;
        OpenForReading(source, strSource);
        CFile copy;
        CFileException error;
        if (!copy.Open(strWorkingCopy, CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary, &error))
            throw error;
        CopyBytes(source, copy, source.GetLength());
        unsigned char lengthBytes[2] = {0, 0};
        source.Seek(8, CFile::begin);
        if (source.Read(lengthBytes, 2) == 2) {
            const uint16_t nHeaderLength = static_cast<uint16_t>(lengthBytes[0] | (lengthBytes[1] << 8));
            if (nHeaderLength >= 1) {
                const unsigned char chTerminator = 0x0D;
                copy.Seek(nHeaderLength - 1, CFile::begin);
                copy.Write(&chTerminator, 1);
            }
        }
        copy.Close();
        source.Close();
    }
    // The working copy has no memo file of its own; the source's is used.
    try {
        RunSalvage(strWorkingCopy, strOutput, FindMemoCompanion(strSource));
    } catch (...) {
        ::unlink(strWorkingCopy.c_str());
        throw;
    }
    ::unlink(strWorkingCopy.c_str());
}

void CDBFRepair::CopyBytes(CFile& source, CFile& target, uint64_t nCount)
{
    source.SeekToBegin();
    target.SeekToBegin();
    std::vector<unsigned char> buffer(64 * 1024);
    while (nCount > 0) {
        const size_t nWant = static_cast<size_t>(std::min<uint64_t>(nCount, buffer.size()));
        const size_t nRead = source.Read(buffer.data(), nWant);
        if (nRead == 0)
            break;
        target.Write(buffer.data(), nRead);
        nCount -= nRead;
    }
}

void CDBFRepair::FillPreview(const std::string& strRepaired, IPreviewGridSink* pGrid)
{
    g_bStopRepair.store(0);
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
        if (nPercent > g_nRepairProgress.load())
            SetProgressValue(nPercent);
    };

    if (pGrid != nullptr)
        pGrid->InsertColumn(0, "Index", kPreviewColumnWidth);
    CDamagedTableScanner scanner(file);
    DamagedTableLayout layout;
    if (!scanner.ReadDescriptors(layout))
        return;
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        if (pGrid != nullptr)
            pGrid->InsertColumn(static_cast<int>(i) + 1, layout.fields[i].strName, kPreviewColumnWidth);
        report(32 + 32 * (i + 1));
    }
    uint64_t nFlagOffset = nLength;
    if (layout.bTerminator && !scanner.FindDataStart(layout, nFlagOffset))
        return;

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
            if (pGrid != nullptr) {
                const std::span<const unsigned char> bytes(record.data() + field.nOffset, field.nLength);
                pGrid->SetCellText(static_cast<int>(nRow), static_cast<int>(i) + 1,
                                   PreviewFieldText(field.chRawType, bytes));
            }
        }
        if (RepairStopRequested())
            return;
        ++nRow;
        nFlagOffset += nRecordLength;
    }
}

std::string CDBFRepair::FormatDateTimeField(const unsigned char* pBytes)
{
    return FormatDateTimeText(pBytes);
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
