#include "repair/TextTransferUndo.h"

#include "dbf/ByteCodec.h"
#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFFormat.h"
#include "dbf/DBFHeader.h"
#include "dbf/FPTMemoFile.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "repair/DamagedTableScanner.h"
#include "repair/RepairPaths.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

namespace {

constexpr unsigned char kCR = 0x0D;
constexpr unsigned char kLF = 0x0A;
constexpr unsigned char kTerminator = dbfformat::kHeaderTerminator;
constexpr unsigned char kEndOfFile = dbfformat::kEndOfFile;
// Bytes of a memo file read before one that came alone is judged by them.
constexpr uint64_t kMemoSettleBytes = 4 * 1024 * 1024;
constexpr size_t kChunk = 1024 * 1024;
// The longest table header a transfer can make: 65535 bytes, every one an LF.
constexpr size_t kLongestConvertedHeader = 2 * 65535;
// Memo headers: FoxPro's block size at 6, dBASE IV's at 20; no value
// starts before offset 512.
constexpr size_t kMemoHeaderRead = 32;
constexpr uint64_t kMemoFirstValue = 512;
constexpr uint32_t kDBase3BlockSize = 512;
constexpr const auto& kDBase4Marker = dbfformat::kDBase4BlockMarker;
constexpr unsigned char kDBase3TextEnd = dbfformat::kEndOfFile;

bool OpenRead(CFile& file, const std::string& strPath)
{
    return file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary);
}

// Calls fn(bytes, count) for every chunk of the file; false when it cannot
// be read or the stop flag ended the reading.
template <typename Fn>
bool ForEachChunk(const std::string& strPath, const CStopToken& stop, Fn fn)
{
    CFile file;
    if (!OpenRead(file, strPath))
        return false;
    IoBuffer chunk(kChunk);
    for (;;) {
        const size_t nRead = file.Read(chunk.data(), chunk.size());
        if (nRead == 0)
            break;
        // A callback that returns false has seen enough.
        if constexpr (std::is_same_v<decltype(fn(chunk.data(), nRead)), bool>) {
            if (!fn(chunk.data(), nRead))
                break;
        } else {
            fn(chunk.data(), nRead);
        }
        if (stop.Requested())
            return false;
    }
    return true;
}

uint64_t RoundUp(uint64_t n, uint64_t nBlock)
{
    return (n + nBlock - 1) / nBlock * nBlock;
}

// Turns CR LF into LF in consecutive chunks of one file: a CR that ends a
// chunk waits for the next chunk's first byte.
class CPairUndo {
public:
    void Convert(const unsigned char* p, size_t n, std::vector<unsigned char>& out)
    {
        for (size_t i = 0; i < n; ++i) {
            const unsigned char c = p[i];
            if (m_bHeldCR) {
                m_bHeldCR = false;
                if (c == kLF) {
                    out.push_back(kLF);
                    ++m_nPairs;
                    continue;
                }
                out.push_back(kCR);
            }
            if (c == kCR)
                m_bHeldCR = true;
            else
                out.push_back(c);
        }
    }
    // The end of the file: a CR still held is the last byte.
    void Finish(std::vector<unsigned char>& out)
    {
        if (m_bHeldCR)
            out.push_back(kCR);
        m_bHeldCR = false;
    }
    uint64_t Pairs() const { return m_nPairs; }

private:
    bool m_bHeldCR = false;
    uint64_t m_nPairs = 0;
};

// What a table's first bytes say of a file of nLength bytes ending in chLast.
struct HeaderFit {
    uint32_t nHeaderLength = 0;
    bool bLength = false;      // header length + count × record length, an end mark allowed
    bool bDescriptors = false; // the terminator on a 32-byte place inside the header, the widths add up
};

