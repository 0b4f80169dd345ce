#include "repair/RawMemoReader.h"

#include "dbf/ByteCodec.h"
#include "dbf/DBFFormat.h"
#include "dbf/FPTMemoFile.h"
#include "dbf/FieldCodec.h"
#include "repair/RepairPaths.h"

#include <algorithm>
#include <array>
#include <cstring>

using dbfformat::MemoKind;

namespace {

constexpr const auto& kDBase4Marker = dbfformat::kDBase4BlockMarker;
constexpr unsigned char kDBase3Terminator = dbfformat::kEndOfFile;
constexpr uint32_t kFoxProTextType = FoxProBlockHeader::kTypeText;
// Marks an extent whose length was not stored (trimmed when read).
constexpr uint32_t kUnsizedType = 0xFFFFFFFF;
// Types a referenced FoxPro block may carry: picture, text, object.
constexpr uint32_t kFoxProHighestType = FoxProBlockHeader::kTypeObject;
// The longest dBASE III value searched for its terminator.
constexpr uint64_t kDBase3MaxValue = 64ull * 1024 * 1024;

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == 0;
}

uint64_t CeilDiv(uint64_t a, uint64_t b)
{
    return (a + b - 1) / b;
}

} // namespace

MemoReference MemoReference::Parse(std::span<const unsigned char> bytes)
{
    MemoReference ref;
    if (bytes.size() == 4) {
        ref.nBlock = dbfbytes::DecodeFixed32LE(bytes.data());
        ref.nKind = ref.nBlock == 0 ? kNone : kBlock;
        return ref;
    }
    if (IsMemoRefForm(bytes)) {
        ref.nLength = dbfbytes::DecodeFixed32LE(bytes.data() + 2);
        ref.nBlock = dbfbytes::DecodeFixed32LE(bytes.data() + 6);
        ref.nKind = ref.nBlock == 0 ? kNone : kBlock;
        return ref;
    }
    size_t i = 0;
    while (i < bytes.size() && IsBlank(bytes[i]))
        ++i;
    uint64_t nValue = 0;
    size_t nDigits = 0;
    while (i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9') {
        nValue = nValue * 10 + (bytes[i] - '0');
        ++nDigits;
        ++i;
    }
    while (i < bytes.size() && IsBlank(bytes[i]))
        ++i;
    if (i != bytes.size() || nValue > UINT32_MAX) {
        ref.nKind = kUnreadable;
        return ref;
    }
    ref.nBlock = static_cast<uint32_t>(nValue);
    ref.nKind = (nDigits == 0 || nValue == 0) ? kNone : kBlock;
    return ref;
}

CRawMemoReader::CRawMemoReader() : m_file(1024 * 1024), m_probe(4096) {}

bool CRawMemoReader::Open(const std::string& strPath)
{
    const MemoKind format = dbfformat::MemoKindForExtension(PathExtension(strPath));
    if (format == MemoKind::None)
        return false;
    if (!m_file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary))
        return false;
    if (!m_probe.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) {
        m_file.Close();
        return false;
    }
    m_file.AdviseSequential();
    m_strPath = strPath;
    m_format = format;
    m_nLength = m_file.GetLength();

    std::array<unsigned char, 32> header{};
    ReadAt(0, header.data(), header.size());
    switch (format) {
    case MemoKind::FoxPro:
        m_nHeaderBlockSize = dbfbytes::DecodeFixed16BE(&header[6]);
        break;
    case MemoKind::DBase3:
    case MemoKind::DBase4:
        m_nHeaderBlockSize = dbfbytes::DecodeFixed16LE(&header[20]);
        break;
    case MemoKind::SIx:
        m_nHeaderBlockSize = dbfbytes::DecodeFixed32LE(&header[4]);
        if (m_nHeaderBlockSize > 65536)
            m_nHeaderBlockSize = 0;
        break;
    case MemoKind::None:
    case MemoKind::VisualFoxPro: // an .FPT reads as FoxPro
    case MemoKind::VisualFoxProDbc:
        break;
    }
    m_nBlockSize = m_nHeaderBlockSize != 0 ? m_nHeaderBlockSize : (format == MemoKind::DBase3 ? 512 : 64);
    if (format == MemoKind::DBase3)
        m_nBlockSize = 512;
    m_nScanOffset = kHeaderSize;
    return true;
}

