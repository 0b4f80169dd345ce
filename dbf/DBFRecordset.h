#pragma once
// One current record of a DBF table: opens the table through its own
// CDBFTableDef, keeps the current record in the table's record buffer, reads
// and writes field values of that buffer (memo fields through the memo
// file), adds records, writes edited ones back and marks records deleted.
//
// Filling a table:  Open(path, modeReadWrite | shareDenyNone);
//                   for each row: AddNew(); SetFieldValue(i, v)...; Update();
// Reading a table:  Open(path, modeRead | shareDenyNone);
//                   for (MoveFirst(); !IsEOF(); MoveNext()) GetFieldValue(i)...
//
// Checked arguments: a field index outside 0 .. field count - 1 raises
// std::out_of_range; a by-name lookup of a name no field has raises
// std::out_of_range naming the field; a record index outside 0 .. record
// count - 1 (Move) and any record operation on a closed recordset raise
// std::out_of_range / std::logic_error. Errors of the table and memo file
// arrive as CDBFException, refused conversions as
// CVariantConversionException.

#include "dbf/DBFTableDef.h"
#include "dbf/FieldValue.h"

#include <cstdint>
#include <memory>
#include <string>

class CDBFRecordset {
public:
    enum EditMode { noEditMode = 0, edit = 1, addNew = 2 };

    CDBFRecordset();
    virtual ~CDBFRecordset();
    CDBFRecordset(const CDBFRecordset&) = delete;
    CDBFRecordset& operator=(const CDBFRecordset&) = delete;

    // Opens the table (the default path when strPath is empty) and positions
    // on record 0; with no record the current index is 0 and BOF and EOF
    // stay true. CDBFException from the table passes to the caller; an I/O
    // fault leaves the recordset closed (IsOpen false).
    void Open(const std::string& strPath, unsigned nOpenFlags);
    void Close();
    bool IsOpen() const;

    int32_t GetRecordCount() const;
    int GetFieldCount() const;
    // REQUIRES 0 <= nIndex < GetFieldCount(); otherwise std::out_of_range.
    const DBFFieldDescriptor& GetFieldInfo(int nIndex) const;
    // The underlying table (null when closed).
    CDBFTableDef* GetTableDef() const { return m_pTableDef.get(); }

    // Navigation. MoveFirst reads record 0. Move reads record nIndex
    // (0 <= nIndex < record count, else std::out_of_range); MoveNext reads
    // the next record or, past the last one, sets EOF and leaves the
    // buffer as it was.
    void MoveFirst();
    void Move(int32_t nIndex);
    void MoveNext();
    bool IsBOF() const { return m_bBOF; }
    bool IsEOF() const { return m_bEOF; }
    int32_t GetCurrentIndex() const { return m_nCurrentIndex; }
    EditMode GetEditMode() const { return m_nEditMode; }
    // The current record's deletion flag is "*".
    bool IsDeleted() const;

    virtual void AddNew();
    virtual void Edit();
    virtual void Update();
    virtual void CancelUpdate();
    virtual void Delete();
    virtual void Undelete();

    // The field's value; returns the number of bytes of the value (field
    // width, or the memo length for memo values).
    virtual size_t GetFieldValue(int nIndex, FieldValue& value);
    virtual size_t GetFieldValue(const std::string& strName, FieldValue& value);
    virtual FieldValue GetFieldValue(int nIndex);
    virtual FieldValue GetFieldValue(const std::string& strName);

    // Stores the value in the record buffer (memo text reaches the memo file
    // at once); the record reaches the file at Update.
    virtual void SetFieldValue(int nIndex, const FieldValue& value);
    virtual void SetFieldValue(const std::string& strName, const FieldValue& value);

    // The path used when Open is given none: empty.
    virtual std::string GetDefaultTablePath();
    // Raises CDBFException with the code and, when given, the text.
    [[noreturn]] virtual void ThrowDBFException(int32_t nErrorCode, const char* lpszText = nullptr);

private:
    void CheckOpen() const;
    void CheckFieldIndex(int nIndex) const;
    int FieldIndexOrThrow(const std::string& strName) const;
    void CheckCurrentRecord() const;

    std::unique_ptr<CDBFTableDef> m_pTableDef;
    bool m_bBOF = true;
    bool m_bEOF = true;
    int32_t m_nCurrentIndex = -1;
    EditMode m_nEditMode = noEditMode;
};
