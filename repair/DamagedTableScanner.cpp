#include "repair/DamagedTableScanner.h"

#include "dbf/DBFFormat.h"
#include "platform/File.h"
#include "repair/FieldSalvage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <span>

namespace {

using dbfformat::kDeletedFlag;
using dbfformat::kEndOfFile;
using dbfformat::kLiveFlag;
// Starts scored on the fields' bytes after the cheap scoring.
constexpr size_t kFieldScoredStarts = 24;

bool IsFlag(int c)
{
    return c == kLiveFlag || c == kDeletedFlag;
}

// The first records say most about where the records begin: damage further
// in (bytes lost or inserted) shifts the later ones.
constexpr size_t kHeadSamples = 8;

double SampleWeight(size_t i)
{
    return i < kHeadSamples ? 3.0 : 1.0;
}

// How strongly a field's bytes tell a right record start from a wrong one.
double EvidenceWeight(char chType)
{
    switch (chType) {
    case 'N':
    case 'F':
    case 'D':
    case 'L':
    case 'T':
        return 1.0;
    case 'C':
        return 0.25;
    default:
        return 0.0;
    }
}

// Whether a number's text has the decimals its field says: writers put
// exactly that many digits after the point (and none without decimals).
bool HasFieldDecimals(const unsigned char* p, uint32_t nLength, uint8_t nDecimals)
{
    const unsigned char* pPoint = static_cast<const unsigned char*>(std::memchr(p, '.', nLength));
    if (pPoint == nullptr)
        return true;
    uint32_t nDigits = 0;
    for (const unsigned char* q = pPoint + 1; q < p + nLength && *q >= '0' && *q <= '9'; ++q)
        ++nDigits;
    return nDigits == nDecimals;
}

bool FitsType(char chType, uint8_t nDecimals, const unsigned char* p, uint32_t nLength)
{
    if ((chType == 'N' || chType == 'F') && !HasFieldDecimals(p, nLength, nDecimals))
        return false;
    if (chType == 'C') {
        // Text in a single-byte code page: anything but control characters
        // (NUL padding is common).
        for (uint32_t i = 0; i < nLength; ++i) {
            if (p[i] != 0 && p[i] < 0x20)
                return false;
        }
        return true;
    }
    return IsSoundField(chType, std::span<const unsigned char>(p, nLength));
}

} // namespace

char SalvageTypeFor(unsigned char chRaw)
{
    if (chRaw >= 'a' && chRaw <= 'z') {
        const char chUpper = static_cast<char>(chRaw - 'a' + 'A');
        const dbfformat::FieldTypeTraits* pType = dbfformat::FindFieldType(chUpper);
        if (pType != nullptr && !pType->bDBase7)
            return chUpper;
    }
    if (chRaw > 0x20 && chRaw < 0x7F)
        return static_cast<char>(chRaw);
    return 'C';
}

bool DamagedField::IsNullFlags() const
{
    if (chRawType == '0')
        return true;
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

bool DamagedField::IsMemo() const
{
    return dbfformat::IsMemoType(chType, nLength);
}

bool DamagedField::HasByteWidth(char chType)
{
    return dbfformat::UsesLengthByte(chType);
}

CDamagedTableScanner::CDamagedTableScanner(CFile& file, CStopToken stop)
    : m_file(file), m_stop(stop), m_nLength(file.GetLength())
{
}

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

    const dbfformat::DescriptorWalk walk = dbfformat::WalkDescriptors(
        kMaxDescriptorBlocks,
        [this](uint64_t nOffset, DBFFieldDescriptor& fd) -> long {
            if (nOffset >= m_nLength)
                return 0;
            m_file.Seek(static_cast<int64_t>(nOffset), CFile::begin);
            m_file.Read(fd.Data(), DBFFieldDescriptor::kSize); // a short last block reads as zeros
            return m_stop.Requested() ? -1 : static_cast<long>(DBFFieldDescriptor::kSize);
        },
        [&layout](const DBFFieldDescriptor& fd, long) {
            DamagedField field;
            field.strName = fd.GetName();
            field.chRawType = fd.GetType();
            field.chType = SalvageTypeFor(static_cast<unsigned char>(fd.GetType()));
            field.nDecimals = fd.GetDecimals();
            field.bLengthDamaged = DamagedField::HasByteWidth(field.chType) && fd.GetLength() >= 128;
            field.descriptor = fd;
            layout.fields.push_back(field);
            return true;
        });
    if (walk.bStopped)
        return false;
    layout.nBlocksRead = static_cast<int>(walk.nBlocks);
    layout.bTerminator = walk.bTerminator;
    layout.nTerminatorOffset = walk.nTerminatorOffset;
    ApplyWidths(layout, false);
    return true;
}

