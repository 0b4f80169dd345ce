#pragma once
// One 32-byte field descriptor, kept in memory byte for byte as stored; the
// accessors decode and encode the fields.
//
// OFFSET  SIZE  MEANING
//      0    11  name, ASCII, NUL-padded (compared case-sensitively)
//     11     1  type letter (C, N, F, D, L, M, G, P, B, I, Y, T, 0, ...)
//     12     4  offset of the field inside the record, little-endian
//               (stored by Visual FoxPro; recomputed for the other versions)
//     16     1  length byte
//     17     1  decimal count; for types read through the 16-bit width rule
//               the high byte of the width
//     18     1  field flags: 0x01 system (hidden), 0x02 nullable,
//               0x04 binary (no code-page translation)
//     19    13  rest, kept byte for byte
//
// Width rule: B, F, I, N and Y take the length byte; every other type the
// 16-bit value of bytes 16-17 (character fields wider than 255 bytes).

#include "dbf/ByteCodec.h"
#include "dbf/DBFFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct DBFFieldDescriptor {
    static constexpr size_t kSize = dbfformat::kDescriptorSize;
    static constexpr size_t kNameSize = 11;

    static constexpr uint8_t kFlagSystem = 0x01;
    static constexpr uint8_t kFlagNullable = 0x02;
    static constexpr uint8_t kFlagBinary = 0x04;

    std::array<unsigned char, kSize> m_bytes{};

    // The name up to its first NUL (at most 11 characters).
    std::string GetName() const
    {
        size_t n = 0;
        while (n < kNameSize && m_bytes[n] != 0)
            ++n;
        return std::string(reinterpret_cast<const char*>(m_bytes.data()), n);
    }
    // Copies at most 11 characters and NUL-pads the rest of the name area.
    void SetName(const std::string& strName)
    {
        for (size_t i = 0; i < kNameSize; ++i)
            m_bytes[i] = i < strName.size() ? static_cast<unsigned char>(strName[i]) : 0;
    }

    char GetType() const { return static_cast<char>(m_bytes[11]); }
    void SetType(char chType) { m_bytes[11] = static_cast<unsigned char>(chType); }

    uint32_t GetOffset() const { return dbfbytes::DecodeFixed32LE(&m_bytes[12]); }
    void SetOffset(uint32_t nOffset) { dbfbytes::EncodeFixed32LE(&m_bytes[12], nOffset); }

    uint8_t GetLength() const { return m_bytes[16]; }
    void SetLength(uint8_t nLength) { m_bytes[16] = nLength; }

    uint8_t GetDecimals() const { return m_bytes[17]; }
    void SetDecimals(uint8_t nDecimals) { m_bytes[17] = nDecimals; }

    // Bytes 16-17 as one little-endian width.
    uint16_t GetWidth16() const { return dbfbytes::DecodeFixed16LE(&m_bytes[16]); }
    void SetWidth16(uint16_t nWidth) { dbfbytes::EncodeFixed16LE(&m_bytes[16], nWidth); }

    uint8_t GetFlags() const { return m_bytes[18]; }
    void SetFlags(uint8_t nFlags) { m_bytes[18] = nFlags; }

    // True for the types whose width is the length byte alone.
    static bool UsesLengthByte(char chType) { return dbfformat::UsesLengthByte(chType); }

    // The field's width in the record by the width rule.
    uint32_t GetWidth() const { return UsesLengthByte(GetType()) ? GetLength() : GetWidth16(); }

    unsigned char* Data() { return m_bytes.data(); }
    const unsigned char* Data() const { return m_bytes.data(); }
};

static_assert(sizeof(DBFFieldDescriptor) == DBFFieldDescriptor::kSize,
              "DBFFieldDescriptor must be exactly 32 bytes");
