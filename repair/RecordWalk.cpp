#include "repair/RecordWalk.h"

#include "dbf/DBFFormat.h"
#include "repair/DamagedTableScanner.h"
#include "repair/FieldSalvage.h"
#include "repair/RecordWindow.h"
#include "repair/WalkExplainer.h"

#include <algorithm>
#include <cmath>

namespace {

using dbfformat::kEndOfFile;
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
// The mean fit per position by which an alignment must beat the grid when
// both look clean.
constexpr double kFitMargin = 0.15;

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

} // namespace

CRecordWalk::CRecordWalk(CRecordWindow& window, CDamagedTableScanner& scanner, const DamagedTableLayout& layout,
                         const CRecordJudge& judge, uint64_t nStart, const WalkExpectation& expectation)
    : m_probe(window, scanner, layout, judge), m_nRecordLength(layout.nRecordLength),
      m_nFileLength(window.GetFileLength()), m_nStart(nStart), m_expect(expectation),
      m_nShiftLeft(expectation.nNetShift), m_nOrigin(static_cast<int64_t>(nStart)), m_nReleasedEnd(nStart)
{
    const uint64_t nArea = m_nFileLength > nStart ? m_nFileLength - nStart : 0;
    m_bWhole = nArea <= kWholeBytes && static_cast<int64_t>(nArea / m_nRecordLength) <= kWholeRecords;
    m_probe.Learn(nStart, HeaderEnd());
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
        if (m_probe.StopRequested()) {
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
            ExplainInHindsight();
        }
    }
}

void CRecordWalk::Advance()
{
    // Clean records, the bulk of any table, a batch at a time.
    for (int k = 0; k < kBatchRecords; ++k) {
        const uint64_t nAt = static_cast<uint64_t>(Pos(m_nNext));
        if (nAt + m_nRecordLength > m_nFileLength || m_probe.ByteAt(nAt) == kEndOfFile)
            break;
        const Verdict v = m_probe.Judge(nAt);
        if (!m_probe.IsClean(v))
            break;
        PushTake(nAt, m_nNext, v);
        ++m_nNext;
    }
    const uint64_t nOffset = static_cast<uint64_t>(Pos(m_nNext));
    if (IsEnd(nOffset)) {
        End(nOffset, m_nNext);
        return;
    }
    const Verdict v = m_probe.Judge(nOffset);
    if (m_probe.IsClean(v)) {
        PushTake(nOffset, m_nNext, v);
        ++m_nNext;
        return;
    }
    if (v.IsSound() && !DriftSuggestsMove(m_nNext)) {
        // Sound, only unlike the records learned so far (a number grown a
        // digit, an accent): from now on such bytes are healthy here.
        m_probe.GetEvidence().Widen(m_probe.RecordAt(nOffset));
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
        const Verdict v = m_probe.Judge(nAt);
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
            nFlags += CRecordProbe::IsFlag(m_probe.ByteAt(nFrom + static_cast<uint64_t>(i) * m_nRecordLength)) ? 1 : 0;
        if (nFlags + 1 < nCompared)
            continue;
        // Then the first record alone: most wrong alignments fail there.
        const Verdict vFirst = m_probe.Judge(nFrom);
        if (!vFirst.IsSound() || vFirst.check.nSoft * nCompared > nGridSoft)
            continue;
        int nSound = 0, nSoft = 0;
        for (int i = 0; i < nCompared; ++i) {
            const Verdict v = m_probe.Judge(nFrom + static_cast<uint64_t>(i) * m_nRecordLength);
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
        const Verdict v = m_probe.Judge(nAt);
        if (!v.IsSound())
            return false;
        bDrift = bDrift || !m_probe.IsClean(v);
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
        m_nFileLength, nOffset + std::max<uint64_t>(CRecordProbe::kReachBytes,
                                                    uint64_t{m_nRecordLength} * CRecordProbe::kReachRecords));
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
        const Verdict v = m_probe.Judge(static_cast<uint64_t>(Pos(k)));
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
        if ((++nPolls & 0xFFF) == 0 && m_probe.StopRequested())
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
    const unsigned char* pDamaged = m_probe.RecordAt(nFrom - 1);
    const int64_t nFirstBreak = pDamaged == nullptr ? 0 : m_probe.GetEvidence().FirstBreak(pDamaged);
    // Whether records line up from q on and explain the records better
    // than the grid does; nCandidate gets the move.
    auto movesAt = [&](uint64_t q, int64_t& nCandidate) {
        if (q + m_nRecordLength > m_nFileLength || Mod(static_cast<int64_t>(q) - m_nOrigin, m_nRecordLength) == 0)
            return false;
        if (!CRecordProbe::IsFlag(m_probe.ByteAt(q)))
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
            const Verdict v = m_probe.Judge(nAt);
            bSound = v.IsSound();
            nSoft += v.check.nSoft;
            const uint64_t nGridAt = static_cast<uint64_t>(Pos(nGridFirst + i));
            if (!IsEnd(nGridAt))
                nGridSoft += m_probe.Judge(nGridAt).check.nSoft;
            ++nSeen;
        }
        if (!bSound || nSeen == 0)
            return false;
        if (nSoft > nSeen * m_probe.GetEvidence().GetSoftTolerance() && nSoft >= nGridSoft)
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
        if ((++nPolls & 0xFFFF) == 0 && m_probe.StopRequested())
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
        const Verdict vNew = m_probe.Judge(qNew);
        const Verdict vGrid = m_probe.Judge(qGrid);
        nNewSound += vNew.IsSound() ? 1 : 0;
        nGridSound += vGrid.IsSound() ? 1 : 0;
        nNewSoft += vNew.check.nSoft;
        nGridSoft += vGrid.check.nSoft;
        dNewFit += m_probe.FitAt(qNew);
        dGridFit += m_probe.FitAt(qGrid);
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
    const Verdict v = m_probe.Judge(nOffset);
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
    const unsigned char* p = m_probe.RecordAt(nOffset);
    bool bText = false;
    bool bIntact = false;
    for (const DamagedField& field : m_probe.GetLayout().fields) {
        if (field.nColumn < 0 || field.nLength == 0 || !IsTextType(field.chType))
            continue;
        bText = true;
        const std::span<const unsigned char> bytes(p + field.nOffset, field.nLength);
        if (m_probe.GetEvidence().BreaksHard(p, field.nOffset, field.nLength) || !IsSoundField(field.chType, bytes))
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

void CRecordWalk::ExplainInHindsight()
{
    CWalkExplainer explainer(m_probe, m_queue, m_expect, m_nStart, m_nOrigin, m_nEnd, m_nNext, HeaderEnd());
    if (const std::optional<WalkReplan> plan = explainer.ExplainLostRecords()) {
        Replan(plan->nPlace, plan->nMovedFirst, plan->nShift);
        m_expect.nSpareRecords = 0;
    } else if (const std::optional<WalkReplan> move = explainer.ExplainShift(m_nShiftLeft)) {
        Replan(move->nPlace, move->nMovedFirst, move->nShift);
    }
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
