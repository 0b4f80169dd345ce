#include "repair/RepairedTableWriter.h"

#include "dbf/ByteCodec.h"
#include "dbf/DBFException.h"
#include "dbf/DBFFormat.h"
#include "dbf/DBFTableDef.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "repair/RepairPaths.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

using dbfformat::kEndOfFile;
using dbfformat::kLiveFlag;
constexpr unsigned char kTerminator = dbfformat::kHeaderTerminator;
constexpr unsigned char kSIxReferenceMark = 8;

bool HasLowerCase(const std::string& str)
{
    return std::any_of(str.begin(), str.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// The name of the table a repaired file stands for: its file name less the
// extension and, for a temporary repaired table, less the part before the
// source's name, so that the marker of a temporary file never reaches a
// memo header that keeps the table's name.
std::string TableNameOf(const std::string& strPath)
{
    std::string strName = PathFileName(strPath);
    const std::string strMarker = std::string(kTempNameMarker) + "_1_";
    const size_t nMarker = strName.find(strMarker);
    if (nMarker != std::string::npos)
        strName.erase(0, nMarker + strMarker.size());
    const size_t nDot = strName.find_last_of('.');
    if (nDot != std::string::npos)
        strName.erase(nDot);
    return strName;
}

} // namespace

CRepairedTableWriter::~CRepairedTableWriter()
{
    try {
        Close();
    } catch (...) {
        // The destructor runs on error paths; the first error is the one that counts.
    }
}

std::string CRepairedTableWriter::MemoPathFor(const std::string& strTablePath, dbfformat::MemoKind memoKind)
{
    std::string strExtension = dbfformat::MemoKindExtension(memoKind);
    const size_t nSlash = CFileSystem::LastSeparator(strTablePath);
    const size_t nDot = strTablePath.find_last_of('.');
    const bool bHasExtension = nDot != std::string::npos && (nSlash == std::string::npos || nDot > nSlash);
    if (bHasExtension && HasLowerCase(strTablePath.substr(nDot + 1))) {
        for (char& c : strExtension)
            c = static_cast<char>(c - 'A' + 'a');
    }
    return CDBFTableDef::BuildMemoPath(strTablePath, strExtension.c_str());
}

void CRepairedTableWriter::Create(const std::string& strPath, const RepairedTableLayout& layout)
{
    Close();
    m_nRecords = 0;
    m_header = layout.header;
    m_fields = layout.fields;

    const bool bVisualFoxPro = dbfformat::IsVisualFoxProVersion(m_header.GetVersion());
    m_offsets.clear();
    uint32_t nOffset = 1;
    for (DBFFieldDescriptor& fd : m_fields) {
        m_offsets.push_back(nOffset);
        if (bVisualFoxPro)
            fd.SetOffset(nOffset);
        nOffset += fd.GetWidth();
    }
    if (nOffset > std::numeric_limits<uint16_t>::max())
        ThrowDBFException(DBF_ERR_DESCRIPTORS, "The repaired record would be longer than 65535 bytes.");
    m_nHeaderLength = DBFHeader::kSize + DBFFieldDescriptor::kSize * m_fields.size() + 1 + layout.area.size();
    if (m_nHeaderLength > std::numeric_limits<uint16_t>::max())
        ThrowDBFException(DBF_ERR_DESCRIPTORS, "The repaired header would be longer than 65535 bytes.");

    const std::tm local = CLocalTime::Now();
    m_header.SetUpdateDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    m_header.SetRecordCount(0);
    m_header.SetHeaderLength(static_cast<uint16_t>(m_nHeaderLength));
    m_header.SetRecordLength(static_cast<uint16_t>(nOffset));

    m_record.assign(nOffset, 0);
    m_record[0] = kLiveFlag;

    CFileException error;
    if (!m_file.Open(strPath, CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary,
                     &error))
        throw error;
    // The new files are flushed to disk when they are saved: their disk
    // writes start while the salvage goes on.
    m_file.SetWriteBehind(true);
    std::vector<unsigned char> head;
    head.reserve(m_nHeaderLength + 1);
    head.insert(head.end(), m_header.m_bytes.begin(), m_header.m_bytes.end());
    for (const DBFFieldDescriptor& fd : m_fields)
        head.insert(head.end(), fd.m_bytes.begin(), fd.m_bytes.end());
    head.push_back(kTerminator);
    head.insert(head.end(), layout.area.begin(), layout.area.end());
    m_file.Write(head.data(), head.size());

    if (layout.memoKind != dbfformat::MemoKind::None) {
        m_strMemoPath = MemoPathFor(strPath, layout.memoKind);
        m_pMemo = MakeMemoFile(layout.memoKind);
        m_pMemo->SetReporter(m_pReporter);
        if (layout.nMemoBlockSize != 0)
            m_pMemo->SetNewBlockSize(layout.nMemoBlockSize);
        m_pMemo->SetTableName(TableNameOf(strPath));
        if (!m_pMemo->CreateMemoFile(m_strMemoPath))
            // The reason is reported already; the path is an internal one.
            ThrowDBFException(DBF_ERR_MEMO_CREATE, "The memo file of the repaired table cannot be written.");
        m_pMemo->SetWriteBehind(true);
        // The new memo file takes values one after another: its header is
        // written once, at the end.
        m_pMemo->BeginAppendOnly();
    }
}

void CRepairedTableWriter::StoreNoMemo(int nIndex)
{
    const std::span<unsigned char> field = FieldBytes(nIndex);
    // Four bytes and SIx references are binary zeros; ASCII references blank.
    const bool bBinary = field.size() == 4 || (m_pMemo && m_pMemo->GetMemoKind() == dbfformat::MemoKind::SIx);
    std::fill(field.begin(), field.end(), static_cast<unsigned char>(bBinary ? 0 : ' '));
}

void CRepairedTableWriter::StoreMemo(int nIndex, std::span<const unsigned char> bytes, uint32_t nBlockType)
{
    if (!m_pMemo) {
        StoreNoMemo(nIndex);
        return;
    }
    uint32_t nBlock = 0;
    uint32_t nLength = 0;
    m_pMemo->AppendMemoBytes(nBlock, nLength, bytes, nBlockType);
    if (nBlock == 0) {
        StoreNoMemo(nIndex);
        return;
    }
    const std::span<unsigned char> field = FieldBytes(nIndex);
    if (field.size() == 4) {
        dbfbytes::EncodeFixed32LE(field.data(), nBlock);
    } else if (m_pMemo->GetMemoKind() == dbfformat::MemoKind::SIx && field.size() == 10) {
        field[0] = kSIxReferenceMark;
        field[1] = 0;
        dbfbytes::EncodeFixed32LE(field.data() + 2, nLength);
        dbfbytes::EncodeFixed32LE(field.data() + 6, nBlock);
    } else {
        std::fill(field.begin(), field.end(), static_cast<unsigned char>(' '));
        const std::string strDigits = std::to_string(nBlock);
        if (strDigits.size() <= field.size())
            std::memcpy(field.data() + (field.size() - strDigits.size()), strDigits.data(), strDigits.size());
    }
}

void CRepairedTableWriter::Update()
{
    AppendRecordBytes(m_record.data());
}

void CRepairedTableWriter::AppendRecordBytes(const unsigned char* pRecord)
{
    if (m_nRecords >= std::numeric_limits<int32_t>::max())
        ThrowDBFException(DBF_ERR_RECORD_WRITE, "The repaired table cannot hold more than 2147483647 records.");
    m_file.Seek(static_cast<int64_t>(m_nHeaderLength + static_cast<uint64_t>(m_nRecords) * m_record.size()),
                CFile::begin);
    m_file.Write(pRecord, m_record.size());
    ++m_nRecords;
}

void CRepairedTableWriter::Close()
{
    if (m_file.IsOpen()) {
        // The records stay readable after a stop or an error: the count and
        // the end mark are written whatever ended the run.
        const uint64_t nEnd = m_nHeaderLength + static_cast<uint64_t>(m_nRecords) * m_record.size();
        m_file.Seek(static_cast<int64_t>(nEnd), CFile::begin);
        m_file.Write(&kEndOfFile, 1);
        m_file.SetLength(nEnd + 1);
        m_header.SetRecordCount(static_cast<int32_t>(m_nRecords));
        m_file.Seek(0, CFile::begin);
        m_file.Write(m_header.m_bytes.data(), DBFHeader::kSize);
        m_file.Close();
    }
    if (m_pMemo) {
        std::unique_ptr<CMemoFile> pMemo = std::move(m_pMemo);
        pMemo->FinishAppends();
        pMemo->Close();
    }
}
