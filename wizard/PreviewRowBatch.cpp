#include "wizard/PreviewRowBatch.h"

void CPreviewRowBatch::AddRow(std::string_view strLabel)
{
    ++m_nRows;
    SetCell(m_nRows - 1, 0, strLabel);
}

void CPreviewRowBatch::SetCell(int nBatchRow, int nColumn, std::string_view strText)
{
    if (nBatchRow < 0 || nBatchRow >= m_nRows || nColumn < 0)
        return;
    Cell cell;
    cell.nRow = static_cast<uint32_t>(nBatchRow);
    cell.nColumn = static_cast<uint32_t>(nColumn);
    cell.nOffset = static_cast<uint32_t>(m_strText.size());
    cell.nLength = static_cast<uint32_t>(strText.size());
    m_strText.append(strText);
    m_aCells.push_back(cell);
}

void CPreviewRowBatch::SetRowDeleted(int nBatchRow)
{
    if (nBatchRow < 0 || nBatchRow >= m_nRows)
        return;
    m_aDeletedRows.push_back(static_cast<uint32_t>(nBatchRow));
}

void CPreviewRowBatch::Clear()
{
    m_strText.clear();
    m_aCells.clear();
    m_aDeletedRows.clear();
    m_nRows = 0;
}
