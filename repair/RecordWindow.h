#pragma once
// The bytes of the record area around the records being salvaged, read a
// large piece at a time: the salvage moves forward, looking a few records
// ahead, and the search for where records line up again steps a byte at a
// time.

#include "platform/NoInitAllocator.h"

#include <cstddef>
#include <cstdint>

class CFile;

class CRecordWindow {
public:
    // A move forward keeps nLookBehind bytes before the request in the
    // window: the salvage looks records ahead and then comes back, which
    // would otherwise read every piece twice.
    CRecordWindow(CFile& file, uint64_t nFileLength, size_t nSize, size_t nLookBehind);

    // nCount bytes at nOffset; null when they run past the end of the file.
    // A read that yields fewer bytes than the file holds throws the system
    // error: records read from there on would be made up.
    const unsigned char* At(uint64_t nOffset, size_t nCount);

    uint64_t GetFileLength() const { return m_nFileLength; }

private:
    CFile& m_file;
    uint64_t m_nFileLength;
    IoBuffer m_buffer;
    size_t m_nLookBehind;
    uint64_t m_nStart = 0;
    size_t m_nValid = 0;
};
