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
//   0       4     block type, big-endian: 1 = text (written, never checked)
//   4       4     data length, big-endian
//   8       n     the data
//
// A value of n bytes occupies ceil((n + 8) / block size) blocks.

namespace {

constexpr size_t kNewFileSize = 512;
constexpr uint32_t kNewBlockSize = 64;
constexpr size_t kBlockHeaderSize = 8;
constexpr uint32_t kTypeText = 1;
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

int CFPTMemoFile::GetMemoKind() const
{
    return kindFoxPro;
}

bool CFPTMemoFile::CreateMemoFile(const std::string& strPath)
{
    if (IsMemoOpen())
        return true;
    CreateFileOrThrow(strPath);
    try {
        const std::vector<unsigned char> zeros(kNewFileSize, 0);
        WriteAtPos(0, zeros.data(), zeros.size());
        m_nBlockSize = kNewBlockSize;
        std::array<unsigned char, kHeaderSize> header {};
        const uint32_t nNextFree = static_cast<uint32_t>(BlocksFor(kNewFileSize));
        dbfbytes::EncodeFixed32BE(&header[0], nNextFree);
        dbfbytes::EncodeFixed16BE(&header[6], static_cast<uint16_t>(kNewBlockSize));
        WriteAtPos(0, header.data(), header.size());
        Flush();
        m_fptHeader = header;
        m_nNextFree = nNextFree;
    } catch (const CFileException& e) {
        ReportAndClose(e);
        return false;
    }
    m_bMemoOpen = 1;
    return true;
}

bool CFPTMemoFile::OpenMemoFile(const std::string& strPath, unsigned nOpenFlags)
{
    if (IsMemoOpen())
        return true;
    OpenFileOrThrow(strPath, nOpenFlags);
    try {
        std::array<unsigned char, kHeaderSize> header {};
        if (ReadAtPos(0, header.data(), header.size()) < header.size())
            CloseAndThrow(DBF_ERR_MEMO_HEADER);
        const uint16_t nBlockSize = dbfbytes::DecodeFixed16BE(&header[6]);
        if (nBlockSize == 0)
            CloseAndThrow(DBF_ERR_MEMO_BLOCKSIZE);
        m_nBlockSize = nBlockSize;
        m_fptHeader = header;
        m_nNextFree = dbfbytes::DecodeFixed32BE(&header[0]);
    } catch (const CFileException& e) {
        ReportAndClose(e);
        return false;
    }
    m_bMemoOpen = 1;
    return true;
}

// Reads the data of the value at nBlock; the type word is not looked at. The
// stored length is checked against the file before anything is allocated.
void CFPTMemoFile::ReadValue(uint32_t nBlock, std::vector<unsigned char>& data)
{
    data.clear();
    if (nBlock == 0)
        return;  // block 0 is the header: no value
    const uint64_t nPos = BlockOffset(nBlock);
    unsigned char lengthBytes[4];
    if (ReadAtPos(nPos + 4, lengthBytes, 4) < 4)
        ThrowDBFException(DBF_ERR_MEMO_READ);
    const uint32_t n = dbfbytes::DecodeFixed32BE(lengthBytes);
    if (n < 1 || n > kMaxLength)
        ThrowDBFException(DBF_ERR_MEMO_READ);
    const uint64_t nDataPos = nPos + kBlockHeaderSize;
    if (nDataPos + n > GetLength())
        ThrowDBFException(DBF_ERR_MEMO_READ);
    data.resize(n);
    if (ReadAtPos(nDataPos, data.data(), data.size()) < data.size()) {
        data.clear();
        ThrowDBFException(DBF_ERR_MEMO_READ);
    }
}

bool CFPTMemoFile::ReadMemoBytes(uint32_t nBlock, uint32_t& nLength, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    if (!IsMemoOpen())
        return false;
    try {
        ReadValue(nBlock, bytes);
    } catch (const CFileException& e) {
        bytes.clear();
        ReportAndThrow(e, DBF_ERR_MEMO_READ);
    }
    nLength = static_cast<uint32_t>(bytes.size());
    return true;
}

bool CFPTMemoFile::ReadMemoText(uint32_t nBlock, uint32_t& nLength, std::string& strText)
{
    strText.clear();
    if (!IsMemoOpen())
        return false;
    std::vector<unsigned char> data;
    try {
        ReadValue(nBlock, data);
    } catch (const CFileException& e) {
        ReportAndThrow(e, DBF_ERR_MEMO_READ);
    }
    strText.assign(data.begin(), data.end());
    nLength = static_cast<uint32_t>(data.size());
    return true;
}

bool CFPTMemoFile::WriteMemoText(uint32_t& nBlock, uint32_t& /*nLength*/, const std::string& strText)
{
    if (!IsMemoOpen())
        return false;
    const uint64_t m = strText.size();
    if (m == 0) {
        nBlock = 0;
        return true;
    }
    if (m > kMaxLength)
        ThrowDBFException(DBF_ERR_MEMO_WRITE);
    try {
        uint32_t nNewBlock = 0;
        if (nBlock != 0) {
            const uint64_t nPos = BlockOffset(nBlock);
            unsigned char lengthBytes[4];
            if (ReadAtPos(nPos + 4, lengthBytes, 4) < 4)
                ThrowDBFException(DBF_ERR_MEMO_READ);
            const uint64_t nStored = dbfbytes::DecodeFixed32BE(lengthBytes);
            // A stored length that is out of range or runs past the file
            // says nothing about the blocks the value holds: do not write
            // over whatever follows, append instead.
            const bool bPlausible = nStored <= kMaxLength && nPos + kBlockHeaderSize + nStored <= GetLength();
            const uint64_t nCapacity = BlocksFor(nStored + kBlockHeaderSize) * m_nBlockSize - kBlockHeaderSize;
            if (bPlausible && m <= nCapacity) {
                unsigned char newLength[4];
                dbfbytes::EncodeFixed32BE(newLength, static_cast<uint32_t>(m));
                WriteAtPos(nPos + 4, newLength, sizeof newLength);
                WriteAtPos(nPos + kBlockHeaderSize, strText.data(), strText.size());
                nNewBlock = nBlock;
            }
        }
        if (nNewBlock == 0)
            nNewBlock = AppendValue(strText);
        Flush();
        nBlock = nNewBlock;
    } catch (const CFileException& e) {
        ReportAndThrow(e, DBF_ERR_MEMO_WRITE);
    }
    return true;
}

void CFPTMemoFile::ReadHeader()
{
    std::array<unsigned char, kHeaderSize> header {};
    if (ReadAtPos(0, header.data(), header.size()) < header.size())
        ThrowDBFException(DBF_ERR_MEMO_HEADER);
    m_fptHeader = header;
    m_nNextFree = dbfbytes::DecodeFixed32BE(&header[0]);
}

uint32_t CFPTMemoFile::AppendValue(const std::string& strText)
{
    ReadHeader();
    // A damaged next free block inside the data (or 0, the header) would
    // overwrite values: never append below the end of the file.
    const uint32_t nFree = std::max({m_nNextFree, EndOfFileBlock(), static_cast<uint32_t>(BlocksFor(kNewFileSize))});
    const uint32_t nNext = ToBlock(nFree + BlocksFor(strText.size() + kBlockHeaderSize));
    std::vector<unsigned char> value(kBlockHeaderSize + strText.size());
    dbfbytes::EncodeFixed32BE(&value[0], kTypeText);
    dbfbytes::EncodeFixed32BE(&value[4], static_cast<uint32_t>(strText.size()));
    std::memcpy(value.data() + kBlockHeaderSize, strText.data(), strText.size());
    WriteAtPos(BlockOffset(nFree), value.data(), value.size());
    dbfbytes::EncodeFixed32BE(&m_fptHeader[0], nNext);
    WriteAtPos(0, m_fptHeader.data(), m_fptHeader.size());
    m_nNextFree = nNext;
    return nFree;
}
