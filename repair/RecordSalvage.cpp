#include "repair/RecordSalvage.h"

#include "dbf/DBFFormat.h"
#include "dbf/FieldCodec.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "repair/DBFRepair.h"
#include "repair/DamagedTableScanner.h"
#include "repair/FieldSalvage.h"
#include "repair/MendedCells.h"
#include "repair/RawMemoReader.h"
#include "repair/RecordEvidence.h"
#include "repair/RecordWindow.h"
#include "repair/RepairContext.h"
#include "repair/RepairReportFinisher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {

using dbfformat::kDeletedFlag;
using dbfformat::kEndOfFile;
using dbfformat::kLiveFlag;
// Bytes of records read in one go while the memo references are read.
constexpr size_t kReadChunk = 1024 * 1024;
// References kept to settle the memo block size.
constexpr size_t kMemoSampleSize = 256;

} // namespace

CRecordSalvage::CRecordSalvage(CRepairContext& context, CFile& source, uint64_t nFileLength,
                               const DamagedTableLayout& layout, uint64_t nDataStart, CRawMemoReader& memo,
                               bool bUndelete, RepairStatistics& stats, CMendedCells& mendedCells)
    : m_context(context)
    , m_report(context.Report())
    , m_source(source)
    , m_nFileLength(nFileLength)
    , m_layout(layout)
    , m_nDataStart(nDataStart)
    , m_memo(memo)
    , m_bUndelete(bUndelete)
    , m_stats(stats)
    , m_mendedCells(mendedCells)
{
    m_writer.SetReporter(context.Reporter());
}

void CRecordSalvage::PlanFields()
{
    m_plans.clear();
    m_busy.clear();
    bool bIdentity = m_writer.GetRecordLength() == m_layout.nRecordLength;
    for (const DamagedField& field : m_layout.fields) {
        FieldPlan plan{field.nOffset, field.nLength, field.nColumn, 0, 0, field.chType, field.nDecimals, false, false};
        if (field.nColumn >= 0) {
            const std::span<unsigned char> target = m_writer.FieldBytes(field.nColumn);
            plan.nTarget = static_cast<uint32_t>(target.data() - m_writer.Record().data());
            plan.nTargetLength = static_cast<uint32_t>(target.size());
            plan.bMemo = field.IsMemo();
            plan.bCheck = !plan.bMemo
                && (field.chType == 'N' || field.chType == 'F' || field.chType == 'D' || field.chType == 'L'
                    || field.chType == 'T');
        }
        if (plan.nColumn < 0 || plan.nTarget != plan.nSource || plan.nTargetLength != plan.nLength)
            bIdentity = false;
        m_plans.push_back(plan);
    }
    m_bIdentityLayout = bIdentity;
    std::vector<CRecordJudge::Field> checked;
    for (const DamagedField& field : m_layout.fields) {
        if (field.nLength > 0 && field.nColumn >= 0 && (field.chType == 'N' || field.chType == 'F' || field.chType == 'D'
                                  || field.chType == 'L' || field.chType == 'T'))
            checked.push_back({field.nOffset, field.nLength, field.chType});
    }
    m_judge = CRecordJudge(checked, m_layout.nRecordLength);
    m_stats.mendedPerColumn.assign(static_cast<size_t>(m_writer.GetFieldCount()), 0);
    m_firstMended.assign(static_cast<size_t>(m_writer.GetFieldCount()), {});
    m_bHasMemoPlans = false;
    for (const FieldPlan& plan : m_plans) {
        if (plan.bCheck || plan.bMemo)
            m_busy.push_back(&plan);
        m_bHasMemoPlans = m_bHasMemoPlans || (plan.bMemo && plan.nColumn >= 0);
    }
}

