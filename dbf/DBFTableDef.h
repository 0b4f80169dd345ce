#pragma once
// The engine's handle on one DBF table file: reads and checks the header and
// the field descriptors, attaches the memo file the header calls for, reads
// and writes single records and the header, and builds new tables.
//
// File layout (all integers little-endian):
//
// OFFSET              SIZE             MEANING
//      0                32             DBFHeader
//     32            32 * n             one DBFFieldDescriptor per field
// 32 + 32n               1             terminator 0x0D
// 33 + 32n             263             Visual FoxPro area (versions 0x30, 0x31
//                                      and 0x32 only)
// header length   reclen * count       records; record i at
//                                      header length + i * record length
// end                 0 or 1           end-of-file mark 0x1A
//
// A record: byte 0 is the deletion flag (0x20 live, 0x2A deleted), then the
// fields at their offsets without separators.
//
// A table without fields (shapefile attribute tables may have none) has the
// header, the terminator (header length 33, or more with padding; 296 for
// Visual FoxPro) and records of record length 1: the deletion flag alone.
// Open keeps its record count; a record length above 1 with no descriptor
// raises 3009.
//
// Field names may repeat; every field is kept in descriptor order.
//
// New table: Create, CreateField once per field in record order, Append;
// records are then added through a CDBFRecordset on the same path.
//
// Errors are CDBFException (codes in dbf/DBFException.h). Open refuses a
// descriptor whose field does not lie inside the record (3009), so the
// field codec never reaches outside the record buffer.

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFFormat.h"
#include "dbf/DBFHeader.h"
#include "dbf/FieldValue.h"
#include "platform/File.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class CErrorReporter;
class CMemoFile;

class CDBFTableDef {
public:
    CDBFTableDef();
    virtual ~CDBFTableDef();
    CDBFTableDef(const CDBFTableDef&) = delete;
    CDBFTableDef& operator=(const CDBFTableDef&) = delete;

    // Opens an existing table with the CFile open flags (typeBinary is
    // added). Does nothing when the table is already open. Raises
    // CDBFException on a bad header or descriptors and passes on the memo
    // file's errors (the table is then not open). A platform I/O fault
    // closes the table and returns without raising: test IsOpen afterwards.
    void Open(const std::string& strPath, unsigned nOpenFlags);

    // When set before Open, a memo file that does not exist is not an error:
    // the table opens without a memo object (memo fields then read as
    // Empty) and IsMemoFileMissing() tells. Off by default.
    void SetMemoFileOptional(bool bOptional) { m_bMemoOptional = bOptional; }
    bool IsMemoFileMissing() const { return m_bMemoMissing; }

    // Where platform file errors of the table and its memo file are shown
    // (null, the default: the program's reporter). Set before Open or
    // Create; the caller keeps ownership.
    void SetReporter(CErrorReporter* pReporter) { m_pReporter = pReporter; }

    // When set, an M value is the whole of the memo's stored length, bytes
    // after a NUL included (programs keep pictures and documents in plain M
    // fields). Off by default: the value ends at its first NUL.
    void SetMemoTextWhole(bool bWhole) { m_bMemoTextWhole = bWhole; }

    // Creates (truncating) the file exclusively for reading and writing and
    // starts a new table (version 0x03, today's date). Raises 3001 when the
    // file cannot be created; returns false after an I/O fault (closed).
    bool Create(const std::string& strPath);

    // Before Append: the version byte and table flags the new table starts
    // from (Append derives the final version and memo kind from them and
    // from the fields, e.g. 0xF5 for a FoxPro memo, 0xE5 for SIx, or 0x30
    // with flag 0x04 for a database container). REQUIRES: after Create.
    void SetNewTableKind(uint8_t nVersion, uint8_t nTableFlags);

    // Before Append: the block size of the new memo file, handed to
    // CMemoFile::SetNewBlockSize (0, the default, keeps the format's own).
    // REQUIRES: after Create.
    void SetNewMemoBlockSize(uint32_t nBlockSize);

    // Appends a copy of the descriptor (its offset is ignored) to a table
    // being created. Raises std::logic_error when no table is being created.
    void CreateField(const DBFFieldDescriptor& fd);

    // Lays out and writes the new table: offsets, version byte, memo kind,
    // header, descriptors, terminator, end-of-file mark and the memo file.
    // Fields of Visual FoxPro types make the table 0x30 unless the version
    // chosen is already 0x30, 0x31 or 0x32. With no field at all the table
    // has records of the deletion flag alone, which Open accepts.
    // I/O faults propagate. REQUIRES: after Create.
    void Append();

    // Closes the table file and the memo file; frees descriptors and buffers.
    void Close();
    bool IsOpen() const { return m_bOpened || m_bCreated; }

    // Re-reads the 32-byte header from offset 0; true when 32 bytes were
    // read. An I/O fault raises 3005.
    bool ReadHeader();
    // Writes the in-memory header at offset 0; an I/O fault raises 3005.
    void WriteHeader();

    // Reads record-length bytes of record nIndex into buffer (which must hold
    // at least record-length bytes, else std::length_error). A short read
    // raises 3018 when the record lies wholly or partly beyond the end of the
    // file (or nIndex is negative), else 3019; an I/O fault raises 3019.
    void ReadRecord(int32_t nIndex, std::span<unsigned char> buffer);
    // Writes record-length bytes at the record's position (a write at the
    // end extends the file); an I/O fault (or a negative index) raises 3020.
    void WriteRecord(int32_t nIndex, std::span<const unsigned char> buffer);