HeaderFit JudgeHeader(std::span<const unsigned char> bytes, uint64_t nLength, unsigned char chLast)
{
    HeaderFit fit;
    if (bytes.size() < DBFHeader::kSize)
        return fit;
    DBFHeader header;
    std::copy_n(bytes.begin(), DBFHeader::kSize, header.Data());
    const int32_t nCount = header.GetRecordCount();
    const uint32_t nRecordLength = header.GetRecordLength();
    fit.nHeaderLength = header.GetHeaderLength();
    if (nCount < 0 || fit.nHeaderLength <= DBFHeader::kSize || nRecordLength == 0)
        return fit;
    const uint64_t nExpected = fit.nHeaderLength + static_cast<uint64_t>(nCount) * nRecordLength;
    fit.bLength = nLength == nExpected || (nLength == nExpected + 1 && chLast == kEndOfFile);
    // Widths by the length byte alone and by the 16-bit rule of wide C
    // fields: either may be the writer's.
    uint32_t nByByte = 1;
    uint32_t nByRule = 1;
    for (size_t nAt = DBFHeader::kSize; nAt < fit.nHeaderLength && nAt < bytes.size(); nAt += DBFFieldDescriptor::kSize) {
        if (bytes[nAt] == kTerminator) {
            fit.bDescriptors = fit.nHeaderLength <= nAt + 1 + dbfformat::kVisualFoxProAreaSize
                && (nByByte == nRecordLength || nByRule == nRecordLength);
            break;
        }
        if (nAt + DBFFieldDescriptor::kSize > bytes.size())
            break;
        DBFFieldDescriptor descriptor;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(nAt), DBFFieldDescriptor::kSize, descriptor.Data());
        nByByte += descriptor.GetLength();
        nByRule += descriptor.GetWidth();
    }
    return fit;
}

// Walks a memo file's blocks from the first on while one view of its bytes
// (as found, or with the pairs undone) streams past. FoxPro and dBASE IV
// blocks are stepped over by their headers' lengths; a dBASE III text runs
// to its 0x1A (a second one may follow), and the bytes after it up to the
// next block are all one value (writers zero them or fill them). A view
// that is wrong soon lands inside a value: a header no writer makes, a text
// that starts with a NUL, or text bytes where the filling should be.
class CBlockWalk {
public:
    explicit CBlockWalk(bool bFoxPro) : m_bFoxPro(bFoxPro) {}

    void Feed(const unsigned char* p, size_t n)
    {
        const unsigned char* const pEnd = p + n;
        while (p < pEnd && m_state != State::Broken) {
            if (m_state == State::Skip) {
                const uint64_t nSkip = std::min<uint64_t>(static_cast<uint64_t>(pEnd - p), m_nNext - m_nPos);
                p += nSkip;
                m_nPos += nSkip;
                if (m_nPos == m_nNext)
                    m_state = State::BlockHead;
                continue;
            }
            if (m_state == State::Text) {
                const auto* pMark = static_cast<const unsigned char*>(std::memchr(p, kDBase3TextEnd, static_cast<size_t>(pEnd - p)));
                const unsigned char* pTo = pMark != nullptr ? pMark : pEnd;
                m_nPos += static_cast<uint64_t>(pTo - p);
                p = pTo;
                if (pMark == nullptr)
                    continue;
            }
            Step(*p++);
        }
    }

    bool IsBroken() const { return m_state == State::Broken; }
    // Every block sound and the file ending in the last one (a dBASE III
    // file may end in zeros).
    bool Covers() const
    {
        bool bAtRest = false;
        switch (m_state) {
        case State::Skip:
        case State::TextStart:
        case State::SecondMark:
        case State::Slack:
        case State::Zeros:
            bAtRest = true;
            break;
        case State::BlockHead:
            bAtRest = m_nHead == 0;
            break;
        default:
            break;
        }
        return bAtRest && m_nBlocks > 0 && m_nLastEnd <= m_nPos;
    }
    // The file ends where its last value does (a writer that does not pad),
    // at the end of that value's last block (one that pads), or in zeros.
    bool EndsCleanly() const
    {
        return Covers() && (m_nPos == m_nLastEnd || m_nPos == m_nNext || m_state == State::Zeros);
    }
    // The header's next free block is the one after the last value.
    bool AgreesWithNextFree() const
    {
        return Covers() && m_nNextFree != 0 && m_nNextFree * m_nBlockSize == RoundUp(m_nLastEnd, m_nBlockSize);
    }

private:
    enum class State { FileHeader, Skip, BlockHead, TextStart, Text, SecondMark, Slack, Zeros, Broken };

