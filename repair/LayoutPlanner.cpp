#include "repair/LayoutPlanner.h"

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFHeader.h"
#include "platform/File.h"
#include "repair/DBFRepair.h"
#include "repair/DamagedTableScanner.h"
#include "repair/RepairContext.h"
#include "repair/RepairReport.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint32_t kMaxRecordLength = 65535;

std::string HexByte(uint8_t n)
{
    char sz[8];
    std::snprintf(sz, sizeof sz, "0x%02X", n);
    return sz;
}

} // namespace

CLayoutPlanner::CLayoutPlanner(DamagedTableLayout& layout, CFile& source, uint64_t nDataStart,
                               dbfformat::MemoKind memoFormat, uint32_t nMemoBlockSize, CRepairContext& context,
                               RepairStatistics& stats)
    : m_layout(layout), m_source(source), m_nDataStart(nDataStart), m_memoFormat(memoFormat),
      m_nMemoBlockSize(nMemoBlockSize), m_context(context), m_report(context.Report()), m_stats(stats)
{
}

uint8_t CLayoutPlanner::ChooseVersion() const
{
    const uint8_t nSource = m_layout.header.GetVersion();
    bool bMemo = false;
    bool bVisualFoxPro = false;
    for (const DamagedField& field : m_layout.fields) {
        if (field.nColumn < 0)
            continue;
        bMemo = bMemo || field.IsMemo();
        // G is left out: FoxPro 2.x has general fields too.
        bVisualFoxPro = bVisualFoxPro || dbfformat::IsVisualFoxProType(field.chType, field.nLength);
    }
    const dbfformat::MemoKind memoFormat = m_memoFormat;
    uint8_t nVersion = nSource;
    if (!dbfformat::IsKnownVersion(nSource)) {
        // The version byte is damaged: the fields and the memo file tell.
        if (bVisualFoxPro)
            nVersion = 0x30;
        else if (!bMemo)
            nVersion = 0x03;
        else
            nVersion = dbfformat::VersionForMemoKind(memoFormat);
    }
    // A version without a memo file of its own gets the form that has one.
    if (bMemo)
        nVersion = dbfformat::MemoFormOfVersion(nVersion, memoFormat);
    return nVersion;
}