    int32_t GetRecordCount() const { return m_header.GetRecordCount(); }
    int GetFieldCount() const { return static_cast<int>(m_fields.size()); }
    // REQUIRES 0 <= nIndex < GetFieldCount(); otherwise std::out_of_range.
    const DBFFieldDescriptor& GetFieldInfo(int nIndex) const;
    const std::vector<DBFFieldDescriptor>& GetFields() const { return m_fields; }
    // Index of the first field named exactly strName, or -1. Where names
    // repeat, the later fields are reached by index only.
    int FindField(const std::string& strName) const;

    const DBFHeader& GetHeader() const { return m_header; }
    // Sets the record count held in memory (written by WriteHeader).
    void SetRecordCount(int32_t nCount) { m_header.SetRecordCount(nCount); }

    // The table's record buffer (record-length bytes, zeroed when made).
    std::vector<unsigned char>& GetRecordBuffer() { return m_recordBuffer; }

    // The memo kind chosen at Open or Append (None for none), the memo path
    // (empty for none) and the memo object (null for none).
    dbfformat::MemoKind GetMemoKind() const { return m_memoKind; }
    const std::string& GetMemoPath() const { return m_strMemoPath; }
    CMemoFile* GetMemoFile() const { return m_pMemoFile.get(); }
    std::string GetFilePath() const { return m_file.GetFilePath(); }

    // Field access through the memo file (used by CDBFRecordset).
    // LoadFieldValue returns the number of bytes of the value (field width,
    // or the memo length for memo values). A Bytes value refers to the
    // table's binary value buffer, valid until the next binary read or Close.
    // StoreFieldValue writes a Text value of an M field to the memo file at
    // once (3015 when the table has no open memo file); other kinds leave M
    // fields unchanged, and G, P and binary-memo B fields are never written.
    // In SIx tables M fields always take the 10-byte binary reference, which
    // keeps the length those memo files need to read a value back.
    size_t LoadFieldValue(std::span<const unsigned char> record, const DBFFieldDescriptor& fd,
                          FieldValue& value);
    void StoreFieldValue(std::span<unsigned char> record, const DBFFieldDescriptor& fd,
                         const FieldValue& value);

    // True for the versions with the Visual FoxPro layout: 0x30, 0x31
    // (autoincrement) and 0x32 (varchar/varbinary). Their descriptors carry
    // the field offsets and the 263-byte area follows the terminator.
    static bool IsVisualFoxProVersion(uint8_t nVersion);
    // The version bytes of the table kinds this engine reads and writes:
    // 0x03, 0x30-0x32, 0x43, 0x63, 0x7B, 0x83, 0x8B, 0xCB, 0xE5, 0xF5.
    static bool IsKnownVersion(uint8_t nVersion);
    // A short name of the table kind for a version byte ("dBASE III", ...).
    static const char* TableKindName(uint8_t nVersion);
    // The table path up to its last "." (in the file name), then "." and the
    // extension; a name without "." gets "." and the extension appended.
    static std::string BuildMemoPath(const std::string& strTablePath, const char* lpszExtension);
    // The memo file with that extension that lies beside a table: the file
    // in the table's folder named as BuildMemoPath says in any letter case
    // (of several spellings, the one whose stem has the table's own case).
    // Empty when there is none. The one memo lookup of both engines.
    static std::string FindMemoFile(const std::string& strTablePath, const std::string& strExtension);
    // The same for several extensions: the first of them that is found.
    static std::string FindMemoFile(const std::string& strTablePath, const std::vector<std::string>& extensions);
    // The index files that lie beside a table: files in its folder whose
    // name is the table's up to its last "." followed by .cdx, .idx, .ntx,
    // .mdx or .ndx in any letter case, sorted. An index is bound to record
    // numbers, so every one of them is stale once the records move.
    static std::vector<std::string> FindIndexFiles(const std::string& strTablePath);

private:
    void OpenFile(const std::string& strPath);
    void ReadDescriptors(uint64_t nFileLength);
    // Reads up to nMaxDescriptors descriptors before the terminator into m_fields.
    void WalkDescriptors(size_t nMaxDescriptors);
    void CheckFileEnd(uint64_t nFileLength);
    void OpenMemo(unsigned nCallerFlags);
    void ResetState();

    DBFHeader m_header;
    std::vector<DBFFieldDescriptor> m_fields;
    std::vector<unsigned char> m_recordBuffer;
    bool m_bOpened = false;
    bool m_bCreated = false;
    unsigned m_nOpenFlags = 0;
    CFile m_file;
    std::unique_ptr<CMemoFile> m_pMemoFile;
    bool m_bNewTable = false;
    uint32_t m_nNewMemoBlockSize = 0;
    std::vector<unsigned char> m_binaryValue;

    dbfformat::MemoKind m_memoKind = dbfformat::MemoKind::None;
    std::string m_strMemoPath;
    bool m_bMemoOptional = false;
    bool m_bMemoMissing = false;
    bool m_bMemoTextWhole = false;
    CErrorReporter* m_pReporter = nullptr;
};
