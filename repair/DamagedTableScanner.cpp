#include "repair/DamagedTableScanner.h"

#include "platform/File.h"
#include "repair/RepairState.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr unsigned char kTerminator = 0x0D;
constexpr unsigned char kLiveFlag = 0x20;
constexpr unsigned char kDeletedFlag = 0x2A;
constexpr unsigned char kEndOfFile = 0x1A;

// The type letters the new table takes over; any other byte becomes 0.
char KeptTypeLetter(char chType)
{
    static const char kKnown[] = "CYNFDTBILMGP";
    for (const char* p = kKnown; *p != '\0'; ++p) {
        if (*p == chType)
            return chType;
    }
    return 0;
}

bool IsFlag(int c)
{
    return c == kLiveFlag || c == kDeletedFlag;
}

} // namespace

bool DamagedField::IsNullFlags() const
{
    static const char kName[] = "_nullflags";
    if (strName.size() != sizeof kName - 1)
        return false;
    for (size_t i = 0; i < strName.size(); ++i) {
        const char c = strName[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kName[i])
            return false;
    }
    return true;
}

DBFFieldDescriptor DamagedField::MakeDescriptor() const
{
    DBFFieldDescriptor fd;
    for (size_t i = 0; i < strName.size() && i < 10; ++i)
        fd.m_bytes[i] = static_cast<unsigned char>(strName[i]);
    fd.SetType(chType);
    fd.SetLength(nLength);
    if (chType == 'N' || chType == 'F' || chType == 'B')
        fd.SetDecimals(nDecimals);
    return fd;
}

CDamagedTableScanner::CDamagedTableScanner(CFile& file) : m_file(file), m_nLength(file.GetLength()) {}

int CDamagedTableScanner::ByteAt(uint64_t nOffset)
{
    if (nOffset >= m_nLength)
        return -1;
    unsigned char c = 0;
    m_file.Seek(static_cast<int64_t>(nOffset), CFile::begin);
    return m_file.Read(&c, 1) == 1 ? c : -1;
}

bool CDamagedTableScanner::ReadDescriptors(DamagedTableLayout& layout)
{
    layout = DamagedTableLayout();
    m_file.SeekToBegin();
    m_file.Read(layout.header.Data(), DBFHeader::kSize);

    uint64_t nOffset = 32;
    uint32_t nRecordOffset = 1;
    while (nOffset < m_nLength && layout.nBlocksRead < kMaxDescriptorBlocks) {
        std::array<unsigned char, 32> block{};
        m_file.Seek(static_cast<int64_t>(nOffset), CFile::begin);
        m_file.Read(block.data(), block.size()); // a short last block reads as zeros
        ++layout.nBlocksRead;
        if (RepairStopRequested())
            return false;
        if (block[0] == kTerminator) {
            layout.bTerminator = true;
            layout.nTerminatorOffset = nOffset;
            break;
        }
        DamagedField field;
        size_t nNameLength = 0;
        while (nNameLength < 11 && block[nNameLength] != 0)
            ++nNameLength;
        field.strName.assign(reinterpret_cast<const char*>(block.data()), nNameLength);
        field.chRawType = static_cast<char>(block[11]);
        field.chType = KeptTypeLetter(field.chRawType);
        field.nLength = block[16];
        field.nDecimals = block[17];
        field.nOffset = nRecordOffset;
        nRecordOffset += field.nLength;
        layout.fields.push_back(field);
        nOffset += 32;
    }
    layout.nRecordLength = nRecordOffset;
    return true;
}

bool CDamagedTableScanner::FlagsLineUp(uint64_t nStart, uint32_t nRecordLength, bool bFirstMustMatch)
{
    if (nStart > m_nLength || nRecordLength == 0)
        return false;
    if (nStart == m_nLength)
        return true; // no record at all
    const uint64_t nComplete = (m_nLength - nStart) / nRecordLength;
    if (nComplete == 0)
        return ByteAt(nStart) == kEndOfFile || IsFlag(ByteAt(nStart));
    const int nProbe = static_cast<int>(std::min<uint64_t>(nComplete, kProbeRecords));
    const int nAllowed = nProbe >= kProbeRecords ? 1 : 0;
    int nMismatches = 0;
    for (int k = 0; k < nProbe; ++k) {
        const int c = ByteAt(nStart + static_cast<uint64_t>(k) * nRecordLength);
        if (IsFlag(c))
            continue;
        if (c == kEndOfFile)
            return k > 0 || nMismatches == 0;
        if (k == 0 && bFirstMustMatch)
            return false;
        if (++nMismatches > nAllowed)
            return false;
    }
    return true;
}

bool CDamagedTableScanner::FindDataStart(const DamagedTableLayout& layout, uint64_t& nStart)
{
    nStart = m_nLength;
    if (!layout.bTerminator)
        return true;
    const uint64_t nTerminator = layout.nTerminatorOffset;
    std::vector<uint64_t> candidates = {nTerminator + 1, nTerminator + 1 + kVisualFoxProArea};
    const uint64_t nHeaderLength = layout.header.GetHeaderLength();
    if (nHeaderLength > nTerminator && nHeaderLength <= m_nLength)
        candidates.push_back(nHeaderLength);
    // First a start whose first record has a sound flag; then one whose
    // first flag alone is damaged.
    for (bool bFirstMustMatch : {true, false}) {
        for (uint64_t nCandidate : candidates) {
            if (RepairStopRequested())
                return false;
            if (FlagsLineUp(nCandidate, layout.nRecordLength, bFirstMustMatch)) {
                nStart = nCandidate;
                return true;
            }
        }
    }
    // Last resort: the first blank after the terminator.
    std::array<unsigned char, 4096> chunk{};
    uint64_t nOffset = nTerminator;
    while (nOffset < m_nLength) {
        if (RepairStopRequested())
            return false;
        m_file.Seek(static_cast<int64_t>(nOffset), CFile::begin);
        const size_t nRead = m_file.Read(chunk.data(), chunk.size());
        if (nRead == 0)
            break;
        const void* pHit = std::memchr(chunk.data(), kLiveFlag, nRead);
        if (pHit != nullptr) {
            nStart = nOffset + static_cast<uint64_t>(static_cast<const unsigned char*>(pHit) - chunk.data());
            return true;
        }
        nOffset += nRead;
    }
    nStart = m_nLength;
    return true;
}

bool CDamagedTableScanner::IsEndOfRecords(uint64_t nFlagOffset, uint32_t nRecordLength)
{
    const uint64_t nNext = nFlagOffset + nRecordLength;
    if (nRecordLength == 0 || nNext >= m_nLength)
        return true;
    const uint64_t nComplete = (m_nLength - nNext) / nRecordLength;
    if (nComplete == 0)
        return true;
    const int nProbe = static_cast<int>(std::min<uint64_t>(nComplete, kProbeRecords));
    for (int k = 0; k < nProbe; ++k) {
        const int c = ByteAt(nNext + static_cast<uint64_t>(k) * nRecordLength);
        if (IsFlag(c))
            continue;
        // Records that line up up to a later end-of-file mark still count.
        return !(c == kEndOfFile && k > 0);
    }
    return false;
}
