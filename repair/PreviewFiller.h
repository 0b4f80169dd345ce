#pragma once
// Fills the preview grid from a well-formed table (the one a repair saved),
// read through the storage engine: a row per record with its number as
// the label, a column per field but the hidden system ones, each cell the
// field's text (PreviewFieldText), texts decoded from the table's code page,
// and deleted records marked. The progress bar is carried on from where
// the salvage left it.

#include "repair/ProgressMeter.h"

#include <cstdint>
#include <string>

class CFile;
class CRepairContext;
struct DBFFieldDescriptor;
class IPreviewGridSink;

class CPreviewFiller {
public:
    // nRowLimit: the most rows shown, 0 for all. strEncoding: the code page
    // the texts are read in, by name; empty: the table's mark decides.
    CPreviewFiller(CRepairContext& context, int64_t nRowLimit, std::string strEncoding);

    // Fills the grid (which the caller has cleared); without one only the
    // progress is carried to the end. Stops early when the context's stop
    // flag is set. Platform file errors and storage errors of the table
    // leave as exceptions.
    void Fill(const std::string& strTable, IPreviewGridSink* pGrid);
    // The same for a table as it was found, damaged or not: the descriptors
    // and the records are read where the bytes show them, not where a
    // damaged header says, up to the file's last whole record or its end
    // mark. A file without field descriptors fills only the index column.
    void FillAsFound(const std::string& strTable, IPreviewGridSink* pGrid);

private:
    struct RowSource;

    // Opens the table for its length, which measures the progress.
    uint64_t Begin(const std::string& strTable, CFile& file);
    void Report(uint64_t nOffset);
    void AddColumn(RowSource& source, const DBFFieldDescriptor& fd, uint32_t nOffset, uint32_t nLength, char chType,
                   IPreviewGridSink* pGrid);
    void FillRows(RowSource& source, IPreviewGridSink* pGrid);

    CRepairContext& m_context;
    const int64_t m_nRowLimit;
    const std::string m_strEncoding;
    CProgressMeter m_meter{0};
    bool m_bWaitArmed = true;
    int m_nGridColumns = 0;
};
