#include "dbf/DBTMemoFile.h"

#include "dbf/ByteCodec.h"
#include "dbf/DBFException.h"
#include "dbf/DBFFormat.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>

// dBASE IV memo header: block 0; only its first 22 bytes are read and written.
//
//   OFFSET  SIZE  MEANING
//   0       4     head of the free-run chain, little-endian; the end-of-file
//                 block when the chain is empty
//   4       4     reserved, zero in a new file
//   8       8     the file's title, zero-padded (not NUL-terminated when 8 long)
//   16      4     reserved, zero in a new file
//   20      2     block size, little-endian
//
// First block of a value in use:
//
//   OFFSET  SIZE  MEANING
//   0       4     in-use marker FF FF 08 00
//   4       4     total length = data length + 8, little-endian
//   8       n     the data
//   8 + n   1     0x1F, written after every value, not counted in the length
//
// The mark is for readers that take the stored total for the data length
// and cut at 0x1F (python3-dbfread): without it they read 8 bytes past the
// value. Readers that subtract the 8 never reach it. It is written inside
// the value's own blocks, so a value of n bytes takes
// ceil((n + 9) / block size) of them. A value written without it (by
// another program) is freed as ceil(total / block size) blocks, so at
// worst a block that holds only our mark is left out of the free chain.
//
// First block of a run of free blocks:
//
//   OFFSET  SIZE  MEANING
//   0       4     block number of the next free run, little-endian
//   4       4     number of blocks in this run, little-endian
//
// The header acts as the chain's block 0: its link at offset 0 reaches the
// first run.

namespace {

constexpr size_t kNewFileSize = 512;
constexpr uint32_t kNewBlockSize = 256;
constexpr size_t kBlockHeaderSize = 8;
constexpr unsigned char kValueEndMark = 0x1F;
using dbfformat::kDBase4BlockMarker;
constexpr uint32_t kInUseLink = 0x0008FFFF;  // the marker read as a link

} // namespace

CDBTMemoFile::CDBTMemoFile()
{
    m_nBlockSize = kNewBlockSize;
}

CDBTMemoFile::~CDBTMemoFile()
{
    CDBTMemoFile::Close();
}

void CDBTMemoFile::Close()
{
    CMemoFile::Close();
    m_dbtHeader.fill(0);
}

dbfformat::MemoKind CDBTMemoFile::GetMemoKind() const
{
    return dbfformat::MemoKind::DBase4;
}

uint32_t CDBTMemoFile::MaxNewBlockSize() const
{
    return 0xFFFF;
}

void CDBTMemoFile::WriteNewHeader()
{
    m_nBlockSize = NewBlockSize(kNewBlockSize);
    std::array<unsigned char, kHeaderSize> header {};
    dbfbytes::EncodeFixed32LE(&header[0], static_cast<uint32_t>(BlocksFor(kNewFileSize)));
    // The table's name as dBASE IV writes it: without folder and without
    // extension, first 8 bytes.
    std::string strTitle = GetFileTitle();
    const auto dot = strTitle.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        strTitle.erase(dot);
    if (m_tableName)
        strTitle = *m_tableName;
    std::memcpy(&header[8], strTitle.data(), std::min<size_t>(strTitle.size(), 8));
    dbfbytes::EncodeFixed16LE(&header[20], static_cast<uint16_t>(m_nBlockSize));
    WriteNewFile(header.data(), header.size(), kNewFileSize);
    m_dbtHeader = header;
}

void CDBTMemoFile::LoadHeader()
{
    std::array<unsigned char, kHeaderSize> header {};
    ReadOpenHeader(header.data(), header.size());
    TakeBlockSize(dbfbytes::DecodeFixed16LE(&header[20]));
    m_dbtHeader = header;
}

// Reads the data of the value at nBlock; hands back its length.
uint32_t CDBTMemoFile::ReadValue(uint32_t nBlock, uint32_t /*nLength*/, std::vector<unsigned char>& data,
                                 bool& /*bTerminated*/)
{
    data.clear();
    if (nBlock == 0)
        return 0;  // block 0 is the header: no value
    const uint64_t nPos = BlockOffset(nBlock);
    unsigned char lengthBytes[4];
    ReadExact(nPos + 4, lengthBytes, 4, DBF_ERR_MEMO_READ);
    const int32_t nData = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(lengthBytes) - kBlockHeaderSize);
    if (nData < 0)
        ThrowDBFException(DBF_ERR_MEMO_READ);
    if (nData == 0)
        return 0; // an empty value: a header and no data
    ReadDataAt(nPos + kBlockHeaderSize, static_cast<uint64_t>(nData), data);
    return static_cast<uint32_t>(data.size());
}

