// The percentage arithmetic of the repair's progress.

#include "repair/ProgressMeter.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(ProgressMeter, PercentIsTruncatedAfterDividingThenMultiplying)
{
    EXPECT_EQ(CProgressMeter::PercentOf(29, 100), 28); // 0.29 * 100 is 28.999...
    EXPECT_EQ(CProgressMeter::PercentOf(50, 100), 50);
    EXPECT_EQ(CProgressMeter::PercentOf(99, 100), 99);
    EXPECT_EQ(CProgressMeter::PercentOf(0, 0), 0);
}

// The meter computes only at thresholds; the percentages it reports must be
// those of computing at every offset.
TEST(ProgressMeter, ReportsExactlyThePercentagesOfEveryOffset)
{
    std::mt19937_64 rng(7);
    for (uint64_t nLength : {uint64_t{1}, uint64_t{3}, uint64_t{100}, uint64_t{101}, uint64_t{997}, uint64_t{4096}}) {
        CProgressMeter meter(nLength);
        int nLast = -1;
        for (uint64_t nOffset = 0; nOffset < nLength; ++nOffset) {
            const int nExpected = CProgressMeter::PercentOf(nOffset, nLength);
            const bool bChanged = meter.Advance(nOffset);
            EXPECT_EQ(meter.GetPercent(), nExpected) << nOffset << "/" << nLength;
            EXPECT_EQ(bChanged, nExpected != nLast) << nOffset << "/" << nLength;
            nLast = nExpected;
        }
    }
    // Large files, offsets jumping by record lengths.
    for (int nRound = 0; nRound < 20; ++nRound) {
        const uint64_t nLength = 1 + rng() % (uint64_t{1} << 40);
        const uint64_t nStep = 1 + rng() % (nLength / 50 + 1);
        CProgressMeter meter(nLength);
        for (uint64_t nOffset = rng() % nStep; nOffset < nLength; nOffset += nStep) {
            meter.Advance(nOffset);
            ASSERT_EQ(meter.GetPercent(), CProgressMeter::PercentOf(nOffset, nLength)) << nOffset << "/" << nLength;
        }
    }
}

} // namespace
