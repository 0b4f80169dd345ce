#pragma once
// Field descriptors for the storage engine tests and benchmarks. Free of
// GoogleTest so that the benchmarks can use it too.

#include "dbf/DBFFieldDescriptor.h"

#include <cstdint>

namespace dbftest {

// A descriptor of the type with the width (the length byte, and the
// decimals, for the types that have them; the 16-bit width otherwise). The
// offset is left as a new descriptor has it.
inline DBFFieldDescriptor Field(const char* lpszName, char chType, uint16_t nWidth, uint8_t nDecimals = 0)
{
    DBFFieldDescriptor fd;
    fd.SetName(lpszName);
    fd.SetType(chType);
    if (DBFFieldDescriptor::UsesLengthByte(chType)) {
        fd.SetLength(static_cast<uint8_t>(nWidth));
        fd.SetDecimals(nDecimals);
    } else {
        fd.SetWidth16(nWidth);
    }
    return fd;
}

// The same at the offset into the record, for the codec, which takes the
// offset from the descriptor.
inline DBFFieldDescriptor FieldAt(const char* lpszName, char chType, uint16_t nWidth, uint8_t nDecimals,
                                  uint32_t nOffset)
{
    DBFFieldDescriptor fd = Field(lpszName, chType, nWidth, nDecimals);
    fd.SetOffset(nOffset);
    return fd;
}

} // namespace dbftest
