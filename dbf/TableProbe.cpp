#include "dbf/TableProbe.h"

#include "dbf/DBFFormat.h"
#include "platform/File.h"
#include "platform/OsError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string Hex2(unsigned n)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", n & 0xFFu);
    return buf;
}

// The probe reads the header and its descriptors, 64 KB at most.
constexpr size_t kProbeWindow = 64 * 1024;

// Reads up to nCount bytes at nPos; returns the count read, or -1 with
// nError set.
int64_t ReadAt(CFile& file, uint64_t nPos, void* pBuffer, size_t nCount, int& nError)
{
    try {
        file.Seek(static_cast<int64_t>(nPos), CFile::begin);
        return static_cast<int64_t>(file.Read(pBuffer, nCount));
    } catch (const CFileException& e) {
        nError = e.m_lOsError;
        return -1;
    }
}

// A name as table writers leave it: a first byte that is no space or
// control character, then no control characters up to the NUL. Bytes above
// 0x7F are letters of the table's code page (Russian and Chinese programs
// write such names).
bool IsNameShaped(const DBFFieldDescriptor& fd)
{
    const auto IsControl = [](unsigned char ch) { return ch < 0x20 || ch == 0x7F; };
    if (fd.m_bytes[0] == ' ' || IsControl(fd.m_bytes[0]))
        return false;
    for (size_t i = 1; i < DBFFieldDescriptor::kNameSize && fd.m_bytes[i] != 0; ++i) {
        if (IsControl(fd.m_bytes[i]))
            return false;
    }
    return true;
}

// A descriptor as a table writer leaves it: a NUL-ended name, a field type
// of the DBF family and a width. Text has no NULs, so a text file never
// shows one.
bool IsPlausible(const DBFFieldDescriptor& fd)
{
    const auto nameEnd = fd.m_bytes.begin() + DBFFieldDescriptor::kNameSize;
    const char chType = fd.GetType();
    return IsNameShaped(fd) && std::find(fd.m_bytes.begin(), nameEnd, 0) != nameEnd && chType != 0
        && dbfformat::IsKnownType(chType) && fd.GetWidth() > 0;
}

// Whether descriptors up to a terminator follow the header, for a file
// whose version byte names no table: one sound descriptor at least, and
// most of them with names. A damaged type or width byte, or a name in a
// national code page, leaves that to the repair's analysis; text and other
// files show neither.
bool HasDescriptors(const std::vector<DBFFieldDescriptor>& fields, bool bTerminatorFound)
{
    const auto nNamed = std::count_if(fields.begin(), fields.end(), IsNameShaped);
    return bTerminatorFound && std::any_of(fields.begin(), fields.end(), IsPlausible)
        && 2 * static_cast<size_t>(nNamed) >= fields.size();
}

} // namespace

bool CTableProbe::Probe(const std::string& strPath)
{
    *this = CTableProbe();
    CFile file(kProbeWindow);
    CFileException openError;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone, &openError)) {
        m_strError = COsError::Text(openError.m_lOsError); // EISDIR for a folder
        return false;
    }
    m_nFileLength = file.GetLength();
    int nError = 0;
    const int64_t nRead = ReadAt(file, 0, m_header.Data(), DBFHeader::kSize, nError);
    if (nRead < 0) {
        m_strError = COsError::Text(nError);
        return false;
    }
    m_bNotATable = true;
    if (static_cast<size_t>(nRead) < DBFHeader::kSize) {
        m_strError = "not a DBF table (" + std::to_string(nRead) + " bytes, less than the 32 of a table header)";
        return false;
    }

    uint32_t nOffset = 1;
    // More descriptors than a 65535-byte header holds means the terminator is
    // lost; the scan stops there.
    const dbfformat::DescriptorWalk walk = dbfformat::WalkDescriptors(
        dbfformat::kMaxDescriptorsInHeader,
        [&](uint64_t nPos, DBFFieldDescriptor& descriptor) -> long {
            return static_cast<long>(ReadAt(file, nPos, descriptor.Data(), DBFFieldDescriptor::kSize, nError));
        },
        [&](const DBFFieldDescriptor& found, long nBytes) {
            if (static_cast<size_t>(nBytes) < DBFFieldDescriptor::kSize)
                return false;
            DBFFieldDescriptor descriptor = found;
            // Visual FoxPro descriptors carry their offsets; the others are
            // laid out one after the other.
            if (!dbfformat::IsVisualFoxProVersion(m_header.GetVersion()))
                descriptor.SetOffset(nOffset);
            nOffset += descriptor.GetWidth();
            m_fields.push_back(descriptor);
            return true;
        });
    if (walk.bStopped) {
        m_strError = COsError::Text(nError);
        return false;
    }
    const bool bTerminatorFound = walk.bTerminator;
    // A known version byte makes a table, however damaged the rest. A
    // damaged version byte is repairable when field descriptors follow; a
    // file with neither is something else.
    const bool bKnownVersion = dbfformat::IsNamedVersion(m_header.GetVersion());
    if (!bKnownVersion && !HasDescriptors(m_fields, bTerminatorFound)) {
        m_strError = "not a DBF table (its first byte, " + Hex2(m_header.GetVersion())
            + ", is no table version, and no field descriptors follow the header)";
        return false;
    }
    m_bNotATable = false;
    if (!bKnownVersion)
        m_problems.push_back("version byte " + Hex2(m_header.GetVersion()) + " is no known table kind");
    FindProblems(bTerminatorFound);
    return true;
}