    void Step(unsigned char c)
    {
        ++m_nPos;
        switch (m_state) {
        case State::FileHeader:
            m_head[m_nHead++] = c;
            if (m_nHead == kMemoHeaderRead)
                Begin();
            break;
        case State::BlockHead:
            m_head[m_nHead++] = c;
            JudgeBlockHead();
            break;
        case State::TextStart:
            m_state = c == 0 ? State::Zeros : State::Text;
            if (c == kDBase3TextEnd)
                EndText();
            break;
        case State::Text:
            if (c == kDBase3TextEnd)
                EndText();
            break;
        case State::SecondMark:
            if (c == kDBase3TextEnd) {
                m_nLastEnd = m_nPos;
                m_state = m_nPos == m_nNext ? State::TextStart : State::Slack;
                break;
            }
            m_state = State::Slack;
            SlackByte(c);
            break;
        case State::Slack:
            SlackByte(c);
            break;
        case State::Zeros:
            if (c != 0)
                m_state = State::Broken;
            break;
        case State::Skip:
        case State::Broken:
            break;
        }
    }

    void Begin()
    {
        m_nHead = 0;
        m_nNextFree = m_bFoxPro ? dbfbytes::DecodeFixed32BE(&m_head[0]) : dbfbytes::DecodeFixed32LE(&m_head[0]);
        m_nBlockSize = m_bFoxPro ? dbfbytes::DecodeFixed16BE(&m_head[6]) : dbfbytes::DecodeFixed16LE(&m_head[20]);
        if (!m_bFoxPro && m_nBlockSize == 0)
            m_nBlockSize = kDBase3BlockSize;
        if (m_nBlockSize == 0) {
            m_state = State::Broken;
            return;
        }
        m_nNext = RoundUp(kMemoFirstValue, m_nBlockSize);
        m_state = m_nPos == m_nNext ? State::BlockHead : State::Skip;
    }

    void JudgeBlockHead()
    {
        if (m_bFoxPro) {
            if (m_nHead < FoxProBlockHeader::kSize)
                return;
            const FoxProBlockHeader block = FoxProBlockHeader::Decode(m_head.data());
            if (block.nType > FoxProBlockHeader::kTypeObject) {
                m_state = State::Broken;
                return;
            }
            NextBlock(m_nNext + FoxProBlockHeader::kSize + block.nLength);
            return;
        }
        if (!m_bDBase4) {
            // The first block says which .DBT this is.
            if (m_nHead < sizeof kDBase4Marker)
                return;
            if (std::memcmp(m_head.data(), kDBase4Marker, sizeof kDBase4Marker) != 0) {
                StartTexts();
                return;
            }
            m_bDBase4 = true;
        }
        if (m_nHead < 8)
            return;
        const uint32_t nTotal = dbfbytes::DecodeFixed32LE(&m_head[4]);
        if (std::memcmp(m_head.data(), kDBase4Marker, sizeof kDBase4Marker) != 0 || nTotal < 8) {
            m_state = State::Broken;
            return;
        }
        NextBlock(m_nNext + nTotal);
    }

    void NextBlock(uint64_t nEnd)
    {
        ++m_nBlocks;
        m_nLastEnd = nEnd;
        m_nNext = RoundUp(nEnd, m_nBlockSize);
        m_nHead = 0;
        m_state = State::Skip;
    }

    // dBASE III: the bytes read at the first block are its text's.
    void StartTexts()
    {
        const std::array<unsigned char, kMemoHeaderRead> head = m_head;
        const size_t nHead = m_nHead;
        m_nBlockSize = kDBase3BlockSize;
        m_nHead = 0;
        m_nPos -= nHead;
        m_state = State::TextStart;
        for (size_t i = 0; i < nHead && m_state != State::Broken; ++i)
            Step(head[i]);
    }

    void EndText()
    {
        ++m_nBlocks;
        m_nLastEnd = m_nPos;
        m_nNext = RoundUp(m_nPos, m_nBlockSize);
        m_nSlack = -1;
        m_state = m_nPos == m_nNext ? State::TextStart : State::SecondMark;
    }

    void SlackByte(unsigned char c)
    {
        if (m_nSlack < 0)
            m_nSlack = c;
        else if (c != m_nSlack)
            m_state = State::Broken;
        if (m_state == State::Slack && m_nPos == m_nNext)
            m_state = State::TextStart;
    }

