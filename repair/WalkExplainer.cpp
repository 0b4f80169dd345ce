#include "repair/WalkExplainer.h"

#include "dbf/DBFFormat.h"
#include "repair/DamagedTableScanner.h"
#include "repair/RecordProbe.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <vector>

namespace {

using dbfformat::kEndOfFile;
// What a move found at the end of a small table must explain: records
// kept, and bits per record saved against the walk as it went.
constexpr int64_t kLeastExplained = 3;
constexpr double kExplainMargin = 0.5;
// Records below which their likeness says too little to weigh a move by.
constexpr int64_t kLeastLikeness = 16;
// Neighbours in step before a column is taken for a running key.
constexpr int64_t kLeastKeyPairs = 8;

// A whole number a column holds, where it may be a running key: a binary
// integer, or digits (blank-padded) in a number or character column.
std::optional<int64_t> KeyValue(const DamagedField& field, const unsigned char* pRecord)
{
    const unsigned char* p = pRecord + field.nOffset;
    if ((field.chType == 'I' || field.chType == '+') && field.nLength == 4)
        return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
    if (!(field.chType == 'N' || field.chType == 'F' || field.chType == 'C') || field.nDecimals != 0
        || field.nLength == 0 || field.nLength > 18)
        return std::nullopt;
    const char* pBegin = reinterpret_cast<const char*>(p);
    const char* pEnd = pBegin + field.nLength;
    while (pBegin < pEnd && *pBegin == ' ')
        ++pBegin;
    while (pEnd > pBegin && pEnd[-1] == ' ')
        --pEnd;
    int64_t nValue = 0;
    if (pBegin == pEnd || std::from_chars(pBegin, pEnd, nValue).ptr != pEnd)
        return std::nullopt;
    return nValue;
}

} // namespace

CWalkExplainer::CWalkExplainer(CRecordProbe& probe, const std::deque<WalkStep>& steps, const WalkExpectation& expect,
                               uint64_t nStart, int64_t nOrigin, uint64_t nEnd, int64_t nNext, int64_t nHeaderEnd)
    : m_probe(probe), m_steps(steps), m_expect(expect), m_nRecordLength(probe.GetRecordLength()),
      m_nFileLength(probe.GetFileLength()), m_nStart(nStart), m_nOrigin(nOrigin), m_nEnd(nEnd), m_nNext(nNext),
      m_nHeaderEnd(nHeaderEnd)
{
}

bool CWalkExplainer::IsEnd(uint64_t nOffset)
{
    return m_probe.IsEnd(nOffset, m_nHeaderEnd);
}

