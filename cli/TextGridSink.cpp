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

void CTextGridSink::ClearGrid()
{
    m_headings.clear();
    m_rows.clear();
}

void CTextGridSink::InsertColumn(int nIndex, const std::string& strHeading, int)
{
    InsertAt(m_headings, nIndex, strHeading);
    for (auto& row : m_rows) {
        if (static_cast<size_t>(std::max(nIndex, 0)) <= row.size())
            InsertAt(row, nIndex, std::string());
    }
}

void CTextGridSink::InsertRow(int nIndex, const std::string& strLabel)
{
    InsertAt(m_rows, nIndex, std::vector<std::string>{strLabel});
}

void CTextGridSink::SetCellText(int nRow, int nColumn, const std::string& strText)
{
    if (nRow < 0 || nColumn < 0 || static_cast<size_t>(nRow) >= m_rows.size())
        return;
    auto& row = m_rows[static_cast<size_t>(nRow)];
    if (row.size() <= static_cast<size_t>(nColumn))
        row.resize(static_cast<size_t>(nColumn) + 1);
    row[static_cast<size_t>(nColumn)] = strText;
}

std::string CTextGridSink::GetCell(size_t nRow, size_t nColumn) const
{
    if (nRow >= m_rows.size() || nColumn >= m_rows[nRow].size())
        return std::string();
    return m_rows[nRow][nColumn];
}

void CTextGridSink::Print(std::ostream& out, const std::function<std::string(const std::string&)>& toOutput) const
{
    const size_t nColumns = m_headings.size();
    std::vector<std::vector<std::string>> lines;
    lines.reserve(m_rows.size() + 1);
    lines.emplace_back();
    for (const auto& strHeading : m_headings)
        lines.back().push_back(toOutput(strHeading));
    for (size_t r = 0; r < m_rows.size(); ++r) {
        lines.emplace_back();
        for (size_t c = 0; c < nColumns; ++c)
            lines.back().push_back(toOutput(GetCell(r, c)));
    }
    std::vector<size_t> widths(nColumns, 0);
    for (const auto& line : lines) {
        for (size_t c = 0; c < nColumns; ++c)
            widths[c] = std::max(widths[c], DisplayLength(line[c]));
    }
    auto printLine = [&](const std::vector<std::string>& cells) {
        std::string strLine;
        for (size_t c = 0; c < nColumns; ++c) {
            if (c > 0)
                strLine += " | ";
            strLine += cells[c];
            if (c + 1 < nColumns)
                strLine.append(widths[c] - DisplayLength(cells[c]), ' ');
        }
        out << strLine << "\n";
    };
    printLine(lines[0]);
    std::string strRule;
    for (size_t c = 0; c < nColumns; ++c) {
        if (c > 0)
            strRule += "-+-";
        strRule.append(widths[c], '-');
    }
    out << strRule << "\n";
    for (size_t i = 1; i < lines.size(); ++i)
        printLine(lines[i]);
}

void CTextGridSink::DecodeHeadings(const std::function<std::string(const std::string&)>& toUtf8)
{
    for (std::string& strHeading : m_headings)
        strHeading = toUtf8(strHeading);
}