    const bool m_bFoxPro;
    bool m_bDBase4 = false;
    State m_state = State::FileHeader;
    uint64_t m_nPos = 0;       // offset of the next byte to come
    uint64_t m_nNext = 0;      // where the next block begins
    uint64_t m_nLastEnd = 0;   // where the last value ended
    uint64_t m_nBlocks = 0;    // values walked
    uint64_t m_nNextFree = 0;  // the header's next free block
    uint32_t m_nBlockSize = 0;
    std::array<unsigned char, kMemoHeaderRead> m_head{};
    size_t m_nHead = 0;
    int m_nSlack = -1; // the byte that fills the rest of a dBASE III block
};

// Whether the memo file's length fits the end its header's next free block
// makes better with the pairs undone than as it is (for a memo that came
// with a converted table and whose blocks could not tell).
bool NextFreeFitsUndone(const std::array<unsigned char, kMemoHeaderRead>& header, uint64_t nLength, uint64_t nPairs)
{
    // The next free block and the block size, FoxPro (big-endian) or
    // dBASE (little-endian, 512 or the dBASE IV size at 20).
    const uint64_t nFoxFree = dbfbytes::DecodeFixed32BE(&header[0]);
    const uint64_t nFoxSize = dbfbytes::DecodeFixed16BE(&header[6]);
    const uint64_t nDbtFree = dbfbytes::DecodeFixed32LE(&header[0]);
    const uint64_t nDbtSize = dbfbytes::DecodeFixed16LE(&header[20]) != 0 ? dbfbytes::DecodeFixed16LE(&header[20]) : 512;
    // How far a length lies from the end its header's next free block makes.
    const auto distance = [&](uint64_t nFileLength) {
        uint64_t nBest = UINT64_MAX;
        for (auto [nFree, nSize] : {std::pair{nFoxFree, nFoxSize}, std::pair{nDbtFree, nDbtSize}}) {
            if (nFree == 0 || nSize == 0)
                continue;
            const uint64_t nEnd = nFree * nSize;
            nBest = std::min(nBest, nEnd > nFileLength ? nEnd - nFileLength : nFileLength - nEnd);
        }
        return nBest;
    };
    const uint64_t nAsIs = distance(nLength);
    if (nAsIs == UINT64_MAX)
        return true; // the header says nothing: it went with the table
    return distance(nLength - nPairs) < nAsIs;
}

} // namespace

uint64_t CTextTransferUndo::CountPairs(const std::string& strPath, const CStopToken& stop)
{
    uint64_t nPairs = 0;
    bool bCR = false;
    ForEachChunk(strPath, stop, [&](const unsigned char* p, size_t n) {
        // A pair split across two chunks.
        if (bCR && n > 0 && p[0] == kLF)
            ++nPairs;
        // From one LF to the next: a table holds few.
        for (const unsigned char* q = p; (q = static_cast<const unsigned char*>(std::memchr(q, kLF, n - (q - p)))) != nullptr; ++q) {
            if (q > p && q[-1] == kCR)
                ++nPairs;
        }
        bCR = n > 0 && p[n - 1] == kCR;
    });
    return nPairs;
}

bool CTextTransferUndo::TableLooksConverted(const std::string& strTable, const CStopToken& stop)
{
    CFile file;
    if (!OpenRead(file, strTable))
        return false;
    const uint64_t nLength = file.GetLength();
    if (nLength < DBFHeader::kSize)
        return false;
    IoBuffer prefix(static_cast<size_t>(std::min<uint64_t>(nLength, kLongestConvertedHeader)));
    prefix.resize(file.Read(prefix.data(), prefix.size()));
    unsigned char chLast = 0;
    file.Seek(static_cast<int64_t>(nLength) - 1, CFile::begin);
    file.Read(&chLast, 1);
    file.Close();
    // A length the header bears out as it is (with or without an end mark)
    // is no transfer's doing, whatever CR LF pairs the data holds.
    if (JudgeHeader(prefix, nLength, chLast).bLength)
        return false;
    const uint64_t nPairs = CountPairs(strTable, stop);
    if (nPairs == 0 || nPairs >= nLength)
        return false;
    std::vector<unsigned char> undone;
    undone.reserve(prefix.size());
    CPairUndo undo;
    undo.Convert(prefix.data(), prefix.size(), undone);
    if (prefix.size() == nLength)
        undo.Finish(undone);
    const HeaderFit back = JudgeHeader(undone, nLength - nPairs, chLast);
    if (!back.bLength)
        return false;
    // Pairs in the records alone leave the header where it was. Pairs in
    // the header moved its bytes: then the undone header must agree in full,
    // a record count that happens to fit is not enough.
    const size_t nHeader = std::min<size_t>(back.nHeaderLength, undone.size());
    const bool bHeaderMoved = !std::equal(undone.begin(), undone.begin() + static_cast<std::ptrdiff_t>(nHeader), prefix.begin());
    return !bHeaderMoved || back.bDescriptors;
}