bool CRecordSalvage::ReadMemoReferences()
{
    if (!m_memo.IsOpen())
        return true;
    std::vector<const DamagedField*> memoFields;
    for (const DamagedField& field : m_layout.fields) {
        if (field.IsMemo() && field.nLength > 0)
            memoFields.push_back(&field);
    }
    if (memoFields.empty())
        return true;

    CDamagedTableScanner scanner(m_source, m_context.StopToken());
    const uint32_t nRecordLength = m_layout.nRecordLength;
    const size_t nChunkRecords = std::max<size_t>(1, kReadChunk / nRecordLength);
    std::vector<unsigned char> chunk(nChunkRecords * nRecordLength);
    std::vector<uint32_t> claimed, leftClaimed;
    constexpr size_t kShapeSample = 16;
    size_t nShaped = 0, nLeftShaped = 0;
    std::vector<MemoReference> sample;
    size_t nStride = 1;
    size_t nSeen = 0;
    uint64_t nFlagOffset = m_nDataStart;
    bool bEnd = false;
    while (!bEnd && nFlagOffset < m_nFileLength && m_nFileLength - nFlagOffset >= nRecordLength) {
        if (m_context.StopRequested())
            return false;
        const size_t nRecords = static_cast<size_t>(
            std::min<uint64_t>(nChunkRecords, (m_nFileLength - nFlagOffset) / nRecordLength));
        m_source.Seek(static_cast<int64_t>(nFlagOffset), CFile::begin);
        if (m_source.Read(chunk.data(), nRecords * nRecordLength) < nRecords * nRecordLength)
            ThrowOsFileError(EIO, m_source.GetFilePath());
        for (size_t r = 0; r < nRecords; ++r, nFlagOffset += nRecordLength) {
            const unsigned char* pRecord = chunk.data() + r * nRecordLength;
            if (pRecord[0] == kEndOfFile && scanner.IsEndOfRecords(nFlagOffset, nRecordLength)) {
                bEnd = true;
                break;
            }
            for (const DamagedField* pField : memoFields) {
                const MemoReference ref = MemoReference::Parse(
                    std::span<const unsigned char>(pRecord + pField->nOffset, pField->nLength));
                if (ref.nKind != MemoReference::kBlock)
                    continue;
                // Writers align the block number one way, which the first
                // records show; a number read across shifted records (a
                // digit and the next field's blanks) comes out the other,
                // and would cut the values it seems to start inside.
                const unsigned char chLast = pRecord[pField->nOffset + pField->nLength - 1];
                const bool bText = pField->nLength > 4 && !IsMemoRefForm(std::span<const unsigned char>(
                                                               pRecord + pField->nOffset, pField->nLength));
                const bool bLeft = bText && (chLast == ' ' || chLast == 0);
                if (nShaped < kShapeSample) {
                    ++nShaped;
                    nLeftShaped += bLeft ? 1 : 0;
                }
                (bLeft ? leftClaimed : claimed).push_back(ref.nBlock);
                // An even sample over the whole table: every nStride-th
                // reference, thinned out as the table turns out longer.
                if (nSeen++ % nStride == 0) {
                    sample.push_back(ref);
                    if (sample.size() >= 2 * kMemoSampleSize) {
                        std::vector<MemoReference> thinned;
                        for (size_t i = 0; i < sample.size(); i += 2)
                            thinned.push_back(sample[i]);
                        sample.swap(thinned);
                        nStride *= 2;
                    }
                }
            }
        }
    }
    if (2 * nLeftShaped > nShaped)
        claimed.swap(leftClaimed);
    m_memo.SettleLayout(sample, m_layout.header.GetVersion());
    m_copiedBlocks.reserve(claimed.size());
    m_memo.SetClaimedBlocks(std::move(claimed));
    return true;
}

void CRecordSalvage::SalvageField(const FieldPlan& plan)
{
    const std::span<const unsigned char> bytes(m_pRecord + plan.nSource, plan.nLength);
    if (plan.bMemo) {
        SalvageMemo(plan, bytes);
        return;
    }
    if (IsSoundField(plan.chType, bytes))
        return;
    // Copied already; mended in the new record.
    MendField(plan.chType, plan.nDecimals, m_writer.FieldBytes(plan.nColumn));
    NoteMendedValue(plan.nColumn, m_writer.GetRecordCount() + 1);
}