size_t CRawMemoReader::ReadAt(uint64_t nOffset, void* pBuffer, size_t nCount)
{
    if (nOffset >= m_nLength)
        return 0;
    CFile& file = m_bProbing ? m_probe : m_file;
    file.Seek(static_cast<int64_t>(nOffset), CFile::begin);
    return file.Read(pBuffer, nCount);
}

std::optional<CRawMemoReader::Extent> CRawMemoReader::ValueAt(MemoKind format, uint32_t nBlock,
                                                               uint32_t nBlockSize, int64_t nRefLength,
                                                               bool bStrict)
{
    if (nBlock == 0 || nBlockSize == 0)
        return std::nullopt;
    const uint64_t nOffset = static_cast<uint64_t>(nBlock) * nBlockSize;
    switch (format) {
    case MemoKind::FoxPro: {
        if (nOffset < kHeaderSize || nOffset + 8 > m_nLength)
            return std::nullopt;
        unsigned char head[FoxProBlockHeader::kSize];
        if (ReadAt(nOffset, head, sizeof head) != sizeof head)
            return std::nullopt;
        const FoxProBlockHeader block = FoxProBlockHeader::Decode(head);
        const uint32_t nType = block.nType;
        const uint64_t n = block.nLength;
        if (bStrict ? (nType != kFoxProTextType || n == 0) : nType > kFoxProHighestType)
            return std::nullopt;
        if (nOffset + 8 + n > m_nLength)
            return std::nullopt;
        return Extent{nOffset + 8, n, nType};
    }
    case MemoKind::DBase4: {
        if (nOffset < kHeaderSize || nOffset + 8 > m_nLength)
            return std::nullopt;
        unsigned char head[8];
        if (ReadAt(nOffset, head, 8) != 8 || std::memcmp(head, kDBase4Marker, 4) != 0)
            return std::nullopt;
        const uint64_t nTotal = dbfbytes::DecodeFixed32LE(head + 4);
        if (nTotal < 8 || (bStrict && nTotal == 8) || nOffset + nTotal > m_nLength)
            return std::nullopt;
        return Extent{nOffset + 8, nTotal - 8};
    }
    case MemoKind::DBase3: {
        if (nOffset < nBlockSize || nOffset >= m_nLength)
            return std::nullopt;
        unsigned char head[4] = {};
        ReadAt(nOffset, head, 4);
        if (std::memcmp(head, kDBase4Marker, 4) == 0)
            return std::nullopt;
        // The value runs to its 0x1A terminator, or to the end of the file.
        std::array<unsigned char, 4096> chunk{};
        uint64_t nPos = nOffset;
        uint64_t nLimit = std::min(m_nLength, nOffset + kDBase3MaxValue);
        // Nor past the next value that a record names: a value that lost its
        // terminator must not swallow the values after it.
        const auto next = std::upper_bound(m_claimed.begin(), m_claimed.end(), nBlock);
        if (next != m_claimed.end())
            nLimit = std::min<uint64_t>(nLimit, static_cast<uint64_t>(*next) * nBlockSize);
        while (nPos < nLimit) {
            const size_t nRead = ReadAt(nPos, chunk.data(), static_cast<size_t>(std::min<uint64_t>(chunk.size(), nLimit - nPos)));
            if (nRead == 0)
                break;
            const void* pHit = std::memchr(chunk.data(), kDBase3Terminator, nRead);
            if (pHit != nullptr)
                return Extent{nOffset, nPos + static_cast<uint64_t>(static_cast<const unsigned char*>(pHit) - chunk.data()) - nOffset};
            nPos += nRead;
        }
        if (bStrict)
            return std::nullopt;
        return Extent{nOffset, nPos - nOffset};
    }
    case MemoKind::SIx: {
        if (nRefLength < 0 && !bStrict) {
            // A reference without its length (a 4-byte field): the value
            // runs to the next value a record names, or to the end.
            if (nOffset < kHeaderSize || nOffset >= m_nLength)
                return std::nullopt;
            uint64_t nEnd = m_nLength;
            const auto next = std::upper_bound(m_claimed.begin(), m_claimed.end(), nBlock);
            if (next != m_claimed.end())
                nEnd = std::min<uint64_t>(nEnd, static_cast<uint64_t>(*next) * nBlockSize);
            return Extent{nOffset, nEnd > nOffset ? nEnd - nOffset : 0, kUnsizedType};
        }
        if (nRefLength < 0 || (bStrict && nRefLength == 0))
            return std::nullopt;
        if (nOffset < kHeaderSize || nOffset + static_cast<uint64_t>(nRefLength) > m_nLength)
            return std::nullopt;
        return Extent{nOffset, static_cast<uint64_t>(nRefLength)};
    }
    case MemoKind::None:
    case MemoKind::VisualFoxPro: // an .FPT reads as FoxPro
    case MemoKind::VisualFoxProDbc:
        break;
    }
    return std::nullopt;
}

