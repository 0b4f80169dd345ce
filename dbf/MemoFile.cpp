#include "dbf/MemoFile.h"

#include <cstring>

#include "dbf/ByteCodec.h"
#include "dbf/DBFException.h"
#include "dbf/DBFFormat.h"
#include "dbf/DBTMemoFile.h"
#include "dbf/FPTMemoFile.h"
#include "dbf/SMTMemoFile.h"
#include "platform/OsError.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

// dBASE III memo header: block 0; only its first 22 bytes are read and written.
//
//   OFFSET  SIZE  MEANING
//   0       4     next free block, little-endian
//   4       16    reserved, zero in a new file
//   20      2     block size, little-endian; 0 means 512
//   22      490   zero in a new file
//
// A value is the run of bytes from the start of its first block up to (not
// including) the first 0x1A byte; one 0x1A is written after each value, so a
// value of n bytes occupies ceil((n + 1) / block size) blocks. There is no
// free-space management: a replaced value that no longer fits is abandoned.

namespace {

constexpr size_t kDBase3HeaderSize = 22;
constexpr size_t kDBase3NewFileSize = 512;
constexpr uint32_t kDBase3DefaultBlockSize = 512;
constexpr unsigned char kTerminator = dbfformat::kEndOfFile;

} // namespace

CMemoFile::CMemoFile() = default;

CMemoFile::~CMemoFile()
{
    CMemoFile::Close();
}

void CMemoFile::Close()
{
    if (IsOpen() && m_bAppendOnly) {
        try {
            FinishAppends();
        } catch (const CDBFException&) {
            // Reported already; a close never raises.
        }
    }
    m_bAppendOnly = false;
    if (IsOpen()) {
        try {
            CFile::Close();
        } catch (const CFileException& e) {
            // Pending bytes could not be written: the user must know, but a
            // close never raises (it also runs from destructors).
            e.ReportError(m_pReporter);
        }
    }
    m_header.clear();
    m_header.shrink_to_fit();
    m_bMemoOpen = 0;
}

dbfformat::MemoKind CMemoFile::GetMemoKind() const
{
    return dbfformat::MemoKind::DBase3;
}

// ---------------------------------------------------------------------------
// Helpers shared by the memo classes

uint32_t CMemoFile::EndOfFileBlock() const
{
    const uint64_t nBlocks = BlocksFor(GetLength());
    return static_cast<uint32_t>(std::min<uint64_t>(nBlocks, std::numeric_limits<uint32_t>::max()));
}

size_t CMemoFile::ReadAtPos(uint64_t nPos, void* lpBuf, size_t nCount)
{
    if (m_bAppendOnly && nPos + nCount <= kHeadImageSize) {
        std::memcpy(lpBuf, m_headImage.data() + nPos, nCount);
        return nCount;
    }
    Seek(static_cast<int64_t>(nPos), begin);
    return Read(lpBuf, nCount);
}

void CMemoFile::WriteAtPos(uint64_t nPos, const void* lpBuf, size_t nCount)
{
    if (m_bAppendOnly && nPos + nCount <= kHeadImageSize) {
        std::memcpy(m_headImage.data() + nPos, lpBuf, nCount);
        return;
    }
    Seek(static_cast<int64_t>(nPos), begin);
    Write(lpBuf, nCount);
}

bool CMemoFile::BeginAppendOnly()
{
    // Values must all lie past the header image: true of every format but
    // dBASE IV with blocks smaller than the image.
    if (!IsMemoOpen() || m_bAppendOnly || GetLength() < kHeadImageSize
        || (GetMemoKind() == dbfformat::MemoKind::DBase4 && m_nBlockSize < kHeadImageSize))
        return false;
    try {
        ReadExact(0, m_headImage.data(), m_headImage.size(), DBF_ERR_MEMO_WRITE);
    } catch (const CFileException& e) {
        ReportAndThrow(e, DBF_ERR_MEMO_WRITE);
    }
    m_bAppendOnly = true;
    return true;
}

void CMemoFile::FinishAppends()
{
    if (!m_bAppendOnly)
        return;
    m_bAppendOnly = false;
    try {
        WriteAtPos(0, m_headImage.data(), m_headImage.size());
        Flush();
    } catch (const CFileException& e) {
        ReportAndThrow(e, DBF_ERR_MEMO_WRITE);
    }
}

void CMemoFile::ReadExact(uint64_t nPos, void* lpBuf, size_t nCount, int32_t nErrorCode)
{
    if (ReadAtPos(nPos, lpBuf, nCount) < nCount)
        ThrowDBFException(nErrorCode);
}