std::optional<WalkReplan> CWalkExplainer::ExplainLostRecords()
{
    // Whole records' worth of bytes lost without a trace on the grid: the
    // one record they cut into is pieced of two records and may look sound.
    // A running key (an id that grows by the same step from record to
    // record) shows where records are missing: a jump of just the records
    // the file lacks.
    if (m_expect.nCount <= 0 || m_expect.nSpareRecords >= 0 || m_steps.empty())
        return std::nullopt;
    const int64_t nLost = -m_expect.nSpareRecords;
    std::vector<int64_t> takes;
    std::vector<const unsigned char*> records;
    for (const WalkStep& step : m_steps) {
        for (int64_t i = 0; step.kind == WalkStep::Kind::Take && i < step.nRecords; ++i) {
            takes.push_back(step.nRecord + i);
            records.push_back(m_probe.RecordAt(step.nOffset + static_cast<uint64_t>(i) * m_nRecordLength));
        }
    }
    for (const DamagedField& field : m_probe.GetLayout().fields) {
        if (field.nLength == 0 || field.nOffset + field.nLength > m_nRecordLength)
            continue;
        std::vector<std::optional<int64_t>> values;
        for (const unsigned char* p : records)
            values.push_back(p != nullptr ? KeyValue(field, p) : std::nullopt);
        // The step most neighbours keep, and how many do.
        std::map<int64_t, int64_t> steps;
        int64_t nPairs = 0;
        for (size_t t = 1; t < takes.size(); ++t) {
            if (takes[t] != takes[t - 1] + 1 || !values[t] || !values[t - 1])
                continue;
            ++nPairs;
            ++steps[*values[t] - *values[t - 1]];
        }
        const auto mode = std::max_element(steps.begin(), steps.end(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
        if (nPairs < kLeastKeyPairs || mode == steps.end() || mode->first == 0 || mode->second * 10 < nPairs * 9)
            continue;
        const int64_t nStep = mode->first;
        // The jump: from record a to the next one (either may be the one
        // pieced together), or over one record whose key the cut went
        // through. Exactly one, or nothing says where.
        int64_t nFirst = -1;
        int64_t nLast = -1;
        int nJumps = 0;
        for (size_t t = 1; t < takes.size(); ++t) {
            for (size_t nOver = 1; nOver <= 2 && t + nOver - 1 < takes.size(); ++nOver) {
                const size_t u = t + nOver - 1;
                if (takes[u] != takes[t - 1] + static_cast<int64_t>(nOver) || !values[u] || !values[t - 1])
                    continue;
                if (*values[u] - *values[t - 1] != (nLost + static_cast<int64_t>(nOver)) * nStep)
                    continue;
                if (nOver == 2 && values[t] && (*values[t] - *values[t - 1] == nStep
                                                || *values[u] - *values[t] == nStep))
                    continue; // a jump of its own, next to a record in step
                ++nJumps;
                nFirst = nOver == 1 ? takes[t - 1] : takes[t];
                nLast = takes[t];
            }
        }
        if (nJumps != 1)
            continue;
        return WalkReplan{nFirst, nLast + 1 + nLost, -nLost * static_cast<int64_t>(m_nRecordLength)};
    }
    return std::nullopt;
}

std::optional<WalkReplan> CWalkExplainer::ExplainShift(int64_t nShift)
{
    const int64_t nLength = m_nRecordLength;
    // A move of whole records changes no alignment: nothing here can place it.
    if (!m_expect.bCountKnown || nShift % nLength == 0 || m_steps.empty())
        return std::nullopt;
    // The records end where the header's last record ends, at an end mark
    // or the file's end: whatever follows is no record, and nothing moved.
    const int64_t nExpectedEnd = m_nHeaderEnd;
    if (static_cast<int64_t>(m_nEnd) == nExpectedEnd
        && (m_nEnd >= m_nFileLength || m_probe.ByteAt(m_nEnd) == kEndOfFile))
        return std::nullopt;
    // Each place k: records before k as walked, record k dropped, the rest
    // moved by the shift. The best place makes the columns most alike: the
    // least entropy of each position's byte classes over the records kept.
    std::vector<int64_t> takes; // record numbers taken, in order
    std::vector<uint64_t> takeOffsets;
    for (const WalkStep& step : m_steps) {
        for (int64_t i = 0; step.kind == WalkStep::Kind::Take && i < step.nRecords; ++i) {
            takes.push_back(step.nRecord + i);
            takeOffsets.push_back(step.nOffset + static_cast<uint64_t>(i) * m_nRecordLength);
        }
    }
    if (takes.empty())
        return std::nullopt;
    auto classOf = [](unsigned char c) -> int {
        if (c == 0) return 0;
        if (c < 0x20) return 1;
        if (c == 0x20) return 2;
        if (c < 0x30) return 3;
        if (c < 0x3A) return 4;
        if (c < 0x41) return 5;
        if (c < 0x5B) return 6;
        if (c < 0x61) return 7;
        if (c < 0x7B) return 8;
        if (c < 0x80) return 9;
        return 10;
    };
    constexpr int kClasses = 11;
    const size_t nCells = static_cast<size_t>(nLength) * kClasses;
    auto add = [&](std::vector<int>& counts, const unsigned char* p) {
        for (int64_t i = 0; i < nLength; ++i)
            ++counts[static_cast<size_t>(i) * kClasses + classOf(p[i])];
    };
    // Moved records: the record m would lie at its grid place plus the shift.
    const int64_t nLast = takes.back();
    std::vector<std::vector<int>> suffix; // suffix[m - firstMoved]: counts of moved records m..end
    const int64_t nFirstCandidate = takes.front();
    auto movedAt = [&](int64_t m) { return Pos(m) + nShift; };
    // Counts of moved records from each m on, and of walked records before
    // each place, built once.
    std::vector<int64_t> movedNumbers;
    for (int64_t m = nFirstCandidate; m <= nLast + 1 + std::abs(nShift) / nLength + 1; ++m) {
        const int64_t nAt = movedAt(m);
        if (nAt < static_cast<int64_t>(m_nStart))
            continue;
        if (IsEnd(static_cast<uint64_t>(nAt)))
            break;
        movedNumbers.push_back(m);
    }
    if (movedNumbers.empty())
        return std::nullopt;
    suffix.assign(movedNumbers.size() + 1, std::vector<int>(nCells, 0));
    std::vector<int> sound(movedNumbers.size() + 1, 0);
    std::vector<bool> clean(movedNumbers.size(), false);
    for (size_t i = movedNumbers.size(); i-- > 0;) {
        suffix[i] = suffix[i + 1];
        const uint64_t nAt = static_cast<uint64_t>(movedAt(movedNumbers[i]));
        add(suffix[i], m_probe.RecordAt(nAt));
        const CRecordProbe::Verdict v = m_probe.Judge(nAt);
        sound[i] = sound[i + 1] + (v.IsSound() ? 1 : 0);
        clean[i] = m_probe.IsClean(v);
    }
    // The walked records after each place, for the same place without the
    // move: a move must beat that, not the loss of one odd record.
    std::vector<std::vector<int>> walked(takes.size() + 1, std::vector<int>(nCells, 0));
    for (size_t t = takes.size(); t-- > 0;) {
        walked[t] = walked[t + 1];
        add(walked[t], m_probe.RecordAt(takeOffsets[t]));
    }
    auto cost = [&](const std::vector<int>& a, const std::vector<int>& b, int64_t nKept) {
        double dCost = 0.0;
        for (size_t cell = 0; cell < nCells; ++cell) {
            const int nCount = a[cell] + b[cell];
            if (nCount > 0)
                dCost -= nCount * std::log(static_cast<double>(nCount) / static_cast<double>(nKept));
        }
        return dCost / static_cast<double>(nKept); // per record kept
    };
    // Too few records for their likeness to tell: the first walked record
    // that is not sound (dropped, or past the header's count) shows where
    // the bytes went. They went into it or into the record before, and both
    // look alike from here: both go, and the records after them move, when
    // the move makes every one of them sound and ends the records where the
    // file's do.
    int64_t nRepairPlace = -1;
    int64_t nRepairFirst = -1;
    int64_t nBad = -1;
    int64_t nLastGood = -1; // the last record taken sound before it
    for (const WalkStep& step : m_steps) {
        if (nBad >= 0 || m_nNext > kLeastLikeness)
            break;
        if (step.kind == WalkStep::Kind::Drop) {
            if (step.nRecords > 0)
                nBad = step.nRecord;
            continue;
        }
        for (int64_t i = 0; i < step.nRecords && nBad < 0; ++i) {
            const int64_t r = step.nRecord + i;
            if (r >= m_expect.nCount || !m_probe.Judge(step.nOffset + static_cast<uint64_t>(i) * m_nRecordLength).IsSound())
                nBad = r;
            else
                nLastGood = r;
        }
    }
    if (nBad >= 0) {
        size_t i = 0;
        while (i < movedNumbers.size() && (movedNumbers[i] <= nBad || movedAt(movedNumbers[i]) < Pos(nBad + 1)))
            ++i;
        const int64_t nFirst = i < movedNumbers.size() ? movedNumbers[i] : nBad + 1;
        const int64_t nMovedEnd = movedAt(std::max(nFirst, movedNumbers.back() + 1));
        const bool bFillsFile = nMovedEnd == static_cast<int64_t>(m_nFileLength)
            || (nMovedEnd < static_cast<int64_t>(m_nFileLength)
                && m_probe.ByteAt(static_cast<uint64_t>(nMovedEnd)) == kEndOfFile);
        if (sound[i] == static_cast<int>(movedNumbers.size() - i) && bFillsFile) {
            nRepairPlace = nLastGood >= 0 && nLastGood == nBad - 1 ? nLastGood : nBad;
            nRepairFirst = nFirst;
        }
    }
    std::vector<int> prefix(nCells, 0);
    double dBestGain = kExplainMargin;
    int64_t nBestPlace = -1;
    size_t nBestMoved = 0;
    for (size_t t = 0; t < takes.size(); ++t) {
        // Place k: the record after the walked records kept.
        const int64_t k = takes[t];
        if (t > 0)
            add(prefix, m_probe.RecordAt(takeOffsets[t - 1]));
        // The first moved record that starts at or after record k's end:
        // the bytes went anywhere in k, and a record moved into its place
        // may be pieced together from k and the records after the loss.
        size_t i = 0;
        while (i < movedNumbers.size() && (movedNumbers[i] <= k || movedAt(movedNumbers[i]) < Pos(k + 1)))
            ++i;
        const int64_t nMoved = static_cast<int64_t>(movedNumbers.size() - i);
        const int64_t nStayed = static_cast<int64_t>(takes.size() - t - 1);
        // Moved records must be sound, or the place is no explanation.
        if (nMoved == 0 || sound[i] * 10 < nMoved * 9 || static_cast<int64_t>(t) + nMoved < kLeastExplained)
            continue;
        // The first record moved is the one the damage may have reached
        // when it ended later than this place says, and may be pieced of two
        // records that each look sound: it must look as healthy records do.
        // A move of a record or two rests on them alone: all must.
        if (!clean[i]
            || (nMoved < kLeastExplained
                && std::find(clean.begin() + static_cast<std::ptrdiff_t>(i), clean.end(), false) != clean.end()))
            continue;
        const double dMoved = cost(prefix, suffix[i], static_cast<int64_t>(t) + nMoved);
        const double dStayed = static_cast<int64_t>(t) + nStayed > 0
            ? cost(prefix, walked[t + 1], static_cast<int64_t>(t) + nStayed) : 0.0;
        if (dStayed - dMoved > dBestGain) {
            dBestGain = dStayed - dMoved;
            nBestPlace = k;
            nBestMoved = i;
        }
    }
    // A move must explain the records clearly better than none: with little
    // to go on, the walk as it went stands.
    int64_t nMovedFirst = nBestPlace >= 0 ? movedNumbers[nBestMoved] : -1;
    if (nBestPlace < 0 && nRepairPlace >= 0) {
        nBestPlace = nRepairPlace;
        nMovedFirst = nRepairFirst;
    } else if (nBestPlace > takes.front()) {
        // As at any move: the record before the place may be the one the
        // bytes went into or out of, and looks sound all the same.
        --nBestPlace;
    }
    if (nBestPlace < 0)
        return std::nullopt;
    return WalkReplan{nBestPlace, nMovedFirst, nShift};
}
