#pragma once
// The walk over a damaged table's record area: which bytes are taken as
// which record of the source, which are dropped, and where the records
// line up again after damage.
//
// The records lie on a grid: record k at start + k x record length. Damage
// that moves no bytes (a zeroed block, bytes overwritten) leaves every
// later record on it, so after such a stretch the walk goes back to the
// grid; the records inside the stretch are kept with their damaged values
// mended, or dropped when nothing of them is left. The walk moves to
// another alignment only where bytes were really lost or inserted, and
// only when that alignment explains the following records clearly better
// than the grid does, over many records. The file's length is evidence
// too: when the header's record count is to be believed, the moves add up
// to what the file holds beyond (or short of) the header's records, so a
// file of the right length moves only on overwhelming evidence, and a small
// table whose length says bytes moved is searched for the one place where
// moving explains it best.
//
// Steps:
//  1. Learn what healthy records look like (CRecordProbe) from the sound
//     records on the grid near the start.
//  2. Take each clean record on the current alignment, a batch at a time.
//     A sound record that is only unlike the ones learned is taken, and
//     widens the profile, unless an alignment close by explains the next
//     records clearly better. Any other record stops the walk (Resolve):
//     a. the grid holds right after it: the damage stayed in place;
//     b. else find where the grid holds again, and the first alignment off
//        the grid before that which beats the grid over many records;
//     c. a move drops the records between, the record just before the
//        damage (the bytes may have gone in either), and counts the records
//        whose bytes were lost by number.
//  3. Steps wait a few records before they are handed out, so that a move
//     can take back records that hold the damage; a small table is planned
//     whole before any step is handed out, and looked over in hindsight
//     (CWalkExplainer) when its length says more moved than the walk found.
//
// Every record number is the record's place in the source, from 0.

#include "repair/RecordProbe.h"
#include "repair/RepairReport.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class CDamagedTableScanner;
class CRecordJudge;
class CRecordWindow;
struct DamagedTableLayout;

struct WalkStep {
    enum class Kind { Take, Drop };
    Kind kind = Kind::Take;
    uint64_t nOffset = 0;  // Take: the first record's deletion flag; Drop: the first byte dropped
    uint64_t nLength = 0;  // Drop: the bytes dropped (0: records whose bytes are gone)
    int64_t nRecord = 0;   // the first record taken or dropped
    int64_t nRecords = 0;  // how many (Take: one after another, all alike)
    bool bPerfect = false; // Take: flag and typed values sound, nothing to mend
    bool bTouched = false; // Take: the damage reached it (values to mend, bytes no healthy record holds)
};

// What the header says of the record area, where it is to be believed.
struct WalkExpectation {
    bool bCountKnown = false; // the header's record count fits the file
    int64_t nCount = 0;       // the header's record count (also when it may be stale)
    int64_t nNetShift = 0;    // bytes the file holds beyond (or short of) the header's records
    // Whole records' worth more (or, below 0, fewer) than the header counts:
    // a count not brought up to date, or junk of whole records inserted (or
    // records lost). Damaged records the walk meets may account for them.
    int64_t nSpareRecords = 0;
};

class CRecordWalk {
public:
    CRecordWalk(CRecordWindow& window, CDamagedTableScanner& scanner, const DamagedTableLayout& layout,
                const CRecordJudge& judge, uint64_t nStart, const WalkExpectation& expectation);

    // Told how far the walk has judged the records (a small table is judged
    // whole before its first step).
    void SetProgress(std::function<void(uint64_t nOffset)> onProgress) { m_onProgress = std::move(onProgress); }

    // The next step in file order; false once the record area has ended.
    bool Next(WalkStep& step);
    // After the end: where the record area ended (an end-of-file mark, the
    // start of a record cut off by the end of the file, or the file's end)
    // and the number the record there would have.
    uint64_t GetEnd() const { return m_nEnd; }
    int64_t GetEndRecord() const { return m_nEndRecord; }

