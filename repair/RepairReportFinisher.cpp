#include "repair/RepairReportFinisher.h"

#include "dbf/DBFFormat.h"
#include "repair/DamagedTableScanner.h"
#include "repair/DBFRepair.h"
#include "repair/RawMemoReader.h"
#include "repair/RepairReport.h"

void CRepairReportFinisher::Finish(bool bDone, const DamagedTableLayout& layout, uint64_t nDataStart,
                                   const CRawMemoReader& memo, const std::vector<std::vector<int64_t>>& firstMended)
{
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
    report.nRecordAreaStart = nDataStart;
    report.nRecordLength = layout.nRecordLength;
    report.nMemoBlockSize = memo.IsOpen() ? memo.GetBlockSize() : 0;
    int nColumn = 0;
    for (const DamagedField& field : layout.fields) {
        if (field.nColumn < 0)
            continue;
        const size_t i = static_cast<size_t>(nColumn++);
        if (i < m_stats.mendedPerColumn.size() && m_stats.mendedPerColumn[i] > 0)
            report.columns.push_back({field.strName, m_stats.mendedPerColumn[i], firstMended[i]});
    }
    if (!layout.bTerminator)
        return;
    // What the damaged header said that the file did not bear out.
    const DBFHeader& header = layout.header;
    if (header.GetRecordCount() != report.nRecordsWritten + report.nRecordsDropped && bDone)
        report.structureFixes.push_back("The header's record count was " + std::to_string(header.GetRecordCount()) + "; "
                                        + std::to_string(report.nRecordsWritten) + " records were found.");
    if (header.GetHeaderLength() != nDataStart)
        report.structureFixes.push_back("The records start at offset " + std::to_string(nDataStart)
                                        + ", not at the header's " + std::to_string(header.GetHeaderLength()) + ".");
    if (header.GetRecordLength() != layout.nRecordLength)
        report.structureFixes.push_back("The records are " + std::to_string(layout.nRecordLength)
                                        + " bytes long, not the header's " + std::to_string(header.GetRecordLength()) + ".");
    if (memo.IsOpen() && memo.GetHeaderBlockSize() != memo.GetBlockSize())
        report.structureFixes.push_back("The memo block size " + std::to_string(memo.GetBlockSize())
                                        + " was inferred from the records (the memo header says "
                                        + std::to_string(memo.GetHeaderBlockSize()) + ").");
    for (const DamagedField& field : layout.fields) {
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

void CRepairReportFinisher::NoteTransferUndone(bool bTableConverted, bool bMemoConverted)
{
    const std::string strFix = bTableConverted
        ? std::string("The table went through a text-mode transfer (every LF had become CR LF); ")
            + (bMemoConverted ? "the table and its memo file were" : "the table was") + " turned back before the repair."
        : "The memo file went through a text-mode transfer without its table (every LF had become CR LF); it was"
          " turned back before the repair.";
    m_report.structureFixes.insert(m_report.structureFixes.begin(), strFix);
}

std::string CRepairReportFinisher::CutOffRecordFix(uint64_t nHeld, uint32_t nRecordLength)
{
    return "The last record is cut off after " + std::to_string(nHeld) + " of its " + std::to_string(nRecordLength)
        + " bytes; its whole fields were kept.";
}
