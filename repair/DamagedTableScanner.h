#pragma once
// Reads the structure of a damaged table from its raw bytes: the field
// descriptors up to the 0x0D terminator, where the records begin and where
// they end. Nothing of the damaged 32-byte header is trusted except as a
// hint that is checked against the records themselves.
//
// Field descriptor as read (32 bytes from offset 32 on):
//
// OFFSET  SIZE  MEANING
//      0    11  name, up to the first NUL (the first 10 characters are kept)
//     11     1  type letter
//     16     1  length
//     17     1  decimal count
//
// A block whose first byte is 0x0D is the terminator. At most
// kMaxDescriptorBlocks blocks are read; without a terminator among them the
// table has no record area.

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFHeader.h"

#include <cstdint>
#include <string>
#include <vector>

class CFile;

// One field of the damaged table.
struct DamagedField {
    std::string strName;    // up to the first NUL, at most 11 characters
    char chRawType = 0;     // byte 11 as found
    char chType = 0;        // the type letter kept (0 when not a known one)
    uint8_t nLength = 0;    // byte 16
    uint8_t nDecimals = 0;  // byte 17
    uint32_t nOffset = 0;   // position in the damaged record (flag at 0)
    int nColumn = -1;       // column in the new table; -1 when left out

    // "_NullFlags" (in any letter case, as some writers store it): skipped
    // in every record, never a column.
    bool IsNullFlags() const;
    // The descriptor handed to CDBFTableDef::CreateField: name, type letter,
    // length, decimals for N, F and B; everything else zero.
    DBFFieldDescriptor MakeDescriptor() const;
};

struct DamagedTableLayout {
    DBFHeader header;           // the damaged header as found (a hint only)
    std::vector<DamagedField> fields;
    int nBlocksRead = 0;        // 32-byte blocks read, the terminator included
    bool bTerminator = false;
    uint64_t nTerminatorOffset = 0;
    uint32_t nRecordLength = 1; // deletion flag + every field's length
};

class CDamagedTableScanner {
public:
    static constexpr int kMaxDescriptorBlocks = 1024;
    // How many records are checked when a record-area start is tried or an
    // end-of-file mark is judged.
    static constexpr int kProbeRecords = 16;
    // The size of the Visual FoxPro area after the terminator.
    static constexpr uint32_t kVisualFoxProArea = 263;

    explicit CDamagedTableScanner(CFile& file);

    // Reads the header bytes and the descriptors. Returns false when the
    // stop flag ended the scan.
    bool ReadDescriptors(DamagedTableLayout& layout);

    // Finds the first record's deletion flag: the first of terminator + 1,
    // terminator + 264, the damaged header length (when it lies after the
    // terminator), at which the flags of the first records line up (first
    // with the first record's flag sound, then allowing it to be damaged);
    // else the first blank byte after the terminator. nStart is the file length
    // when there is no record area. Returns false when stopped.
    bool FindDataStart(const DamagedTableLayout& layout, uint64_t& nStart);

    // For a 0x1A byte found where the deletion flag of the record at
    // nFlagOffset belongs: true when it is the end-of-file mark, false when
    // the records after it still line up, up to the end of the file or to a
    // later end-of-file mark (the byte is then a damaged flag).
    bool IsEndOfRecords(uint64_t nFlagOffset, uint32_t nRecordLength);

    // Whether deletion flags (0x20, 0x2A) stand at nStart + k * nRecordLength
    // for the first records (a 0x1A ends the check as an end-of-file mark).
    // Allows one mismatch in kProbeRecords when that many records are there;
    // with bFirstMustMatch that one may not be the first record's flag.
    bool FlagsLineUp(uint64_t nStart, uint32_t nRecordLength, bool bFirstMustMatch = true);

    uint64_t GetFileLength() const { return m_nLength; }

private:
    int ByteAt(uint64_t nOffset);

    CFile& m_file;
    uint64_t m_nLength;
};
