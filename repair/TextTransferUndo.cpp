#include "repair/TextTransferUndo.h"

#include "dbf/ByteCodec.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "repair/RepairState.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

namespace {

constexpr unsigned char kCR = 0x0D;
constexpr unsigned char kLF = 0x0A;
constexpr size_t kChunk = 1024 * 1024;

bool OpenRead(CFile& file, const std::string& strPath)
{
    return file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary);
}

// Calls fn(bytes, count, bPreviousWasCR) for every chunk of the file.
template <typename Fn>
bool ForEachChunk(const std::string& strPath, Fn fn)
{
    CFile file;
    if (!OpenRead(file, strPath))
        return false;
    IoBuffer chunk(kChunk);
    for (;;) {
        const size_t nRead = file.Read(chunk.data(), chunk.size());
        if (nRead == 0)
            break;
        fn(chunk.data(), nRead);
        if (RepairStopRequested())
            return false;
    }
    return true;
}

} // namespace

uint64_t CTextTransferUndo::CountPairs(const std::string& strPath)
{
    uint64_t nPairs = 0;
    bool bCR = false;
    ForEachChunk(strPath, [&](const unsigned char* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (p[i] == kLF && bCR)
                ++nPairs;
            bCR = p[i] == kCR;
        }
    });
    return nPairs;
}

bool CTextTransferUndo::TableLooksConverted(const std::string& strTable)
{
    CFile file;
    if (!OpenRead(file, strTable))
        return false;
    std::array<unsigned char, 32> header{};
    if (file.Read(header.data(), header.size()) != header.size())
        return false;
    const uint64_t nLength = file.GetLength();
    unsigned char chLast = 0;
    file.Seek(static_cast<int64_t>(nLength) - 1, CFile::begin);
    file.Read(&chLast, 1);
    file.Close();
    const int32_t nCount = static_cast<int32_t>(dbfbytes::DecodeFixed32LE(&header[4]));
    const uint64_t nHeaderLength = dbfbytes::DecodeFixed16LE(&header[8]);
    const uint64_t nRecordLength = dbfbytes::DecodeFixed16LE(&header[10]);
    if (nCount < 0 || nHeaderLength < 33 || nRecordLength == 0)
        return false;
    const uint64_t nExpected = nHeaderLength + static_cast<uint64_t>(nCount) * nRecordLength;
    // A length the header bears out as it is (with or without an end mark)
    // is no transfer's doing, whatever CR LF pairs the data holds.
    if (nLength <= nExpected || (nLength == nExpected + 1 && chLast == 0x1A))
        return false;
    const uint64_t nPairs = CountPairs(strTable);
    if (nPairs == 0 || nPairs > nLength)
        return false;
    const uint64_t nBack = nLength - nPairs;
    return nBack == nExpected || nBack == nExpected + 1;
}

bool CTextTransferUndo::MemoLooksConverted(const std::string& strMemo)
{
    CFile file;
    if (!OpenRead(file, strMemo))
        return false;
    std::array<unsigned char, 32> header{};
    file.Read(header.data(), header.size());
    const uint64_t nLength = file.GetLength();
    file.Close();
    const uint64_t nPairs = CountPairs(strMemo);
    if (nPairs == 0)
        return false;
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
    const uint64_t nUndone = distance(nLength - nPairs);
    if (nAsIs == UINT64_MAX)
        return true; // the header says nothing: it went with the table
    return nUndone < nAsIs;
}

uint64_t CTextTransferUndo::Undo(const std::string& strSource, const std::string& strTarget)
{
    CFile target;
    CFileException error;
    if (!target.Open(strTarget, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive | CFile::typeBinary, &error))
        throw error;
    uint64_t nPairs = 0;
    bool bHeldCR = false; // a CR at the end of the last chunk, not yet written
    std::vector<unsigned char> out;
    out.reserve(kChunk + 1);
    const bool bRead = ForEachChunk(strSource, [&](const unsigned char* p, size_t n) {
        out.clear();
        for (size_t i = 0; i < n; ++i) {
            const unsigned char c = p[i];
            if (bHeldCR) {
                bHeldCR = false;
                if (c == kLF) {
                    out.push_back(kLF);
                    ++nPairs;
                    continue;
                }
                out.push_back(kCR);
            }
            if (c == kCR)
                bHeldCR = true;
            else
                out.push_back(c);
        }
        target.Write(out.data(), out.size());
    });
    if (bHeldCR)
        target.Write(&kCR, 1);
    target.Close();
    if (!bRead && !RepairStopRequested())
        ThrowOsFileError(EIO, strSource);
    return nPairs;
}
