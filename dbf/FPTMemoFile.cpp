#include "dbf/FPTMemoFile.h"

#include "dbf/ByteCodec.h"
#include "dbf/DBFException.h"

#include <algorithm>
#include <cstring>
#include <limits>

// FoxPro memo header: block 0, 512 bytes; the first 8 are read and written.
// Every number of this format is big-endian.
//
//   OFFSET  SIZE  MEANING
//   0       4     next free block, big-endian
//   4       2     reserved, zero
//   6       2     block size, big-endian
//   8       504   zero in a new file
//
// First block of a value:
//
//   OFFSET  SIZE  MEANING
//   0       4     block type, big-endian: 0 picture/binary, 1 text, 2 object
//                 (written, never checked on reading)
//   4       4     data length, big-endian
//   8       n     the data
//
// A value of n bytes occupies ceil((n + 8) / block size) blocks.

namespace {

constexpr size_t kNewFileSize = 512;
constexpr uint32_t kNewBlockSize = 64;
constexpr size_t kBlockHeaderSize = FoxProBlockHeader::kSize;
constexpr uint32_t kTypeText = FoxProBlockHeader::kTypeText;
constexpr uint32_t kMaxLength = 0x7FFFFFFF;

} // namespace

CFPTMemoFile::CFPTMemoFile()
{
    m_nBlockSize = kNewBlockSize;
}

CFPTMemoFile::~CFPTMemoFile()
{
    CFPTMemoFile::Close();
}

void CFPTMemoFile::Close()
{
    CMemoFile::Close();
    m_fptHeader.fill(0);
    m_nNextFree = 0;
}

dbfformat::MemoKind CFPTMemoFile::GetMemoKind() const
{
    return dbfformat::MemoKind::FoxPro;
}

uint32_t CFPTMemoFile::MaxNewBlockSize() const
{
    return 0xFFFF;
}

void CFPTMemoFile::WriteNewHeader()
{
    m_nBlockSize = NewBlockSize(kNewBlockSize);
    std::array<unsigned char, kHeaderSize> header {};
    const uint32_t nNextFree = static_cast<uint32_t>(BlocksFor(kNewFileSize));
    dbfbytes::EncodeFixed32BE(&header[0], nNextFree);
    dbfbytes::EncodeFixed16BE(&header[6], static_cast<uint16_t>(m_nBlockSize));
    WriteNewFile(header.data(), header.size(), kNewFileSize);
    m_fptHeader = header;
    m_nNextFree = nNextFree;
}

void CFPTMemoFile::LoadHeader()
{
    std::array<unsigned char, kHeaderSize> header {};
    ReadOpenHeader(header.data(), header.size());
    TakeBlockSize(dbfbytes::DecodeFixed16BE(&header[6]));
    m_fptHeader = header;
    m_nNextFree = dbfbytes::DecodeFixed32BE(&header[0]);
}

// Reads the data of the value at nBlock; the type word is not looked at.
// Hands back the data length.
uint32_t CFPTMemoFile::ReadValue(uint32_t nBlock, uint32_t /*nLength*/, std::vector<unsigned char>& data,
                                 bool& /*bTerminated*/)
{
    data.clear();
    if (nBlock == 0)
        return 0;  // block 0 is the header: no value
    const uint64_t nPos = BlockOffset(nBlock);
    unsigned char head[kBlockHeaderSize];
    ReadExact(nPos, head, kBlockHeaderSize, DBF_ERR_MEMO_READ);
    const uint32_t n = FoxProBlockHeader::Decode(head).nLength;
    if (n > kMaxLength)
        ThrowDBFException(DBF_ERR_MEMO_READ);
    // A stored length of 0 is an empty value (python3-dbf writes them, and
    // so does a repair that keeps a record's empty value).
    if (n == 0)
        return 0;
    ReadDataAt(nPos + kBlockHeaderSize, n, data);
    return static_cast<uint32_t>(data.size());
}

uint32_t CFPTMemoFile::StoreText(uint32_t nBlock, uint32_t& /*nLength*/, const std::string& strText)
{
    const uint64_t m = strText.size();
    if (m == 0)
        return 0;
    if (m > kMaxLength)
        ThrowDBFException(DBF_ERR_MEMO_WRITE);
    if (nBlock != 0) {
        const uint64_t nPos = BlockOffset(nBlock);
        unsigned char lengthBytes[4];
        ReadExact(nPos + 4, lengthBytes, 4, DBF_ERR_MEMO_READ);
        const uint64_t nStored = dbfbytes::DecodeFixed32BE(lengthBytes);
        // A stored length that is out of range or runs past the file says
        // nothing about the blocks the value holds: do not write over
        // whatever follows, append instead.
        const bool bPlausible = nStored <= kMaxLength && nPos + kBlockHeaderSize + nStored <= GetLength();
        const uint64_t nCapacity = BlocksFor(nStored + kBlockHeaderSize) * m_nBlockSize - kBlockHeaderSize;
        if (bPlausible && m <= nCapacity) {
            unsigned char newLength[4];
            dbfbytes::EncodeFixed32BE(newLength, static_cast<uint32_t>(m));
            WriteAtPos(nPos + 4, newLength, sizeof newLength);
            WriteAtPos(nPos + kBlockHeaderSize, strText.data(), strText.size());
            return nBlock;
        }
    }
    return AppendBytes(BytesOf(strText), kTypeText);
}

void CFPTMemoFile::ReadHeader()
{
    std::array<unsigned char, kHeaderSize> header {};
    ReadExact(0, header.data(), header.size(), DBF_ERR_MEMO_HEADER);
    m_fptHeader = header;
    m_nNextFree = dbfbytes::DecodeFixed32BE(&header[0]);
}

uint32_t CFPTMemoFile::AppendBytes(std::span<const unsigned char> bytes, uint32_t nBlockType)
{
    if (bytes.size() > kMaxLength)
        ThrowDBFException(DBF_ERR_MEMO_WRITE);
    ReadHeader();
    // A damaged next free block inside the data (or 0, the header) would
    // overwrite values: never append below the end of the file.
    const uint32_t nFree = std::max({m_nNextFree, EndOfFileBlock(), static_cast<uint32_t>(BlocksFor(kNewFileSize))});
    const uint32_t nNext = ToBlock(nFree + BlocksFor(bytes.size() + kBlockHeaderSize));
    unsigned char head[kBlockHeaderSize];
    FoxProBlockHeader{nBlockType, static_cast<uint32_t>(bytes.size())}.EncodeTo(head);
    WriteAtPos(BlockOffset(nFree), head, sizeof head);
    WriteAtPos(BlockOffset(nFree) + kBlockHeaderSize, bytes.data(), bytes.size());
    dbfbytes::EncodeFixed32BE(&m_fptHeader[0], nNext);
    WriteAtPos(0, m_fptHeader.data(), m_fptHeader.size());
    m_nNextFree = nNext;
    return nFree;
}