void CMemoFile::ReadDataAt(uint64_t nPos, uint64_t nLength, std::vector<unsigned char>& data)
{
    if (nPos + nLength > GetLength())
        ThrowDBFException(DBF_ERR_MEMO_READ);
    data.resize(static_cast<size_t>(nLength));
    if (ReadAtPos(nPos, data.data(), data.size()) < data.size()) {
        data.clear();
        ThrowDBFException(DBF_ERR_MEMO_READ);
    }
}

void CMemoFile::WriteNewFile(const unsigned char* header, size_t nHeaderSize, size_t nFileSize)
{
    if (nFileSize != 0) {
        const std::vector<unsigned char> zeros(nFileSize, 0);
        WriteAtPos(0, zeros.data(), zeros.size());
    }
    WriteAtPos(0, header, nHeaderSize);
}

void CMemoFile::ReadOpenHeader(unsigned char* header, size_t nHeaderSize)
{
    if (ReadAtPos(0, header, nHeaderSize) < nHeaderSize)
        CloseAndThrow(DBF_ERR_MEMO_HEADER);
}

void CMemoFile::TakeBlockSize(int64_t nBlockSize)
{
    if (nBlockSize < 1)
        CloseAndThrow(DBF_ERR_MEMO_BLOCKSIZE);
    m_nBlockSize = static_cast<uint32_t>(nBlockSize);
}

void CMemoFile::CreateFileOrThrow(const std::string& strPath)
{
    CFileException error;
    if (!Open(strPath, modeCreate | modeReadWrite | shareExclusive, &error))
        ThrowDBFException(DBF_ERR_MEMO_CREATE);
}

void CMemoFile::OpenFileOrThrow(const std::string& strPath, unsigned nOpenFlags)
{
    CFileException error;
    // The code alone ("Error number 0x00000BC3.") tells a person nothing:
    // the message names the file and the system's reason.
    if (!Open(strPath, nOpenFlags | typeBinary, &error)) {
        const std::string strReason = error.m_lOsError != 0 ? COsError::Text(error.m_lOsError) : error.GetMessage();
        ThrowDBFException(DBF_ERR_MEMO_OPEN, (strPath + ": " + strReason).c_str());
    }
}

void CMemoFile::ReportAndClose(const CFileException& e)
{
    e.ReportError(m_pReporter);
    Close();
}

void CMemoFile::CloseAndThrow(int32_t nErrorCode)
{
    Close();
    ThrowDBFException(nErrorCode);
}

void CMemoFile::ReportAndThrow(const CFileException& e, int32_t nErrorCode)
{
    e.ReportError(m_pReporter);
    ThrowDBFException(nErrorCode);
}

uint32_t CMemoFile::ToBlock(uint64_t nBlock)
{
    if (nBlock > std::numeric_limits<uint32_t>::max())
        ThrowDBFException(DBF_ERR_MEMO_WRITE);
    return static_cast<uint32_t>(nBlock);
}

// ---------------------------------------------------------------------------
// The public calls: the steps every format shares

bool CMemoFile::CreateMemoFile(const std::string& strPath)
{
    if (IsMemoOpen())
        return true;
    CreateFileOrThrow(strPath);
    try {
        WriteNewHeader();
        Flush();
    } catch (const CFileException& e) {
        ReportAndClose(e);
        return false;
    }
    m_bMemoOpen = 1;
    return true;
}

bool CMemoFile::OpenMemoFile(const std::string& strPath, unsigned nOpenFlags)
{
    if (IsMemoOpen())
        return true;
    OpenFileOrThrow(strPath, nOpenFlags);
    try {
        LoadHeader();
    } catch (const CFileException& e) {
        ReportAndClose(e);
        return false;
    }
    m_bMemoOpen = 1;
    return true;
}

uint32_t CMemoFile::ReadValueOrThrow(uint32_t nBlock, uint32_t nLength, std::vector<unsigned char>& data,
                                     bool& bTerminated)
{
    try {
        return ReadValue(nBlock, nLength, data, bTerminated);
    } catch (const CFileException& e) {
        data.clear();
        ReportAndThrow(e, DBF_ERR_MEMO_READ);
    }
}

bool CMemoFile::ReadMemoBytes(uint32_t nBlock, uint32_t& nLength, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    if (!IsMemoOpen())
        return false;
    bool bTerminated = false;
    const uint32_t nRead = ReadValueOrThrow(nBlock, nLength, bytes, bTerminated);
    if (bTerminated)
        bytes.push_back(0);  // the NUL in the terminator's place
    nLength = nRead;
    return true;
}