void CRecordSalvage::SalvageMemo(const FieldPlan& plan, std::span<const unsigned char> bytes)
{
    const MemoReference ref = MemoReference::Parse(bytes);
    if (ref.nKind == MemoReference::kNone) {
        m_writer.StoreNoMemo(plan.nColumn);
        return;
    }
    std::string& strBytes = m_memoBytes;
    std::span<const unsigned char> bytesFound;
    uint32_t nType = 1;
    bool bValue = false;
    if (m_memo.IsOpen()) {
        if (ref.nKind == MemoReference::kBlock) {
            bValue = m_memo.ReadReferencedView(ref, strBytes, bytesFound, nType);
        } else if (plan.chType == 'M') {
            if (std::optional<std::string> text = m_memo.ScanNextText()) {
                strBytes = std::move(*text);
                bytesFound = std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(strBytes.data()),
                                                            strBytes.size());
                bValue = true;
            }
        }
    }
    if (!bValue) {
        ++m_stats.nMemoTextsLost;
        // Named by record and column, so that a person can look for it.
        if (m_report.missingMemos.size() < RepairReport::kMostMissingMemos)
            m_report.missingMemos.push_back(
                {m_nLastTaken + 1, m_layout.fields[static_cast<size_t>(&plan - m_plans.data())].strName});
        else
            ++m_report.nMissingMemosNotListed;
        m_writer.StoreNoMemo(plan.nColumn);
        return;
    }
    if (ref.nKind == MemoReference::kBlock && !m_copiedBlocks.insert(ref.nBlock).second) {
        // Records that share a block each get their own copy (a shared block
        // would let an edit of one change the other), but never more bytes
        // again than the source memo file holds.
        m_nRepeatedMemoBytes += bytesFound.size();
        if (m_nRepeatedMemoBytes > m_memo.GetLength()) {
            ++m_stats.nSharedMemosNotCopied;
            m_writer.StoreNoMemo(plan.nColumn);
            return;
        }
    }
    // A value the new memo file cannot take (a full disk) fails the run: the
    // error passes on, since going on would save a table that lost it.
    m_writer.StoreMemo(plan.nColumn, bytesFound, nType);
    ++m_stats.nMemoTextsRecovered;
}

const WalkExpectation& CRecordSalvage::ExpectRecords()
{
    const DBFHeader& header = m_layout.header;
    const uint32_t nRecordLength = m_layout.nRecordLength;
    WalkExpectation& expect = m_expect;
    expect = WalkExpectation();
    const int64_t nCount = header.GetRecordCount();
    if (nCount <= 0 || header.GetRecordLength() != nRecordLength)
        return expect;
    if (header.GetHeaderLength() != m_nDataStart) {
        // The records start elsewhere: the count still says how many the
        // header knew of, when it is near what the file can hold.
        const uint64_t nArea = static_cast<uint64_t>(nCount) * nRecordLength;
        const uint64_t nMostMoved = std::max<uint64_t>(m_nFileLength / 2, CDamagedTableScanner::kMostMovedBytes);
        if (nArea <= m_nFileLength + nMostMoved)
            expect.nCount = nCount;
        return expect;
    }
    const uint64_t nEnd = m_nDataStart + static_cast<uint64_t>(nCount) * nRecordLength;
    unsigned char chAt = 0;
    unsigned char chLast = 0;
    if (nEnd < m_nFileLength) {
        m_source.Seek(static_cast<int64_t>(nEnd), CFile::begin);
        m_source.Read(&chAt, 1);
    }
    m_source.Seek(static_cast<int64_t>(m_nFileLength - 1), CFile::begin);
    m_source.Read(&chLast, 1);
    int64_t nShift = 0;
    // An end mark right where the header's records end: what follows is
    // no record, and nothing moved.
    if (!(nEnd < m_nFileLength && chAt == kEndOfFile))
        nShift = static_cast<int64_t>(m_nFileLength) - (chLast == kEndOfFile ? 1 : 0) - static_cast<int64_t>(nEnd);
    // Whole records more or fewer: a count not brought up to date (a crash
    // after records were added or removed), which tells nothing of moved
    // bytes unless the records show damage. A count far off the file's
    // length is no count at all.
    if (nShift != 0 && nShift % static_cast<int64_t>(nRecordLength) == 0) {
        expect.nSpareRecords = nShift / static_cast<int64_t>(nRecordLength);
        expect.nCount = nCount;
        return expect;
    }
    if (std::abs(nShift)
        > std::max<int64_t>(static_cast<int64_t>(m_nFileLength / 2), CDamagedTableScanner::kMostMovedBytes))
        return expect;
    expect.bCountKnown = true;
    expect.nCount = nCount;
    expect.nNetShift = nShift;
    return expect;
}

