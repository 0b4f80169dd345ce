#include "dbf/DBFRecordset.h"

#include "dbf/DBFException.h"
#include "dbf/DBFFormat.h"
#include "dbf/FieldCodec.h"
#include "dbf/MemoFile.h"

#include <algorithm>
#include <stdexcept>

namespace {

using dbfformat::kDeletedFlag;
using dbfformat::kLiveFlag;

} // namespace

CDBFRecordset::CDBFRecordset() = default;

CDBFRecordset::~CDBFRecordset()
{
    try {
        Close();
    } catch (...) {
        // A destructor must not throw.
    }
}

void CDBFRecordset::Open(const std::string& strPath, unsigned nOpenFlags)
{
    if (IsOpen())
        return;
    const std::string strTablePath = strPath.empty() ? GetDefaultTablePath() : strPath;
    auto pTable = std::make_unique<CDBFTableDef>();
    pTable->Open(strTablePath, nOpenFlags);
    if (!pTable->IsOpen())
        return;
    m_pTableDef = std::move(pTable);
    m_nEditMode = noEditMode;
    if (m_pTableDef->GetRecordCount() > 0) {
        try {
            MoveFirst();
        } catch (...) {
            Close();
            throw;
        }
    } else {
        m_nCurrentIndex = 0;
        m_bBOF = true;
        m_bEOF = true;
    }
}

void CDBFRecordset::Close()
{
    std::unique_ptr<CDBFTableDef> pTable = std::move(m_pTableDef);
    m_nEditMode = noEditMode;
    m_nCurrentIndex = -1;
    m_bBOF = true;
    m_bEOF = true;
    if (pTable)
        pTable->Close();
}

bool CDBFRecordset::IsOpen() const
{
    return m_pTableDef && m_pTableDef->IsOpen();
}

void CDBFRecordset::CheckOpen() const
{
    if (!IsOpen())
        throw std::logic_error("the recordset is not open");
}

void CDBFRecordset::CheckFieldIndex(int nIndex) const
{
    CheckOpen();
    if (nIndex < 0 || nIndex >= m_pTableDef->GetFieldCount())
        throw std::out_of_range("field index " + std::to_string(nIndex) + " is outside 0.."
                                + std::to_string(m_pTableDef->GetFieldCount() - 1));
}

int CDBFRecordset::FieldIndexOrThrow(const std::string& strName) const
{
    CheckOpen();
    const int nIndex = m_pTableDef->FindField(strName);
    if (nIndex < 0)
        throw std::out_of_range("the table has no field named \"" + strName + "\"");
    return nIndex;
}

void CDBFRecordset::CheckCurrentRecord() const
{
    CheckOpen();
    if (m_nCurrentIndex < 0 || m_nCurrentIndex >= m_pTableDef->GetRecordCount())
        throw std::out_of_range("record index " + std::to_string(m_nCurrentIndex) + " is outside the table's "
                                + std::to_string(m_pTableDef->GetRecordCount()) + " records");
}

int32_t CDBFRecordset::GetRecordCount() const
{
    CheckOpen();
    return m_pTableDef->GetRecordCount();
}

int CDBFRecordset::GetFieldCount() const
{
    CheckOpen();
    return m_pTableDef->GetFieldCount();
}

const DBFFieldDescriptor& CDBFRecordset::GetFieldInfo(int nIndex) const
{
    CheckFieldIndex(nIndex);
    return m_pTableDef->GetFieldInfo(nIndex);
}

void CDBFRecordset::MoveFirst()
{
    Move(0);
}

void CDBFRecordset::Move(int32_t nIndex)
{
    CheckOpen();
    if (nIndex < 0 || nIndex >= m_pTableDef->GetRecordCount())
        throw std::out_of_range("record index " + std::to_string(nIndex) + " is outside the table's "
                                + std::to_string(m_pTableDef->GetRecordCount()) + " records");
    m_nEditMode = noEditMode;
    m_pTableDef->ReadRecord(nIndex, m_pTableDef->GetRecordBuffer());
    m_nCurrentIndex = nIndex;
    m_bBOF = false;
    m_bEOF = false;
}

