#include "dbf/SMTMemoFile.h"

#include "dbf/ByteCodec.h"
#include "dbf/DBFException.h"

#include <algorithm>
#include <cstring>
#include <limits>

// SIx memo header: 510 bytes at offset 0, little-endian.
//
//   OFFSET  SIZE  MEANING
//   0       4     end-of-file block after the last append
//   4       4     block size
//   8       8     signature "SIxMemo" and one zero byte
//   16      2     zero
//   18      2     number of free-run entries in use, 0 to 81
//   20      486   81 free-run entries (below), those in use sorted by first
//                 block, ascending
//   506     4     zero
//
// Free-run entry:
//
//   OFFSET  SIZE  MEANING
//   0       2     number of blocks in the run
//   2       4     first block of the run
//
// A value is its raw bytes from the start of its first block, without header
// or terminator; n bytes occupy ceil(n / block size) blocks. The file is not
// padded to whole blocks.

namespace {

constexpr uint32_t kNewBlockSize = 128;
constexpr char kSignature[8] = {'S', 'I', 'x', 'M', 'e', 'm', 'o', '\0'};
constexpr size_t kCountOffset = 18;
constexpr size_t kEntriesOffset = 20;
constexpr size_t kEntrySize = 6;
constexpr uint32_t kMaxRunBlocks = 0xFFFF;

struct FreeEntry {
    uint32_t nBlocks;
    uint32_t nFirst;
};

} // namespace

CSMTMemoFile::CSMTMemoFile()
{
    m_nBlockSize = kNewBlockSize;
}

CSMTMemoFile::~CSMTMemoFile()
{
    CSMTMemoFile::Close();
}

void CSMTMemoFile::Close()
{
    CMemoFile::Close();
    m_smtHeader.fill(0);
}

dbfformat::MemoKind CSMTMemoFile::GetMemoKind() const
{
    return dbfformat::MemoKind::SIx;
}

void CSMTMemoFile::WriteNewHeader()
{
    m_nBlockSize = NewBlockSize(kNewBlockSize);
    std::array<unsigned char, kHeaderSize> header {};
    dbfbytes::EncodeFixed32LE(&header[0], static_cast<uint32_t>(BlocksFor(512)));
    dbfbytes::EncodeFixed32LE(&header[4], m_nBlockSize);
    std::memcpy(&header[8], kSignature, sizeof kSignature);
    WriteNewFile(header.data(), header.size(), 0);
    m_smtHeader = header;
}

void CSMTMemoFile::LoadHeader()
{
    std::array<unsigned char, kHeaderSize> header {};
    ReadOpenHeader(header.data(), header.size());
    TakeBlockSize(static_cast<int32_t>(dbfbytes::DecodeFixed32LE(&header[4])));
    m_smtHeader = header;
}

// The length comes from the record.
uint32_t CSMTMemoFile::ReadValue(uint32_t nBlock, uint32_t nLength, std::vector<unsigned char>& data,
                                 bool& /*bTerminated*/)
{
    data.clear();
    if (nBlock == 0)
        return nLength;  // block 0 is the header: no value
    if (static_cast<int32_t>(nLength) < 1)
        ThrowDBFException(DBF_ERR_MEMO_READ);
    ReadDataAt(BlockOffset(nBlock), nLength, data);
    return nLength;
}

