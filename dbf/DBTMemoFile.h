#pragma once
// dBASE IV memo file (.DBT, kind 3): values with an 8-byte block header and a
// chain of free runs that freed values return to and new values take from
// (first fit), so rewritten memos reuse space.
//
// The chain is walked defensively: it ends at a link equal to the end-of-file
// block or to 0x0008FFFF, and also at a link that points at the header, past
// the end of the file, at a block in use (FF FF 08 00) or at a run already
// seen or overlapping one already seen, and at a run whose count is 0 or
// reaches past the end of the file. A damaged chain therefore never hangs a
// write and never hands out the blocks of a value in use.
//
// New files take block size 256 unless SetNewBlockSize says otherwise (1 to
// 65535 bytes). A free run keeps an 8-byte header in its first block, so a
// run is split only where the part left free holds 8 bytes.
//
// Keeping the chain sound when the file grows: an empty chain, and the last
// run of a chain, point at the end-of-file block. An append at that block
// moves the link that ended the walk (the header's or the last run's) to the
// new end-of-file block, so the link never comes to name the appended value.

#include "dbf/MemoFile.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CDBTMemoFile : public CMemoFile {
public:
    CDBTMemoFile();
    ~CDBTMemoFile() override;

    void Close() override;
    dbfformat::MemoKind GetMemoKind() const override;

    static constexpr size_t kHeaderSize = 22;

protected:
    void WriteNewHeader() override;
    void LoadHeader() override;
    uint32_t ReadValue(uint32_t nBlock, uint32_t nLength, std::vector<unsigned char>& data,
                       bool& bTerminated) override;
    uint32_t StoreText(uint32_t nBlock, uint32_t& nLength, const std::string& strText) override;
    uint32_t AppendBytes(std::span<const unsigned char> bytes, uint32_t nBlockType) override;
    uint32_t MaxNewBlockSize() const override;

private:
    // One free run found by the walk, and where the link that reached it is
    // stored (byte offset; 0 for the header's link).
    struct FreeRun {
        uint32_t nBlock;
        uint32_t nCount;
        uint32_t nNext;
        uint64_t nLinkPos;
    };
    struct ChainWalk {
        std::vector<FreeRun> runs;
        uint64_t nEndLinkPos = 0;  // the link that ended the walk
        uint32_t nEndLink = 0;
        uint32_t nEndOfFile = 0;   // the end-of-file block at the walk
    };

    // Re-reads the header from the file (3012 when short).
    void ReadHeader();
    ChainWalk WalkChain();
    void WriteLink(uint64_t nLinkPos, uint32_t nValue);
    void WriteValueAt(uint32_t nBlock, std::span<const unsigned char> data);
    // The blocks a value of nBytes data bytes occupies; 3015 when its total
    // length does not fit the 32-bit length word.
    uint32_t BlocksForValue(uint64_t nBytes) const;
    // Takes space for nNeed blocks (first fit, else append) and writes the
    // value there; returns its block.
    uint32_t StoreValue(uint32_t nNeed, std::span<const unsigned char> data);
    // Returns the nCount blocks at nBlock to the chain.
    void FreeRunAt(uint32_t nBlock, uint64_t nCount);

    std::array<unsigned char, kHeaderSize> m_dbtHeader {};
};