void CDamagedTableScanner::ApplyWidths(DamagedTableLayout& layout, bool bWide)
{
    const uint32_t nHeaderRecordLength = layout.header.GetRecordLength();
    int nDamaged = 0;
    uint32_t nSound = 1;
    for (DamagedField& field : layout.fields) {
        field.bWidthUnknown = false;
        field.bWide = bWide && field.chType == 'C' && field.nDecimals != 0;
        field.nLength = field.bWide ? field.descriptor.GetWidth16() : field.descriptor.GetLength();
        if (field.bLengthDamaged)
            ++nDamaged;
        else
            nSound += field.nLength;
    }
    // What the header's record length leaves over for the damaged widths.
    const uint32_t nLeftOver = nHeaderRecordLength > nSound ? nHeaderRecordLength - nSound : 0;
    bool bFirstDamaged = true;
    for (DamagedField& field : layout.fields) {
        if (!field.bLengthDamaged)
            continue;
        if (field.nForcedWidth != 0) {
            field.nLength = field.nForcedWidth; // a split the records chose
        } else if (nDamaged == 1 && nLeftOver > 0 && nLeftOver < 128) {
            field.nLength = nLeftOver; // the one width the record leaves
        } else if (nDamaged > 1 && nLeftOver > 0) {
            // Several widths lost: their sum is known, not how it splits.
            // The first takes it all and the rest none, so that every later
            // column keeps its place; none of them is a column then.
            field.nLength = bFirstDamaged ? nLeftOver : 0;
            field.bWidthUnknown = true;
        } else if (field.chType == 'I') {
            field.nLength = 4;
        } else if (field.chType == 'Y' || field.chType == 'B') {
            field.nLength = 8;
        } else {
            field.bWidthUnknown = true;
        }
        bFirstDamaged = false;
    }
    uint32_t nRecordOffset = 1;
    for (DamagedField& field : layout.fields) {
        field.nOffset = nRecordOffset;
        nRecordOffset += field.nLength;
    }
    layout.nRecordLength = nRecordOffset;
    layout.bWideChars = bWide;
}

std::vector<uint64_t> CDamagedTableScanner::SampleIndexes(uint64_t nRecords) const
{
    std::vector<uint64_t> samples;
    if (nRecords == 0)
        return samples;
    // The first records, then an even spread over the rest of the area.
    const uint64_t nHead = std::min<uint64_t>(nRecords, kHeadSamples);
    for (uint64_t k = 0; k < nHead; ++k)
        samples.push_back(k);
    const uint64_t nRest = nRecords - nHead;
    const uint64_t nSpread = std::min<uint64_t>(nRest, kEvidenceRecords - nHead);
    for (uint64_t i = 0; i < nSpread; ++i)
        samples.push_back(nHead + (nRest - 1) * i / std::max<uint64_t>(nSpread - 1, 1));
    samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
    return samples;
}

