#pragma once
// Reads the structure of a damaged table from its raw bytes: the field
// descriptors up to the 0x0D terminator, where the records begin and where
// they end. Nothing of the damaged 32-byte header is trusted except as a
// hint that is weighed against the records themselves.
//
// Field descriptor as read (32 bytes from offset 32 on):
//
// OFFSET  SIZE  MEANING
//      0    11  name, up to the first NUL
//     11     1  type letter
//     12     4  offset in the record (Visual FoxPro; others: not used)
//     16     1  length (the low byte of the width of a C field)
//     17     1  decimal count (the high byte of a wide C field's width in
//               Clipper and the xBase compilers after it)
//     18     1  field flags (system, nullable, binary)
//     19    13  autoincrement next value and step (Visual FoxPro), reserved
//
// A block whose first byte is 0x0D is the terminator. At most
// kMaxDescriptorBlocks blocks are read; without a terminator among them the
// table has no record area.
//
// The record area: every start from the terminator + 1 up to the terminator
// + 264 + one record length is scored on evidence (FindDataStart): deletion
// flags sampled evenly over the whole area, the fit of every field's bytes
// to its type, whether the records fill the file exactly, and whether the
// damaged header's own header length and record count agree with the file.

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFHeader.h"
#include "repair/StopToken.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CFile;

// One field of the damaged table.
struct DamagedField {
    std::string strName;    // up to the first NUL, at most 11 characters
    char chRawType = 0;     // byte 11 as found
    char chType = 0;        // the type the salvage treats the bytes as
    uint32_t nLength = 0;   // width in the damaged record
    uint8_t nDecimals = 0;  // byte 17
    uint32_t nOffset = 0;   // position in the damaged record (flag at 0)
    int nColumn = -1;       // column in the new table; -1 when left out
    bool bWide = false;     // a C field whose width takes byte 17 as high byte
    bool bLengthDamaged = false; // a B/F/I/N/Y length byte of 128 or more
    bool bWidthUnknown = false;  // damaged, and the record could not tell it
    uint32_t nForcedWidth = 0;   // a damaged width the records settled
    DBFFieldDescriptor descriptor; // the 32 bytes as found

    // The hidden "_NullFlags" column of Visual FoxPro (type 0, or the name
    // in any letter case, as some writers store it).
    bool IsNullFlags() const;
    // Memo, general, picture, blob and dBASE binary-memo fields: the bytes
    // are a reference into the memo file.
    bool IsMemo() const;
    // The byte 16 length of a B/F/I/N/Y field must be below 128.
    static bool HasByteWidth(char chType);
};

// The type a field's bytes are treated as: the letter as found when it is
// a printable one (types the engine does not decode are carried as they
// are), a known letter written in lower case in upper case, and C for a
// byte that is no letter at all. dBASE 7's letters are left as found: the
// salvage mends the dBASE III to Visual FoxPro family only.
char SalvageTypeFor(unsigned char chRaw);

struct DamagedTableLayout {
    DBFHeader header;           // the damaged header as found (a hint only)
    std::vector<DamagedField> fields;
    int nBlocksRead = 0;        // 32-byte blocks read, the terminator included
    bool bTerminator = false;
    uint64_t nTerminatorOffset = 0;
    uint32_t nRecordLength = 1; // deletion flag + every field's length
    bool bWideChars = false;    // the widths of wide C fields were taken
};

class CDamagedTableScanner {
public:
    static constexpr int kMaxDescriptorBlocks = 1024;
    // How many records are checked when an end-of-file mark is judged.
    static constexpr int kProbeRecords = 16;
    // Records sampled over the whole area when a start is scored.
    static constexpr int kEvidenceRecords = 48;
    // Bytes lost or inserted among the records (or half the file, when
    // more) up to which the header is believed: a header whose numbers
    // agree otherwise keeps its start, and its record count stays a count.
    static constexpr int64_t kMostMovedBytes = 1024 * 1024;

    // stop: the run's token, polled while the scanner reads.
    explicit CDamagedTableScanner(CFile& file, CStopToken stop = CStopToken());

    // Reads the header bytes and the descriptors. Returns false when the
    // stop flag ended the scan.
    bool ReadDescriptors(DamagedTableLayout& layout);

    // Settles the widths the descriptors leave open (wide C fields, damaged
    // length bytes) and finds the first record's deletion flag by evidence
    // (see the top). nStart is the file length when there is no record
    // area. Returns false when stopped.
    bool FindDataStart(DamagedTableLayout& layout, uint64_t& nStart);

    // For a 0x1A byte found where the deletion flag of the record at
    // nFlagOffset belongs: true when it is the end-of-file mark, false when
    // the records after it still line up, up to the end of the file or to a
    // later end-of-file mark (the byte is then a damaged flag).
    bool IsEndOfRecords(uint64_t nFlagOffset, uint32_t nRecordLength);

    // The evidence for records of nRecordLength starting at nStart, higher
    // for a better fit (for tests and for FindDataStart).
    double ScoreStart(const DamagedTableLayout& layout, uint64_t nStart);

    uint64_t GetFileLength() const { return m_nLength; }
    // One poll of the run's stop token (for the parts that read with it).
    bool StopRequested() const { return m_stop.Requested(); }

private:
    struct Candidate {
        uint64_t nStart;
        double dScore;
    };
    class SampleWindows;
    int ByteAt(uint64_t nOffset);
    // Where the records start when the header and the file say so plainly:
    // the header's own header length when its numbers agree with the
    // descriptors and the file, else the usual start after the terminator
    // when records from there fill the file exactly and the header's do not.
    // 0 when evidence must decide.
    uint64_t PlainStart(const DamagedTableLayout& layout);
    // Whether records from nStart have deletion flags where they belong
    // (the first record's, or half of the first few).
    bool FlagsAt(const DamagedTableLayout& layout, uint64_t nStart, uint64_t nRecords);
    // The best start for the layout's widths; dScore gets its score.
    uint64_t BestStart(const DamagedTableLayout& layout, double& dScore, bool& bStopped);
    // Scores from the flags, the file length and the header alone.
    double CheapScore(const DamagedTableLayout& layout, uint64_t nStart, SampleWindows& windows);
    // Whether the first records from nStart on have their flags and every
    // typed field sound.
    bool HeadIsPerfect(const DamagedTableLayout& layout, uint64_t nStart, SampleWindows& windows);
    // Scores from the fit of the fields' bytes to their types.
    double FieldScore(const DamagedTableLayout& layout, uint64_t nStart, SampleWindows& windows);
    std::vector<uint64_t> SampleIndexes(uint64_t nRecords) const;
    void ApplyWidths(DamagedTableLayout& layout, bool bWide);
    // Settles two damaged widths by the records' evidence; false when the
    // layout has no such pair.
    bool SplitDamagedWidths(DamagedTableLayout& layout, bool& bStopped);

    CFile& m_file;
    CStopToken m_stop;
    uint64_t m_nLength;
    int m_nLastByte = -1;
};
