#include "repair/RecordEvidence.h"

#include "repair/DamagedTableScanner.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Byte classes: each a contiguous range, so that a set of them widens to
// one range per position.
constexpr int kClasses = 11;
constexpr unsigned char kClassLo[kClasses] = {0x00, 0x01, 0x20, 0x21, 0x30, 0x3A, 0x41, 0x5B, 0x61, 0x7B, 0x80};
constexpr unsigned char kClassHi[kClasses] = {0x00, 0x1F, 0x20, 0x2F, 0x39, 0x40, 0x5A, 0x60, 0x7A, 0x7F, 0xFF};
constexpr int kNul = 0;
constexpr int kControl = 1;
constexpr int kHigh = 10;
// Positions the fit reads at most: wider records are sampled evenly.
constexpr uint32_t kMostFitPositions = 4096;

const std::array<unsigned char, 256> kClassOf = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < kClasses; ++c) {
        for (int b = kClassLo[c]; b <= kClassHi[c]; ++b)
            table[static_cast<size_t>(b)] = static_cast<unsigned char>(c);
    }
    return table;
}();

// Columns whose bytes are text (letters, digits, blanks): the hard check
// applies to them. Binary columns hold any byte. Ten-byte memo references
// are digits and blanks, but SIx keeps binary numbers there: its tables'
// references mostly hold control bytes, and the check then leaves them be.
// Columns of text alone, where control bytes keep a record out of the
// profile.
bool IsPlainText(const DamagedField& field)
{
    switch (field.chType) {
    case 'C': case 'N': case 'F': case 'D': case 'L':
        return true;
    default:
        return false;
    }
}

bool IsTextColumn(const DamagedField& field)
{
    switch (field.chType) {
    case 'C': case 'N': case 'F': case 'D': case 'L':
        return true;
    case 'M': case 'G': case 'P':
        return field.nLength == 10;
    default:
        return false;
    }
}

bool IsLineControl(unsigned char c)
{
    return c == '\t' || c == '\n' || c == '\r';
}

// A tab, or a line end that is not half of a CR LF pair, at i of n bytes.
bool IsStrayLineControl(const unsigned char* p, uint32_t i, uint32_t n)
{
    switch (p[i]) {
    case '\t':
        return true;
    case '\r':
        return i + 1 >= n || p[i + 1] != '\n';
    case '\n':
        return i == 0 || p[i - 1] != '\r';
    default:
        return false;
    }
}

// Bytes of a binary column that say most about it: the high bytes of its
// integers and doubles, which healthy values keep in a narrow range.
bool IsTellingBinaryByte(const DamagedField& field, uint32_t i)
{
    switch (field.chType) {
    case 'I': case '+':
        return field.nLength == 4 && i >= 2;
    case 'Y':
        return field.nLength == 8 && i >= 5;
    case 'T':
        return field.nLength == 8 && (i == 2 || i == 3 || i == 7);
    case 'B':
        return field.nLength == 8 && i >= 6;
    case 'M': case 'G': case 'P': case 'W':
        return field.nLength == 4 && i >= 2;
    default:
        return false;
    }
}

} // namespace