// The sampled records' bytes for a range of starts, read once: sample k of
// every start from nFirst to nLast lies in one window of the file.
class CDamagedTableScanner::SampleWindows {
public:
    SampleWindows(CFile& file, uint64_t nFileLength, uint32_t nRecordLength, std::vector<uint64_t> samples,
                  uint64_t nFirst, uint64_t nLast)
        : m_file(file), m_nFileLength(nFileLength), m_nRecordLength(nRecordLength), m_samples(std::move(samples)),
          m_nFirst(nFirst), m_nLast(nLast), m_scratch(nRecordLength)
    {
        for (uint64_t k : m_samples) {
            const uint64_t nFrom = nFirst + k * nRecordLength;
            const uint64_t nTo = std::min<uint64_t>(nFileLength, nLast + (k + 1) * nRecordLength);
            std::vector<unsigned char> window(nTo > nFrom ? static_cast<size_t>(nTo - nFrom) : 0);
            if (!window.empty()) {
                m_file.Seek(static_cast<int64_t>(nFrom), CFile::begin);
                window.resize(m_file.Read(window.data(), window.size()));
            }
            m_windows.push_back(std::move(window));
        }
    }
    const std::vector<uint64_t>& Samples() const { return m_samples; }
    // Record i of the samples for records starting at nStart, or null when
    // the file has no whole record there.
    const unsigned char* Record(uint64_t nStart, size_t i)
    {
        const uint64_t nAt = nStart + m_samples[i] * m_nRecordLength;
        if (nAt + m_nRecordLength > m_nFileLength)
            return nullptr;
        if (nStart >= m_nFirst && nStart <= m_nLast) {
            const std::vector<unsigned char>& window = m_windows[i];
            const uint64_t nIn = nStart - m_nFirst;
            if (nIn + m_nRecordLength <= window.size())
                return window.data() + nIn;
        }
        m_file.Seek(static_cast<int64_t>(nAt), CFile::begin);
        if (m_file.Read(m_scratch.data(), m_nRecordLength) != m_nRecordLength)
            return nullptr;
        return m_scratch.data();
    }

private:
    CFile& m_file;
    uint64_t m_nFileLength;
    uint32_t m_nRecordLength;
    std::vector<uint64_t> m_samples;
    uint64_t m_nFirst;
    uint64_t m_nLast;
    std::vector<std::vector<unsigned char>> m_windows;
    std::vector<unsigned char> m_scratch;
};

double CDamagedTableScanner::CheapScore(const DamagedTableLayout& layout, uint64_t nStart, SampleWindows& windows)
{
    const uint32_t nRecordLength = layout.nRecordLength;
    double dChecked = 0.0;
    double dFlags = 0.0;
    for (size_t i = 0; i < windows.Samples().size(); ++i) {
        const unsigned char* pRecord = windows.Record(nStart, i);
        if (pRecord == nullptr)
            break;
        const double dWeight = SampleWeight(i);
        dChecked += dWeight;
        if (IsFlag(pRecord[0]))
            dFlags += dWeight;
    }
    double dScore = dChecked > 0.0 ? 2.0 * dFlags / dChecked : 0.0;
    // Records that fill the file exactly (an end-of-file mark may follow):
    // weaker than the fields' fit, since a cut file or one with bytes lost
    // inside aligns anywhere.
    // (Only where a whole record fits: an empty area fills any file.)
    if (nStart + nRecordLength <= m_nLength) {
        const uint64_t nRest = (m_nLength - nStart) % nRecordLength;
        if (nRest == 0 || (nRest == 1 && m_nLastByte == kEndOfFile))
            dScore += 0.75;
    }
    // The damaged header's own word, where its numbers agree with the file.
    const DBFHeader& header = layout.header;
    const uint64_t nHeaderLength = header.GetHeaderLength();
    const int64_t nCount = header.GetRecordCount();
    const bool bLengthAgrees = header.GetRecordLength() == nRecordLength;
    const auto fillsFile = [&](uint64_t nFrom) {
        const uint64_t nEnd = nFrom + static_cast<uint64_t>(nCount) * nRecordLength;
        return nEnd == m_nLength || nEnd + 1 == m_nLength;
    };
    if (nStart == nHeaderLength) {
        dScore += 0.5;
        if (bLengthAgrees && nCount >= 0 && fillsFile(nStart))
            dScore += 2.5;
    } else if (bLengthAgrees && nCount > 0 && fillsFile(nStart)) {
        dScore += 0.5;
    }
    // Where the writers put the records when nothing else tells.
    const uint64_t nUsual = layout.nTerminatorOffset + 1
        + (dbfformat::IsVisualFoxProVersion(header.GetVersion()) ? dbfformat::kVisualFoxProAreaSize : 0);
    if (nStart == nUsual)
        dScore += 0.2;
    return dScore;
}