void CRecordSalvage::DropRange(uint64_t nOffset, uint64_t nLength, RepairReport::DropReason reason,
                               int64_t nFirstRecord, int64_t nRecords)
{
    if (nLength == 0 && nRecords == 0)
        return;
    m_report.nRecordsDropped += nRecords;
    m_report.nBytesDropped += nLength;
    if (m_report.dropped.size() < RepairReport::kMostRanges)
        m_report.dropped.push_back({nOffset, nLength, reason, nRecords});
    else
        ++m_report.nDroppedRangesNotListed;
    const uint32_t nRecordLength = m_layout.nRecordLength;
    for (int64_t i = 0; i < nRecords; ++i) {
        // The record's own bytes within the range; none when they were lost.
        const uint64_t nAt = std::min(nOffset + static_cast<uint64_t>(i) * nRecordLength, nOffset + nLength);
        const uint64_t nHere = std::min<uint64_t>(nRecordLength, nOffset + nLength - nAt);
        NoteRecordLoss(nFirstRecord + i, RepairReport::RecordLossKind::Dropped, nAt, nHere);
    }
}

void CRecordSalvage::NoteRecordLoss(int64_t nRecord, RepairReport::RecordLossKind kind, uint64_t nOffset, uint64_t nLength)
{
    // A record both mended in place and found to end before the end mark
    // is one loss, not two.
    if (!m_report.recordLosses.empty() && m_report.recordLosses.back().nRecord == nRecord + 1
        && m_report.recordLosses.back().kind == kind)
        return;
    if (kind == RepairReport::RecordLossKind::Mended)
        ++m_report.nRecordsMended;
    else if (kind == RepairReport::RecordLossKind::CutShort)
        ++m_report.nRecordsCutShort;
    if (m_report.recordLosses.size() < RepairReport::kMostRecordLosses)
        m_report.recordLosses.push_back({nRecord + 1, kind, nOffset, nLength});
    else
        ++m_report.nRecordLossesNotListed;
}

void CRecordSalvage::SalvageRecord(unsigned char chFlag, bool bCheckValues, bool bTouched, int64_t nSourceRecord)
{
    m_nLastTaken = nSourceRecord;
    const bool bDeleted = chFlag == kDeletedFlag;
    // A sound record of a table whose layout stays and whose values need
    // nothing goes across as it is: the bulk of most tables.
    if (m_bIdentityLayout && !bCheckValues && !bTouched && !m_bHasMemoPlans
        && (chFlag == kLiveFlag || (bDeleted && !m_bUndelete))) {
        if (bDeleted)
            ++m_stats.nDeletedRecords;
        m_writer.AppendRecordBytes(m_pRecord);
        return;
    }
    const std::span<unsigned char> target = m_writer.Record();
    if (m_bIdentityLayout) {
        std::memcpy(target.data(), m_pRecord, m_layout.nRecordLength);
    } else {
        for (const FieldPlan& plan : m_plans) {
            if (plan.nColumn >= 0 && !plan.bMemo)
                std::memcpy(target.data() + plan.nTarget, m_pRecord + plan.nSource, plan.nLength);
        }
    }
    for (const FieldPlan* pPlan : m_busy) {
        if (bCheckValues || pPlan->bMemo)
            SalvageField(*pPlan);
    }
    if (bTouched) {
        // Text bytes no healthy record holds there (NUL or control bytes, or
        // high bytes in a table without them) are the damage: blanked, so
        // that what is left of the text reads as it was.
        for (const FieldPlan& plan : m_plans) {
            if (plan.nColumn < 0 || plan.bMemo || !IsCodePageText(plan.chType) || m_pEvidence == nullptr
                || !m_pEvidence->BreaksHard(m_pRecord, plan.nSource, plan.nLength))
                continue;
            m_pEvidence->BlankHardBreaks(target.data() + plan.nTarget, plan.nSource,
                                           std::min(plan.nLength, plan.nTargetLength));
            NoteMendedValue(plan.nColumn, m_writer.GetRecordCount() + 1);
        }
        NoteRecordLoss(nSourceRecord, RepairReport::RecordLossKind::Mended, m_nRecordOffset,
                       m_layout.nRecordLength);
    }
    // A damaged flag makes a live record; deleted ones stay deleted.
    if (bDeleted)
        ++m_stats.nDeletedRecords;
    target[0] = bDeleted && !m_bUndelete ? kDeletedFlag : kLiveFlag;
    m_writer.Update();
}