bool CMemoFile::ReadMemoText(uint32_t nBlock, uint32_t& nLength, std::string& strText)
{
    strText.clear();
    if (!IsMemoOpen())
        return false;
    std::vector<unsigned char> data;
    bool bTerminated = false;
    const uint32_t nRead = ReadValueOrThrow(nBlock, nLength, data, bTerminated);
    strText.assign(data.begin(), data.end());
    nLength = nRead;
    return true;
}

template <typename Step>
uint32_t CMemoFile::FlushedWrite(Step step)
{
    try {
        const uint32_t nResult = step();
        Flush();
        return nResult;
    } catch (const CFileException& e) {
        ReportAndThrow(e, DBF_ERR_MEMO_WRITE);
    }
}

bool CMemoFile::WriteMemoText(uint32_t& nBlock, uint32_t& nLength, const std::string& strText)
{
    if (!IsMemoOpen())
        return false;
    uint32_t nNewLength = nLength;
    const uint32_t nNewBlock = FlushedWrite([&] { return StoreText(nBlock, nNewLength, strText); });
    nBlock = nNewBlock;
    nLength = nNewLength;
    return true;
}

bool CMemoFile::AppendMemoBytes(uint32_t& nBlock, uint32_t& nLength, std::span<const unsigned char> bytes,
                                uint32_t nBlockType)
{
    if (!IsMemoOpen())
        return false;
    if (bytes.size() > std::numeric_limits<uint32_t>::max())
        ThrowDBFException(DBF_ERR_MEMO_WRITE);
    // An empty value gets a block of its own too, so a record that had one
    // keeps it; only SIx, whose record keeps the length, needs none.
    const bool bNoBlock = bytes.empty() && GetMemoKind() == dbfformat::MemoKind::SIx;
    uint32_t nNewBlock = 0;
    if (bNoBlock) {
        nNewBlock = 0;
    } else if (m_bAppendOnly) {
        // Buffered by the file layer; FinishAppends makes it durable.
        try {
            nNewBlock = AppendBytes(bytes, nBlockType);
        } catch (const CFileException& e) {
            ReportAndThrow(e, DBF_ERR_MEMO_WRITE);
        }
    } else {
        nNewBlock = FlushedWrite([&] { return AppendBytes(bytes, nBlockType); });
    }
    nBlock = nNewBlock;
    nLength = static_cast<uint32_t>(bytes.size());
    return true;
}

void CMemoFile::SetNewBlockSize(uint32_t nBlockSize)
{
    if (nBlockSize < 1 || nBlockSize > MaxNewBlockSize())
        throw std::invalid_argument("memo block size " + std::to_string(nBlockSize) + " is outside 1.."
                                    + std::to_string(MaxNewBlockSize()));
    m_nNewBlockSize = nBlockSize;
}

uint32_t CMemoFile::MaxNewBlockSize() const
{
    return std::numeric_limits<uint32_t>::max(); // ignored: dBASE III always uses 512
}

// ---------------------------------------------------------------------------
// dBASE III

void CMemoFile::WriteNewHeader()
{
    std::vector<unsigned char> header(kDBase3HeaderSize, 0);
    dbfbytes::EncodeFixed32LE(&header[0], 1);  // block size word 0: 512
    WriteNewFile(header.data(), header.size(), kDBase3NewFileSize);
    m_header = std::move(header);
    m_nBlockSize = kDBase3DefaultBlockSize;
}

void CMemoFile::LoadHeader()
{
    std::vector<unsigned char> header(kDBase3HeaderSize, 0);
    ReadOpenHeader(header.data(), header.size());
    const uint16_t nWord = dbfbytes::DecodeFixed16LE(&header[20]);
    m_nBlockSize = nWord != 0 ? nWord : kDBase3DefaultBlockSize;
    m_header = std::move(header);
}

