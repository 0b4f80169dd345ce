#pragma once
// Writes the repaired table: the structure the salvage settled on, then the
// records one after another, memo values into a new memo file.
//
// The structure is written as given, not derived again: the header's
// version, table flags, code-page mark and reserved bytes, every
// descriptor's 32 bytes (flags, autoincrement bytes, decimals), and the
// bytes after the terminator. The writer fills in only what follows from
// the fields: each descriptor's offset, the header length, the record
// length, and, at Close, the record count. Records are assembled in place
// (Record(), FieldBytes()) and written straight, so a sound value goes
// across byte for byte.
//
// Memo references in the new table take the form of their field: 4 bytes
// (binary block number), 10 bytes of SIx (binary length and block), or 10
// ASCII digits right-aligned.

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFHeader.h"
#include "dbf/MemoFile.h"
#include "platform/File.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// The structure of a new table.
struct RepairedTableLayout {
    // Version, flags, code-page mark and reserved bytes are kept; the date,
    // the counts and the lengths are written by the writer.
    DBFHeader header;
    // In record order. Visual FoxPro tables get each field's offset in its
    // descriptor; the others keep the descriptor's bytes 12-15 as given
    // (their readers compute the offsets, writers leave anything there).
    std::vector<DBFFieldDescriptor> fields;
    // The bytes between the terminator and the first record.
    std::vector<unsigned char> area;
    // The memo file to create: None for none.
    dbfformat::MemoKind memoKind = dbfformat::MemoKind::None;
    // Its block size (dBASE IV, FoxPro and SIx); 0 for the format's own.
    uint32_t nMemoBlockSize = 0;
};

class CRepairedTableWriter {
public:
    CRepairedTableWriter() = default;
    ~CRepairedTableWriter();
    CRepairedTableWriter(const CRepairedTableWriter&) = delete;
    CRepairedTableWriter& operator=(const CRepairedTableWriter&) = delete;

    // Creates (truncating) the table file and its memo file, and writes the
    // structure with a record count of 0. Platform file errors pass as
    // CFileException, memo file errors as CDBFException.
    void Create(const std::string& strPath, const RepairedTableLayout& layout);
    // Where the memo file's platform file errors are shown (null: the
    // program's reporter). Set before Create.
    void SetReporter(CErrorReporter* pReporter) { m_pReporter = pReporter; }
    bool IsOpen() const { return m_file.IsOpen(); }

    int GetFieldCount() const { return static_cast<int>(m_fields.size()); }
    const DBFFieldDescriptor& GetFieldInfo(int nIndex) const { return m_fields.at(static_cast<size_t>(nIndex)); }
    uint32_t GetRecordLength() const { return static_cast<uint32_t>(m_record.size()); }
    const std::string& GetMemoPath() const { return m_strMemoPath; }
    bool HasMemoFile() const { return m_pMemo != nullptr; }

    // The record being assembled: the deletion flag at 0, the fields at
    // their offsets. Update writes it as it stands.
    std::span<unsigned char> Record() { return m_record; }
    // The bytes of field nIndex in the record being assembled.
    // REQUIRES 0 <= nIndex < GetFieldCount().
    std::span<unsigned char> FieldBytes(int nIndex)
    {
        const size_t i = static_cast<size_t>(nIndex);
        return std::span<unsigned char>(m_record.data() + m_offsets[i], m_fields[i].GetWidth());
    }

    // Appends a memo value to the new memo file and writes its reference
    // into field nIndex of the record being assembled. nBlockType is the
    // FoxPro block type (0 picture, 1 text, 2 object). An empty value
    // keeps a block of its own where the format gives it one. CDBFException (3015) passes on a write
    // error; without a memo file the field gets the blank reference.
    void StoreMemo(int nIndex, std::span<const unsigned char> bytes, uint32_t nBlockType);
    // Writes the blank reference (no value) into field nIndex.
    void StoreNoMemo(int nIndex);

    // Appends the record being assembled.
    void Update();
    // Appends a whole record of the new layout as it stands in pRecord.
    void AppendRecordBytes(const unsigned char* pRecord);
    int64_t GetRecordCount() const { return m_nRecords; }

    // Writes the record count into the header and the end-of-file mark, and
    // closes both files; what was appended stays on disk. Errors pass.
    void Close();

    // The memo file path beside a table: its extension follows the letter
    // case of the table's own (x.dbf + x.fpt, X.DBF + X.FPT).
    static std::string MemoPathFor(const std::string& strTablePath, dbfformat::MemoKind memoKind);

private:
    CFile m_file{1024 * 1024};
    std::unique_ptr<CMemoFile> m_pMemo;
    CErrorReporter* m_pReporter = nullptr;
    std::string m_strMemoPath;
    DBFHeader m_header;
    std::vector<DBFFieldDescriptor> m_fields;
    std::vector<uint32_t> m_offsets;
    std::vector<unsigned char> m_record;
    uint64_t m_nHeaderLength = 0;
    int64_t m_nRecords = 0;
};
