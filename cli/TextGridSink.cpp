#include "cli/TextGridSink.h"

#include <algorithm>
#include <ostream>

namespace {

// Characters of a UTF-8 text (continuation bytes do not count).
size_t DisplayLength(const std::string& str)
{
    return static_cast<size_t>(std::count_if(str.begin(), str.end(),
                                             [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

template <typename T>
void InsertAt(std::vector<T>& items, int nIndex, T item)
{
    const size_t nAt = nIndex < 0 ? 0 : std::min(static_cast<size_t>(nIndex), items.size());
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(nAt), std::move(item));
}

} // namespace

CTextGridSink::CTextGridSink(std::ostream& out, HeadingDecoder pfnHeadings, size_t nSizingRows)
    : m_out(out), m_pfnHeadings(std::move(pfnHeadings)), m_nSizingRows(std::max<size_t>(nSizingRows, 1))
{
}

void CTextGridSink::ClearGrid()
{
    m_headings.clear();
    m_rows.clear();
}

void CTextGridSink::InsertColumn(int nIndex, const std::string& strHeading)
{
    // Columns come before the rows; one that came later would not fit the
    // lines written already.
    if (m_bHeadingsWritten)
        return;
    InsertAt(m_headings, nIndex, strHeading);
    for (auto& row : m_rows) {
        if (static_cast<size_t>(std::max(nIndex, 0)) <= row.size())
            InsertAt(row, nIndex, std::string());
    }
}

void CTextGridSink::InsertRow(int, const std::string& strLabel)
{
    // The engine adds rows in order, each after the last: the rows held
    // are complete now.
    if (!m_bHeadingsWritten && m_rows.size() >= m_nSizingRows)
        WriteHeadings();
    if (m_bHeadingsWritten) {
        for (const auto& row : m_rows)
            WriteRow(row);
        m_nRowsWritten += m_rows.size();
        m_rows.clear();
    }
    m_rows.push_back(std::vector<std::string>{strLabel});
}

void CTextGridSink::SetCellText(int nRow, int nColumn, const std::string& strText)
{
    if (nRow < 0 || nColumn < 0 || static_cast<size_t>(nRow) < m_nRowsWritten
        || static_cast<size_t>(nRow) - m_nRowsWritten >= m_rows.size())
        return;
    auto& row = m_rows[static_cast<size_t>(nRow) - m_nRowsWritten];
    if (row.size() <= static_cast<size_t>(nColumn))
        row.resize(static_cast<size_t>(nColumn) + 1);
    row[static_cast<size_t>(nColumn)] = strText;
}

void CTextGridSink::Finish()
{
    if (!m_bHeadingsWritten)
        WriteHeadings();
    for (const auto& row : m_rows)
        WriteRow(row);
    m_nRowsWritten += m_rows.size();
    m_rows.clear();
}

void CTextGridSink::WriteHeadings()
{
    m_bHeadingsWritten = true;
    if (m_pfnHeadings)
        m_pfnHeadings(m_headings);
    m_widths.assign(m_headings.size(), 0);
    for (size_t c = 0; c < m_headings.size(); ++c) {
        m_widths[c] = DisplayLength(m_headings[c]);
        for (const auto& row : m_rows) {
            if (c < row.size())
                m_widths[c] = std::max(m_widths[c], DisplayLength(row[c]));
        }
    }
    WriteRow(m_headings);
    std::string strRule;
    for (size_t c = 0; c < m_widths.size(); ++c) {
        if (c > 0)
            strRule += "-+-";
        strRule.append(m_widths[c], '-');
    }
    m_out << strRule << "\n";
}

void CTextGridSink::WriteRow(const std::vector<std::string>& cells)
{
    static const std::string kEmpty;
    std::string strLine;
    for (size_t c = 0; c < m_widths.size(); ++c) {
        const std::string& strCell = c < cells.size() ? cells[c] : kEmpty;
        if (c > 0)
            strLine += " | ";
        strLine += strCell;
        if (c + 1 < m_widths.size())
            strLine.append(m_widths[c] - std::min(m_widths[c], DisplayLength(strCell)), ' ');
    }
    m_out << strLine << "\n";
}
