#include "dbf/DBFTableDef.h"

#include "dbf/DBFException.h"
#include "dbf/DBFFormat.h"
#include "dbf/FieldCodec.h"
#include "dbf/MemoFile.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "platform/PathName.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

using dbfformat::kHeaderTerminator;
constexpr uint32_t kMaxRecordLength = 0xFFFF;

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool MemoFileExists(const std::string& strPath)
{
    return CFileSystem::IsRegularFile(strPath);
}

// True when the FoxPro memo value at nBlock has a stored length of 0.
// python-dbf writes an empty memo text as such a value (dbfread reads it as
// ""), while the memo file's reader refuses a length of 0 as damage; the
// table reads it as an empty text instead of failing the whole record.
bool IsEmptyFoxProValue(CMemoFile& memo, uint32_t nBlock)
{
    if (memo.GetMemoKind() != dbfformat::MemoKind::FoxPro || !memo.IsMemoOpen())
        return false;
    try {
        const uint64_t nPos = static_cast<uint64_t>(nBlock) * memo.GetBlockSize() + 4;
        if (nPos + 4 > memo.GetLength())
            return false;
        memo.Seek(static_cast<int64_t>(nPos), CFile::begin);
        unsigned char lengthBytes[4];
        return memo.Read(lengthBytes, 4) == 4 && dbfbytes::DecodeFixed32BE(lengthBytes) == 0;
    } catch (const CFileException&) {
        return false; // the memo file's own read reports the fault
    }
}

} // namespace

CDBFTableDef::CDBFTableDef() = default;

CDBFTableDef::~CDBFTableDef()
{
    try {
        Close();
    } catch (...) {
        // A destructor must not throw; a failed final flush has been lost.
    }
}

bool CDBFTableDef::IsVisualFoxProVersion(uint8_t nVersion)
{
    return dbfformat::IsVisualFoxProVersion(nVersion);
}

bool CDBFTableDef::IsKnownVersion(uint8_t nVersion)
{
    return dbfformat::IsKnownVersion(nVersion);
}

const char* CDBFTableDef::TableKindName(uint8_t nVersion)
{
    return dbfformat::TableKindName(nVersion);
}

namespace {

// strName in the folder of the path stem, joined as the stem's own path
// writes its folders.
std::string InFolderOf(const std::filesystem::path& stem, const std::string& strName)
{
    const std::string strStem = CPathName::FromPath(stem);
    const size_t nSeparator = CFileSystem::LastSeparator(strStem);
    return nSeparator == std::string::npos ? strName : strStem.substr(0, nSeparator + 1) + strName;
}

} // namespace

std::string CDBFTableDef::FindMemoFile(const std::string& strTablePath, const std::string& strExtension)
{
    return FindMemoFile(strTablePath, std::vector<std::string>{strExtension});
}