void CTableProbe::FindProblems(bool bTerminatorFound)
{
    const uint64_t nHeaderLength = m_header.GetHeaderLength();
    const uint64_t nRecordLength = m_header.GetRecordLength();
    const int32_t nCount = m_header.GetRecordCount();

    // Where the header disagrees with its descriptors; listed after the
    // record count's line.
    std::vector<std::string> structure;
    const uint64_t nArea = dbfformat::IsVisualFoxProVersion(m_header.GetVersion()) ? dbfformat::kVisualFoxProAreaSize : 0;
    const uint64_t nNeeded = DBFHeader::kSize + m_fields.size() * DBFFieldDescriptor::kSize + 1 + nArea;
    if (!bTerminatorFound) {
        structure.push_back("no 0x0D terminator after the " + std::to_string(m_fields.size()) + " field descriptors");
    } else if (nHeaderLength < nNeeded) {
        structure.push_back("header length " + std::to_string(nHeaderLength) + ", but the "
                            + std::to_string(m_fields.size()) + " field descriptors with their terminator"
                            + (nArea ? " and the 263-byte Visual FoxPro area" : "") + " need "
                            + std::to_string(nNeeded));
    }
    uint64_t nWidths = 1;
    for (const DBFFieldDescriptor& fd : m_fields)
        nWidths += fd.GetWidth();
    if (nWidths != nRecordLength) {
        structure.push_back("record length " + std::to_string(nRecordLength) + ", but the fields' widths and the "
                            "deletion flag add up to " + std::to_string(nWidths));
    }

    if (nCount < 0)
        m_problems.push_back("record count " + std::to_string(nCount) + " is negative");
    if (nRecordLength == 0)
        m_problems.push_back("record length 0 leaves no room for the deletion flag");
    if (m_nFileLength < nHeaderLength) {
        m_problems.push_back("the file (" + std::to_string(m_nFileLength) + " bytes) ends inside its header of "
                             + std::to_string(nHeaderLength) + " bytes");
    } else if (nCount >= 0 && nRecordLength > 0) {
        const uint64_t nData = m_nFileLength - nHeaderLength;
        const uint64_t nExpected = static_cast<uint64_t>(nCount) * nRecordLength;
        const uint64_t nRoom = nData / nRecordLength;
        const std::string strNeeds =
            "record count " + std::to_string(nCount) + " needs " + std::to_string(nHeaderLength + nExpected) + " bytes";
        const std::string strRoom = " (room for " + std::to_string(nRoom) + " whole record" + (nRoom == 1 ? "" : "s");
        // At most one end-of-file byte follows the records. More is left
        // unread, as dbfread leaves it, when the header agrees with its
        // descriptors: a note then, no damage.
        if (nData > nExpected + 1 && structure.empty()) {
            m_notes.push_back(strNeeds + ", the file has " + std::to_string(m_nFileLength) + ": the "
                              + std::to_string(nData - nExpected) + " bytes after the records are not read"
                              + (nRoom > static_cast<uint64_t>(nCount) ? strRoom + ")" : ""));
        } else if (nData != nExpected && nData != nExpected + 1) {
            m_problems.push_back(strNeeds + ", but the file has " + std::to_string(m_nFileLength) + strRoom
                                 + (nData % nRecordLength > 1 ? " and a part of one)" : ")"));
        }
    }
    m_problems.insert(m_problems.end(), structure.begin(), structure.end());
}
