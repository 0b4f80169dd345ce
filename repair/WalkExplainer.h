#pragma once
// Hindsight over a small table walked whole: the file's length says bytes
// moved or whole records were lost, and the walk found no place for it.
// Looking back over every step planned, this finds the one place that
// explains it best:
//  - whole records lost: the jump of a running key (an id that grows by the
//    same step from record to record) over just the records missing;
//  - bytes moved: the place where moving the records after it makes the
//    columns most alike, or, with too few records for that, the first
//    record that is not sound when moving the rest makes them all sound.
// The walk replans from that place; nothing found, it stands as it went.

#include "repair/RecordWalk.h"

#include <cstdint>
#include <deque>
#include <optional>

class CRecordProbe;

// Records from nPlace on go; the walk goes on at nMovedFirst, which lies
// nShift bytes off the walk's alignment.
struct WalkReplan {
    int64_t nPlace = 0;
    int64_t nMovedFirst = 0;
    int64_t nShift = 0;
};

class CWalkExplainer {
public:
    // steps: every step the walk planned, in file order. nOrigin: where
    // record 0 lies on the walk's alignment; nEnd: where the records ended;
    // nNext: the record after the last one decided; nHeaderEnd as for
    // CRecordProbe::IsEnd.
    CWalkExplainer(CRecordProbe& probe, const std::deque<WalkStep>& steps, const WalkExpectation& expect,
                   uint64_t nStart, int64_t nOrigin, uint64_t nEnd, int64_t nNext, int64_t nHeaderEnd);

    // The file is whole records short: the one jump of a running key over
    // just the records missing.
    std::optional<WalkReplan> ExplainLostRecords();
    // The file's length leaves nShift bytes moved (no whole records): the
    // place where the move explains the records clearly best.
    std::optional<WalkReplan> ExplainShift(int64_t nShift);

private:
    int64_t Pos(int64_t nRecord) const { return m_nOrigin + nRecord * static_cast<int64_t>(m_nRecordLength); }
    bool IsEnd(uint64_t nOffset);

    CRecordProbe& m_probe;
    const std::deque<WalkStep>& m_steps;
    const WalkExpectation& m_expect;
    uint32_t m_nRecordLength;
    uint64_t m_nFileLength;
    uint64_t m_nStart;
    int64_t m_nOrigin;
    uint64_t m_nEnd;
    int64_t m_nNext;
    int64_t m_nHeaderEnd;
};
