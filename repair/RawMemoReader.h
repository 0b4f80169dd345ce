#pragma once
// Reads memo texts out of a damaged memo file without trusting its header:
// through the block that a record's own memo reference names, checked
// against the block's own header, and, for references that cannot be read,
// by a scan for text blocks that no reference claims.
//
// FoxPro (.FPT), big-endian:
//   file header  OFFSET 0 SIZE 4  next free block
//                OFFSET 6 SIZE 2  block size
//   value block  OFFSET 0 SIZE 4  block type (1 text)
//                OFFSET 4 SIZE 4  data length n
//                OFFSET 8 SIZE n  data
// dBASE III (.DBT): blocks of 512 bytes; a value runs up to a 0x1A byte.
// dBASE IV (.DBT), little-endian:
//   file header  OFFSET 20 SIZE 2 block size
//   value block  OFFSET 0 SIZE 4  FF FF 08 00 (in use)
//                OFFSET 4 SIZE 4  total length T (data + 8)
//                OFFSET 8 SIZE T-8 data
// SIx (.SMT), little-endian:
//   file header  OFFSET 4 SIZE 4  block size
//   value        raw bytes at the block; the length is in the record's
//                reference
//
// Every memo format keeps its header in the first 512 bytes, so no value
// starts before offset 512 (dBASE III: before block 1).

#include "dbf/DBFFormat.h"
#include "platform/File.h"
#include "repair/StopToken.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A record's memo field read as a reference.
struct MemoReference {
    enum Kind {
        kNone,       // blank or block 0: the record has no memo value
        kBlock,      // names a block (and, for the binary form, a length)
        kUnreadable, // bytes that are no reference in any known form
    };
    Kind nKind = kNone;
    uint32_t nBlock = 0;
    int64_t nLength = -1; // from the 10-byte binary reference, else -1

    // 4 bytes: binary block number, little-endian. 10 bytes whose byte 0 is
    // 1..8 and byte 1 is 0: the binary reference (length at 2, block at 6).
    // Otherwise the block number in ASCII digits, with spaces or NULs
    // around them.
    static MemoReference Parse(std::span<const unsigned char> bytes);
};

class CRawMemoReader {
public:
    // The block sizes in common use, tried when the header's does not fit.
    static constexpr uint32_t kCommonBlockSizes[] = {64, 512, 32, 1, 128, 256, 16, 1024, 2048, 4096, 8192, 16384};
    static constexpr uint64_t kHeaderSize = 512;

    CRawMemoReader();

    // Opens the file read-only; the format first follows the extension
    // (fpt, dbt, smt in any case). False when it cannot be opened or the
    // extension is none of these.
    bool Open(const std::string& strPath);
    // The run's token, polled while the reader scans (none: it never stops).
    void SetStopToken(CStopToken stop) { m_stop = stop; }
    bool IsOpen() const { return m_format != dbfformat::MemoKind::None; }
    const std::string& GetPath() const { return m_strPath; }
    // FoxPro, DBase3, DBase4 or SIx (the only kinds it reads); None when not open.
    dbfformat::MemoKind GetFormat() const { return m_format; }
    uint32_t GetBlockSize() const { return m_nBlockSize; }
    uint32_t GetHeaderBlockSize() const { return m_nHeaderBlockSize; }
    uint64_t GetLength() const { return m_nLength; }

    // Settles the format (dBASE III or IV for a .DBT) and the block size:
    // the header's when the sample references land on plausible values
    // under it, otherwise the common size under which most of them do.
    // nVersion is the damaged table's version byte, a hint for a .DBT
    // whose references tell nothing.
    void SettleLayout(const std::vector<MemoReference>& sample, uint8_t nVersion);

    // The value the reference names, when its block holds a plausible one.
    std::optional<std::string> ReadReferenced(const MemoReference& ref);

    // A value with its FoxPro block type (0 picture, 1 text, 2 object; the
    // other formats carry no type and give 1).
    struct Value {
        std::string strBytes;
        uint32_t nType = 1;
    };
    // The same as ReadReferenced, with the block type.
    std::optional<Value> ReadReferencedValue(const MemoReference& ref);
    // The same into strBytes, whose room is used again (one value after
    // another without an allocation each); false when there is no value.
    bool ReadReferencedInto(const MemoReference& ref, std::string& strBytes, uint32_t& nType);
    // The same as a view: bytes point into the reader's window, or into
    // strRoom where the value does not fit it. Valid until the next read.
    bool ReadReferencedView(const MemoReference& ref, std::string& strRoom, std::span<const unsigned char>& bytes,
                            uint32_t& nType);

    // The blocks named by the records' references; the scan skips them, and
    // a dBASE III value without its terminator ends at the next of them.
    // Sorted and made unique here.
    void SetClaimedBlocks(std::vector<uint32_t> blocks);

    // The next text block after the scan position that no reference claims
    // (FoxPro and dBASE IV only); the scan then continues after it. No
    // value when none is left. Returns early with no value when the stop
    // flag is seen.
    std::optional<std::string> ScanNextText();

    // How many references under a block size and format land on plausible
    // values (for tests and for SettleLayout).
    int CountPlausible(const std::vector<MemoReference>& sample, dbfformat::MemoKind format, uint32_t nBlockSize);

private:
    // The data extent of a plausible value at nOffset, or no value.
    struct Extent {
        uint64_t nData;   // offset of the data
        uint64_t nLength; // its length
        uint32_t nType = 1;
    };
    std::optional<Extent> ValueAt(dbfformat::MemoKind format, uint32_t nBlock, uint32_t nBlockSize, int64_t nRefLength,
                                  bool bStrict);
    size_t ReadAt(uint64_t nOffset, void* pBuffer, size_t nCount);
    std::string ReadText(const Extent& extent);
    void ReadTextInto(const Extent& extent, std::string& strText);
    bool IsClaimed(uint32_t nBlock) const;

    // Values are read one after another through a large window; the
    // layout's probes jump about the file and read through a small one.
    CFile m_file;
    CFile m_probe;
    bool m_bProbing = false;
    std::string m_strPath;
    dbfformat::MemoKind m_format = dbfformat::MemoKind::None;
    uint64_t m_nLength = 0;
    uint32_t m_nHeaderBlockSize = 0;
    uint32_t m_nBlockSize = 0;
    std::vector<uint32_t> m_claimed;
    uint64_t m_nScanOffset = kHeaderSize;
    CStopToken m_stop;
};
