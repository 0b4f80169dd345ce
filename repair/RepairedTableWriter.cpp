#include "repair/RepairedTableWriter.h"

#include "dbf/DBFException.h"
#include "dbf/FieldCodec.h"
#include "platform/File.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

constexpr unsigned char kLiveFlag = 0x20;
constexpr unsigned char kDeletedFlag = 0x2A;
constexpr unsigned kWriteFlags = CFile::modeReadWrite | CFile::shareDenyNone;

} // namespace

CRepairedTableWriter::CRepairedTableWriter(bool bThroughRecordset) : m_bThroughRecordset(bThroughRecordset) {}

CRepairedTableWriter::~CRepairedTableWriter()
{
    try {
        Close();
    } catch (...) {
        // The destructor runs on error paths; the first error is the one that counts.
    }
}

CDBFTableDef& CRepairedTableWriter::Table() const
{
    if (m_bThroughRecordset)
        return *m_pRecordset->GetTableDef();
    return *m_pTable;
}

void CRepairedTableWriter::Open(const std::string& strPath)
{
    Close();
    m_nRecords = 0;
    if (m_bThroughRecordset) {
        m_pRecordset = std::make_unique<CDBFRecordset>();
        m_pRecordset->Open(strPath, kWriteFlags);
        if (!m_pRecordset->IsOpen()) {
            m_pRecordset.reset();
            return;
        }
    } else {
        m_pTable = std::make_unique<CDBFTableDef>();
        m_pTable->Open(strPath, kWriteFlags);
        if (!m_pTable->IsOpen()) {
            m_pTable.reset();
            return;
        }
        // The blank record exactly as CDBFRecordset::AddNew makes it.
        CDBFTableDef& table = *m_pTable;
        m_blank.assign(table.GetHeader().GetRecordLength(), 0);
        for (const DBFFieldDescriptor& fd : table.GetFields())
            EncodeField(m_blank, fd, FieldValue());
        m_blank[0] = kLiveFlag;
        m_record = m_blank;
        m_slots.clear();
        for (const DBFFieldDescriptor& fd : table.GetFields()) {
            // Open has checked that every field lies inside the record.
            m_slots.push_back({fd.GetOffset(), fd.GetWidth()});
        }
        m_nRecords = table.GetRecordCount();
    }
    m_strMemoPath = Table().GetMemoFile() != nullptr ? Table().GetMemoPath() : std::string();
}

bool CRepairedTableWriter::IsOpen() const
{
    return m_bThroughRecordset ? (m_pRecordset && m_pRecordset->IsOpen()) : (m_pTable && m_pTable->IsOpen());
}

int CRepairedTableWriter::GetFieldCount() const
{
    return Table().GetFieldCount();
}

const DBFFieldDescriptor& CRepairedTableWriter::GetFieldInfo(int nIndex) const
{
    return Table().GetFieldInfo(nIndex);
}

int CRepairedTableWriter::FindField(const std::string& strName) const
{
    return Table().FindField(strName);
}

void CRepairedTableWriter::AddNew()
{
    m_bDeleted = false;
    if (m_bThroughRecordset) {
        m_pRecordset->AddNew();
        return;
    }
    std::memcpy(m_record.data(), m_blank.data(), m_record.size());
}

void CRepairedTableWriter::SetFieldValue(int nIndex, const FieldValue& value)
{
    if (m_bThroughRecordset) {
        m_pRecordset->SetFieldValue(nIndex, value);
        return;
    }
    m_pTable->StoreFieldValue(m_record, m_pTable->GetFieldInfo(nIndex), value);
}

void CRepairedTableWriter::MarkDeleted()
{
    m_bDeleted = true;
    if (!m_bThroughRecordset)
        m_record[0] = kDeletedFlag;
}

void CRepairedTableWriter::Update()
{
    if (m_nRecords >= std::numeric_limits<int32_t>::max())
        ThrowDBFException(DBF_ERR_RECORD_WRITE, "The repaired table cannot hold more than 2147483647 records.");
    if (m_bThroughRecordset) {
        m_pRecordset->Update();
        if (m_bDeleted)
            m_pRecordset->Delete();
    } else {
        m_pTable->WriteRecord(static_cast<int32_t>(m_nRecords), m_record);
    }
    ++m_nRecords;
}

void CRepairedTableWriter::Close()
{
    if (m_pRecordset) {
        std::unique_ptr<CDBFRecordset> pRecordset = std::move(m_pRecordset);
        pRecordset->Close();
    }
    if (m_pTable) {
        std::unique_ptr<CDBFTableDef> pTable = std::move(m_pTable);
        if (pTable->IsOpen()) {
            // The header as CDBFRecordset::Update leaves it: read back, with
            // the count of the records appended.
            pTable->ReadHeader();
            pTable->SetRecordCount(static_cast<int32_t>(m_nRecords));
            pTable->WriteHeader();
        }
        pTable->Close();
    }
}
