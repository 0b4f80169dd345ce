#include "repair/ProgressMeter.h"

#include <limits>

int CProgressMeter::PercentOf(uint64_t nOffset, uint64_t nLength)
{
    if (nLength == 0)
        return 0;
    const double dShare = static_cast<double>(nOffset) / static_cast<double>(nLength);
    return static_cast<int>(dShare * 100.0);
}

uint64_t CProgressMeter::FirstOffsetReaching(int nPercent) const
{
    if (m_nLength == 0)
        return std::numeric_limits<uint64_t>::max();
    // The exact answer lies within a step or two of the long double estimate;
    // the formula is monotonic in the offset, so walking finds it.
    const long double dEstimate = static_cast<long double>(nPercent) * static_cast<long double>(m_nLength) / 100.0L;
    uint64_t nOffset = dEstimate <= 0 ? 0 : static_cast<uint64_t>(dEstimate);
    while (nOffset > 0 && PercentOf(nOffset - 1, m_nLength) >= nPercent)
        --nOffset;
    while (PercentOf(nOffset, m_nLength) < nPercent) {
        if (nOffset == std::numeric_limits<uint64_t>::max())
            return nOffset;
        ++nOffset;
    }
    return nOffset;
}
