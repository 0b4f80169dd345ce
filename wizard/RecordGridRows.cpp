#include "wizard/RecordGridRows.h"

#include <algorithm>

CRecordGridRows::CRecordGridRows(const RepairReport& report)
{
    for (const auto& loss : report.recordLosses) {
        if (loss.kind == RepairReport::RecordLossKind::Dropped)
            m_dropped.push_back(loss.nRecord);
    }
    std::sort(m_dropped.begin(), m_dropped.end());
}

int64_t CRecordGridRows::RowOf(int64_t nRecord) const
{
    const auto nBefore = std::lower_bound(m_dropped.begin(), m_dropped.end(), nRecord) - m_dropped.begin();
    return std::max<int64_t>(0, nRecord - 1 - nBefore);
}
