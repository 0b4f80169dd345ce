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

CPreviewFiller::CPreviewFiller(CRepairContext& context, int64_t nRowLimit, std::string strEncoding)
    : m_context(context), m_nRowLimit(nRowLimit), m_strEncoding(std::move(strEncoding))
{
}

void CPreviewFiller::Fill(const std::string& strTable, IPreviewGridSink* pGrid)
{
    m_context.State().Stop().store(0);
    // The file's length measures the progress, as the salvage's did.
    uint64_t nLength = 0;
    {
        CFile file;
        CFileException error;
        if (!file.Open(strTable, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary, &error))
            throw error;
        nLength = file.GetLength();
    }
    CProgressMeter meter(nLength);
    bool bWaitArmed = true;
    auto report = [&](uint64_t nOffset) {
        if (!meter.Advance(nOffset))
            return;
        const int nPercent = meter.GetPercent();
        if (nPercent == kPleaseWaitPercent && bWaitArmed) {
            m_context.SetStatus(kStatusPleaseWait);
            bWaitArmed = false;
        }
        if (nPercent > m_context.State().Progress().load())
            m_context.SetProgress(nPercent);
    };

    CDBFTableDef table;
    table.SetMemoFileOptional(true);
    table.Open(strTable, CFile::modeRead | CFile::shareDenyNone);
    if (!table.IsOpen())
        throw CFileException(CFileException::genericException, 0, strTable);

    if (pGrid != nullptr)
        pGrid->InsertColumn(0, "Index");
    std::vector<GridField> fields;
    int nGridColumns = 0;
    for (const DBFFieldDescriptor& fd : table.GetFields()) {
        const bool bHidden = IsHiddenFromGrid(fd);
        fields.push_back({fd.GetOffset(), fd.GetWidth(), fd.GetType(),
                          IsCodePageText(SalvageTypeFor(static_cast<unsigned char>(fd.GetType()))),
                          bHidden ? -1 : ++nGridColumns});
        if (pGrid != nullptr && !bHidden)
            pGrid->InsertColumn(nGridColumns, fd.GetName());
        report(32 + 32 * fields.size());
    }

    const uint64_t nDataStart = table.GetHeader().GetHeaderLength();
    const uint32_t nRecordLength = table.GetHeader().GetRecordLength();
    const int64_t nRecords = table.GetRecordCount();
    std::vector<unsigned char> record(nRecordLength);
    std::unique_ptr<CCodePageDecoder> pDecoder;
    if (pGrid != nullptr) {
        pDecoder = ChooseTextDecoder(table.GetHeader().GetCodePageMark(), m_strEncoding, kTextSampleRecords,
                                     [&](int64_t nRecord, CCodePageDecoder::CTextVote& vote) {
                                         if (nRecord >= nRecords)
                                             return false;
                                         table.ReadRecord(static_cast<int32_t>(nRecord), record);
                                         for (const GridField& field : fields) {
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

    const uint32_t nLastFieldOffset = fields.empty() ? 0 : fields.back().nOffset;
    for (int64_t nRow = 0; nRow < nRecords; ++nRow) {
        if (m_nRowLimit > 0 && nRow >= m_nRowLimit)
            break;
        const uint64_t nFlagOffset = nDataStart + static_cast<uint64_t>(nRow) * nRecordLength;
        // Without a grid only the progress is wanted, and that needs no
        // record bytes.
        if (pGrid != nullptr) {
            table.ReadRecord(static_cast<int32_t>(nRow), record);
            if (nRow > 0)
                pGrid->InsertRow(static_cast<int>(nRow), std::to_string(nRow + 1));
        }
        const bool bProgress = nFlagOffset + nLastFieldOffset >= meter.GetNextOffset();
        if (pGrid == nullptr && !bProgress) {
            // Nothing to show and no percentage to pass in this record.
            if (m_context.StopRequested())
                return;
            continue;
        }
        for (const GridField& field : fields) {
            if (m_context.StopRequested())
                return;
            if (bProgress)
                report(nFlagOffset + field.nOffset);
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