void CRecordEvidence::Learn(const std::vector<const unsigned char*>& records, const DamagedTableLayout& layout,
                            bool bWholeTable)
{
    const uint32_t nLength = layout.nRecordLength;
    m_nRecordLength = nLength;
    m_nLearned = records.size();
    m_hardLo.assign(nLength, 0x00);
    m_softLo.assign(nLength, 0x00);
    m_softHi.assign(nLength, 0xFF);
    m_chunks.clear();
    m_fit.clear();
    m_fitPositions.clear();
    m_nSoftTolerance = 0;
    m_strayHard.assign(nLength, false);
    if (nLength == 0)
        return;
    if (records.empty()) {
        // Nothing healthy to learn from: text still never holds control bytes.
        m_text.assign(nLength, false);
        for (const DamagedField& field : layout.fields) {
            for (uint32_t i = field.nOffset; IsTextColumn(field) && i < field.nOffset + field.nLength && i < nLength; ++i)
                m_hardLo[i] = 0x20;
        }
        BuildChunks();
        return;
    }

    // What each position holds: the classes seen, the raw range, the counts.
    std::vector<uint16_t> seen(nLength, 0);
    std::vector<unsigned char> rawLo(nLength, 0xFF), rawHi(nLength, 0x00);
    std::vector<uint32_t> counts(static_cast<size_t>(nLength) * kClasses, 0);
    auto learnFrom = [&](size_t nFirst, size_t nStep) {
        std::fill(seen.begin(), seen.end(), 0);
        std::fill(rawLo.begin(), rawLo.end(), 0xFF);
        std::fill(rawHi.begin(), rawHi.end(), 0x00);
        for (size_t r = nFirst; r < records.size(); r += nStep) {
            const unsigned char* p = records[r];
            for (uint32_t i = 0; i < nLength; ++i) {
                seen[i] = static_cast<uint16_t>(seen[i] | (1u << kClassOf[p[i]]));
                rawLo[i] = std::min(rawLo[i], p[i]);
                rawHi[i] = std::max(rawHi[i], p[i]);
            }
        }
    };
    auto buildRanges = [&] {
        bool bTableHigh = false;
        for (const DamagedField& field : layout.fields) {
            if (!IsTextColumn(field))
                continue;
            for (uint32_t i = field.nOffset; i < field.nOffset + field.nLength && i < nLength; ++i)
                bTableHigh = bTableHigh || (seen[i] & (1u << kHigh)) != 0;
        }
        // The flag: its range from the records, never a hard break.
        std::fill(m_hardLo.begin(), m_hardLo.end(), 0x00);
        std::fill(m_softLo.begin(), m_softLo.end(), 0x00);
        std::fill(m_softHi.begin(), m_softHi.end(), 0xFF);
        m_text.assign(nLength, false);
        auto classRange = [&](uint32_t i) {
            int nLo = kClasses - 1;
            int nHi = 0;
            for (int c = 0; c < kClasses; ++c) {
                if (seen[i] & (1u << c)) {
                    nLo = std::min(nLo, c);
                    nHi = std::max(nHi, c);
                }
            }
            m_softLo[i] = kClassLo[nLo];
            m_softHi[i] = kClassHi[nHi];
        };
        classRange(0);
        for (const DamagedField& field : layout.fields) {
            const uint32_t nEnd = std::min(field.nOffset + field.nLength, nLength);
            if (IsTextColumn(field)) {
                // A column whose records mostly hold NUL padding or control
                // bytes is not judged by them; in one whose records mostly do
                // not, the few that do are damage that reached the sample.
                // Tabs and line ends, text's own, count for neither.
                size_t nLow = 0;
                for (const unsigned char* p : records)
                    nLow += std::any_of(p + field.nOffset, p + nEnd,
                                        [](unsigned char c) { return c < 0x20 && !IsLineControl(c); })
                        ? 1 : 0;
                const unsigned char nLo = 2 * nLow >= records.size() ? 0x00 : 0x20;
                // Seen whole, a stray tab or line end that no other record
                // holds in the column is damage (the one counted may be it).
                size_t nStray = 0;
                for (const unsigned char* p : records) {
                    const unsigned char* q = p + field.nOffset;
                    for (uint32_t j = 0; j < nEnd - field.nOffset; ++j) {
                        if (IsStrayLineControl(q, j, nEnd - field.nOffset)) {
                            ++nStray;
                            break;
                        }
                    }
                }
                const bool bStrayHard = bWholeTable && nStray <= 1;
                for (uint32_t i = field.nOffset; i < nEnd; ++i) {
                    m_text[i] = true;
                    m_hardLo[i] = nLo;
                    m_strayHard[i] = bStrayHard;
                    classRange(i);
                    // Text of a code page may hold high bytes anywhere.
                    if (bTableHigh)
                        m_softHi[i] = 0xFF;
                }
            } else {
                for (uint32_t i = field.nOffset; i < nEnd; ++i) {
                    if (IsTellingBinaryByte(field, i - field.nOffset) && rawHi[i] - rawLo[i] < 0x80) {
                        m_softLo[i] = rawLo[i];
                        m_softHi[i] = rawHi[i];
                    }
                }
            }
        }
        BuildChunks();
    };

    // How far healthy records stray from a profile that did not see them:
    // learn from every other record, check the rest.
    if (records.size() >= 8) {
        learnFrom(0, 2);
        buildRanges();
        std::vector<int> soft;
        for (size_t r = 1; r < records.size(); r += 2)
            soft.push_back(CheckRecord(records[r]).nSoft);
        std::sort(soft.begin(), soft.end());
        m_nSoftTolerance = soft[soft.size() * 9 / 10];
    }
    learnFrom(0, 1);
    buildRanges();

    // The fit: class frequencies per position against the whole record's.
    const uint32_t nStride = std::max<uint32_t>(1, (nLength + kMostFitPositions - 1) / kMostFitPositions);
    for (uint32_t i = 0; i < nLength; i += nStride)
        m_fitPositions.push_back(i);
    std::array<double, kClasses> background{};
    double dTotal = 0.0;
    for (const unsigned char* p : records) {
        for (uint32_t i : m_fitPositions) {
            ++counts[static_cast<size_t>(i) * kClasses + kClassOf[p[i]]];
            background[kClassOf[p[i]]] += 1.0;
            dTotal += 1.0;
        }
    }
    const double dRecords = static_cast<double>(records.size());
    m_fit.resize(m_fitPositions.size() * kClasses);
    for (size_t k = 0; k < m_fitPositions.size(); ++k) {
        for (int c = 0; c < kClasses; ++c) {
            const double dHere = (counts[static_cast<size_t>(m_fitPositions[k]) * kClasses + c] + 0.5) / (dRecords + 0.5 * kClasses);
            const double dAll = (background[c] + 1.0) / (dTotal + kClasses);
            m_fit[k * kClasses + c] = static_cast<float>(std::log(dHere / dAll));
        }
    }
}