double CDamagedTableScanner::FieldScore(const DamagedTableLayout& layout, uint64_t nStart, SampleWindows& windows)
{
    double dWeights = 0.0;
    double dFits = 0.0;
    for (size_t i = 0; i < windows.Samples().size(); ++i) {
        const unsigned char* pRecord = windows.Record(nStart, i);
        if (pRecord == nullptr)
            break;
        for (const DamagedField& field : layout.fields) {
            const double dWeight = EvidenceWeight(field.chType) * SampleWeight(i);
            if (dWeight == 0.0 || field.nLength == 0 || field.bWidthUnknown)
                continue;
            dWeights += dWeight;
            if (FitsType(field.chType, field.nDecimals, pRecord + field.nOffset, field.nLength))
                dFits += dWeight;
        }
    }
    return dWeights > 0.0 ? 3.0 * dFits / dWeights : 0.0;
}

bool CDamagedTableScanner::HeadIsPerfect(const DamagedTableLayout& layout, uint64_t nStart, SampleWindows& windows)
{
    // One damaged record among them is allowed when there are enough.
    size_t nSeen = 0;
    size_t nFlawed = 0;
    for (size_t i = 0; i < windows.Samples().size() && i < kHeadSamples; ++i) {
        const unsigned char* pRecord = windows.Record(nStart, i);
        if (pRecord == nullptr)
            break;
        ++nSeen;
        bool bPerfect = IsFlag(pRecord[0]);
        for (const DamagedField& field : layout.fields) {
            if (!bPerfect)
                break;
            if (EvidenceWeight(field.chType) >= 1.0 && field.nLength > 0 && !field.bWidthUnknown
                && !FitsType(field.chType, field.nDecimals, pRecord + field.nOffset, field.nLength))
                bPerfect = false;
        }
        if (!bPerfect)
            ++nFlawed;
    }
    return nSeen > 0 && (nFlawed == 0 || (nFlawed == 1 && nSeen >= 4));
}

double CDamagedTableScanner::ScoreStart(const DamagedTableLayout& layout, uint64_t nStart)
{
    m_nLastByte = ByteAt(m_nLength - 1);
    const uint64_t nRecords = nStart <= m_nLength ? (m_nLength - nStart) / layout.nRecordLength : 0;
    SampleWindows windows(m_file, m_nLength, layout.nRecordLength, SampleIndexes(nRecords), nStart, nStart);
    return CheapScore(layout, nStart, windows) + FieldScore(layout, nStart, windows);
}

bool CDamagedTableScanner::FlagsAt(const DamagedTableLayout& layout, uint64_t nStart, uint64_t nRecords)
{
    // The first record's flag, or half of the first few (the first record
    // itself may be the damaged one).
    const uint64_t nProbe = std::min<uint64_t>(nRecords, 8);
    uint64_t nFlags = 0;
    for (uint64_t k = 0; k < nProbe; ++k)
        nFlags += IsFlag(ByteAt(nStart + k * layout.nRecordLength)) ? 1 : 0;
    return nProbe == 0 || IsFlag(ByteAt(nStart)) || 2 * nFlags >= nProbe;
}

