#pragma once
// A preview grid written as text while the repair engine fills it: the
// headings, a rule, then the rows as aligned columns. The columns are sized
// from the headings and the first rows, which are held until then; every
// later row is written as soon as the next one begins, so memory stays
// bounded whatever the table. A later cell wider than its column pushes the
// rest of its own line to the right.

#include "repair/PreviewGridSink.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

class CTextGridSink : public IPreviewGridSink {
public:
    // pfnHeadings turns the field names as stored into UTF-8 (the engine
    // gives the cells decoded already); it sees all of them at once, when
    // the first line is written.
    using HeadingDecoder = std::function<void(std::vector<std::string>& headings)>;
    static constexpr size_t kSizingRows = 200;

    CTextGridSink(std::ostream& out, HeadingDecoder pfnHeadings, size_t nSizingRows = kSizingRows);

    void ClearGrid() override;
    void InsertColumn(int nIndex, const std::string& strHeading) override;
    void InsertRow(int nIndex, const std::string& strLabel) override;
    void SetCellText(int nRow, int nColumn, const std::string& strText) override;

    // Writes what is held: the headings (when no row came) and the last rows.
    void Finish();

private:
    void WriteHeadings();
    void WriteRow(const std::vector<std::string>& cells);

    std::ostream& m_out;
    HeadingDecoder m_pfnHeadings;
    const size_t m_nSizingRows;
    std::vector<std::string> m_headings;
    std::vector<size_t> m_widths; // set when the headings are written
    bool m_bHeadingsWritten = false;
    std::vector<std::vector<std::string>> m_rows; // held: not written yet
    size_t m_nRowsWritten = 0;
};
