#pragma once
// The values one repair run mended, cell by cell, with the bytes the source
// held there, so that a front end can show each mended value beside what it
// was and a person can check it by eye.
//
// Cells are noted in the order the records are written; the list is bounded
// (kMostCells cells, kMostBytes bytes each), the rest only counted.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class CMendedCells {
public:
    struct Cell {
        int64_t nRecord = 0;   // record number of the repaired table, from 1
        int nColumn = 0;       // column of the preview grid (1 is the first field)
        std::string strBytes;  // the bytes the source held, at most kMostBytes
        uint32_t nLength = 0;  // the field's width in the source
        bool bCutOff = false;  // the file ended inside the field: strBytes is what it held
    };
    static constexpr size_t kMostCells = 100000;
    static constexpr size_t kMostBytes = 256;

    void Clear();
    // Notes a mended cell. A cell noted again keeps what was noted first: the
    // source's bytes, before any mending.
    void Add(int64_t nRecord, int nColumn, std::span<const unsigned char> bytes, uint32_t nLength, bool bCutOff);
    // The cell, or null when it was not mended (or not listed).
    const Cell* Find(int64_t nRecord, int nColumn) const;

    const std::vector<Cell>& GetCells() const { return m_cells; }
    int64_t GetNotListed() const { return m_nNotListed; }

private:
    std::vector<Cell> m_cells;
    int64_t m_nNotListed = 0;
};