RepairedTableLayout CLayoutPlanner::Plan(const std::string& strSource)
{
    DamagedTableLayout& layout = m_layout;
    std::string strLeftOut;
    std::string strMended;
    for (DamagedField& field : layout.fields) {
        field.nColumn = 0;
        if (field.nLength == 0 && !field.bLengthDamaged) {
            // Holds nothing; as a column it would only multiply the grid.
            field.nColumn = -1;
            strLeftOut += " " + field.strName + " (width 0)";
        } else if (field.bLengthDamaged) {
            if (field.bWidthUnknown || field.nLength >= 128) {
                field.nColumn = -1;
                strLeftOut += " " + field.strName + " (damaged length byte " + std::to_string(field.descriptor.GetLength()) + ")";
            } else {
                strMended += " " + field.strName + " (length byte " + std::to_string(field.descriptor.GetLength())
                    + " taken as " + std::to_string(field.nLength) + ")";
            }
        }
    }
    const uint8_t nVersion = ChooseVersion();
    const bool bVisualFoxPro = dbfformat::IsVisualFoxProVersion(nVersion);
    const bool bSIx = dbfformat::MemoKindForVersion(nVersion, 0) == dbfformat::MemoKind::SIx;

    RepairedTableLayout newLayout;
    newLayout.header = layout.header;
    newLayout.header.SetVersion(nVersion);
    bool bMemoFields = false;
    int nColumn = 0;
    uint32_t nRecordLength = 1;
    for (DamagedField& field : layout.fields) {
        if (field.nColumn < 0)
            continue;
        const uint32_t nNewWidth = field.IsMemo() ? 10 : field.nLength;
        if (nRecordLength + nNewWidth > kMaxRecordLength) {
            // The record length is a 16-bit number: what does not fit is left
            // out, and the columns after it still find their bytes.
            field.nColumn = -1;
            strLeftOut += " " + field.strName + " (past 65535 bytes)";
            continue;
        }
        nRecordLength += nNewWidth;
        field.nColumn = nColumn++;
        DBFFieldDescriptor fd = field.descriptor;
        fd.SetType(field.chType);
        uint32_t nWidth = field.nLength;
        if (field.IsMemo()) {
            bMemoFields = true;
            // A reference of a width no reader knows would lose every value.
            if (bSIx)
                nWidth = 10;
            else if (nWidth != 4 && nWidth != 10)
                nWidth = bVisualFoxPro ? 4 : 10;
        }
        if (DamagedField::HasByteWidth(field.chType)) {
            fd.SetLength(static_cast<uint8_t>(nWidth));
        } else {
            // Everything else is read through the 16-bit width: only a wide C
            // field keeps a high byte.
            fd.SetWidth16(static_cast<uint16_t>(nWidth));
        }
        newLayout.fields.push_back(fd);
    }
    uint8_t nFlags = newLayout.header.GetTableFlags();
    // The structural index is not carried over, so the table must not ask for one.
    nFlags &= static_cast<uint8_t>(~DBFHeader::kFlagIndex);
    if (bVisualFoxPro) {
        if (bMemoFields)
            nFlags |= DBFHeader::kFlagMemo;
        else
            nFlags &= static_cast<uint8_t>(~DBFHeader::kFlagMemo);
    }
    if (!dbfformat::IsKnownVersion(layout.header.GetVersion())) {
        // A damaged version byte says nothing of the rest of the header.
        newLayout.header.SetCodePageMark(0);
        nFlags = bVisualFoxPro && bMemoFields ? DBFHeader::kFlagMemo : 0;
    }
    newLayout.header.SetTableFlags(nFlags);

    // The bytes between the terminator and the records as the source has
    // them (a 0x00 after the 0x0D, a GIS writer's padding, the Visual
    // FoxPro area with its database link).
    const uint64_t nAreaStart = layout.nTerminatorOffset + 1;
    const uint64_t nAreaLength = m_nDataStart > nAreaStart ? m_nDataStart - nAreaStart : 0;
    const uint64_t nWanted = bVisualFoxPro ? dbfformat::kVisualFoxProAreaSize : nAreaLength;
    newLayout.area.assign(static_cast<size_t>(nWanted), 0);
    const uint64_t nCopy = std::min(nWanted, nAreaLength);
    if (nCopy > 0) {
        m_source.Seek(static_cast<int64_t>(nAreaStart), CFile::begin);
        m_source.Read(newLayout.area.data(), static_cast<size_t>(nCopy));
    }

    newLayout.memoKind = dbfformat::MemoKindForVersion(nVersion, nFlags);
    if (newLayout.memoKind != dbfformat::MemoKind::None && m_memoFormat != dbfformat::MemoKind::None) {
        // The source's block size: readers in wide use assume the usual ones.
        const uint32_t nBlockSize = m_nMemoBlockSize;
        if (nBlockSize >= 32 && nBlockSize <= 65535)
            newLayout.nMemoBlockSize = nBlockSize;
    }
    if (newLayout.memoKind == dbfformat::MemoKind::DBase4 && newLayout.nMemoBlockSize == 0)
        newLayout.nMemoBlockSize = 512;

    if (!strLeftOut.empty())
        NoteFix("Columns left out of the repaired table:" + strLeftOut + ".", "Columns left out:" + strLeftOut + ".");
    if (!strMended.empty()) {
        const std::string strFix = "Column widths taken from the record length:" + strMended + ".";
        NoteFix(strFix, strFix);
    }
    if (nVersion != layout.header.GetVersion())
        m_report.structureFixes.push_back("The version byte " + HexByte(layout.header.GetVersion()) + " became "
                                          + HexByte(nVersion) + ".");
    if (bMemoFields && m_memoFormat == dbfformat::MemoKind::None) {
        m_stats.bMemoFileMissing = true;
        m_context.ReportError("The memo file of " + strSource
                              + " was not found or cannot be read: its memo values are lost.");
    }
    return newLayout;
}

void CLayoutPlanner::NoteFix(const std::string& strMessage, const std::string& strFix)
{
    m_context.ReportError(strMessage);
    m_report.structureFixes.push_back(strFix);
}