uint32_t CSMTMemoFile::StoreText(uint32_t nBlock, uint32_t& nLength, const std::string& strText)
{
    const uint64_t m = strText.size();
    if (m > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        ThrowDBFException(DBF_ERR_MEMO_WRITE);
    const uint64_t nNeed = BlocksFor(m);
    uint32_t nNewBlock = 0;
    // A block that is not in the file's data area (a damaged record) is
    // never written over or freed: that would hit the header or nothing at
    // all.
    if (nBlock != 0 && IsDataBlock(nBlock)) {
        const uint64_t nHeld = BlocksFor(nLength);
        if (m != 0 && nHeld == nNeed) {
            WriteAtPos(BlockOffset(nBlock), strText.data(), strText.size());
            nNewBlock = nBlock;
        } else {
            FreeRunAt(nBlock, nHeld);
        }
    }
    if (m != 0 && nNewBlock == 0)
        nNewBlock = StoreNew(BytesOf(strText));
    nLength = static_cast<uint32_t>(m);
    return nNewBlock;
}

uint32_t CSMTMemoFile::AppendBytes(std::span<const unsigned char> bytes, uint32_t /*nBlockType*/)
{
    if (bytes.size() > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        ThrowDBFException(DBF_ERR_MEMO_WRITE);
    return StoreNew(bytes);
}

uint32_t CSMTMemoFile::StoreNew(std::span<const unsigned char> bytes)
{
    const uint32_t nBlock = TakeFirstFit(ToBlock(BlocksFor(bytes.size())));
    if (nBlock == 0)
        return AppendValue(bytes);
    WriteAtPos(BlockOffset(nBlock), bytes.data(), bytes.size());
    return nBlock;
}

void CSMTMemoFile::ReadHeader()
{
    std::array<unsigned char, kHeaderSize> header {};
    ReadExact(0, header.data(), header.size(), DBF_ERR_MEMO_HEADER);
    m_smtHeader = header;
}

void CSMTMemoFile::WriteHeader()
{
    WriteAtPos(0, m_smtHeader.data(), m_smtHeader.size());
}

uint32_t CSMTMemoFile::FirstDataBlock() const
{
    return static_cast<uint32_t>(BlocksFor(kHeaderSize));
}

bool CSMTMemoFile::IsDataBlock(uint32_t nBlock) const
{
    return nBlock >= FirstDataBlock() && nBlock < EndOfFileBlock();
}

namespace {

// The entries in use; a count beyond the table's room is read as a full table.
std::vector<FreeEntry> DecodeEntries(const unsigned char* header)
{
    const unsigned nCount = std::min<unsigned>(dbfbytes::DecodeFixed16LE(header + kCountOffset),
                                               CSMTMemoFile::kMaxFreeRuns);
    std::vector<FreeEntry> entries(nCount);
    for (unsigned i = 0; i < nCount; ++i) {
        const unsigned char* p = header + kEntriesOffset + i * kEntrySize;
        entries[i] = {dbfbytes::DecodeFixed16LE(p), dbfbytes::DecodeFixed32LE(p + 2)};
    }
    return entries;
}

// Writes the entries and their count; unused entries are zero.
void EncodeEntries(unsigned char* header, const std::vector<FreeEntry>& entries)
{
    std::memset(header + kEntriesOffset, 0, CSMTMemoFile::kMaxFreeRuns * kEntrySize);
    dbfbytes::EncodeFixed16LE(header + kCountOffset, static_cast<uint16_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        unsigned char* p = header + kEntriesOffset + i * kEntrySize;
        dbfbytes::EncodeFixed16LE(p, static_cast<uint16_t>(entries[i].nBlocks));
        dbfbytes::EncodeFixed32LE(p + 2, entries[i].nFirst);
    }
}

} // namespace

uint32_t CSMTMemoFile::TakeFirstFit(uint32_t nNeed)
{
    ReadHeader();
    std::vector<FreeEntry> entries = DecodeEntries(m_smtHeader.data());
    const uint64_t nFirstData = FirstDataBlock();
    const uint64_t nEndOfFile = EndOfFileBlock();
    for (size_t i = 0; i < entries.size(); ++i) {
        FreeEntry& entry = entries[i];
        // Only runs inside the data area are handed out: a damaged entry
        // must not send a value into the header.
        if (entry.nBlocks == 0 || entry.nFirst < nFirstData
            || static_cast<uint64_t>(entry.nFirst) + entry.nBlocks > nEndOfFile)
            continue;
        uint32_t nTarget = 0;
        if (nNeed < entry.nBlocks) {
            nTarget = entry.nFirst + entry.nBlocks - nNeed;
            entry.nBlocks -= nNeed;
        } else if (nNeed == entry.nBlocks) {
            nTarget = entry.nFirst;
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            continue;
        }
        EncodeEntries(m_smtHeader.data(), entries);
        WriteHeader();
        return nTarget;
    }
    return 0;
}

uint32_t CSMTMemoFile::AppendValue(std::span<const unsigned char> bytes)
{
    const uint32_t nTarget = std::max(EndOfFileBlock(), FirstDataBlock());
    const uint32_t nNewEnd = ToBlock(static_cast<uint64_t>(nTarget) + BlocksFor(bytes.size()));
    WriteAtPos(BlockOffset(nTarget), bytes.data(), bytes.size());
    ReadHeader();
    dbfbytes::EncodeFixed32LE(&m_smtHeader[0], nNewEnd);
    WriteHeader();
    return nTarget;
}

void CSMTMemoFile::FreeRunAt(uint32_t nBlock, uint64_t nCount)
{
    ReadHeader();
    const uint32_t nEndOfFile = EndOfFileBlock();
    if (nBlock >= nEndOfFile || nCount == 0)
        return;
    // A stored length that reaches past the file frees only what it holds;
    // a run longer than an entry can count is not recorded.
    const uint64_t n = std::min<uint64_t>(nCount, nEndOfFile - nBlock);
    if (n > kMaxRunBlocks)
        return;
    const uint64_t nEnd = nBlock + n;
    std::vector<FreeEntry> entries = DecodeEntries(m_smtHeader.data());
    for (const FreeEntry& entry : entries) {
        // Blocks the table already holds must not be listed twice.
        if (nBlock < static_cast<uint64_t>(entry.nFirst) + entry.nBlocks && entry.nFirst < nEnd)
            return;
    }
    size_t i = 0;
    for (; i < entries.size(); ++i) {
        FreeEntry& entry = entries[i];
        if (nEnd == entry.nFirst && entry.nBlocks + n <= kMaxRunBlocks) {
            entry.nFirst = nBlock;
            entry.nBlocks += static_cast<uint32_t>(n);
            EncodeEntries(m_smtHeader.data(), entries);
            WriteHeader();
            return;
        }
        if (nBlock < entry.nFirst)
            break;
    }
    // A full table drops the run: its blocks are lost to reuse.
    if (entries.size() >= kMaxFreeRuns)
        return;
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(i), {static_cast<uint32_t>(n), nBlock});
    EncodeEntries(m_smtHeader.data(), entries);
    WriteHeader();
}
