#include "repair/MendedCells.h"

#include <algorithm>

void CMendedCells::Clear()
{
    m_cells.clear();
    m_nNotListed = 0;
}

void CMendedCells::Add(int64_t nRecord, int nColumn, std::span<const unsigned char> bytes, uint32_t nLength,
                       bool bCutOff)
{
    // A record's cells are noted together, so only the last record's can
    // repeat.
    for (auto it = m_cells.rbegin(); it != m_cells.rend() && it->nRecord == nRecord; ++it) {
        if (it->nColumn == nColumn)
            return;
    }
    if (m_cells.size() >= kMostCells) {
        ++m_nNotListed;
        return;
    }
    const size_t nKept = std::min(bytes.size(), kMostBytes);
    m_cells.push_back({nRecord, nColumn, std::string(reinterpret_cast<const char*>(bytes.data()), nKept), nLength,
                       bCutOff});
}

const CMendedCells::Cell* CMendedCells::Find(int64_t nRecord, int nColumn) const
{
    auto it = std::lower_bound(m_cells.begin(), m_cells.end(), nRecord,
                               [](const Cell& cell, int64_t n) { return cell.nRecord < n; });
    for (; it != m_cells.end() && it->nRecord == nRecord; ++it) {
        if (it->nColumn == nColumn)
            return &*it;
    }
    return nullptr;
}