// Reads whole chunks up to the first 0x1A or the end of the file; the file's
// length bounds the work, whatever the blocks hold. Hands back the data
// length plus one for the terminator.
uint32_t CMemoFile::ReadValue(uint32_t nBlock, uint32_t /*nLength*/, std::vector<unsigned char>& data,
                              bool& bTerminated)
{
    data.clear();
    bTerminated = false;
    if (nBlock == 0)
        return 0;  // block 0 is the header: no value
    const uint64_t nFileLength = GetLength();
    uint64_t nPos = BlockOffset(nBlock);
    if (nPos >= nFileLength)
        return 0;
    const size_t nChunk = std::clamp<size_t>(m_nBlockSize, 512, 64 * 1024);
    std::vector<unsigned char> chunk(nChunk);
    while (nPos < nFileLength) {
        const size_t nWant = static_cast<size_t>(std::min<uint64_t>(nChunk, nFileLength - nPos));
        const size_t nGot = ReadAtPos(nPos, chunk.data(), nWant);
        if (nGot < nWant)
            ThrowDBFException(DBF_ERR_MEMO_READ);
        const auto itEnd = chunk.begin() + static_cast<std::ptrdiff_t>(nGot);
        const auto itTerm = std::find(chunk.begin(), itEnd, kTerminator);
        data.insert(data.end(), chunk.begin(), itTerm);
        if (itTerm != itEnd) {
            bTerminated = true;
            break;
        }
        nPos += nGot;
    }
    if (data.size() + 1 > std::numeric_limits<uint32_t>::max())
        ThrowDBFException(DBF_ERR_MEMO_READ);
    return static_cast<uint32_t>(data.size() + (bTerminated ? 1 : 0));
}

namespace {

// The next free block of a damaged header may lie inside the data (or be
// 0, the header itself): never append below the end of file.
uint32_t DBase3AppendBlock(const std::vector<unsigned char>& header, uint32_t nEndOfFileBlock)
{
    return std::max(dbfbytes::DecodeFixed32LE(&header[0]), std::max<uint32_t>(nEndOfFileBlock, 1));
}

} // namespace

uint32_t CMemoFile::StoreText(uint32_t nBlock, uint32_t& /*nLength*/, const std::string& strText)
{
    const uint64_t m = strText.size();
    if (m == 0)
        return 0;
    if (nBlock != 0) {
        std::vector<unsigned char> current;
        bool bTerminated = false;
        CMemoFile::ReadValue(nBlock, 0, current, bTerminated);
        // The blocks the current value holds: its data and terminator.
        const uint64_t nCapacity = BlocksFor(current.size() + 1) * m_nBlockSize - 1;
        std::vector<unsigned char> header(kDBase3HeaderSize, 0);
        ReadExact(0, header.data(), header.size(), DBF_ERR_MEMO_HEADER);
        if (m <= nCapacity && nBlock < DBase3AppendBlock(header, EndOfFileBlock())) {
            std::vector<unsigned char> value(strText.begin(), strText.end());
            value.push_back(kTerminator);
            WriteAtPos(BlockOffset(nBlock), value.data(), value.size());
            return nBlock;
        }
    }
    return AppendTerminated(BytesOf(strText));
}

uint32_t CMemoFile::AppendBytes(std::span<const unsigned char> bytes, uint32_t /*nBlockType*/)
{
    return AppendTerminated(bytes);
}

uint32_t CMemoFile::AppendTerminated(std::span<const unsigned char> bytes)
{
    std::vector<unsigned char> header(kDBase3HeaderSize, 0);
    ReadExact(0, header.data(), header.size(), DBF_ERR_MEMO_HEADER);
    const uint32_t nFree = DBase3AppendBlock(header, EndOfFileBlock());
    const uint32_t nNext = ToBlock(nFree + BlocksFor(static_cast<uint64_t>(bytes.size()) + 1));
    std::vector<unsigned char> value(bytes.begin(), bytes.end());
    value.push_back(kTerminator);
    WriteAtPos(BlockOffset(nFree), value.data(), value.size());
    dbfbytes::EncodeFixed32LE(&header[0], nNext);
    WriteAtPos(0, header.data(), header.size());
    m_header = header;
    return nFree;
}

// ---------------------------------------------------------------------------

std::unique_ptr<CMemoFile> MakeMemoFile(dbfformat::MemoKind kind)
{
    switch (kind) {
    case dbfformat::MemoKind::DBase4:
        return std::make_unique<CDBTMemoFile>();
    case dbfformat::MemoKind::FoxPro:
    case dbfformat::MemoKind::VisualFoxPro:
    case dbfformat::MemoKind::VisualFoxProDbc:
        return std::make_unique<CFPTMemoFile>();
    case dbfformat::MemoKind::SIx:
        return std::make_unique<CSMTMemoFile>();
    case dbfformat::MemoKind::None:
    case dbfformat::MemoKind::DBase3:
        break;
    }
    return std::make_unique<CMemoFile>();
}