int CRecordSalvage::SalvageTail(CRecordWindow& window, uint64_t nOffset, int64_t nRecord)
{
    const uint64_t nRest = m_nFileLength - nOffset;
    const unsigned char* p = window.At(nOffset, static_cast<size_t>(nRest));
    if (p == nullptr)
        return 0;
    // Zeros and end marks are padding, not data.
    const auto isPadding = [](const unsigned char* q, uint64_t n) {
        return std::all_of(q, q + n, [](unsigned char c) { return c == 0 || c == kEndOfFile; });
    };
    const uint32_t nRecordLength = m_layout.nRecordLength;
    if (p[0] == kEndOfFile) {
        // Bytes after the end mark: the start of a record whose append was
        // cut short counts as a record lost; junk is no record, though it
        // is named.
        if (nRest > 1 && !isPadding(p + 1, nRest - 1)) {
            const int nRecords = LooksLikeRecordHead(p + 1, nRest - 1) ? 1 : 0;
            DropRange(nOffset + 1, nRest - 1, RepairReport::DropReason::AfterEndMark, nRecord, nRecords);
            return nRecords;
        }
        return 0;
    }
    if (isPadding(p, nRest))
        return 0;
    // A record cut off by the end of the file: the fields it holds whole are
    // kept, the others left blank and counted as lost. A file cut short
    // loses its end mark too: one that still ends in it lost bytes inside
    // the record, and what it holds is not its fields.
    const bool bFlag = p[0] == kLiveFlag || p[0] == kDeletedFlag;
    if (p[nRest - 1] == kEndOfFile) {
        // (Past the records the header counts, they are no record of it.)
        const WalkExpectation& expect = m_expect;
        const int nRecords = !expect.bCountKnown || nRecord < expect.nCount ? 1 : 0;
        DropRange(nOffset, nRest, RepairReport::DropReason::CutOff, nRecord, nRecords);
        // Bytes short of a record before the end mark: bytes were inserted
        // or lost near the end, and the record before them may hold the
        // change, as it lies.
        if (nRecord > 0 && m_nLastTaken == nRecord - 1)
            NoteRecordLoss(nRecord - 1, RepairReport::RecordLossKind::Mended, nOffset - nRecordLength, nRecordLength);
        return nRecords;
    }
    int nWhole = 0;
    for (const DamagedField& field : m_layout.fields) {
        if (field.nColumn >= 0 && field.nOffset + field.nLength <= nRest)
            ++nWhole;
    }
    if (!bFlag || nWhole == 0) {
        // Past the records the header counts, bytes without a flag are no
        // record of it.
        const WalkExpectation& expect = m_expect;
        const bool bRecord = bFlag || !expect.bCountKnown || nRecord < expect.nCount;
        DropRange(nOffset, nRest, RepairReport::DropReason::CutOff, nRecord, bRecord ? 1 : 0);
        return bRecord ? 1 : 0;
    }
    std::vector<unsigned char> record(nRecordLength, 0);
    std::memcpy(record.data(), p, static_cast<size_t>(nRest));
    m_pRecord = record.data();
    m_nRecordOffset = nOffset;
    const int64_t nRecordNumber = m_writer.GetRecordCount() + 1;
    // Blank the missing fields first, so their checks see blanks.
    for (const DamagedField& field : m_layout.fields) {
        if (field.nOffset + field.nLength <= nRest)
            continue;
        const bool bBinary = !field.IsMemo()
            && (field.chType == 'I' || field.chType == 'Y' || field.chType == 'T' || field.chType == '0'
                || (field.chType == 'B' && field.nLength == 8) || field.chType == 'Q' || field.chType == 'V');
        // A memo reference of blanks: its value is gone with the record's tail.
        std::fill(record.begin() + field.nOffset, record.begin() + field.nOffset + field.nLength,
                  static_cast<unsigned char>(bBinary ? 0 : ' '));
        if (field.nColumn >= 0)
            NoteMendedValue(field.nColumn, nRecordNumber);
    }
    SalvageRecord(p[0], true, false, nRecord);
    NoteRecordLoss(nRecord, RepairReport::RecordLossKind::CutShort, nOffset, nRest);
    m_report.structureFixes.push_back(CRepairReportFinisher::CutOffRecordFix(nRest, nRecordLength));
    return 1;
}

