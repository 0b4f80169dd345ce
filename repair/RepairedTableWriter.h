#pragma once
// Appends the salvaged records to the new table.
//
// The record-by-record path of CDBFRecordset (AddNew, SetFieldValue,
// Update) re-reads and re-writes the 32-byte header for every record, which
// makes the file layer's window jump between the header and the end of the
// file: on a table of millions of records that costs more than the whole
// salvage. This writer produces the same bytes along a straight path: the
// blank record is what AddNew makes (zero bytes, every field encoded Empty,
// flag 0x20), values go through CDBFTableDef::StoreFieldValue exactly as
// SetFieldValue sends them, records are written one after another at their
// positions, and the header's record count is written once when the writer
// closes (also after a stop or an error, so the records written stay
// readable). bThroughRecordset selects the CDBFRecordset path instead;
// tests compare the two.

#include "dbf/DBFRecordset.h"
#include "dbf/DBFTableDef.h"
#include "dbf/FieldValue.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class CRepairedTableWriter {
public:
    explicit CRepairedTableWriter(bool bThroughRecordset = false);
    ~CRepairedTableWriter();
    CRepairedTableWriter(const CRepairedTableWriter&) = delete;
    CRepairedTableWriter& operator=(const CRepairedTableWriter&) = delete;

    // Opens the new table for reading and writing, shared (as the repair
    // opens it through CDBFRecordset). CDBFException passes to the caller;
    // IsOpen tells whether it opened.
    void Open(const std::string& strPath);
    bool IsOpen() const;

    int GetFieldCount() const;
    const DBFFieldDescriptor& GetFieldInfo(int nIndex) const;
    int FindField(const std::string& strName) const;
    const std::string& GetMemoPath() const { return m_strMemoPath; }

    // Starts a blank record.
    void AddNew();
    // Stores a value in the record being assembled (memo text reaches the
    // memo file at once). CDBFException and conversion errors pass.
    void SetFieldValue(int nIndex, const FieldValue& value);
    // The bytes of field nIndex in the record being assembled, for writing
    // what StoreFieldValue would write without building a value; empty on
    // the CDBFRecordset path. REQUIRES 0 <= nIndex < GetFieldCount().
    std::span<unsigned char> DirectFieldBytes(int nIndex)
    {
        if (m_bThroughRecordset)
            return {};
        const FieldSlot& slot = m_slots[static_cast<size_t>(nIndex)];
        return std::span<unsigned char>(m_record.data() + slot.nOffset, slot.nWidth);
    }

    // Marks the record being assembled deleted ("*").
    void MarkDeleted();
    // Appends the record being assembled.
    void Update();
    int64_t GetRecordCount() const { return m_nRecords; }

    // Writes the record count into the header and closes the table; what was
    // appended stays on disk. Errors pass to the caller.
    void Close();

private:
    CDBFTableDef& Table() const;

    struct FieldSlot {
        uint32_t nOffset;
        uint32_t nWidth;
    };

    bool m_bThroughRecordset;
    std::vector<FieldSlot> m_slots;
    std::unique_ptr<CDBFRecordset> m_pRecordset;
    std::unique_ptr<CDBFTableDef> m_pTable;
    std::vector<unsigned char> m_blank;
    std::vector<unsigned char> m_record;
    int64_t m_nRecords = 0;
    bool m_bDeleted = false;
    std::string m_strMemoPath;
};