uint64_t CDamagedTableScanner::PlainStart(const DamagedTableLayout& layout)
{
    const DBFHeader& header = layout.header;
    const uint32_t nRecordLength = layout.nRecordLength;
    if (nRecordLength == 0)
        return 0;
    const uint64_t nAfterTerminator = layout.nTerminatorOffset + 1;
    const bool bVisualFoxPro = dbfformat::IsVisualFoxProVersion(header.GetVersion());
    const uint64_t nHeaderLength = header.GetHeaderLength();
    const int64_t nCount = header.GetRecordCount();
    const bool bEndMark = m_nLength > 0 && ByteAt(m_nLength - 1) == kEndOfFile;
    // Records from nStart fill the file exactly, up to its end mark when it
    // has one (a mark that would be a record's last byte is no fill).
    const auto fills = [&](uint64_t nStart) {
        if (nStart >= m_nLength)
            return false;
        const uint64_t nRest = m_nLength - nStart - (bEndMark ? 1 : 0);
        return nRest > 0 && nRest % nRecordLength == 0;
    };
    // The header agrees with itself and with the file: its record length is
    // the descriptors', its header length lies past the terminator (and the
    // Visual FoxPro area), and its records fit in the file and end where the
    // file or its end mark does. Whatever lies after the mark (junk, a
    // second end mark, padding) is no reason to doubt it.
    // The records end at the file's end (an end mark there would be the
    // last record's last byte: the header length is off), or at an end mark
    // or zero padding.
    const uint64_t nLeast = nAfterTerminator + (bVisualFoxPro ? dbfformat::kVisualFoxProAreaSize : 0);
    const uint64_t nAreaEnd = nHeaderLength + static_cast<uint64_t>(std::max<int64_t>(nCount, 0)) * nRecordLength;
    const bool bEndsRight = nAreaEnd == m_nLength ? !bEndMark
                                                  : nAreaEnd < m_nLength && (ByteAt(nAreaEnd) == kEndOfFile || ByteAt(nAreaEnd) == 0);
    if (header.GetRecordLength() == nRecordLength && nHeaderLength >= nLeast && nCount >= 0 && bEndsRight
        && FlagsAt(layout, nHeaderLength, static_cast<uint64_t>(nCount)))
        return nHeaderLength;
    // The usual start, when its records fill the file exactly and the
    // header's do not; the header's count must agree where it can.
    if (fills(nHeaderLength) && nHeaderLength >= nAfterTerminator)
        return 0;
    const uint64_t nUsual = nLeast;
    const uint64_t nRecords = nUsual <= m_nLength ? (m_nLength - nUsual) / nRecordLength : 0;
    const bool bCountAgrees = nCount <= 0 || header.GetRecordLength() != nRecordLength
        || static_cast<uint64_t>(nCount) == nRecords;
    if (nRecords > 0 && fills(nUsual) && bCountAgrees && FlagsAt(layout, nUsual, nRecords))
        return nUsual;
    // The header's numbers agree but for bytes lost or inserted among the
    // records: its start stands, and the record walk finds the damage.
    if (header.GetRecordLength() == nRecordLength && nHeaderLength >= nLeast && nCount > 0
        && nHeaderLength + nRecordLength <= m_nLength) {
        const int64_t nMoved = static_cast<int64_t>(m_nLength) - static_cast<int64_t>(nAreaEnd);
        // The first record has its flag, or the bytes went into or out of
        // it and the records after it have theirs where the move puts them.
        const int64_t nSecond = static_cast<int64_t>(nHeaderLength + nRecordLength) + nMoved - (bEndMark ? 1 : 0);
        const bool bFlags = IsFlag(ByteAt(nHeaderLength))
            || (nCount > 1 && nSecond > static_cast<int64_t>(nHeaderLength)
                && static_cast<uint64_t>(nSecond) + nRecordLength <= m_nLength
                && FlagsAt(layout, static_cast<uint64_t>(nSecond), static_cast<uint64_t>(nCount - 1)));
        // (A count far off the file's length is no agreement.)
        if (bFlags && std::abs(nMoved) < std::max<int64_t>(static_cast<int64_t>(m_nLength / 2), kMostMovedBytes))
            return nHeaderLength;
    }
    return 0;
}

