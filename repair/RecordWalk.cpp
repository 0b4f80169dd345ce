#include "repair/RecordWalk.h"

#include "dbf/DBFFormat.h"
#include "repair/DamagedTableScanner.h"
#include "repair/FieldSalvage.h"
#include "repair/RecordWindow.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>

namespace {

using dbfformat::kDeletedFlag;
using dbfformat::kEndOfFile;
using dbfformat::kLiveFlag;
// Clean records in a row that show where records line up again.
constexpr int kConfirm = 4;
// Records over which an alignment is weighed against the grid.
constexpr int kCompare = 64;
// Steps held back before they are handed out, so that a move found a few
// records late can still take back records that hold the damage.
constexpr size_t kDelay = 16;
// Clean records judged in one go before the steps are handed out.
constexpr int kBatchRecords = 256;
// Tables up to this size are planned whole before any step is handed out.
constexpr int64_t kWholeRecords = 65536;
constexpr uint64_t kWholeBytes = 16ull * 1024 * 1024;
// How far past the start of damage the searches look before the stretch
// is given up as it lies on the grid.
constexpr uint64_t kReachBytes = 1024 * 1024;
constexpr int kReachRecords = 64;
// Records the profile learns from, and how far it looks for them.
constexpr size_t kLearnRecords = 1024;
constexpr size_t kLearnFirst = 8;
constexpr uint64_t kLearnBytes = 4ull * 1024 * 1024;
constexpr int64_t kLearnScan = 4096;
// The mean fit per position by which an alignment must beat the grid when
// both look clean.
constexpr double kFitMargin = 0.15;
// What a move found at the end of a small table must explain: records
// kept, and bits per record saved against the walk as it went.
constexpr int64_t kLeastExplained = 3;
constexpr double kExplainMargin = 0.5;
// Records below which their likeness says too little to weigh a move by.
constexpr int64_t kLeastLikeness = 16;
// Neighbours in step before a column is taken for a running key.
constexpr int64_t kLeastKeyPairs = 8;

bool IsFlag(unsigned char c)
{
    return c == kLiveFlag || c == kDeletedFlag;
}

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

int64_t Mod(int64_t a, int64_t b)
{
    const int64_t r = a % b;
    return r < 0 ? r + b : r;
}

bool IsTextType(char chType)
{
    return chType == 'C' || chType == 'N' || chType == 'F' || chType == 'D' || chType == 'L';
}

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

CRecordWalk::CRecordWalk(CRecordWindow& window, CDamagedTableScanner& scanner, const DamagedTableLayout& layout,
                         const CRecordJudge& judge, uint64_t nStart, const WalkExpectation& expectation)
    : m_window(window), m_scanner(scanner), m_layout(layout), m_judge(judge), m_nRecordLength(layout.nRecordLength),
      m_nFileLength(window.GetFileLength()), m_nStart(nStart), m_expect(expectation),
      m_nShiftLeft(expectation.nNetShift), m_nOrigin(static_cast<int64_t>(nStart)), m_nReleasedEnd(nStart)
{
    const uint64_t nArea = m_nFileLength > nStart ? m_nFileLength - nStart : 0;
    m_bWhole = nArea <= kWholeBytes && static_cast<int64_t>(nArea / m_nRecordLength) <= kWholeRecords;
    LearnProfile();
}

CRecordWalk::Verdict CRecordWalk::Judge(uint64_t nOffset)
{
    Verdict v;
    const unsigned char* p = m_window.At(nOffset, m_nRecordLength);
    if (p == nullptr)
        return v;
    v.bWhole = true;
    v.bFlag = IsFlag(p[0]);
    v.nUnsound = m_judge.CountUnsound(p);
    v.check = m_evidence.CheckRecord(p);
    return v;
}

bool CRecordWalk::IsClean(const Verdict& v) const
{

    return v.IsSound() && v.check.nSoft <= m_evidence.GetSoftTolerance();
}

bool CRecordWalk::IsEnd(uint64_t nOffset)
{
    if (nOffset + m_nRecordLength > m_nFileLength)
        return true;
    if (m_window.At(nOffset, 1)[0] != kEndOfFile)
        return false;
    // Where the header's records end, the mark is the end.
    if (m_expect.bCountKnown && static_cast<int64_t>(nOffset) == Pos(m_expect.nCount))
        return true;
    // Elsewhere it may be a damaged flag (noise holds 0x1A as often as any
    // other byte): records that line up soon after it say the records go on.
    const int64_t nReach = std::max<int64_t>(kReachRecords, static_cast<int64_t>(kReachBytes / m_nRecordLength));
    for (int64_t k = 1; k <= nReach; ++k) {
        const uint64_t nAt = nOffset + static_cast<uint64_t>(k) * m_nRecordLength;
        if (nAt + 2ull * m_nRecordLength > m_nFileLength)
            break;
        if (Judge(nAt).IsSound() && Judge(nAt + m_nRecordLength).IsSound())
            return false;
    }
    return m_scanner.IsEndOfRecords(nOffset, m_nRecordLength);
}

double CRecordWalk::FitAt(uint64_t nOffset)
{
    const unsigned char* p = m_window.At(nOffset, m_nRecordLength);
    return p == nullptr ? 0.0 : m_evidence.Fit(p);
}

void CRecordWalk::LearnProfile()
{
    // Sound records on the grid from the start: first a few to learn what
    // clean looks like, then only records clean by that, so that records
    // read shifted after damage near the start teach nothing.
    const size_t nMost = std::clamp<size_t>(static_cast<size_t>(kLearnBytes / m_nRecordLength), 8, kLearnRecords);
    std::vector<std::vector<unsigned char>> copies;
    std::vector<const unsigned char*> records;
    bool bWhole = false; // every record of the table was learned
    auto relearn = [&] {
        records.clear();
        for (const auto& copy : copies)
            records.push_back(copy.data());
        m_evidence.Learn(records, m_layout, bWhole);
    };
    for (int64_t k = 0; k < kLearnScan && copies.size() < nMost; ++k) {
        const uint64_t nOffset = static_cast<uint64_t>(Pos(k));
        if (IsEnd(nOffset)) {
            bWhole = static_cast<int64_t>(copies.size()) == k && k > 0;
            break;
        }
        const Verdict v = Judge(nOffset);
        const bool bTake = (copies.size() < kLearnFirst ? v.IsSound() : IsClean(v))
            && !CRecordEvidence::HasDamagedText(m_window.At(nOffset, m_nRecordLength), m_layout);
        if (!bTake) {
            // Damage near the start: what follows may be shifted.
            if (copies.size() >= kLearnFirst)
                break;
            continue;
        }
        const unsigned char* p = m_window.At(nOffset, m_nRecordLength);
        copies.emplace_back(p, p + m_nRecordLength);
        if (copies.size() == kLearnFirst)
            relearn();
    }
    relearn();
}

bool CRecordWalk::Next(WalkStep& step)
{
    for (;;) {
        if (!m_queue.empty() && (m_bEnded || (!m_bWhole && m_nHeld > static_cast<int64_t>(kDelay)))) {
            WalkStep& front = m_queue.front();
            step = front;
            // Of a run still held back in part, the records before the last
            // few go now.
            const int64_t nSpare = m_nHeld - static_cast<int64_t>(kDelay);
            if (!m_bEnded && front.kind == WalkStep::Kind::Take && front.nRecords > nSpare) {
                step.nRecords = nSpare;
                front.nOffset += static_cast<uint64_t>(nSpare) * m_nRecordLength;
                front.nRecord += nSpare;
                front.nRecords -= nSpare;
            } else {
                m_queue.pop_front();
            }
            if (step.kind == WalkStep::Kind::Take)
                m_nHeld -= step.nRecords;
            m_nReleasedEnd = StepEnd(step);
            return true;
        }
        if (m_bEnded)
            return false;
        if (m_scanner.StopRequested()) {
            // The caller sees the stop; what was decided is handed out.
            End(static_cast<uint64_t>(std::max<int64_t>(Pos(m_nNext), 0)), m_nNext);
            m_bExplained = true;
            continue;
        }
        Advance();
        // The last record judged.
        if (m_onProgress && m_nNext > 0)
            m_onProgress(static_cast<uint64_t>(std::max<int64_t>(Pos(m_nNext - 1), 0)));
        if (m_bEnded && m_bWhole && !m_bExplained) {
            m_bExplained = true;
            if (!ExplainLostRecords())
                ExplainShiftLeft();
        }
    }
}

void CRecordWalk::Advance()
{
    // Clean records, the bulk of any table, a batch at a time.
    for (int k = 0; k < kBatchRecords; ++k) {
        const uint64_t nAt = static_cast<uint64_t>(Pos(m_nNext));
        if (nAt + m_nRecordLength > m_nFileLength || m_window.At(nAt, 1)[0] == kEndOfFile)
            break;
        const Verdict v = Judge(nAt);
        if (!IsClean(v))
            break;
        PushTake(nAt, m_nNext, v);
        ++m_nNext;
    }
    const uint64_t nOffset = static_cast<uint64_t>(Pos(m_nNext));
    if (IsEnd(nOffset)) {
        End(nOffset, m_nNext);
        return;
    }
    const Verdict v = Judge(nOffset);
    if (IsClean(v)) {
        PushTake(nOffset, m_nNext, v);
        ++m_nNext;
        return;
    }
    if (v.IsSound() && !DriftSuggestsMove(m_nNext)) {
        // Sound, only unlike the records learned so far (a number grown a
        // digit, an accent): from now on such bytes are healthy here.
        m_evidence.Widen(m_window.At(nOffset, m_nRecordLength));
        PushTake(nOffset, m_nNext, v);
        ++m_nNext;
        return;
    }
    Resolve(v);
}

bool CRecordWalk::DriftSuggestsMove(int64_t nRecord)
{
    constexpr int kDrift = 8;
    const int64_t nGridAt = Pos(nRecord);
    int nCompared = 0, nGridSound = 0, nGridSoft = 0;
    for (int i = 0; i < kDrift; ++i) {
        const uint64_t nAt = static_cast<uint64_t>(nGridAt) + static_cast<uint64_t>(i) * m_nRecordLength;
        if (IsEnd(nAt))
            break;
        const Verdict v = Judge(nAt);
        nGridSound += v.IsSound() ? 1 : 0;
        nGridSoft += v.check.nSoft;
        ++nCompared;
    }
    if (nCompared < 2)
        return false;
    const int64_t nLow = std::max<int64_t>({nGridAt - static_cast<int64_t>(m_nRecordLength) + 1,
                                            static_cast<int64_t>(m_nStart), static_cast<int64_t>(m_nReleasedEnd)});
    const int64_t nHigh = nGridAt + static_cast<int64_t>(m_nRecordLength) - 1;
    for (int64_t a = nLow; a <= nHigh; ++a) {
        if (a == nGridAt)
            continue;
        const uint64_t nFrom = static_cast<uint64_t>(a);
        if (nFrom + static_cast<uint64_t>(nCompared) * m_nRecordLength > m_nFileLength)
            continue;
        // Flags where this alignment needs them, before any closer look.
        int nFlags = 0;
        for (int i = 0; i < nCompared; ++i)
            nFlags += IsFlag(m_window.At(nFrom + static_cast<uint64_t>(i) * m_nRecordLength, 1)[0]) ? 1 : 0;
        if (nFlags + 1 < nCompared)
            continue;
        // Then the first record alone: most wrong alignments fail there.
        const Verdict vFirst = Judge(nFrom);
        if (!vFirst.IsSound() || vFirst.check.nSoft * nCompared > nGridSoft)
            continue;
        int nSound = 0, nSoft = 0;
        for (int i = 0; i < nCompared; ++i) {
            const Verdict v = Judge(nFrom + static_cast<uint64_t>(i) * m_nRecordLength);
            nSound += v.IsSound() ? 1 : 0;
            nSoft += v.check.nSoft;
        }
        if (nSound >= nGridSound && 2 * nSoft + nCompared <= nGridSoft)
            return true;
    }
    return false;
}

bool CRecordWalk::GridHolds(int64_t nRecord)
{
    bool bDrift = false;
    for (int i = 0; i < kConfirm; ++i) {
        const uint64_t nAt = static_cast<uint64_t>(Pos(nRecord + i));
        if (IsEnd(nAt))
            break;
        const Verdict v = Judge(nAt);
        if (!v.IsSound())
            return false;
        bDrift = bDrift || !IsClean(v);
    }
    return !bDrift || !DriftSuggestsMove(nRecord);
}

void CRecordWalk::Resolve(const Verdict& verdict)
{
    const int64_t n = m_nNext;
    const uint64_t nOffset = static_cast<uint64_t>(Pos(n));
    // a. The grid goes on soundly right after: the damage stayed in place,
    //    unless the file is whole records short and this is where they went.
    if (GridHolds(n + 1)) {
        if (!verdict.IsSound() && TakeLostRecords(n, n + 1))
            return;
        if (verdict.IsSound())
            PushTake(nOffset, n, verdict);
        else
            InPlace(n);
        ++m_nNext;
        return;
    }
    // b. Where sound records resume on the grid, and whether another
    //    alignment before that explains the records better.
    const uint64_t nReach = std::min<uint64_t>(
        m_nFileLength, nOffset + std::max<uint64_t>(kReachBytes, uint64_t{m_nRecordLength} * kReachRecords));
    const int64_t nGrid = FindGridResume(n + 1, nReach);
    const uint64_t nMoveTo = nGrid >= 0 ? static_cast<uint64_t>(Pos(nGrid)) + m_nRecordLength : nReach;
    int64_t nShift = 0;
    if (const uint64_t q = FindMove(nOffset + 1, nMoveTo, nShift); q != 0) {
        ApplyShift(q, nShift);
        return;
    }
    if (nGrid >= 0) {
        // The file holds whole records more than the header counts, and
        // here is a stretch of that many records' worth and more: junk
        // inserted, which is no record of the table.
        const int64_t nSpare = m_expect.nSpareRecords;
        if (nSpare > 0 && nGrid - n >= nSpare) {
            // Junk inserted inside a record leaves its head before the junk
            // and its tail after it: the grid place after a stretch of just
            // the junk's length holds that tail, and goes too.
            const int64_t nTo = nGrid - n == nSpare ? nGrid + 1 : nGrid;
            m_expect.nSpareRecords = 0;
            const uint64_t nEnd = std::min<uint64_t>(static_cast<uint64_t>(Pos(nTo)), m_nFileLength);
            PushDrop(nOffset, nEnd - nOffset, n, nTo - n - nSpare);
            m_realignments.push_back({nOffset, nEnd});
            m_nOrigin += nSpare * static_cast<int64_t>(m_nRecordLength);
            m_nNext = nTo - nSpare;
            return;
        }
        if (TakeLostRecords(n, nGrid))
            return;
        for (int64_t k = n; k < nGrid; ++k)
            InPlace(k);
        m_nNext = nGrid;
        return;
    }
    // c. Nothing lines up within reach: the stretch goes as it lies.
    int64_t k = n;
    do {
        const Verdict v = Judge(static_cast<uint64_t>(Pos(k)));
        if (v.IsSound())
            PushTake(static_cast<uint64_t>(Pos(k)), k, v);
        else
            PushDrop(static_cast<uint64_t>(Pos(k)), m_nRecordLength, k, 1);
        ++k;
    } while (static_cast<uint64_t>(Pos(k)) < nReach && !IsEnd(static_cast<uint64_t>(Pos(k))));
    m_nNext = k;
}

int64_t CRecordWalk::FindGridResume(int64_t nFrom, uint64_t nLimit)
{
    unsigned nPolls = 0;
    for (int64_t j = nFrom; static_cast<uint64_t>(Pos(j)) < nLimit; ++j) {
        if ((++nPolls & 0xFFF) == 0 && m_scanner.StopRequested())
            return -1;
        const uint64_t nAt = static_cast<uint64_t>(Pos(j));
        if (IsEnd(nAt))
            return j;
        if (GridHolds(j))
            return j;
    }
    return -1;
}

uint64_t CRecordWalk::FindMove(uint64_t nFrom, uint64_t nTo, int64_t& nShift)
{
    // Where the damaged record first stops looking like the healthy ones.
    const unsigned char* pDamaged = m_window.At(nFrom - 1, m_nRecordLength);
    const int64_t nFirstBreak = pDamaged == nullptr ? 0 : m_evidence.FirstBreak(pDamaged);
    // Whether records line up from q on and explain the records better
    // than the grid does; nCandidate gets the move.
    auto movesAt = [&](uint64_t q, int64_t& nCandidate) {
        if (q + m_nRecordLength > m_nFileLength || Mod(static_cast<int64_t>(q) - m_nOrigin, m_nRecordLength) == 0)
            return false;
        if (!IsFlag(m_window.At(q, 1)[0]))
            return false;
        // Sound records in a row there, no less like the healthy ones than
        // the grid's records beside them.
        const int64_t nGridFirst = FloorDiv(static_cast<int64_t>(q) - m_nOrigin + m_nRecordLength - 1, m_nRecordLength);
        int nSoft = 0, nGridSoft = 0, nSeen = 0;
        bool bSound = true;
        for (int i = 0; i < kConfirm && bSound; ++i) {
            const uint64_t nAt = q + static_cast<uint64_t>(i) * m_nRecordLength;
            if (IsEnd(nAt))
                break;
            const Verdict v = Judge(nAt);
            bSound = v.IsSound();
            nSoft += v.check.nSoft;
            const uint64_t nGridAt = static_cast<uint64_t>(Pos(nGridFirst + i));
            if (!IsEnd(nGridAt))
                nGridSoft += Judge(nGridAt).check.nSoft;
            ++nSeen;
        }
        if (!bSound || nSeen == 0)
            return false;
        if (nSoft > nSeen * m_evidence.GetSoftTolerance() && nSoft >= nGridSoft)
            return false;
        nCandidate = ShiftFor(q);
        // Where bytes were inserted, or whole records lost, the record the
        // new alignment puts inside the damaged record's place is pieced
        // together from two: the next one is the first whole.
        // So is the one after bytes lost across two records: possible
        // when the loss, starting no later than the damaged record's first
        // odd byte, reaches past its end.
        const bool bPieced = q < nFrom - 1 + m_nRecordLength
            && (nCandidate > 0 || nCandidate <= -static_cast<int64_t>(m_nRecordLength)
                || nFirstBreak - nCandidate > static_cast<int64_t>(m_nRecordLength));
        return !bPieced && ShiftWins(q, nCandidate);
    };
    unsigned nPolls = 0;
    for (uint64_t q = nFrom; q < nTo && q + m_nRecordLength <= m_nFileLength; ++q) {
        if ((++nPolls & 0xFFFF) == 0 && m_scanner.StopRequested())
            return 0;
        int64_t nCandidate = 0;
        if (!movesAt(q, nCandidate))
            continue;
        // Blank-padded records line up a few bytes either side of where they
        // lie: within the record's reach, the move the file's length asks
        // for wins, when it explains the records too.
        if (m_expect.bCountKnown && nCandidate != m_nShiftLeft) {
            const uint64_t q2 = q + static_cast<uint64_t>(Mod(m_nOrigin + m_nShiftLeft - static_cast<int64_t>(q), m_nRecordLength));
            int64_t nAgreeing = 0;
            if (q2 < nTo && movesAt(q2, nAgreeing) && nAgreeing == m_nShiftLeft) {
                nShift = nAgreeing;
                return q2;
            }
        }
        nShift = nCandidate;
        return q;
    }
    return 0;
}

int64_t CRecordWalk::ShiftFor(uint64_t nOffset) const
{
    const int64_t nLength = m_nRecordLength;
    const int64_t r = Mod(static_cast<int64_t>(nOffset) - m_nOrigin, nLength);
    int64_t nShift = 0;
    if (m_expect.bCountKnown) {
        // The shift of this residue nearest to what the length leaves over.
        nShift = r + nLength * static_cast<int64_t>(std::llround(static_cast<double>(m_nShiftLeft - r) / nLength));
    } else {
        nShift = r <= nLength / 2 ? r : r - nLength;
    }
    // The record there comes after every record decided so far.
    const int64_t nFirst = (static_cast<int64_t>(nOffset) - m_nOrigin - nShift) / nLength;
    if (nFirst < m_nNext)
        nShift -= (m_nNext - nFirst) * nLength;
    return nShift;
}

bool CRecordWalk::ShiftWins(uint64_t nOffset, int64_t nShift)
{
    // The first grid record at or after the new alignment's.
    const int64_t nGridFirst = FloorDiv(static_cast<int64_t>(nOffset) - m_nOrigin + m_nRecordLength - 1, m_nRecordLength);
    int nNewSound = 0, nGridSound = 0, nNewSoft = 0, nGridSoft = 0, nCompared = 0;
    double dNewFit = 0.0, dGridFit = 0.0;
    for (int i = 0; i < kCompare; ++i) {
        const uint64_t qNew = nOffset + static_cast<uint64_t>(i) * m_nRecordLength;
        const uint64_t qGrid = static_cast<uint64_t>(Pos(nGridFirst + i));
        if (IsEnd(qNew) || IsEnd(qGrid))
            break;
        const Verdict vNew = Judge(qNew);
        const Verdict vGrid = Judge(qGrid);
        nNewSound += vNew.IsSound() ? 1 : 0;
        nGridSound += vGrid.IsSound() ? 1 : 0;
        nNewSoft += vNew.check.nSoft;
        nGridSoft += vGrid.check.nSoft;
        dNewFit += FitAt(qNew);
        dGridFit += FitAt(qGrid);
        ++nCompared;
    }
    const bool bLengthAgrees = m_expect.bCountKnown && nShift == m_nShiftLeft;
    if (nCompared == 0)
        return bLengthAgrees;
    const int n = nCompared;
    if (m_expect.bCountKnown && m_nShiftLeft == 0) {
        // The length says nothing moved: only overwhelming evidence moves.
        return n >= 8 && nNewSound * 10 >= n * 9 && nGridSound * 4 <= n;
    }
    if (nNewSound >= nGridSound + std::max(2, n / 4))
        return true;
    if (nNewSound < nGridSound)
        return false;
    const bool bMostlySound = nNewSound * 10 >= n * 9;
    if (bMostlySound && 2 * nNewSoft + n <= nGridSoft)
        return true;
    if (bMostlySound && dNewFit - dGridFit > kFitMargin * n)
        return true;
    return bLengthAgrees && (nNewSoft < nGridSoft || (nNewSoft == nGridSoft && dNewFit > dGridFit));
}

void CRecordWalk::ApplyShift(uint64_t nOffset, int64_t nShift)
{
    int64_t nOrigin = m_nOrigin + nShift;
    const uint64_t q = nOffset;
    // Held-back steps the new alignment overlaps become no rows.
    uint64_t nDropFrom = static_cast<uint64_t>(Pos(m_nNext));
    int64_t nFirstDropped = m_nNext;
    while (!m_queue.empty() && StepEnd(m_queue.back()) > q) {
        WalkStep& back = m_queue.back();
        if (back.kind == WalkStep::Kind::Take && back.nRecords > 1) {
            DropLastHeld(nDropFrom, nFirstDropped);
            continue;
        }
        nDropFrom = back.nOffset;
        nFirstDropped = back.nRecord;
        if (back.kind == WalkStep::Kind::Take)
            --m_nHeld;
        m_queue.pop_back();
    }
    nDropFrom = std::min(nDropFrom, q);
    // The record before the damage may hold the start of the lost or
    // inserted stretch, and its bytes tell nothing of where in it that
    // began: it goes with the stretch rather than stand as a guess.
    if (!m_queue.empty() && m_queue.back().kind == WalkStep::Kind::Take && StepEnd(m_queue.back()) == nDropFrom)
        DropLastHeld(nDropFrom, nFirstDropped);
    // The record at q is numbered after every record kept before it.
    int64_t nFirst = (static_cast<int64_t>(q) - nOrigin) / static_cast<int64_t>(m_nRecordLength);
    if (nFirst < nFirstDropped) {
        nOrigin -= (nFirstDropped - nFirst) * static_cast<int64_t>(m_nRecordLength);
        nFirst = nFirstDropped;
    }
    PushDrop(nDropFrom, q - nDropFrom, nFirstDropped, nFirst - nFirstDropped);
    m_realignments.push_back({nDropFrom, q});
    if (m_expect.bCountKnown)
        m_nShiftLeft -= nOrigin - m_nOrigin;
    m_nOrigin = nOrigin;
    m_nNext = nFirst;
}

bool CRecordWalk::TakeLostRecords(int64_t nFrom, int64_t nTo)
{
    // Whole records' worth of bytes lost leave the grid as it was, but for
    // the one record they cut into: the records after it are numbered on.
    const int64_t nLength = m_nRecordLength;
    if (m_expect.nSpareRecords >= 0)
        return false;
    const int64_t nLost = -m_expect.nSpareRecords;
    m_expect.nSpareRecords = 0;
    const uint64_t nDropFrom = static_cast<uint64_t>(Pos(nFrom));
    const uint64_t nDropTo = static_cast<uint64_t>(Pos(nTo));
    PushDrop(nDropFrom, nDropTo - nDropFrom, nFrom, nTo - nFrom + nLost);
    m_realignments.push_back({nDropFrom, nDropTo});
    m_nOrigin -= nLost * nLength;
    m_nNext = nTo + nLost;
    return true;
}

void CRecordWalk::InPlace(int64_t nRecord)
{
    const uint64_t nOffset = static_cast<uint64_t>(Pos(nRecord));
    const Verdict v = Judge(nOffset);
    if (v.IsSound()) {
        PushTake(nOffset, nRecord, v);
        return;
    }
    // Past the records the header counts, bytes that are not a sound record
    // are as likely junk as a record: no row is made of them.
    if (m_expect.nCount > 0 && nRecord >= m_expect.nCount) {
        PushDrop(nOffset, m_nRecordLength, nRecord, 1);
        return;
    }
    // Kept when it has a sound flag or only its flag is damaged, and some
    // text of it is still there: a record with nothing left is no row.
    const unsigned char* p = m_window.At(nOffset, m_nRecordLength);
    bool bText = false;
    bool bIntact = false;
    for (const DamagedField& field : m_layout.fields) {
        if (field.nColumn < 0 || field.nLength == 0 || !IsTextType(field.chType))
            continue;
        bText = true;
        const std::span<const unsigned char> bytes(p + field.nOffset, field.nLength);
        if (m_evidence.BreaksHard(p, field.nOffset, field.nLength) || !IsSoundField(field.chType, bytes))
            continue;
        bIntact = bIntact || std::any_of(bytes.begin(), bytes.end(), [](unsigned char c) { return c != ' ' && c != 0; });
    }
    const bool bFlagOrOnlyFlag = v.bFlag || (v.nUnsound == 0 && v.check.nHard == 0);
    if (bFlagOrOnlyFlag && (bIntact || (!bText && v.bFlag)))
        PushTake(nOffset, nRecord, v);
    else
        PushDrop(nOffset, m_nRecordLength, nRecord, 1);
}

uint64_t CRecordWalk::StepEnd(const WalkStep& step) const
{
    return step.kind == WalkStep::Kind::Take ? step.nOffset + static_cast<uint64_t>(step.nRecords) * m_nRecordLength
                                             : step.nOffset + step.nLength;
}

void CRecordWalk::DropLastHeld(uint64_t& nDropFrom, int64_t& nFirstDropped)
{
    WalkStep& back = m_queue.back();
    nDropFrom = back.nOffset + static_cast<uint64_t>(back.nRecords - 1) * m_nRecordLength;
    nFirstDropped = back.nRecord + back.nRecords - 1;
    --m_nHeld;
    if (--back.nRecords == 0)
        m_queue.pop_back();
}

void CRecordWalk::PushTake(uint64_t nOffset, int64_t nRecord, const Verdict& verdict)
{
    const bool bClean = verdict.bFlag && verdict.nUnsound == 0 && verdict.IsSound();
    ++m_nHeld;
    // Clean records one after another make one step.
    if (bClean && !m_queue.empty()) {
        WalkStep& back = m_queue.back();
        if (back.kind == WalkStep::Kind::Take && back.bPerfect && !back.bTouched && StepEnd(back) == nOffset
            && back.nRecord + back.nRecords == nRecord) {
            ++back.nRecords;
            return;
        }
    }
    WalkStep step;
    step.kind = WalkStep::Kind::Take;
    step.nOffset = nOffset;
    step.nRecord = nRecord;
    step.nRecords = 1;
    step.bPerfect = verdict.bFlag && verdict.nUnsound == 0;
    step.bTouched = !verdict.IsSound();
    m_queue.push_back(step);
}

void CRecordWalk::PushDrop(uint64_t nOffset, uint64_t nLength, int64_t nRecord, int64_t nRecords)
{
    if (nLength == 0 && nRecords == 0)
        return;
    if (!m_queue.empty()) {
        WalkStep& back = m_queue.back();
        if (back.kind == WalkStep::Kind::Drop && back.nOffset + back.nLength == nOffset
            && back.nRecord + back.nRecords == nRecord) {
            back.nLength += nLength;
            back.nRecords += nRecords;
            return;
        }
    }
    WalkStep step;
    step.kind = WalkStep::Kind::Drop;
    step.nOffset = nOffset;
    step.nLength = nLength;
    step.nRecord = nRecord;
    step.nRecords = nRecords;
    m_queue.push_back(step);
}

void CRecordWalk::End(uint64_t nOffset, int64_t nRecord)
{
    m_bEnded = true;
    m_nEnd = nOffset;
    m_nEndRecord = nRecord;
}

bool CRecordWalk::ExplainLostRecords()
{
    // Whole records' worth of bytes lost without a trace on the grid: the
    // one record they cut into is pieced of two records and may look sound.
    // A running key (an id that grows by the same step from record to
    // record) shows where records are missing: a jump of just the records
    // the file lacks.
    if (m_expect.nCount <= 0 || m_expect.nSpareRecords >= 0 || m_queue.empty())
        return false;
    const int64_t nLost = -m_expect.nSpareRecords;
    std::vector<int64_t> takes;
    std::vector<const unsigned char*> records;
    for (const WalkStep& step : m_queue) {
        for (int64_t i = 0; step.kind == WalkStep::Kind::Take && i < step.nRecords; ++i) {
            takes.push_back(step.nRecord + i);
            records.push_back(m_window.At(step.nOffset + static_cast<uint64_t>(i) * m_nRecordLength, m_nRecordLength));
        }
    }
    for (const DamagedField& field : m_layout.fields) {
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
        Replan(nFirst, nLast + 1 + nLost, -nLost * static_cast<int64_t>(m_nRecordLength));
        m_expect.nSpareRecords = 0;
        return true;
    }
    return false;
}

void CRecordWalk::Replan(int64_t nPlace, int64_t nMovedFirst, int64_t nShift)
{
    // The steps before the place stay.
    while (!m_queue.empty()) {
        WalkStep& back = m_queue.back();
        if (back.nRecord + std::max<int64_t>(back.nRecords, 1) <= nPlace)
            break;
        if (back.nRecord < nPlace) {
            const int64_t nKeep = nPlace - back.nRecord;
            if (back.kind == WalkStep::Kind::Take)
                m_nHeld -= back.nRecords - nKeep;
            else
                back.nLength = std::min<uint64_t>(back.nLength, static_cast<uint64_t>(nKeep) * m_nRecordLength);
            back.nRecords = nKeep;
            break;
        }
        if (back.kind == WalkStep::Kind::Take)
            m_nHeld -= back.nRecords;
        m_queue.pop_back();
    }
    const uint64_t nDropFrom = static_cast<uint64_t>(Pos(nPlace));
    const uint64_t nResume = std::min<uint64_t>(static_cast<uint64_t>(Pos(nMovedFirst) + nShift), m_nFileLength);
    PushDrop(nDropFrom, nResume > nDropFrom ? nResume - nDropFrom : 0, nPlace, nMovedFirst - nPlace);
    m_realignments.push_back({nDropFrom, nResume});
    m_nOrigin += nShift;
    m_nShiftLeft = 0;
    m_nNext = nMovedFirst;
    m_bEnded = false;
}

void CRecordWalk::ExplainShiftLeft()
{
    const int64_t nShift = m_nShiftLeft;
    const int64_t nLength = m_nRecordLength;
    // A move of whole records changes no alignment: nothing here can place it.
    if (!m_expect.bCountKnown || nShift % nLength == 0 || m_queue.empty())
        return;
    // The records end where the header's last record ends, at an end mark
    // or the file's end: whatever follows is no record, and nothing moved.
    const int64_t nExpectedEnd = Pos(m_expect.nCount);
    if (static_cast<int64_t>(m_nEnd) == nExpectedEnd
        && (m_nEnd >= m_nFileLength || m_window.At(m_nEnd, 1)[0] == kEndOfFile))
        return;
    // Each place k: records before k as walked, record k dropped, the rest
    // moved by the shift. The best place makes the columns most alike: the
    // least entropy of each position's byte classes over the records kept.
    std::vector<int64_t> takes; // record numbers taken, in order
    std::vector<uint64_t> takeOffsets;
    for (const WalkStep& step : m_queue) {
        for (int64_t i = 0; step.kind == WalkStep::Kind::Take && i < step.nRecords; ++i) {
            takes.push_back(step.nRecord + i);
            takeOffsets.push_back(step.nOffset + static_cast<uint64_t>(i) * m_nRecordLength);
        }
    }
    if (takes.empty())
        return;
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
        return;
    suffix.assign(movedNumbers.size() + 1, std::vector<int>(nCells, 0));
    std::vector<int> sound(movedNumbers.size() + 1, 0);
    std::vector<bool> clean(movedNumbers.size(), false);
    for (size_t i = movedNumbers.size(); i-- > 0;) {
        suffix[i] = suffix[i + 1];
        const uint64_t nAt = static_cast<uint64_t>(movedAt(movedNumbers[i]));
        add(suffix[i], m_window.At(nAt, m_nRecordLength));
        const Verdict v = Judge(nAt);
        sound[i] = sound[i + 1] + (v.IsSound() ? 1 : 0);
        clean[i] = IsClean(v);
    }
    // The walked records after each place, for the same place without the
    // move: a move must beat that, not the loss of one odd record.
    std::vector<std::vector<int>> walked(takes.size() + 1, std::vector<int>(nCells, 0));
    for (size_t t = takes.size(); t-- > 0;) {
        walked[t] = walked[t + 1];
        add(walked[t], m_window.At(takeOffsets[t], m_nRecordLength));
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
    for (const WalkStep& step : m_queue) {
        if (nBad >= 0 || m_nNext > kLeastLikeness)
            break;
        if (step.kind == WalkStep::Kind::Drop) {
            if (step.nRecords > 0)
                nBad = step.nRecord;
            continue;
        }
        for (int64_t i = 0; i < step.nRecords && nBad < 0; ++i) {
            const int64_t r = step.nRecord + i;
            if (r >= m_expect.nCount || !Judge(step.nOffset + static_cast<uint64_t>(i) * m_nRecordLength).IsSound())
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
                && m_window.At(static_cast<uint64_t>(nMovedEnd), 1)[0] == kEndOfFile);
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
            add(prefix, m_window.At(takeOffsets[t - 1], m_nRecordLength));
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
        return;
    Replan(nBestPlace, nMovedFirst, nShift);
}
