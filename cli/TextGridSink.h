#pragma once
// A preview grid kept as text, for printing: the columns' headings and the
// rows' cells as the repair engine fills them.

#include "repair/PreviewGridSink.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

class CTextGridSink : public IPreviewGridSink {
public:
    void ClearGrid() override;
    void InsertColumn(int nIndex, const std::string& strHeading, int nWidth) override;
    void InsertRow(int nIndex, const std::string& strLabel) override;
    void SetCellText(int nRow, int nColumn, const std::string& strText) override;

    size_t GetColumnCount() const { return m_headings.size(); }
    size_t GetRowCount() const { return m_rows.size(); }
    const std::string& GetHeading(size_t nColumn) const { return m_headings[nColumn]; }
    // The cell's text; empty for a cell never set.
    std::string GetCell(size_t nRow, size_t nColumn) const;

    // Passes every heading through toUtf8: the engine gives the field names
    // as stored, but the cells already decoded.
    void DecodeHeadings(const std::function<std::string(const std::string&)>& toUtf8);

    // Writes the grid as aligned columns: the headings, a rule, the rows.
    // Every text goes through toOutput (for example a code-page decoder).
    void Print(std::ostream& out, const std::function<std::string(const std::string&)>& toOutput) const;

private:
    std::vector<std::string> m_headings;
    std::vector<std::vector<std::string>> m_rows;
};