uint64_t CDamagedTableScanner::BestStart(const DamagedTableLayout& layout, double& dScore, bool& bStopped)
{
    m_nLastByte = m_nLength > 0 ? ByteAt(m_nLength - 1) : -1;
    if (const uint64_t nPlain = PlainStart(layout); nPlain != 0) {
        // Strong enough to settle widths too: a layout the header agrees
        // with beats one found by the records alone.
        SampleWindows windows(m_file, m_nLength, layout.nRecordLength,
                              SampleIndexes((m_nLength - nPlain) / layout.nRecordLength), nPlain, nPlain);
        dScore = 100.0 + CheapScore(layout, nPlain, windows) + FieldScore(layout, nPlain, windows);
        return nPlain;
    }
    const uint64_t nFirst = layout.nTerminatorOffset + 1;
    const uint64_t nLast = std::min<uint64_t>(m_nLength, nFirst + dbfformat::kVisualFoxProAreaSize + layout.nRecordLength);
    std::vector<uint64_t> starts;
    for (uint64_t n = nFirst; n <= nLast; ++n)
        starts.push_back(n);
    const uint64_t nHeaderLength = layout.header.GetHeaderLength();
    if (nHeaderLength > nLast && nHeaderLength <= m_nLength)
        starts.push_back(nHeaderLength);

    // One set of sampled record numbers for every start, so that the
    // scores compare like with like.
    const uint64_t nMost = nFirst <= m_nLength ? (m_nLength - nFirst) / layout.nRecordLength : 0;
    SampleWindows windows(m_file, m_nLength, layout.nRecordLength, SampleIndexes(nMost), nFirst, nLast);
    std::vector<Candidate> candidates;
    candidates.reserve(starts.size());
    for (uint64_t nStart : starts) {
        if (m_stop.Requested()) {
            bStopped = true;
            return m_nLength;
        }
        candidates.push_back({nStart, CheapScore(layout, nStart, windows)});
    }
    // A table of a few records gives too little to weigh: the header's
    // start wins when its first record fits the layout perfectly there.
    if (nMost <= kHeadSamples && nHeaderLength >= nFirst && nHeaderLength + layout.nRecordLength <= m_nLength) {
        std::vector<unsigned char> record(layout.nRecordLength);
        m_file.Seek(static_cast<int64_t>(nHeaderLength), CFile::begin);
        bool bFits = m_file.Read(record.data(), record.size()) == record.size() && IsFlag(record[0]);
        for (const DamagedField& field : layout.fields) {
            if (bFits && EvidenceWeight(field.chType) >= 1.0 && field.nLength > 0 && !field.bWidthUnknown)
                bFits = FitsType(field.chType, field.nDecimals, record.data() + field.nOffset, field.nLength);
        }
        if (bFits) {
            dScore = CheapScore(layout, nHeaderLength, windows) + FieldScore(layout, nHeaderLength, windows);
            return nHeaderLength;
        }
    }
    // Where the first records fit their layout perfectly somewhere, the
    // start is one of those places: damage further in must not pull it.
    std::vector<Candidate> perfect;
    for (const Candidate& candidate : candidates) {
        if (HeadIsPerfect(layout, candidate.nStart, windows))
            perfect.push_back(candidate);
    }
    if (!perfect.empty())
        candidates.swap(perfect);
    // The header's own header length is the start when the first records
    // fit perfectly there: bytes inserted or lost further in make other
    // starts fill the file as well, and in a table of digits and blanks a
    // shifted start can fit perfectly too.
    if (!perfect.empty()) {
        const auto atHeader = std::find_if(candidates.begin(), candidates.end(),
                                           [&](const Candidate& c) { return c.nStart == nHeaderLength; });
        if (atHeader != candidates.end()) {
            const Candidate chosen = *atHeader;
            candidates.assign(1, chosen);
        }
    }
    // The fields' bytes decide among the best few; earlier starts first on
    // equal scores.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.dScore > b.dScore; });
    if (candidates.size() > kFieldScoredStarts)
        candidates.resize(kFieldScoredStarts);
    for (Candidate& candidate : candidates)
        candidate.dScore += FieldScore(layout, candidate.nStart, windows);
    uint64_t nBest = m_nLength;
    dScore = -1.0;
    for (const Candidate& candidate : candidates) {
        if (candidate.dScore > dScore + 1e-9 || (std::abs(candidate.dScore - dScore) <= 1e-9 && candidate.nStart < nBest)) {
            dScore = candidate.dScore;
            nBest = candidate.nStart;
        }
    }
    // A record whose flag alone is damaged still starts the records: step
    // back over whole records that fit the layout but for their flag.
    const DBFHeader& header = layout.header;
    const bool bHeaderAgrees = nBest == header.GetHeaderLength() && header.GetRecordLength() == layout.nRecordLength
        && header.GetRecordCount() >= 0
        && nBest + static_cast<uint64_t>(header.GetRecordCount()) * layout.nRecordLength + 1 >= m_nLength;
    const bool bTyped = std::any_of(layout.fields.begin(), layout.fields.end(), [](const DamagedField& f) {
        return EvidenceWeight(f.chType) >= 1.0 && f.nLength > 0 && !f.bWidthUnknown;
    });
    while (!bHeaderAgrees && bTyped && nBest >= nFirst + layout.nRecordLength && nBest != m_nLength) {
        std::vector<unsigned char> record(layout.nRecordLength);
        m_file.Seek(static_cast<int64_t>(nBest - layout.nRecordLength), CFile::begin);
        if (m_file.Read(record.data(), record.size()) != record.size())
            break;
        bool bFits = record[0] != 0;
        for (const DamagedField& field : layout.fields) {
            if (bFits && EvidenceWeight(field.chType) >= 1.0 && field.nLength > 0 && !field.bWidthUnknown)
                bFits = FitsType(field.chType, field.nDecimals, record.data() + field.nOffset, field.nLength);
        }
        if (!bFits)
            break;
        nBest -= layout.nRecordLength;
    }
    return nBest;
}