void CRecordEvidence::BuildChunks()
{
    m_chunks.clear();
    const uint32_t nLength = m_nRecordLength;
    if (nLength < 16)
        return;
    for (uint32_t nAt = 0; nAt < nLength; nAt += 16) {
        const uint32_t nStart = std::min(nAt, nLength - 16);
        Chunk chunk{};
        chunk.nOffset = nStart;
        for (uint32_t j = 0; j < 16; ++j) {
            const uint32_t i = nStart + j;
            // Bytes the chunk before this one checked already pass here.
            const bool bCounted = i < nAt;
            chunk.hardLo[j] = bCounted ? 0x00 : m_hardLo[i];
            chunk.softLo[j] = bCounted ? 0x00 : m_softLo[i];
            chunk.softHi[j] = bCounted ? 0xFF : m_softHi[i];
        }
        m_chunks.push_back(chunk);
    }
}

CRecordEvidence::Check CRecordEvidence::CheckRecord(const unsigned char* pRecord) const
{
    Check check;
    if (m_hardLo.empty())
        return check;
#if defined(__SSE2__)
    if (!m_chunks.empty()) {
        for (const Chunk& chunk : m_chunks) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pRecord + chunk.nOffset));
            // The hard range has no upper end: only bytes below it break it.
            const __m128i hard =
                _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk.hardLo))), v);
            const __m128i soft = _mm_and_si128(
                _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk.softLo))), v),
                _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk.softHi))), v));
            // Healthy bytes, the common case, need no counting.
            if (_mm_movemask_epi8(_mm_and_si128(hard, soft)) == 0xFFFF)
                continue;
            check.nSoft += std::popcount(~static_cast<unsigned>(_mm_movemask_epi8(soft)) & 0xFFFFu);
            for (unsigned nBits = ~static_cast<unsigned>(_mm_movemask_epi8(hard)) & 0xFFFFu; nBits != 0;
                 nBits &= nBits - 1) {
                const uint32_t i = chunk.nOffset + static_cast<uint32_t>(std::countr_zero(nBits));
                check.nHard += IsHardAt(pRecord, i, m_nRecordLength, 0) ? 1 : 0;
            }
        }
        return check;
    }