bool CRecordSalvage::LooksLikeRecordHead(const unsigned char* p, uint64_t nBytes) const
{
    if (p[0] != kLiveFlag && p[0] != kDeletedFlag)
        return false;
    // Zeros where the write stopped are no part of it.
    while (nBytes > 0 && p[nBytes - 1] == 0)
        --nBytes;
    int nWhole = 0;
    for (const DamagedField& field : m_layout.fields) {
        if (field.nColumn < 0 || field.nOffset + field.nLength > nBytes)
            continue;
        // A torn write may leave any value, but not bytes text never holds.
        if (m_pEvidence != nullptr && m_pEvidence->BreaksHard(p, field.nOffset, field.nLength))
            return false;
        ++nWhole;
    }
    return nWhole > 0;
}

void CRecordSalvage::NoteMendedValue(int nColumn, int64_t nRecordNumber)
{
    ++m_stats.nValuesMended;
    ++m_stats.mendedPerColumn[static_cast<size_t>(nColumn)];
    std::vector<int64_t>& first = m_firstMended[static_cast<size_t>(nColumn)];
    if (first.size() < RepairReport::kFirstRecords)
        first.push_back(nRecordNumber);
    NoteMendedBytes(nColumn, nRecordNumber);
}

void CRecordSalvage::NoteMendedBytes(int nColumn, int64_t nRecordNumber)
{
    int nGridColumn = 0;
    for (size_t i = 0; i < m_plans.size(); ++i) {
        const FieldPlan& plan = m_plans[i];
        if (plan.nColumn < 0 || IsHiddenFromGrid(m_layout.fields[i].descriptor))
            continue;
        ++nGridColumn;
        if (plan.nColumn != nColumn)
            continue;
        // A field the end of the file cut into was blanked before its
        // note: what the file held of it is read again.
        const uint64_t nAt = m_nRecordOffset + plan.nSource;
        const uint64_t nHeld = nAt < m_nFileLength ? std::min<uint64_t>(plan.nLength, m_nFileLength - nAt) : 0;
        if (nHeld == plan.nLength) {
            m_mendedCells.Add(nRecordNumber, nGridColumn, {m_pRecord + plan.nSource, plan.nLength}, plan.nLength,
                              false);
            return;
        }
        std::vector<unsigned char> held(static_cast<size_t>(nHeld));
        if (nHeld > 0) {
            m_source.Seek(static_cast<int64_t>(nAt), CFile::begin);
            held.resize(m_source.Read(held.data(), held.size()));
        }
        m_mendedCells.Add(nRecordNumber, nGridColumn, held, plan.nLength, true);
        return;
    }
}

void CRecordSalvage::TakeRecords(CRecordWindow& window, const WalkStep& step)
{
    const uint32_t nRecordLength = m_layout.nRecordLength;
    for (int64_t i = 0; i < step.nRecords; ++i) {
        m_nRecordOffset = step.nOffset + static_cast<uint64_t>(i) * nRecordLength;
        m_pRecord = window.At(m_nRecordOffset, nRecordLength);
        SalvageRecord(m_pRecord[0], !step.bPerfect, step.bTouched, step.nRecord + i);
    }
}

void CRecordSalvage::CountMissingRecords(int64_t nAccounted, uint64_t nEnd)
{
    // Records the header counts that the file no longer holds: their
    // bytes went with damage the walk could not place. (A file whole
    // records short of its count may only have a count not brought up
    // to date; but nothing says which, and no record may go unnamed.)
    if (m_expect.nCount > 0 && nAccounted < m_expect.nCount)
        DropRange(nEnd, 0, RepairReport::DropReason::CutOff, nAccounted, m_expect.nCount - nAccounted);
}
