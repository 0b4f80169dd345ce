#pragma once
// Rows for the preview grid collected away from the GUI thread and handed to
// the grid in one piece. Cell texts are UTF-8, packed into one buffer.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CPreviewRowBatch {
public:
    // Adds a row after the batch's last row with strLabel in column 0.
    void AddRow(std::string_view strLabel);
    // Sets one cell of a row of this batch (0 = the batch's first row). A
    // later call for the same cell replaces the earlier text.
    void SetCell(int nBatchRow, int nColumn, std::string_view strText);
    // Marks a row of this batch as a record the repaired table holds deleted.
    void SetRowDeleted(int nBatchRow);

    int GetRowCount() const { return m_nRows; }
    bool IsEmpty() const { return m_nRows == 0; }
    // Number of cells set, labels included.
    size_t GetCellCount() const { return m_aCells.size(); }
    // Bytes of cell text held.
    size_t GetTextBytes() const { return m_strText.size(); }
    void Clear();

    // One cell as set, in the order of the calls.
    struct Cell {
        uint32_t nRow;
        uint32_t nColumn;
        uint32_t nOffset;
        uint32_t nLength;
    };
    const std::vector<Cell>& GetCells() const { return m_aCells; }
    // The batch rows marked deleted, in the order of the calls.
    const std::vector<uint32_t>& GetDeletedRows() const { return m_aDeletedRows; }
    std::string_view GetText(const Cell& cell) const
    {
        return std::string_view(m_strText).substr(cell.nOffset, cell.nLength);
    }

private:
    std::string m_strText;
    std::vector<Cell> m_aCells;
    std::vector<uint32_t> m_aDeletedRows;
    int m_nRows = 0;
};