uint32_t CDBTMemoFile::StoreText(uint32_t nBlock, uint32_t& /*nLength*/, const std::string& strText)
{
    const uint64_t m = strText.size();
    const uint32_t nNeed = BlocksForValue(m);
    if (nBlock != 0) {
        unsigned char blockHeader[kBlockHeaderSize];
        ReadExact(BlockOffset(nBlock), blockHeader, sizeof blockHeader, DBF_ERR_MEMO_READ);
        // Only a block that carries the in-use marker is a value of this
        // file; anything else (a free run, garbage) is left alone.
        if (std::memcmp(blockHeader, kDBase4BlockMarker, 4) == 0) {
            const uint64_t nTotal = dbfbytes::DecodeFixed32LE(blockHeader + 4);
            if (m != 0 && BlocksFor(nTotal) == nNeed) {
                WriteValueAt(nBlock, BytesOf(strText));
                return nBlock;
            }
            FreeRunAt(nBlock, BlocksFor(nTotal));
        }
    }
    return m != 0 ? StoreValue(nNeed, BytesOf(strText)) : 0;
}

uint32_t CDBTMemoFile::AppendBytes(std::span<const unsigned char> bytes, uint32_t /*nBlockType*/)
{
    return StoreValue(BlocksForValue(bytes.size()), bytes);
}

uint32_t CDBTMemoFile::BlocksForValue(uint64_t nBytes) const
{
    if (nBytes > std::numeric_limits<uint32_t>::max() - kBlockHeaderSize - 1)
        ThrowDBFException(DBF_ERR_MEMO_WRITE);
    return ToBlock(BlocksFor(nBytes + kBlockHeaderSize + 1));
}

void CDBTMemoFile::ReadHeader()
{
    std::array<unsigned char, kHeaderSize> header {};
    ReadExact(0, header.data(), header.size(), DBF_ERR_MEMO_HEADER);
    m_dbtHeader = header;
}

CDBTMemoFile::ChainWalk CDBTMemoFile::WalkChain()
{
    ReadHeader();
    ChainWalk walk;
    walk.nEndOfFile = EndOfFileBlock();
    std::map<uint32_t, uint32_t> seen;  // first block -> one past its last block
    uint64_t nLinkPos = 0;
    uint32_t nLink = dbfbytes::DecodeFixed32LE(&m_dbtHeader[0]);
    for (;;) {
        if (nLink == 0 || nLink >= walk.nEndOfFile || nLink == kInUseLink)
            break;
        unsigned char runHeader[kBlockHeaderSize];
        if (ReadAtPos(BlockOffset(nLink), runHeader, sizeof runHeader) < sizeof runHeader)
            break;
        if (std::memcmp(runHeader, kDBase4BlockMarker, 4) == 0)
            break;
        const uint32_t nNext = dbfbytes::DecodeFixed32LE(runHeader);
        const uint32_t nCount = dbfbytes::DecodeFixed32LE(runHeader + 4);
        const uint64_t nEnd = static_cast<uint64_t>(nLink) + nCount;
        if (nCount == 0 || nEnd > walk.nEndOfFile)
            break;
        // A run seen before, or one overlapping it, means a cycle or a
        // damaged chain.
        auto it = seen.upper_bound(nLink);
        if (it != seen.end() && it->first < nEnd)
            break;
        if (it != seen.begin() && std::prev(it)->second > nLink)
            break;
        seen.emplace(nLink, static_cast<uint32_t>(nEnd));
        walk.runs.push_back({nLink, nCount, nNext, nLinkPos});
        nLinkPos = BlockOffset(nLink);
        nLink = nNext;
    }
    walk.nEndLinkPos = nLinkPos;
    walk.nEndLink = nLink;
    return walk;
}

void CDBTMemoFile::WriteLink(uint64_t nLinkPos, uint32_t nValue)
{
    if (nLinkPos == 0) {
        dbfbytes::EncodeFixed32LE(&m_dbtHeader[0], nValue);
        WriteAtPos(0, m_dbtHeader.data(), m_dbtHeader.size());
    } else {
        unsigned char link[4];
        dbfbytes::EncodeFixed32LE(link, nValue);
        WriteAtPos(nLinkPos, link, sizeof link);
    }
}

