#include "repair/PreviewFiller.h"

#include "dbf/ChooseTextDecoder.h"
#include "dbf/DBFFormat.h"
#include "dbf/DBFTableDef.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "repair/DamagedTableScanner.h"
#include "repair/FieldSalvage.h"
#include "repair/PreviewGridSink.h"
#include "repair/ProgressMeter.h"
#include "repair/RepairContext.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kStatusAdding = "Adding Data........";
constexpr const char* kStatusPleaseWait = "Please wait....the file repairing is in process";
constexpr int kPleaseWaitPercent = 90;
// Records whose texts decide the code page of an unmarked table.
constexpr int64_t kTextSampleRecords = 4096;

// A field as the grid reads it.
struct GridField {
    uint32_t nOffset;
    uint32_t nLength;
    char chRawType; // the type byte as stored: it picks the cell's form
    bool bText;     // text in the table's code page
    int nColumn;    // column of the grid; -1 for a hidden one
};

} // namespace

// Where the rows come from: the storage engine for a table a repair saved,
// the damaged-table scanner for a table as it was found.
struct CPreviewFiller::RowSource {
    std::vector<GridField> fields;
    uint64_t nDataStart = 0;
    uint32_t nRecordLength = 0;
    uint8_t nCodePageMark = 0;
    // Whether a row nRow lies in the table.
    std::function<bool(int64_t nRow)> hasRow;
    // Reads row nRow; false where an end mark ends the records before it.
    std::function<bool(int64_t nRow, std::vector<unsigned char>& record)> readRow;
};

CPreviewFiller::CPreviewFiller(CRepairContext& context, int64_t nRowLimit, std::string strEncoding)
    : m_context(context), m_nRowLimit(nRowLimit), m_strEncoding(std::move(strEncoding))
{
}

uint64_t CPreviewFiller::Begin(const std::string& strTable, CFile& file)
{
    m_context.State().Stop().store(0);
    CFileException error;
    if (!file.Open(strTable, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary, &error))
        throw error;
    // The file's length measures the progress, as the salvage's did.
    const uint64_t nLength = file.GetLength();
    m_meter = CProgressMeter(nLength);
    m_bWaitArmed = true;
    return nLength;
}

void CPreviewFiller::Report(uint64_t nOffset)
{
    if (!m_meter.Advance(nOffset))
        return;
    const int nPercent = m_meter.GetPercent();
    if (nPercent == kPleaseWaitPercent && m_bWaitArmed) {
        m_context.SetStatus(kStatusPleaseWait);
        m_bWaitArmed = false;
    }
    if (nPercent > m_context.State().Progress().load())
        m_context.SetProgress(nPercent);
}

void CPreviewFiller::AddColumn(RowSource& source, const DBFFieldDescriptor& fd, uint32_t nOffset, uint32_t nLength,
                               char chType, IPreviewGridSink* pGrid)
{
    const bool bHidden = IsHiddenFromGrid(fd);
    const int nColumn = bHidden ? -1 : ++m_nGridColumns;
    source.fields.push_back({nOffset, nLength, fd.GetType(), IsCodePageText(chType), nColumn});
    if (pGrid != nullptr && !bHidden)
        pGrid->InsertColumn(nColumn, fd.GetName());
    Report(32 + 32 * source.fields.size());
}

void CPreviewFiller::Fill(const std::string& strTable, IPreviewGridSink* pGrid)
{
    CFile file;
    Begin(strTable, file);
    file.Close();

    CDBFTableDef table;
    table.SetReporter(m_context.Reporter());
    table.SetMemoFileOptional(true);
    table.Open(strTable, CFile::modeRead | CFile::shareDenyNone);
    if (!table.IsOpen())
        throw CFileException(CFileException::genericException, 0, strTable);

    if (pGrid != nullptr)
        pGrid->InsertColumn(0, "Index");
    RowSource source;
    m_nGridColumns = 0;
    for (const DBFFieldDescriptor& fd : table.GetFields())
        AddColumn(source, fd, fd.GetOffset(), fd.GetWidth(),
                  SalvageTypeFor(static_cast<unsigned char>(fd.GetType())), pGrid);
    source.nDataStart = table.GetHeader().GetHeaderLength();
    source.nRecordLength = table.GetHeader().GetRecordLength();
    source.nCodePageMark = table.GetHeader().GetCodePageMark();
    const int64_t nRecords = table.GetRecordCount();
    source.hasRow = [nRecords](int64_t nRow) { return nRow < nRecords; };
    source.readRow = [&table](int64_t nRow, std::vector<unsigned char>& record) {
        table.ReadRecord(static_cast<int32_t>(nRow), record);
        return true;
    };
    FillRows(source, pGrid);
}

