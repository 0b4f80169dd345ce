#pragma once
// What a table file's raw bytes say, read without the storage engine: why
// it cannot be read (the system's error text), whether it is a DBF table at
// all, its 32-byte header, the field descriptors up to the 0x0D terminator,
// and where the header's numbers disagree with the file. The engine refuses
// such a table with a bare error number; this names the cause.

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFHeader.h"

#include <cstdint>
#include <string>
#include <vector>

class CTableProbe {
public:
    // Reads the file. False when it cannot be read or is no DBF table;
    // GetError then says why.
    bool Probe(const std::string& strPath);

    // "No such file or directory", "Permission denied", "not a DBF table
    // (...)".
    const std::string& GetError() const { return m_strError; }
    // True when the file was read but is no table.
    bool IsNotATable() const { return m_bNotATable; }

    const DBFHeader& GetHeader() const { return m_header; }
    uint64_t GetFileLength() const { return m_nFileLength; }
    // The descriptors from byte 32 up to the terminator (or the end of the
    // file), with offsets from their widths.
    const std::vector<DBFFieldDescriptor>& GetFields() const { return m_fields; }
    // One sentence per place where the header disagrees with the file or
    // the descriptors; empty for a sound table.
    const std::vector<std::string>& GetProblems() const { return m_problems; }
    // What is odd but no damage (bytes after the records); a table with
    // notes and no problems is sound.
    const std::vector<std::string>& GetNotes() const { return m_notes; }

private:
    void FindProblems(bool bTerminatorFound);

    std::string m_strError;
    bool m_bNotATable = false;
    DBFHeader m_header;
    uint64_t m_nFileLength = 0;
    std::vector<DBFFieldDescriptor> m_fields;
    std::vector<std::string> m_problems;
    std::vector<std::string> m_notes;
};