bool CTextTransferUndo::MemoLooksConverted(const std::string& strMemo, bool bTableConverted, const CStopToken& stop)
{
    const dbfformat::MemoKind kind = dbfformat::MemoKindForExtension(PathExtension(strMemo));
    const bool bFoxPro = kind == dbfformat::MemoKind::FoxPro;
    const bool bWalkable = bFoxPro || kind == dbfformat::MemoKind::DBase3;
    CBlockWalk asIs(bFoxPro);
    CBlockWalk undone(bFoxPro);
    CPairUndo undo;
    std::vector<unsigned char> out;
    out.reserve(kChunk + 1);
    std::array<unsigned char, kMemoHeaderRead> header{};
    uint64_t nLength = 0;
    bool bSettled = false;
    const bool bRead = ForEachChunk(strMemo, stop, [&](const unsigned char* p, size_t n) {
        if (nLength < header.size())
            std::copy_n(p, std::min<uint64_t>(n, header.size() - nLength), header.begin() + static_cast<std::ptrdiff_t>(nLength));
        nLength += n;
        if (!bWalkable)
            return true;
        asIs.Feed(p, n);
        out.clear();
        undo.Convert(p, n, out);
        undone.Feed(out.data(), out.size());
        // A memo file alone that went through a transfer shows it in its
        // first blocks: a healthy one need not be read to its end (memo
        // files are the largest files a repair reads).
        if (!bTableConverted && nLength >= kMemoSettleBytes && !asIs.IsBroken()
            && (undo.Pairs() == 0 || undone.IsBroken())) {
            bSettled = true;
            return false;
        }
        return true;
    });
    if (bSettled)
        return false;
    out.clear();
    undo.Finish(out);
    undone.Feed(out.data(), out.size());
    const uint64_t nPairs = bWalkable ? undo.Pairs() : CountPairs(strMemo, stop);
    if (!bRead || nPairs == 0)
        return false;
    if (bWalkable && undone.Covers() != asIs.Covers())
        return undone.Covers();
    if (bWalkable && undone.Covers()) {
        // Both walks cover the file when every pair lies in the last value:
        // then how the file ends and the header's next free block tell, and
        // when they cannot, whether the table came through the transfer.
        if (undone.EndsCleanly() != asIs.EndsCleanly())
            return undone.EndsCleanly();
        if (undone.AgreesWithNextFree() != asIs.AgreesWithNextFree())
            return undone.AgreesWithNextFree();
        return bTableConverted;
    }
    // A memo file alone is judged by its blocks only: its texts' own line
    // ends are CR LF as often as not.
    return bTableConverted && NextFreeFitsUndone(header, nLength, nPairs);
}

uint64_t CTextTransferUndo::Undo(const std::string& strSource, const std::string& strTarget, const CStopToken& stop)
{
    CFile target;
    CFileException error;
    if (!target.Open(strTarget, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive | CFile::typeBinary, &error))
        throw error;
    CPairUndo undo;
    std::vector<unsigned char> out;
    out.reserve(kChunk + 1);
    const bool bRead = ForEachChunk(strSource, stop, [&](const unsigned char* p, size_t n) {
        out.clear();
        undo.Convert(p, n, out);
        target.Write(out.data(), out.size());
    });
    out.clear();
    undo.Finish(out);
    target.Write(out.data(), out.size());
    target.Close();
    if (!bRead && !stop.Requested())
        ThrowOsFileError(EIO, strSource);
    return undo.Pairs();
}