void CPreviewFiller::FillAsFound(const std::string& strTable, IPreviewGridSink* pGrid)
{
    CFile file;
    const uint64_t nLength = Begin(strTable, file);

    if (pGrid != nullptr)
        pGrid->InsertColumn(0, "Index");
    CDamagedTableScanner scanner(file);
    DamagedTableLayout layout;
    if (!scanner.ReadDescriptors(layout))
        return;
    RowSource source;
    m_nGridColumns = 0;
    for (const DamagedField& field : layout.fields)
        AddColumn(source, field.descriptor, field.nOffset, field.nLength, field.chType, pGrid);
    uint64_t nDataStart = nLength;
    if (layout.bTerminator && !scanner.FindDataStart(layout, nDataStart))
        return;
    source.nDataStart = nDataStart;
    source.nRecordLength = layout.nRecordLength;
    source.nCodePageMark = layout.header.GetCodePageMark();
    const uint32_t nRecordLength = layout.nRecordLength;
    // Every whole record the file holds: the header's count may be damaged.
    source.hasRow = [nDataStart, nRecordLength, nLength](int64_t nRow) {
        const uint64_t nOffset = nDataStart + static_cast<uint64_t>(nRow) * nRecordLength;
        return nOffset < nLength && nLength - nOffset >= nRecordLength;
    };
    source.readRow = [&](int64_t nRow, std::vector<unsigned char>& record) {
        const uint64_t nOffset = nDataStart + static_cast<uint64_t>(nRow) * nRecordLength;
        file.Seek(static_cast<int64_t>(nOffset), CFile::begin);
        file.Read(record.data(), nRecordLength);
        return !(record[0] == dbfformat::kEndOfFile && scanner.IsEndOfRecords(nOffset, nRecordLength));
    };
    FillRows(source, pGrid);
}

void CPreviewFiller::FillRows(RowSource& source, IPreviewGridSink* pGrid)
{
    const uint32_t nRecordLength = source.nRecordLength;
    std::vector<unsigned char> record(nRecordLength);
    std::unique_ptr<CCodePageDecoder> pDecoder;
    if (pGrid != nullptr) {
        pDecoder = ChooseTextDecoder(source.nCodePageMark, m_strEncoding, kTextSampleRecords,
                                     [&](int64_t nRecord, CCodePageDecoder::CTextVote& vote) {
                                         if (!source.hasRow(nRecord))
                                             return false;
                                         source.readRow(nRecord, record);
                                         for (const GridField& field : source.fields) {
                                             if (field.bText)
                                                 vote.Add(std::string_view(
                                                     reinterpret_cast<const char*>(record.data() + field.nOffset),
                                                     field.nLength));
                                         }
                                         return true;
                                     });
        pGrid->InsertRow(0, "1");
    }
    m_context.SetStatus(kStatusAdding);

    const uint32_t nLastFieldOffset = source.fields.empty() ? 0 : source.fields.back().nOffset;
    for (int64_t nRow = 0; source.hasRow(nRow); ++nRow) {
        if (m_nRowLimit > 0 && nRow >= m_nRowLimit)
            break;
        const uint64_t nFlagOffset = source.nDataStart + static_cast<uint64_t>(nRow) * nRecordLength;
        // Without a grid only the progress is wanted, and that needs no
        // record bytes.
        if (pGrid != nullptr) {
            if (!source.readRow(nRow, record))
                break;
            if (nRow > 0)
                pGrid->InsertRow(static_cast<int>(nRow), std::to_string(nRow + 1));
        }
        const bool bProgress = nFlagOffset + nLastFieldOffset >= m_meter.GetNextOffset();
        if (pGrid == nullptr && !bProgress) {
            // Nothing to show and no percentage to pass in this record.
            if (m_context.StopRequested())
                return;
            continue;
        }
        for (const GridField& field : source.fields) {
            if (m_context.StopRequested())
                return;
            if (bProgress)
                Report(nFlagOffset + field.nOffset);
            if (pGrid != nullptr && field.nColumn > 0) {
                const std::span<const unsigned char> bytes(record.data() + field.nOffset, field.nLength);
                std::string strText = PreviewFieldText(field.chRawType, bytes);
                // Plain ASCII needs no decoding.
                if (field.bText && std::any_of(strText.begin(), strText.end(), [](char c) { return (c & 0x80) != 0; }))
                    strText = pDecoder->ToUtf8(strText);
                pGrid->SetCellText(static_cast<int>(nRow), field.nColumn, strText);
            }
        }
        if (m_context.StopRequested())
            return;
        if (pGrid != nullptr && record[0] == dbfformat::kDeletedFlag)
            pGrid->SetRowDeleted(static_cast<int>(nRow));
    }
}