void CDBFRecordset::MoveNext()
{
    CheckOpen();
    if (m_bEOF && m_nCurrentIndex >= m_pTableDef->GetRecordCount())
        return;
    const int64_t nNext = static_cast<int64_t>(m_nCurrentIndex) + 1;
    if (nNext >= m_pTableDef->GetRecordCount()) {
        m_nEditMode = noEditMode;
        m_nCurrentIndex = m_pTableDef->GetRecordCount();
        m_bEOF = true;
        return;
    }
    Move(static_cast<int32_t>(nNext));
}

bool CDBFRecordset::IsDeleted() const
{
    CheckOpen();
    const auto& buffer = m_pTableDef->GetRecordBuffer();
    return !buffer.empty() && buffer[0] == kDeletedFlag;
}

void CDBFRecordset::AddNew()
{
    CheckOpen();
    m_nEditMode = addNew;
    auto& buffer = m_pTableDef->GetRecordBuffer();
    std::fill(buffer.begin(), buffer.end(), 0);
    for (const auto& fd : m_pTableDef->GetFields())
        EncodeField(buffer, fd, FieldValue());
    buffer[0] = kLiveFlag;
}

void CDBFRecordset::Edit()
{
    CheckOpen();
    m_nEditMode = edit;
}

void CDBFRecordset::Update()
{
    CheckOpen();
    const EditMode mode = m_nEditMode;
    m_nEditMode = noEditMode;
    if (mode == edit) {
        CheckCurrentRecord();
        m_pTableDef->ReadHeader();
        m_pTableDef->WriteRecord(m_nCurrentIndex, m_pTableDef->GetRecordBuffer());
    } else if (mode == addNew) {
        m_pTableDef->ReadHeader();
        const int32_t nCount = m_pTableDef->GetRecordCount();
        if (nCount == INT32_MAX)
            ThrowDBFException(DBF_ERR_RECORD_WRITE, "The table cannot hold more records.");
        m_pTableDef->SetRecordCount(nCount + 1);
        m_nCurrentIndex = std::max(nCount, 0);
        m_pTableDef->WriteRecord(m_nCurrentIndex, m_pTableDef->GetRecordBuffer());
        m_pTableDef->WriteHeader();
        m_bBOF = false;
        m_bEOF = false;
    }
}

void CDBFRecordset::CancelUpdate()
{
    CheckCurrentRecord();
    m_pTableDef->ReadRecord(m_nCurrentIndex, m_pTableDef->GetRecordBuffer());
    m_nEditMode = noEditMode;
}

void CDBFRecordset::Delete()
{
    CheckCurrentRecord();
    auto& buffer = m_pTableDef->GetRecordBuffer();
    buffer[0] = kDeletedFlag;
    m_pTableDef->WriteRecord(m_nCurrentIndex, buffer);
}

void CDBFRecordset::Undelete()
{
    CheckCurrentRecord();
    auto& buffer = m_pTableDef->GetRecordBuffer();
    buffer[0] = kLiveFlag;
    m_pTableDef->WriteRecord(m_nCurrentIndex, buffer);
}

size_t CDBFRecordset::GetFieldValue(int nIndex, FieldValue& value)
{
    CheckFieldIndex(nIndex);
    return m_pTableDef->LoadFieldValue(m_pTableDef->GetRecordBuffer(), m_pTableDef->GetFieldInfo(nIndex), value);
}

size_t CDBFRecordset::GetFieldValue(const std::string& strName, FieldValue& value)
{
    return GetFieldValue(FieldIndexOrThrow(strName), value);
}

FieldValue CDBFRecordset::GetFieldValue(int nIndex)
{
    FieldValue value;
    GetFieldValue(nIndex, value);
    return value;
}

FieldValue CDBFRecordset::GetFieldValue(const std::string& strName)
{
    return GetFieldValue(FieldIndexOrThrow(strName));
}

void CDBFRecordset::SetFieldValue(int nIndex, const FieldValue& value)
{
    CheckFieldIndex(nIndex);
    m_pTableDef->StoreFieldValue(m_pTableDef->GetRecordBuffer(), m_pTableDef->GetFieldInfo(nIndex), value);
}

void CDBFRecordset::SetFieldValue(const std::string& strName, const FieldValue& value)
{
    SetFieldValue(FieldIndexOrThrow(strName), value);
}

std::string CDBFRecordset::GetDefaultTablePath()
{
    return {};
}

void CDBFRecordset::ThrowDBFException(int32_t nErrorCode, const char* lpszText)
{
    ::ThrowDBFException(nErrorCode, lpszText);
}
