#pragma once
// What the healthy records of one table look like, learned from records
// that are clearly sound, and how well other bytes fit that picture.
//
// Type checks alone pass nearly any bytes in tables of text columns,
// blank-padded numbers and binary columns, so a record read a few bytes off
// its place often looks sound. The profile knows more: for every byte
// position of the record, which kinds of bytes healthy records hold there
// (blank, digits, letters, NUL padding, high bytes of a code page, the
// high bytes of binary integers), so a column's alignment, its blankness
// and its byte classes all count.
//
// Two checks come of it:
//  - hard: NUL or control bytes (tabs and line ends aside) in a text column
//    whose healthy records never hold them. Text does not come by them by
//    chance: they are damage, and the record they are in was touched.
//    Tabs and line ends are text's own; but when the profile has seen the
//    whole table, a stray one (a tab, a CR without its LF, an LF without
//    its CR) in a column where no other record holds one is damage too.
//  - soft: bytes outside the range a position holds in healthy records
//    (a high byte in a table whose text never has one included). Rare but
//    real values break it too (numbers grow a digit, a name has an accent),
//    so it only tells alignments apart, and a record the walk finds in its
//    place widens the ranges (Widen).
// Both are counted sixteen bytes at a time, on every record.
//
// The fit (mean log-likelihood ratio of the byte classes per position
// against the table's overall byte classes) weighs one alignment against
// another over many records.

#include <cstddef>
#include <cstdint>
#include <vector>

struct DamagedTableLayout;

class CRecordEvidence {
public:
    struct Check {
        int nHard = 0; // bytes no healthy record holds there, of a kind text never holds by chance
        int nSoft = 0; // bytes outside the range healthy records hold there
    };

    CRecordEvidence() = default;

    // Learns from records of the layout's record length (the deletion flag
    // at byte 0). Without records every check passes and every fit is 0.
    // bWholeTable: the records are every record of the table.
    void Learn(const std::vector<const unsigned char*>& records, const DamagedTableLayout& layout,
               bool bWholeTable = false);

    size_t GetLearned() const { return m_nLearned; }
    // Soft breaks that healthy records not among the learned ones showed at
    // most: a record with no more is as healthy as the others.
    int GetSoftTolerance() const { return m_nSoftTolerance; }

    Check CheckRecord(const unsigned char* pRecord) const;
    // Whether bytes [nOffset, nOffset + nLength) of the record break the
    // hard check (a field's own bytes, for mending).
    bool BreaksHard(const unsigned char* pRecord, uint32_t nOffset, uint32_t nLength) const;
    // Replaces the bytes of a field that break the hard check with blanks.
    void BlankHardBreaks(unsigned char* pField, uint32_t nOffset, uint32_t nLength) const;
    // The first byte of the record that breaks either check, or the
    // record length when none does.
    uint32_t FirstBreak(const unsigned char* pRecord) const;
    // Takes the soft ranges wide enough for a record found healthy in its
    // place.
    void Widen(const unsigned char* pRecord);
    // Whether a record's text holds control bytes, or text after NUL
    // padding: damage whatever the table, so no profile learns from it.
    static bool HasDamagedText(const unsigned char* pRecord, const DamagedTableLayout& layout);
    // Mean log-likelihood ratio per position of the record's byte classes.
    double Fit(const unsigned char* pRecord) const;

private:
    struct Chunk {
        uint32_t nOffset; // where the sixteen bytes start in the record
        unsigned char hardLo[16], softLo[16], softHi[16];
    };
    void BuildChunks();
    // Whether byte i of the bytes at p (position nOffset + i of the record,
    // n bytes given) breaks the hard check.
    bool IsHardAt(const unsigned char* p, uint32_t i, uint32_t n, uint32_t nOffset) const;
    int CountHard(const unsigned char* pRecord) const;

    uint32_t m_nRecordLength = 0;
    size_t m_nLearned = 0;
    int m_nSoftTolerance = 0;
    std::vector<unsigned char> m_hardLo, m_softLo, m_softHi; // no hard upper end
    std::vector<bool> m_text; // positions of text columns
    std::vector<bool> m_strayHard; // positions where a stray tab or line end is damage
    std::vector<Chunk> m_chunks;
    std::vector<float> m_fit; // per position, per byte class
    std::vector<uint32_t> m_fitPositions; // positions the fit reads
};