    const std::vector<RepairReport::Realignment>& GetRealignments() const { return m_realignments; }
    const CRecordEvidence& GetEvidence() const { return m_probe.GetEvidence(); }

private:
    using Verdict = CRecordProbe::Verdict;
    int64_t Pos(int64_t nRecord) const { return m_nOrigin + nRecord * static_cast<int64_t>(m_nRecordLength); }
    // Where the header's records end on the current alignment, when its
    // count is to be believed; -1 otherwise.
    int64_t HeaderEnd() const { return m_expect.bCountKnown ? Pos(m_expect.nCount) : -1; }
    bool IsEnd(uint64_t nOffset) { return m_probe.IsEnd(nOffset, HeaderEnd()); }
    // Decides records from m_nNext on until at least one more step waits.
    void Advance();
    void Resolve(const Verdict& verdict);
    // Whether an alignment within a record of the grid's record nRecord
    // explains the next few records clearly better (fewer breaks of the
    // healthy ranges, as sound) than the grid does.
    bool DriftSuggestsMove(int64_t nRecord);
    // Whether the grid holds from nRecord on: a few sound records (or the
    // end), and no alignment nearby that explains them better.
    bool GridHolds(int64_t nRecord);
    // The first grid record from nFrom on where the grid holds again; -1
    // when there is none within the search's reach.
    int64_t FindGridResume(int64_t nFrom, uint64_t nLimit);
    // The first offset in [nFrom, nTo) off the grid from which records line
    // up and explain the records clearly better than the grid does; 0 when
    // there is none. nShift gets the move.
    uint64_t FindMove(uint64_t nFrom, uint64_t nTo, int64_t& nShift);
    // The shift that puts the record at nOffset on a new alignment, in line
    // with what the file's length leaves to explain.
    int64_t ShiftFor(uint64_t nOffset) const;
    bool ShiftWins(uint64_t nOffset, int64_t nShift);
    void ApplyShift(uint64_t nOffset, int64_t nShift);
    // The file is whole records short and records [nFrom, nTo) are damaged
    // on the grid: they go, with the records lost among them, and the grid
    // is numbered on after them. False when the length says no such thing.
    bool TakeLostRecords(int64_t nFrom, int64_t nTo);
    // The record at the current alignment's place nRecord, damaged where it
    // lies: kept with its values mended, or dropped when nothing is left.
    void InPlace(int64_t nRecord);
    void PushTake(uint64_t nOffset, int64_t nRecord, const Verdict& verdict);
    uint64_t StepEnd(const WalkStep& step) const;
    // Takes the last record held back out of its step, for a drop that
    // starts at it.
    void DropLastHeld(uint64_t& nDropFrom, int64_t& nFirstDropped);
    void PushDrop(uint64_t nOffset, uint64_t nLength, int64_t nRecord, int64_t nRecords);
    void End(uint64_t nOffset, int64_t nRecord);
    // A small table walked whole whose length says records were lost or
    // bytes moved where the walk found no place for it: replans from the
    // place that explains it best (CWalkExplainer).
    void ExplainInHindsight();
    // Records from nPlace on go; the walk goes on at nMovedFirst, which lay
    // nShift bytes off the current alignment.
    void Replan(int64_t nPlace, int64_t nMovedFirst, int64_t nShift);

    CRecordProbe m_probe;
    uint32_t m_nRecordLength;
    uint64_t m_nFileLength;
    uint64_t m_nStart;
    WalkExpectation m_expect;
    int64_t m_nShiftLeft = 0; // what the length leaves to explain, when the count is known

    int64_t m_nOrigin;    // where record 0 lies on the current alignment
    int64_t m_nNext = 0;  // the next record to decide
    bool m_bEnded = false;
    bool m_bWhole = false; // a small table: planned whole before any step is handed out
    bool m_bExplained = false;
    uint64_t m_nEnd = 0;
    int64_t m_nEndRecord = 0;
    uint64_t m_nReleasedEnd = 0; // the end of the last step handed out: nothing before it changes
    int64_t m_nHeld = 0; // records in the held-back steps
    std::deque<WalkStep> m_queue;
    std::function<void(uint64_t)> m_onProgress;
    std::vector<RepairReport::Realignment> m_realignments;
};