std::string CDBFTableDef::FindMemoFile(const std::string& strTablePath, const std::vector<std::string>& extensions)
{
    namespace fs = std::filesystem; // names only; the system through CFileSystem
    // The usual spellings first, the table's own stem with the extension in
    // lower or upper case: a stat each, where a folder of thousands of
    // tables would cost a listing each.
    for (const std::string& strExtension : extensions) {
        std::string strUpper = strExtension;
        for (char& ch : strUpper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        for (const std::string& strExt : {strExtension, strUpper}) {
            const std::string strPath = BuildMemoPath(strTablePath, strExt.c_str());
            if (CFileSystem::IsRegularFileSpelledSo(strPath))
                return strPath;
        }
    }
    // Tables written on Windows name their memo file in any letter case
    // ("dbase_30.fpt" beside "dbase_30.dbf", "memotest.FPT" beside
    // "memotest.dbf"), and Windows finds it whatever the case: one listing
    // of the folder for every extension.
    const fs::path stem = CPathName::ToPath(BuildMemoPath(strTablePath, ""));
    const std::string strStemName = CPathName::FromPath(stem.filename()); // "name."
    const fs::path folder = stem.has_parent_path() ? stem.parent_path() : fs::path(".");
    std::vector<std::string> found(extensions.size());
    std::vector<bool> sameStem(extensions.size(), false);
    std::vector<std::string> names;
    CFileSystem::ListFolder(CPathName::FromPath(folder), names);
    for (const std::string& strName : names) {
        for (size_t i = 0; i < extensions.size(); ++i) {
            if (sameStem[i] || !EqualsIgnoringCase(strName, strStemName + extensions[i]))
                continue;
            if (!CFileSystem::IsRegularFile(InFolderOf(stem, strName)))
                continue;
            // Of several spellings, the one whose stem has the table's own
            // letter case wins; otherwise the first listed.
            const bool bSameStem = strName.compare(0, strStemName.size(), strStemName) == 0;
            if (found[i].empty() || bSameStem) {
                found[i] = InFolderOf(stem, strName);
                sameStem[i] = bSameStem;
            }
        }
    }
    for (const std::string& strFound : found)
        if (!strFound.empty())
            return strFound;
    return std::string();
}

std::vector<std::string> CDBFTableDef::FindIndexFiles(const std::string& strTablePath)
{
    namespace fs = std::filesystem; // names only; the system through CFileSystem
    const fs::path stem = CPathName::ToPath(BuildMemoPath(strTablePath, ""));
    const std::string strStemName = CPathName::FromPath(stem.filename()); // "name."
    const fs::path folder = stem.has_parent_path() ? stem.parent_path() : fs::path(".");
    std::vector<std::string> found;
    std::vector<std::string> names;
    CFileSystem::ListFolder(CPathName::FromPath(folder), names);
    for (const std::string& strName : names) {
        if (strName.size() != strStemName.size() + 3
            || !EqualsIgnoringCase(strName.substr(0, strStemName.size()), strStemName))
            continue;
        const std::string strExt = strName.substr(strStemName.size());
        bool bIndex = false;
        for (const char* lpszExt : {"cdx", "idx", "ntx", "mdx", "ndx"})
            bIndex = bIndex || EqualsIgnoringCase(strExt, lpszExt);
        if (bIndex && CFileSystem::IsRegularFile(InFolderOf(stem, strName)))
            found.push_back(InFolderOf(stem, strName));
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string CDBFTableDef::BuildMemoPath(const std::string& strTablePath, const char* lpszExtension)
{
    // Only a "." inside the file name counts, not one in a folder name.
    const size_t nSlash = CFileSystem::LastSeparator(strTablePath);
    const size_t nDot = strTablePath.find_last_of('.');
    const bool bHasDot = nDot != std::string::npos && (nSlash == std::string::npos || nDot > nSlash);
    const std::string strStem = bHasDot ? strTablePath.substr(0, nDot) : strTablePath;
    return strStem + "." + lpszExtension;
}

void CDBFTableDef::ResetState()
{
    m_header.Clear();
    m_fields.clear();
    m_recordBuffer.clear();
    m_binaryValue.clear();
    m_bOpened = false;
    m_bCreated = false;
    m_bNewTable = false;
    m_nNewMemoBlockSize = 0;
    m_memoKind = dbfformat::MemoKind::None;
    m_strMemoPath.clear();
    m_bMemoMissing = false;
}

void CDBFTableDef::Close()
{
    std::unique_ptr<CMemoFile> pMemo = std::move(m_pMemoFile);
    const bool bWasOpen = m_file.IsOpen();
    ResetState();
    if (pMemo && pMemo->IsMemoOpen())
        pMemo->Close();
    pMemo.reset();
    if (bWasOpen)
        m_file.Close();
}

void CDBFTableDef::Open(const std::string& strPath, unsigned nOpenFlags)
{
    const unsigned nCallerFlags = nOpenFlags;
    m_nOpenFlags = nOpenFlags | CFile::typeBinary;
    if (IsOpen())
        return;
    try {
        OpenFile(strPath);
        const uint64_t nFileLength = m_file.GetLength();
        ReadDescriptors(nFileLength);
        CheckFileEnd(nFileLength);
        OpenMemo(nCallerFlags);
        m_recordBuffer.assign(m_header.GetRecordLength(), 0);
        m_bOpened = true;
    } catch (const CFileException& e) {
        // An I/O fault leaves the table closed; the caller tests IsOpen.
        e.ReportError(m_pReporter);
        m_file.Abort();
        Close();
    } catch (...) {
        m_file.Abort();
        Close();
        throw;
    }
}

void CDBFTableDef::OpenFile(const std::string& strPath)
{
    if (!m_file.Open(strPath, m_nOpenFlags))
        ThrowDBFException(DBF_ERR_OPEN);
    if (m_file.Read(m_header.Data(), DBFHeader::kSize) < DBFHeader::kSize)
        ThrowDBFException(DBF_ERR_HEADER_SHORT);
    // A record length of 1 is the deletion flag alone: a table without
    // fields (shapefile attribute tables may have none).
    if (m_header.GetRecordLength() < 1 || m_header.GetRecordCount() < 0)
        ThrowDBFException(DBF_ERR_HEADER_BAD);
    // The file holds the header and the records; what follows them is
    // looked at once the descriptors are read.
    const uint64_t nExpected = static_cast<uint64_t>(m_header.GetHeaderLength())
        + static_cast<uint64_t>(m_header.GetRecordCount()) * m_header.GetRecordLength();
    if (m_file.GetLength() < nExpected)
        ThrowDBFException(DBF_ERR_HEADER_BAD);
}

void CDBFTableDef::CheckFileEnd(uint64_t nFileLength)
{
    // At most one end-of-file byte follows the records; a file with no mark
    // is accepted (dbase_31.dbf, written by Visual FoxPro, has none). More
    // bytes (a second mark, junk a transfer appended) are left unread, as
    // dbfread leaves them, when the header agrees with its descriptors: the
    // terminator follows them and their widths make the record length.
    // Otherwise the header's numbers cannot be trusted to find the records.
    const uint64_t nExpected = static_cast<uint64_t>(m_header.GetHeaderLength())
        + static_cast<uint64_t>(m_header.GetRecordCount()) * m_header.GetRecordLength();
    if (nFileLength <= nExpected + 1)
        return;
    uint64_t nWidths = 1;
    for (const auto& fd : m_fields)
        nWidths += fd.GetWidth();
    unsigned char chNext = 0;
    m_file.Seek(static_cast<int64_t>(DBFHeader::kSize + m_fields.size() * DBFFieldDescriptor::kSize), CFile::begin);
    if (m_file.Read(&chNext, 1) < 1 || chNext != kHeaderTerminator || nWidths != m_header.GetRecordLength())
        ThrowDBFException(DBF_ERR_HEADER_BAD);
}

void CDBFTableDef::ReadDescriptors(uint64_t nFileLength)
{
    const uint32_t nHeaderLength = m_header.GetHeaderLength();
    const uint32_t nRecordLength = m_header.GetRecordLength();
    m_fields.clear();
    if (IsVisualFoxProVersion(m_header.GetVersion())) {
        // Room for the header, the terminator and the area at least.
        if (nHeaderLength < dbfformat::kVisualFoxProLeastHeaderLength)
            ThrowDBFException(DBF_ERR_VFP_NO_FIELD);
        const uint64_t nExpected = nHeaderLength + static_cast<uint64_t>(m_header.GetRecordCount()) * nRecordLength;
        if (nFileLength < nExpected)
            ThrowDBFException(DBF_ERR_VFP_SHORT);
        const size_t nCount = (nHeaderLength - dbfformat::kVisualFoxProLeastHeaderLength) / DBFFieldDescriptor::kSize;
        // The terminator ends the list even where the header length would
        // leave room for more, so it is never taken for a field.
        WalkDescriptors(nCount);
        // A header with no room for a descriptor is a table without fields
        // only when the terminator follows the header; anything else there
        // is a descriptor the header length cuts off.
        if (nCount == 0) {
            unsigned char chNext = 0;
            m_file.Seek(DBFHeader::kSize, CFile::begin);
            if (m_file.Read(&chNext, 1) < 1 || chNext != kHeaderTerminator)
                ThrowDBFException(DBF_ERR_VFP_NO_FIELD);
        }
    } else {
        // A dBASE header needs the 32-byte header and the terminator at least.
        if (nHeaderLength < DBFHeader::kSize + 1)
            ThrowDBFException(DBF_ERR_HEADER_BAD);
        WalkDescriptors((nHeaderLength - DBFHeader::kSize - 1) / DBFFieldDescriptor::kSize);
        uint64_t nOffset = 1;
        for (auto& fd : m_fields) {
            fd.SetOffset(static_cast<uint32_t>(std::min<uint64_t>(nOffset, 0xFFFFFFFF)));
            nOffset += fd.GetWidth();
        }
    }
    // Without fields a record is its deletion flag alone; a longer one means
    // the descriptors that would describe it are lost.
    if (m_fields.empty() && nRecordLength != 1)
        ThrowDBFException(DBF_ERR_DESCRIPTORS);
    // Every field must lie inside the record after the deletion flag, so that
    // no damaged or hostile descriptor makes a field access leave the record
    // buffer; and the one-byte widths must be what the width rule allows.
    for (const auto& fd : m_fields) {
        if (DBFFieldDescriptor::UsesLengthByte(fd.GetType()) && fd.GetLength() >= 128)
            ThrowDBFException(DBF_ERR_DESCRIPTORS);
        if (fd.GetOffset() < 1 || static_cast<uint64_t>(fd.GetOffset()) + fd.GetWidth() > nRecordLength)
            ThrowDBFException(DBF_ERR_DESCRIPTORS);
    }
}

void CDBFTableDef::WalkDescriptors(size_t nMaxDescriptors)
{
    dbfformat::WalkDescriptors(
        nMaxDescriptors,
        [this](uint64_t nOffset, DBFFieldDescriptor& fd) -> long {
            m_file.Seek(static_cast<int64_t>(nOffset), CFile::begin);
            if (m_file.Read(fd.Data(), DBFFieldDescriptor::kSize) < DBFFieldDescriptor::kSize)
                ThrowDBFException(DBF_ERR_DESCRIPTORS);
            return static_cast<long>(DBFFieldDescriptor::kSize);
        },
        [this](const DBFFieldDescriptor& fd, long) {
            m_fields.push_back(fd);
            return true;
        });
}

void CDBFTableDef::OpenMemo(unsigned nCallerFlags)
{
    uint8_t nFlags = m_header.GetTableFlags();
    // Visual FoxPro tables written by python-dbf (and other writers) leave
    // the memo flag out although they have memo fields and an .FPT file;
    // their memo fields would all read as empty. Memo fields call for the
    // memo file whatever the flag says.
    if (IsVisualFoxProVersion(m_header.GetVersion()) && !(nFlags & DBFHeader::kFlagMemo)) {
        const bool bHasMemoField = std::any_of(m_fields.begin(), m_fields.end(), [](const DBFFieldDescriptor& fd) {
            // B is the double in Visual FoxPro, whatever its length.
            return fd.GetType() != 'B' && dbfformat::IsEngineMemoType(fd.GetType(), fd.GetLength());
        });
        if (bHasMemoField)
            nFlags |= DBFHeader::kFlagMemo;
    }
    m_memoKind = dbfformat::MemoKindForVersion(m_header.GetVersion(), nFlags);
    if (m_memoKind == dbfformat::MemoKind::None)
        return;
    m_strMemoPath = FindMemoFile(m_file.GetFilePath(), dbfformat::MemoKindExtension(m_memoKind));
    if (m_strMemoPath.empty())
        m_strMemoPath = BuildMemoPath(m_file.GetFilePath(), dbfformat::MemoKindExtension(m_memoKind));
    if (m_bMemoOptional && !MemoFileExists(m_strMemoPath)) {
        m_bMemoMissing = true;
        return;
    }
    m_pMemoFile = MakeMemoFile(m_memoKind);
    m_pMemoFile->SetReporter(m_pReporter);
    m_pMemoFile->OpenMemoFile(m_strMemoPath, nCallerFlags);
}

bool CDBFTableDef::Create(const std::string& strPath)
{
    Close();
    m_nOpenFlags = CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary;
    if (!m_file.Open(strPath, CFile::modeCreate | m_nOpenFlags))
        ThrowDBFException(DBF_ERR_CREATE);
    m_header.Clear();
    m_header.SetVersion(0x03);
    const std::tm local = CLocalTime::Now();
    m_header.SetUpdateDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    m_header.SetRecordCount(0);
    m_header.SetHeaderLength(33);
    m_header.SetRecordLength(0);
    m_bNewTable = true;
    return true;
}

void CDBFTableDef::SetNewTableKind(uint8_t nVersion, uint8_t nTableFlags)
{
    if (!m_bNewTable)
        throw std::logic_error("SetNewTableKind: no table is being created");
    m_header.SetVersion(nVersion);
    m_header.SetTableFlags(nTableFlags);
}

void CDBFTableDef::SetNewMemoBlockSize(uint32_t nBlockSize)
{
    if (!m_bNewTable)
        throw std::logic_error("SetNewMemoBlockSize: no table is being created");
    m_nNewMemoBlockSize = nBlockSize;
}

void CDBFTableDef::CreateField(const DBFFieldDescriptor& fd)
{
    if (!m_bNewTable)
        throw std::logic_error("CreateField: no table is being created");
    // The header length and the record length are 16-bit numbers; a field
    // that would overflow either is refused, not written as a broken table.
    uint64_t nRecordLength = 1;
    for (const auto& f : m_fields)
        nRecordLength += DBFFieldDescriptor::UsesLengthByte(f.GetType()) ? f.GetLength() : f.GetWidth16();
    nRecordLength += DBFFieldDescriptor::UsesLengthByte(fd.GetType()) ? fd.GetLength() : fd.GetWidth16();
    const uint64_t nHeaderLength = 32 * (m_fields.size() + 1) + 33 + dbfformat::kVisualFoxProAreaSize;
    if (nRecordLength > kMaxRecordLength || nHeaderLength > 0xFFFF)
        ThrowDBFException(DBF_ERR_CREATE, "The fields do not fit in one DBF record or header.");
    m_fields.push_back(fd);
}

void CDBFTableDef::Append()
{
    if (!m_bNewTable)
        throw std::logic_error("Append: no table is being created");
    uint32_t nOffset = 1;
    bool bMemoNeeded = false;
    bool bVisualFoxPro = false;
    for (auto& fd : m_fields) {
        fd.SetOffset(nOffset);
        const char chType = fd.GetType();
        // The engine lays out the Visual FoxPro types it decodes (V, Q and W
        // it only carries), and its G is Visual FoxPro's general field with
        // the binary flag, so G makes a Visual FoxPro table too.
        if (chType == 'G' || (dbfformat::IsVisualFoxProType(chType, fd.GetLength()) && dbfformat::IsDecodedType(chType))) {
            bVisualFoxPro = true;
            fd.SetFlags(fd.GetFlags() | DBFFieldDescriptor::kFlagBinary);
        }
        if (chType == '0')
            fd.SetFlags(fd.GetFlags() | DBFFieldDescriptor::kFlagSystem);
        // _NullFlags has always asked for the memo file here, as the memo
        // types do; B asks for none.
        if (chType == '0' || (chType != 'B' && dbfformat::IsEngineMemoType(chType, fd.GetLength())))
            bMemoNeeded = true;
        switch (chType) {
        case 'B':
            nOffset += fd.GetLength() == 8 ? fd.GetLength() : fd.GetWidth16();
            break;
        case 'I':
        case 'T':
        case 'Y':
        case 'F':
        case 'N':
            nOffset += fd.GetLength();
            break;
        default:
            nOffset += fd.GetWidth16();
            break;
        }
    }

    uint8_t nVersion = m_header.GetVersion();
    dbfformat::MemoKind memoKind = dbfformat::MemoKind::None;
    if (bVisualFoxPro || IsVisualFoxProVersion(nVersion)) {
        // 0x31 and 0x32 (autoincrement, varchar) stay what the caller chose.
        if (!IsVisualFoxProVersion(nVersion))
            nVersion = 0x30;
        if (bMemoNeeded)
            m_header.SetTableFlags(m_header.GetTableFlags() | DBFHeader::kFlagMemo);
        memoKind = (m_header.GetTableFlags() & DBFHeader::kFlagDatabaseContainer) ? dbfformat::MemoKind::VisualFoxProDbc
                                                                                  : dbfformat::MemoKind::VisualFoxPro;
    } else if (bMemoNeeded) {
        nVersion = dbfformat::MemoFormOfVersion(nVersion);
        memoKind = dbfformat::MemoKindForVersion(nVersion, 0);
        if (memoKind == dbfformat::MemoKind::None)
            memoKind = dbfformat::MemoKind::DBase3;
    } else {
        nVersion = dbfformat::NoMemoFormOfVersion(nVersion);
    }
    m_header.SetVersion(nVersion);

    const uint32_t nHeaderLength = static_cast<uint32_t>(DBFFieldDescriptor::kSize * m_fields.size() + 33)
        + (IsVisualFoxProVersion(nVersion) ? dbfformat::kVisualFoxProAreaSize : 0);
    m_header.SetHeaderLength(static_cast<uint16_t>(nHeaderLength));
    m_header.SetRecordLength(static_cast<uint16_t>(nOffset));

    if (bMemoNeeded) {
        m_memoKind = memoKind;
        m_strMemoPath = BuildMemoPath(m_file.GetFilePath(), dbfformat::MemoKindExtension(memoKind));
        m_pMemoFile = MakeMemoFile(memoKind);
        m_pMemoFile->SetReporter(m_pReporter);
        if (m_nNewMemoBlockSize != 0)
            m_pMemoFile->SetNewBlockSize(m_nNewMemoBlockSize);
        m_pMemoFile->CreateMemoFile(m_strMemoPath);
    }

    m_file.Seek(0, CFile::begin);
    m_file.Write(m_header.Data(), DBFHeader::kSize);
    for (const auto& fd : m_fields)
        m_file.Write(fd.Data(), DBFFieldDescriptor::kSize);
    std::vector<unsigned char> tail(nHeaderLength - DBFFieldDescriptor::kSize * (m_fields.size() + 1), 0);
    tail[0] = kHeaderTerminator;
    m_file.Write(tail.data(), tail.size());
    m_file.Write(&dbfformat::kEndOfFile, 1);
    m_file.SetLength(nHeaderLength
                     + static_cast<uint64_t>(m_header.GetRecordCount()) * m_header.GetRecordLength() + 1);

    m_bCreated = true;
    m_recordBuffer.assign(m_header.GetRecordLength(), 0);
    m_bNewTable = false;
}

bool CDBFTableDef::ReadHeader()
{
    try {
        m_file.Seek(0, CFile::begin);
        DBFHeader header;
        if (m_file.Read(header.Data(), DBFHeader::kSize) < DBFHeader::kSize)
            return false;
        m_header = header;
        return true;
    } catch (const CFileException&) {
        ThrowDBFException(DBF_ERR_HEADER_IO);
    }
}

void CDBFTableDef::WriteHeader()
{
    try {
        m_file.Seek(0, CFile::begin);
        m_file.Write(m_header.Data(), DBFHeader::kSize);
    } catch (const CFileException&) {
        ThrowDBFException(DBF_ERR_HEADER_IO);
    }
}

void CDBFTableDef::ReadRecord(int32_t nIndex, std::span<unsigned char> buffer)
{
    const uint32_t nRecordLength = m_header.GetRecordLength();
    if (buffer.size() < nRecordLength)
        throw std::length_error("ReadRecord: the buffer is shorter than a record");
    if (nIndex < 0)
        ThrowDBFException(DBF_ERR_RECORD_EOF);
    const uint64_t nPos = m_header.GetHeaderLength() + static_cast<uint64_t>(nIndex) * nRecordLength;
    try {
        m_file.Seek(static_cast<int64_t>(nPos), CFile::begin);
        const size_t nRead = m_file.Read(buffer.data(), nRecordLength);
        if (nRead < nRecordLength) {
            if (nPos + nRecordLength > m_file.GetLength() || nPos < DBFHeader::kSize)
                ThrowDBFException(DBF_ERR_RECORD_EOF);
            ThrowDBFException(DBF_ERR_RECORD_READ);
        }
    } catch (const CFileException&) {
        ThrowDBFException(DBF_ERR_RECORD_READ);
    }
}

void CDBFTableDef::WriteRecord(int32_t nIndex, std::span<const unsigned char> buffer)
{
    const uint32_t nRecordLength = m_header.GetRecordLength();
    if (buffer.size() < nRecordLength)
        throw std::length_error("WriteRecord: the buffer is shorter than a record");
    if (nIndex < 0)
        ThrowDBFException(DBF_ERR_RECORD_WRITE);
    const uint64_t nPos = m_header.GetHeaderLength() + static_cast<uint64_t>(nIndex) * nRecordLength;
    try {
        m_file.Seek(static_cast<int64_t>(nPos), CFile::begin);
        m_file.Write(buffer.data(), nRecordLength);
    } catch (const CFileException&) {
        ThrowDBFException(DBF_ERR_RECORD_WRITE);
    }
}

const DBFFieldDescriptor& CDBFTableDef::GetFieldInfo(int nIndex) const
{
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_fields.size())
        throw std::out_of_range("field index " + std::to_string(nIndex) + " is outside 0.."
                                + std::to_string(static_cast<int>(m_fields.size()) - 1));
    return m_fields[static_cast<size_t>(nIndex)];
}

int CDBFTableDef::FindField(const std::string& strName) const
{
    for (size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].GetName() == strName)
            return static_cast<int>(i);
    return -1;
}

size_t CDBFTableDef::LoadFieldValue(std::span<const unsigned char> record, const DBFFieldDescriptor& fd,
                                    FieldValue& value)
{
    size_t nLength = DecodeField(record, fd, value);
    const char chType = fd.GetType();
    if (!dbfformat::IsEngineMemoType(chType, fd.GetLength()))
        return nLength;
    const bool bBinaryMemo = chType != 'M';

    // The block (and, for the binary reference, the stored length).
    uint32_t nBlock = 0;
    uint32_t nMemoLength = 0;
    if (value.GetKind() == FieldKind::Unsigned) {
        nBlock = value.GetUnsigned();
    } else if (value.GetKind() == FieldKind::MemoRef && value.GetMemoBlock() > 0) {
        nBlock = static_cast<uint32_t>(value.GetMemoBlock());
        nMemoLength = static_cast<uint32_t>(std::max(value.GetMemoLength(), 0));
    }

    if (bBinaryMemo)
        m_binaryValue.clear();
    if (nBlock == 0 || !m_pMemoFile) {
        // No value, or a memo file that was allowed to be missing.
        value = FieldValue();
        return 0;
    }
    if (IsEmptyFoxProValue(*m_pMemoFile, nBlock)) {
        value = chType == 'M' ? FieldValue::MakeText({}) : FieldValue::MakeBytes(m_binaryValue.data(), 0);
        return 0;
    }
    if (chType == 'M') {
        std::string strText;
        m_pMemoFile->ReadMemoText(nBlock, nMemoLength, strText);
        if (const size_t nNul = strText.find('\0'); nNul != std::string::npos && !m_bMemoTextWhole)
            strText.resize(nNul);
        value = FieldValue::MakeText(std::move(strText));
        nLength = nMemoLength;
    } else {
        m_pMemoFile->ReadMemoBytes(nBlock, nMemoLength, m_binaryValue);
        value = FieldValue::MakeBytes(m_binaryValue.data(), m_binaryValue.size());
        nLength = m_binaryValue.size();
    }
    return nLength;
}

void CDBFTableDef::StoreFieldValue(std::span<unsigned char> record, const DBFFieldDescriptor& fd,
                                   const FieldValue& value)
{
    const char chType = fd.GetType();
    if (chType != 'M' && dbfformat::IsEngineMemoType(chType, fd.GetLength()))
        return; // binary memo contents are not written through the engine
    if (chType != 'M') {
        EncodeField(record, fd, value);
        return;
    }
    if (value.GetKind() != FieldKind::Text)
        return;
    if (!m_pMemoFile || !m_pMemoFile->IsMemoOpen())
        ThrowDBFException(DBF_ERR_MEMO_WRITE,
                          ("The memo file is not open; field \"" + fd.GetName() + "\" cannot be written.").c_str());

    const std::string& strText = value.GetText();
    FieldValue current;
    DecodeField(record, fd, current);
    // SIx memo values keep their length in the record only, so their fields
    // always take the 10-byte binary reference; a block number alone (the
    // blank form of a new record) would lose the length.
    const bool bBinaryReference = current.GetKind() == FieldKind::MemoRef
        || (m_memoKind == dbfformat::MemoKind::SIx && fd.GetWidth() == 10);
    if (bBinaryReference) {
        uint32_t nBlock = 0;
        uint32_t nStoredLength = 0;
        if (current.GetKind() == FieldKind::MemoRef) {
            nBlock = static_cast<uint32_t>(std::max(current.GetMemoBlock(), 0));
            nStoredLength = static_cast<uint32_t>(std::max(current.GetMemoLength(), 0));
        } else if (current.GetKind() == FieldKind::Unsigned) {
            nBlock = current.GetUnsigned();
        }
        if (nBlock == 0 || nStoredLength == 0)
            nStoredLength = static_cast<uint32_t>(strText.size());
        m_pMemoFile->WriteMemoText(nBlock, nStoredLength, strText);
        EncodeField(record, fd, FieldValue::MakeMemoRef(static_cast<int32_t>(nStoredLength), static_cast<int32_t>(nBlock)));
        return;
    }
    uint32_t nBlock = current.GetKind() == FieldKind::Unsigned ? current.GetUnsigned() : 0;
    uint32_t nLength = static_cast<uint32_t>(strText.size());
    m_pMemoFile->WriteMemoText(nBlock, nLength, strText);
    EncodeField(record, fd, FieldValue::MakeUnsigned(nBlock));
}
