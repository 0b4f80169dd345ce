#pragma once
// What the bytes at one offset of a damaged table's record area say when
// read as a record: whether it lies wholly in the file, has a flag, holds
// sound typed values, and looks like the table's healthy records. The walk
// asks it about the grid and about every alignment it weighs.
//
// What healthy records look like is learned (Learn) from the sound records
// on the grid near the start, and widens as the walk meets sound records
// unlike them.

#include "repair/RecordEvidence.h"

#include <cstdint>

class CDamagedTableScanner;
class CRecordJudge;
class CRecordWindow;
struct DamagedTableLayout;

class CRecordProbe {
public:
    struct Verdict {
        bool bWhole = false; // the record lies wholly in the file
        bool bFlag = false;
        int nUnsound = 0;
        CRecordEvidence::Check check;
        bool IsSound() const { return bWhole && bFlag && nUnsound == 0 && check.nHard == 0; }
    };

    // How far past a place the walk looks for records that line up again
    // before the stretch is taken as it lies.
    static constexpr uint64_t kReachBytes = 1024 * 1024;
    static constexpr int kReachRecords = 64;

    CRecordProbe(CRecordWindow& window, CDamagedTableScanner& scanner, const DamagedTableLayout& layout,
                 const CRecordJudge& judge);

    // Learns from the records on the grid from nStart on. nHeaderEnd as for
    // IsEnd.
    void Learn(uint64_t nStart, int64_t nHeaderEnd);

    Verdict Judge(uint64_t nOffset);
    // Sound, and no less like the healthy records than they are themselves.
    bool IsClean(const Verdict& v) const;
    // Whether the record area ends at nOffset: a record there would be cut
    // off by the file's end, or an end mark stands there that is no damaged
    // flag. nHeaderEnd: where the header's records end on the current
    // alignment, when its count is to be believed; below 0 otherwise.
    bool IsEnd(uint64_t nOffset, int64_t nHeaderEnd);
    // How well the record at nOffset fits the healthy records; 0 when it
    // does not lie wholly in the file.
    double FitAt(uint64_t nOffset);

    // The record's bytes at nOffset; null when it does not lie wholly in the file.
    const unsigned char* RecordAt(uint64_t nOffset);
    // The byte at nOffset, which must lie in the file.
    unsigned char ByteAt(uint64_t nOffset);
    static bool IsFlag(unsigned char c);

    CRecordEvidence& GetEvidence() { return m_evidence; }
    const CRecordEvidence& GetEvidence() const { return m_evidence; }
    const DamagedTableLayout& GetLayout() const { return m_layout; }
    uint32_t GetRecordLength() const { return m_nRecordLength; }
    uint64_t GetFileLength() const { return m_nFileLength; }
    // Whether the run was asked to stop (the scanner holds the run's token).
    bool StopRequested() const;

private:
    CRecordWindow& m_window;
    CDamagedTableScanner& m_scanner;
    const DamagedTableLayout& m_layout;
    const CRecordJudge& m_judge;
    CRecordEvidence m_evidence;
    uint32_t m_nRecordLength;
    uint64_t m_nFileLength;
};