bool CDamagedTableScanner::SplitDamagedWidths(DamagedTableLayout& layout, bool& bStopped)
{
    // Two lost widths apart from each other: the header's record length
    // gives their sum, and the records tell how it splits.
    std::vector<size_t> damaged;
    uint32_t nSound = 1;
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        if (layout.fields[i].bLengthDamaged)
            damaged.push_back(i);
        else
            nSound += layout.fields[i].nLength;
    }
    const uint32_t nHeaderRecordLength = layout.header.GetRecordLength();
    if (damaged.size() != 2 || damaged[1] == damaged[0] + 1 || nHeaderRecordLength <= nSound + 1)
        return false;
    const uint32_t nSum = nHeaderRecordLength - nSound;
    double dBest = -1.0;
    uint32_t nBest = 0;
    for (uint32_t a = 1; a < nSum && a < 128; ++a) {
        if (nSum - a >= 128)
            continue;
        layout.fields[damaged[0]].nForcedWidth = a;
        layout.fields[damaged[1]].nForcedWidth = nSum - a;
        ApplyWidths(layout, layout.bWideChars);
        double dScore = 0.0;
        BestStart(layout, dScore, bStopped);
        if (bStopped)
            return false;
        if (dScore > dBest) {
            dBest = dScore;
            nBest = a;
        }
    }
    if (nBest == 0)
        return false;
    layout.fields[damaged[0]].nForcedWidth = nBest;
    layout.fields[damaged[1]].nForcedWidth = nSum - nBest;
    ApplyWidths(layout, layout.bWideChars);
    return true;
}

bool CDamagedTableScanner::FindDataStart(DamagedTableLayout& layout, uint64_t& nStart)
{
    nStart = m_nLength;
    if (!layout.bTerminator)
        return true;
    bool bStopped = false;
    if (SplitDamagedWidths(layout, bStopped) || bStopped) {
        double dScore = 0.0;
        nStart = bStopped ? m_nLength : BestStart(layout, dScore, bStopped);
        return !bStopped;
    }
    const bool bAnyWide = std::any_of(layout.fields.begin(), layout.fields.end(),
                                      [](const DamagedField& f) { return f.chType == 'C' && f.nDecimals != 0; });
    ApplyWidths(layout, false);
    if (!bAnyWide) {
        double dScore = 0.0;
        nStart = BestStart(layout, dScore, bStopped);
        return !bStopped;
    }
    // C fields with a decimals byte: Clipper's wide fields when the header's
    // record length or the records themselves say so.
    const uint32_t nHeaderRecordLength = layout.header.GetRecordLength();
    DamagedTableLayout wide = layout;
    ApplyWidths(wide, true);
    if (nHeaderRecordLength == wide.nRecordLength && nHeaderRecordLength != layout.nRecordLength) {
        layout = wide;
        double dScore = 0.0;
        nStart = BestStart(layout, dScore, bStopped);
        return !bStopped;
    }
    double dNarrow = 0.0;
    const uint64_t nNarrowStart = BestStart(layout, dNarrow, bStopped);
    if (bStopped)
        return false;
    if (nHeaderRecordLength == layout.nRecordLength) {
        nStart = nNarrowStart;
        return true;
    }
    double dWide = 0.0;
    const uint64_t nWideStart = BestStart(wide, dWide, bStopped);
    if (bStopped)
        return false;
    if (dWide > dNarrow) {
        layout = wide;
        nStart = nWideStart;
    } else {
        nStart = nNarrowStart;
    }
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