#endif
    for (uint32_t i = 0; i < m_nRecordLength; ++i) {
        const unsigned char c = pRecord[i];
        check.nSoft += (c < m_softLo[i] || c > m_softHi[i]) ? 1 : 0;
    }
    check.nHard = CountHard(pRecord);
    return check;
}

bool CRecordEvidence::IsHardAt(const unsigned char* p, uint32_t i, uint32_t n, uint32_t nOffset) const
{
    const unsigned char c = p[i];
    const uint32_t nAt = nOffset + i;
    if (c >= m_hardLo[nAt])
        return false;
    // Tabs and line ends are text's own, unless stray where none belong.
    return !IsLineControl(c) || (m_strayHard[nAt] && IsStrayLineControl(p, i, n));
}

int CRecordEvidence::CountHard(const unsigned char* pRecord) const
{
    int nHard = 0;
    for (uint32_t i = 0; i < m_nRecordLength; ++i)
        nHard += IsHardAt(pRecord, i, m_nRecordLength, 0) ? 1 : 0;
    return nHard;
}

bool CRecordEvidence::HasDamagedText(const unsigned char* pRecord, const DamagedTableLayout& layout)
{
    for (const DamagedField& field : layout.fields) {
        if (!IsPlainText(field))
            continue;
        const unsigned char* p = pRecord + field.nOffset;
        bool bNul = false;
        for (uint32_t i = 0; i < field.nLength; ++i) {
            const unsigned char c = p[i];
            if (c != 0 && c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                return true;
            // NUL padding ends a text; text after a NUL is damage.
            if (bNul && c != 0 && c != ' ')
                return true;
            bNul = bNul || c == 0;
        }
    }
    return false;
}

uint32_t CRecordEvidence::FirstBreak(const unsigned char* pRecord) const
{
    for (uint32_t i = 0; i < m_nRecordLength; ++i) {
        const unsigned char c = pRecord[i];
        if (c < m_softLo[i] || c > m_softHi[i] || IsHardAt(pRecord, i, m_nRecordLength, 0))
            return i;
    }
    return m_nRecordLength;
}

bool CRecordEvidence::BreaksHard(const unsigned char* pRecord, uint32_t nOffset, uint32_t nLength) const
{
    for (uint32_t i = nOffset; i < nOffset + nLength && i < m_nRecordLength; ++i) {
        if (IsHardAt(pRecord, i, m_nRecordLength, 0))
            return true;
    }
    return false;
}

void CRecordEvidence::BlankHardBreaks(unsigned char* pField, uint32_t nOffset, uint32_t nLength) const
{
    const uint32_t n = std::min(nLength, m_nRecordLength > nOffset ? m_nRecordLength - nOffset : 0);
    // Judged before any byte is blanked: a CR's LF is still there.
    std::vector<bool> hard(n);
    for (uint32_t j = 0; j < n; ++j)
        hard[j] = IsHardAt(pField, j, n, nOffset);
    for (uint32_t j = 0; j < n; ++j) {
        if (hard[j])
            pField[j] = ' ';
    }
}

void CRecordEvidence::Widen(const unsigned char* pRecord)
{
    if (m_nLearned == 0)
        return;
    bool bChanged = false;
    for (uint32_t i = 0; i < m_nRecordLength; ++i) {
        const unsigned char c = pRecord[i];
        if (c >= m_softLo[i] && c <= m_softHi[i])
            continue;
        // Binary positions widen to the byte, text to the byte's class.
        const bool bText = m_text[i];
        const int nClass = kClassOf[c];
        m_softLo[i] = std::min(m_softLo[i], bText ? kClassLo[nClass] : c);
        m_softHi[i] = std::max(m_softHi[i], bText ? kClassHi[nClass] : c);
        bChanged = true;
    }
    if (bChanged)
        BuildChunks();
}

double CRecordEvidence::Fit(const unsigned char* pRecord) const
{
    if (m_fitPositions.empty())
        return 0.0;
    double dSum = 0.0;
    for (size_t k = 0; k < m_fitPositions.size(); ++k)
        dSum += m_fit[k * kClasses + kClassOf[pRecord[m_fitPositions[k]]]];
    return dSum / static_cast<double>(m_fitPositions.size());
}