std::string CRawMemoReader::ReadText(const Extent& extent)
{
    std::string strText;
    ReadTextInto(extent, strText);
    return strText;
}

void CRawMemoReader::ReadTextInto(const Extent& extent, std::string& strText)
{
    strText.resize(static_cast<size_t>(extent.nLength));
    const size_t nRead = ReadAt(extent.nData, strText.data(), strText.size());
    strText.resize(nRead);
}

int CRawMemoReader::CountPlausible(const std::vector<MemoReference>& sample, MemoKind format, uint32_t nBlockSize)
{
    struct CProbing {
        bool& bProbing;
        explicit CProbing(bool& b) : bProbing(b) { bProbing = true; }
        ~CProbing() { bProbing = false; }
    } probing(m_bProbing);
    int nCount = 0;
    for (const MemoReference& ref : sample) {
        if (ref.nKind == MemoReference::kBlock && ValueAt(format, ref.nBlock, nBlockSize, ref.nLength, true))
            ++nCount;
    }
    return nCount;
}

void CRawMemoReader::SettleLayout(const std::vector<MemoReference>& sample, uint8_t nVersion)
{
    if (!IsOpen())
        return;
    // The best block size for a format: the header's unless another common
    // size explains more of the references.
    auto bestSize = [&](MemoKind format, int& nBestScore) {
        uint32_t nBest = 0;
        nBestScore = -1;
        std::vector<uint32_t> sizes;
        if (m_nHeaderBlockSize != 0)
            sizes.push_back(m_nHeaderBlockSize);
        for (uint32_t n : kCommonBlockSizes)
            sizes.push_back(n);
        for (uint32_t nSize : sizes) {
            const int nScore = CountPlausible(sample, format, nSize);
            // References read off shifted records point anywhere, and some
            // land on a block header by chance: a size the header does not
            // give must explain clearly more than the header's own.
            const int nNeeded = nSize == m_nHeaderBlockSize || nBestScore <= 0 || nBest != m_nHeaderBlockSize
                ? nBestScore
                : nBestScore + std::max(2, nBestScore / 4);
            if (nScore > nNeeded) {
                nBestScore = nScore;
                nBest = nSize;
            }
        }
        return nBest;
    };

    int nScore = 0;
    switch (m_format) {
    case MemoKind::FoxPro:
    case MemoKind::SIx: {
        const uint32_t nBest = bestSize(m_format, nScore);
        if (nScore > 0)
            m_nBlockSize = nBest;
        else if (m_nHeaderBlockSize != 0)
            m_nBlockSize = m_nHeaderBlockSize;
        else
            m_nBlockSize = m_format == MemoKind::FoxPro ? 1 : 32; // scan every byte
        break;
    }
    case MemoKind::DBase3:
    case MemoKind::DBase4: {
        const uint32_t nBest = bestSize(MemoKind::DBase4, nScore);
        const bool bVersionSaysIV = dbfformat::MemoKindForVersion(nVersion, 0) == MemoKind::DBase4;
        if (nScore > 0) {
            m_format = MemoKind::DBase4;
            m_nBlockSize = nBest;
        } else if (bVersionSaysIV && CountPlausible(sample, MemoKind::DBase3, 512) == 0) {
            m_format = MemoKind::DBase4;
            m_nBlockSize = m_nHeaderBlockSize != 0 ? m_nHeaderBlockSize : 512;
        } else {
            m_format = MemoKind::DBase3;
            m_nBlockSize = 512;
        }
        break;
    }
    case MemoKind::None:
    case MemoKind::VisualFoxPro: // an .FPT reads as FoxPro
    case MemoKind::VisualFoxProDbc:
        break;
    }
    m_nScanOffset = CeilDiv(kHeaderSize, m_nBlockSize) * m_nBlockSize;
}

