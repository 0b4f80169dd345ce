#include "repair/RecordProbe.h"

#include "dbf/DBFFormat.h"
#include "repair/DamagedTableScanner.h"
#include "repair/FieldSalvage.h"
#include "repair/RecordWindow.h"

#include <algorithm>
#include <vector>

namespace {

// Records the profile learns from, and how far it looks for them.
constexpr size_t kLearnRecords = 1024;
constexpr size_t kLearnFirst = 8;
constexpr uint64_t kLearnBytes = 4ull * 1024 * 1024;
constexpr int64_t kLearnScan = 4096;

} // namespace

CRecordProbe::CRecordProbe(CRecordWindow& window, CDamagedTableScanner& scanner, const DamagedTableLayout& layout,
                           const CRecordJudge& judge)
    : m_window(window), m_scanner(scanner), m_layout(layout), m_judge(judge), m_nRecordLength(layout.nRecordLength),
      m_nFileLength(window.GetFileLength())
{
}

bool CRecordProbe::IsFlag(unsigned char c)
{
    return c == dbfformat::kLiveFlag || c == dbfformat::kDeletedFlag;
}

const unsigned char* CRecordProbe::RecordAt(uint64_t nOffset)
{
    return m_window.At(nOffset, m_nRecordLength);
}

unsigned char CRecordProbe::ByteAt(uint64_t nOffset)
{
    return m_window.At(nOffset, 1)[0];
}

CRecordProbe::Verdict CRecordProbe::Judge(uint64_t nOffset)
{
    Verdict v;
    const unsigned char* p = m_window.At(nOffset, m_nRecordLength);
    if (p == nullptr)
        return v;
    v.bWhole = true;
    v.bFlag = IsFlag(p[0]);
    v.nUnsound = m_judge.CountUnsound(p);
    v.check = m_evidence.CheckRecord(p);
    return v;
}

bool CRecordProbe::IsClean(const Verdict& v) const
{
    return v.IsSound() && v.check.nSoft <= m_evidence.GetSoftTolerance();
}

bool CRecordProbe::IsEnd(uint64_t nOffset, int64_t nHeaderEnd)
{
    if (nOffset + m_nRecordLength > m_nFileLength)
        return true;
    if (m_window.At(nOffset, 1)[0] != dbfformat::kEndOfFile)
        return false;
    // Where the header's records end, the mark is the end.
    if (nHeaderEnd >= 0 && static_cast<int64_t>(nOffset) == nHeaderEnd)
        return true;
    // Elsewhere it may be a damaged flag (noise holds 0x1A as often as any
    // other byte): records that line up soon after it say the records go on.
    const int64_t nReach = std::max<int64_t>(kReachRecords, static_cast<int64_t>(kReachBytes / m_nRecordLength));
    for (int64_t k = 1; k <= nReach; ++k) {
        const uint64_t nAt = nOffset + static_cast<uint64_t>(k) * m_nRecordLength;
        if (nAt + 2ull * m_nRecordLength > m_nFileLength)
            break;
        if (Judge(nAt).IsSound() && Judge(nAt + m_nRecordLength).IsSound())
            return false;
    }
    return m_scanner.IsEndOfRecords(nOffset, m_nRecordLength);
}

double CRecordProbe::FitAt(uint64_t nOffset)
{
    const unsigned char* p = m_window.At(nOffset, m_nRecordLength);
    return p == nullptr ? 0.0 : m_evidence.Fit(p);
}

void CRecordProbe::Learn(uint64_t nStart, int64_t nHeaderEnd)
{
    // Sound records on the grid from the start: first a few to learn what
    // clean looks like, then only records clean by that, so that records
    // read shifted after damage near the start teach nothing.
    const size_t nMost = std::clamp<size_t>(static_cast<size_t>(kLearnBytes / m_nRecordLength), 8, kLearnRecords);
    std::vector<std::vector<unsigned char>> copies;
    std::vector<const unsigned char*> records;
    bool bWhole = false; // every record of the table was learned
    auto relearn = [&] {
        records.clear();
        for (const auto& copy : copies)
            records.push_back(copy.data());
        m_evidence.Learn(records, m_layout, bWhole);
    };
    for (int64_t k = 0; k < kLearnScan && copies.size() < nMost; ++k) {
        const uint64_t nOffset = nStart + static_cast<uint64_t>(k) * m_nRecordLength;
        if (IsEnd(nOffset, nHeaderEnd)) {
            bWhole = static_cast<int64_t>(copies.size()) == k && k > 0;
            break;
        }
        const Verdict v = Judge(nOffset);
        const bool bTake = (copies.size() < kLearnFirst ? v.IsSound() : IsClean(v))
            && !CRecordEvidence::HasDamagedText(m_window.At(nOffset, m_nRecordLength), m_layout);
        if (!bTake) {
            // Damage near the start: what follows may be shifted.
            if (copies.size() >= kLearnFirst)
                break;
            continue;
        }
        const unsigned char* p = m_window.At(nOffset, m_nRecordLength);
        copies.emplace_back(p, p + m_nRecordLength);
        if (copies.size() == kLearnFirst)
            relearn();
    }
    relearn();
}

bool CRecordProbe::StopRequested() const
{
    return m_scanner.StopRequested();
}