void CDBTMemoFile::WriteValueAt(uint32_t nBlock, std::span<const unsigned char> data)
{
    std::vector<unsigned char> value(kBlockHeaderSize + data.size() + 1);
    std::memcpy(value.data(), kDBase4BlockMarker, 4);
    dbfbytes::EncodeFixed32LE(&value[4], static_cast<uint32_t>(data.size() + kBlockHeaderSize));
    std::copy(data.begin(), data.end(), value.begin() + kBlockHeaderSize);
    value.back() = kValueEndMark;
    WriteAtPos(BlockOffset(nBlock), value.data(), value.size());
}

uint32_t CDBTMemoFile::StoreValue(uint32_t nNeed, std::span<const unsigned char> data)
{
    const ChainWalk walk = WalkChain();
    // First fit: the tail of a larger run whose rest still holds a run
    // header, or a whole run of the exact size.
    for (const FreeRun& run : walk.runs) {
        if (nNeed < run.nCount && BlockOffset(run.nCount - nNeed) >= kBlockHeaderSize) {
            const uint32_t nTarget = run.nBlock + run.nCount - nNeed;
            WriteValueAt(nTarget, data);
            unsigned char count[4];
            dbfbytes::EncodeFixed32LE(count, run.nCount - nNeed);
            WriteAtPos(BlockOffset(run.nBlock) + 4, count, sizeof count);
            return nTarget;
        }
        if (nNeed == run.nCount) {
            WriteValueAt(run.nBlock, data);
            WriteLink(run.nLinkPos, run.nNext);
            return run.nBlock;
        }
    }
    // Append at the end-of-file block, padded to a whole block.
    const uint32_t nTarget = walk.nEndOfFile;
    const uint32_t nNewEnd = ToBlock(static_cast<uint64_t>(nTarget) + nNeed);
    WriteValueAt(nTarget, data);
    if (walk.nEndLink == nTarget)
        WriteLink(walk.nEndLinkPos, nNewEnd);
    const uint64_t nPadded = BlocksFor(GetLength()) * m_nBlockSize;
    if (GetLength() < nPadded)
        SetLength(nPadded);
    return nTarget;
}

void CDBTMemoFile::FreeRunAt(uint32_t nBlock, uint64_t nCount)
{
    const ChainWalk walk = WalkChain();
    if (nBlock >= walk.nEndOfFile || nCount == 0)
        return;
    // A value whose stated length reaches past the file frees only what the
    // file holds.
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(nCount, walk.nEndOfFile - nBlock));
    const uint64_t nEnd = static_cast<uint64_t>(nBlock) + n;
    for (const FreeRun& run : walk.runs) {
        // Freeing blocks the chain already holds would let two values share
        // them later.
        if (nBlock < static_cast<uint64_t>(run.nBlock) + run.nCount && run.nBlock < nEnd)
            return;
    }
    for (const FreeRun& run : walk.runs) {
        if (static_cast<uint64_t>(run.nBlock) + run.nCount == nBlock) {
            // Right behind a free run: extend it.
            unsigned char count[4];
            dbfbytes::EncodeFixed32LE(count, run.nCount + n);
            WriteAtPos(BlockOffset(run.nBlock) + 4, count, sizeof count);
            return;
        }
        if (nEnd == run.nBlock) {
            // Right in front of a free run: one run at the freed block,
            // reached through the link that reached the old one.
            unsigned char runHeader[kBlockHeaderSize];
            dbfbytes::EncodeFixed32LE(runHeader, run.nNext);
            dbfbytes::EncodeFixed32LE(runHeader + 4, n + run.nCount);
            WriteAtPos(BlockOffset(nBlock), runHeader, sizeof runHeader);
            WriteLink(run.nLinkPos, nBlock);
            return;
        }
    }
    // Linked last: it ends the chain at the end-of-file block.
    unsigned char runHeader[kBlockHeaderSize];
    dbfbytes::EncodeFixed32LE(runHeader, walk.nEndOfFile);
    dbfbytes::EncodeFixed32LE(runHeader + 4, n);
    WriteAtPos(BlockOffset(nBlock), runHeader, sizeof runHeader);
    WriteLink(walk.nEndLinkPos, nBlock);
}