std::optional<std::string> CRawMemoReader::ReadReferenced(const MemoReference& ref)
{
    auto value = ReadReferencedValue(ref);
    if (!value)
        return std::nullopt;
    return std::move(value->strBytes);
}

std::optional<CRawMemoReader::Value> CRawMemoReader::ReadReferencedValue(const MemoReference& ref)
{
    Value value;
    if (!ReadReferencedInto(ref, value.strBytes, value.nType))
        return std::nullopt;
    return value;
}

bool CRawMemoReader::ReadReferencedInto(const MemoReference& ref, std::string& strBytes, uint32_t& nType)
{
    std::span<const unsigned char> bytes;
    if (!ReadReferencedView(ref, strBytes, bytes, nType))
        return false;
    if (reinterpret_cast<const char*>(bytes.data()) == strBytes.data())
        strBytes.resize(bytes.size());
    else
        strBytes.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
}

bool CRawMemoReader::ReadReferencedView(const MemoReference& ref, std::string& strRoom,
                                        std::span<const unsigned char>& bytes, uint32_t& nType)
{
    if (!IsOpen() || ref.nKind != MemoReference::kBlock)
        return false;
    const auto extent = ValueAt(m_format, ref.nBlock, m_nBlockSize, ref.nLength, false);
    if (!extent)
        return false;
    nType = extent->nType;
    // Most values lie inside the read window: they are used where they
    // stand, without a copy.
    const unsigned char* p = nullptr;
    if (extent->nData < m_nLength && extent->nLength <= m_nLength - extent->nData)
        p = m_file.Peek(extent->nData, static_cast<size_t>(extent->nLength));
    if (p != nullptr) {
        bytes = std::span<const unsigned char>(p, static_cast<size_t>(extent->nLength));
    } else {
        ReadTextInto(*extent, strRoom);
        bytes = std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(strRoom.data()), strRoom.size());
    }
    if (nType == kUnsizedType) {
        // Without a length the block's padding comes along: it is no text.
        size_t nEnd = bytes.size();
        while (nEnd > 0 && bytes[nEnd - 1] == 0)
            --nEnd;
        bytes = bytes.first(nEnd);
        nType = kFoxProTextType;
    }
    return true;
}

void CRawMemoReader::SetClaimedBlocks(std::vector<uint32_t> blocks)
{
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    m_claimed = std::move(blocks);
}

bool CRawMemoReader::IsClaimed(uint32_t nBlock) const
{
    return std::binary_search(m_claimed.begin(), m_claimed.end(), nBlock);
}

std::optional<std::string> CRawMemoReader::ScanNextText()
{
    if (m_format != MemoKind::FoxPro && m_format != MemoKind::DBase4)
        return std::nullopt;
    const uint64_t nSize = m_nBlockSize;
    uint64_t nOffset = CeilDiv(m_nScanOffset, nSize) * nSize;
    unsigned nPolls = 0;
    while (nOffset + 8 <= m_nLength) {
        if ((++nPolls & 0xFFF) == 0 && m_stop.Requested()) {
            m_nScanOffset = nOffset;
            return std::nullopt;
        }
        const uint64_t nBlock = nOffset / nSize;
        if (nBlock > UINT32_MAX)
            break;
        const auto extent = ValueAt(m_format, static_cast<uint32_t>(nBlock), m_nBlockSize, -1, true);
        if (extent && IsClaimed(static_cast<uint32_t>(nBlock))) {
            // Another record's value: step over all of it.
            nOffset = CeilDiv(extent->nData + extent->nLength, nSize) * nSize;
            continue;
        }
        if (extent) {
            m_nScanOffset = CeilDiv(extent->nData + extent->nLength, nSize) * nSize;
            return ReadText(*extent);
        }
        nOffset += nSize;
    }
    m_nScanOffset = m_nLength;
    return std::nullopt;
}
