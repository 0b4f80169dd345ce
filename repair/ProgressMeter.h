#pragma once
// The percentage of a file that an offset has reached, computed the way the
// repair reports it: offset / length, then * 100, both in double precision,
// truncated toward zero (an offset of 29 in 100 bytes gives 28).
//
// The salvage asks for it before every field; the meter computes the
// division only when the offset has reached the next whole percent, so
// asking costs one comparison.

#include <cstdint>

class CProgressMeter {
public:
    explicit CProgressMeter(uint64_t nLength) : m_nLength(nLength) {}

    static int PercentOf(uint64_t nOffset, uint64_t nLength);

    // Moves to nOffset (offsets only grow); true when the percentage changed
    // (the first call always changes it).
    bool Advance(uint64_t nOffset)
    {
        if (m_nPercent >= 0 && nOffset < m_nNextOffset)
            return false;
        const int nPercent = PercentOf(nOffset, m_nLength);
        const bool bChanged = nPercent != m_nPercent;
        m_nPercent = nPercent;
        m_nNextOffset = FirstOffsetReaching(nPercent + 1);
        return bChanged;
    }
    int GetPercent() const { return m_nPercent; }
    // The offset at which Advance will next report a change (0 before the
    // first call).
    uint64_t GetNextOffset() const { return m_nPercent < 0 ? 0 : m_nNextOffset; }

private:
    // The smallest offset whose percentage is at least nPercent.
    uint64_t FirstOffsetReaching(int nPercent) const;

    uint64_t m_nLength;
    int m_nPercent = -1;
    uint64_t m_nNextOffset = 0;
};
