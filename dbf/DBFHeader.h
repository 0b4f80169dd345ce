#pragma once
// The 32-byte table header, kept in memory byte for byte as stored; the
// accessors decode and encode the little-endian fields.
//
// OFFSET  SIZE  MEANING
//      0     1  version byte (table kind; 0x30, 0x31, 0x32 = Visual FoxPro
//               layout)
//      1     1  year of last update: years since 1900, except that values
//               below 80 are years since 2000 (GetUpdateYear)
//      2     1  month of last update, 1..12
//      3     1  day of last update, 1..31
//      4     4  record count, signed little-endian
//      8     2  header length (offset of record 0), unsigned little-endian
//     10     2  record length (deletion flag included), unsigned little-endian
//     12    16  reserved, zero in new tables
//     28     1  table flags: 0x01 structural index, 0x02 memo file,
//               0x04 database container (memo extension "DCT")
//     29     1  code page mark
//     30     2  reserved, zero in new tables

#include "dbf/ByteCodec.h"
#include "dbf/DBFFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>

struct DBFHeader {
    static constexpr size_t kSize = dbfformat::kHeaderSize;

    static constexpr uint8_t kFlagIndex = 0x01;
    static constexpr uint8_t kFlagMemo = 0x02;
    static constexpr uint8_t kFlagDatabaseContainer = 0x04;
    // The lowest year byte read as years since 1900 (1980).
    static constexpr uint8_t kFirstCenturyByte = 80;

    std::array<unsigned char, kSize> m_bytes{};

    uint8_t GetVersion() const { return m_bytes[0]; }
    void SetVersion(uint8_t nVersion) { m_bytes[0] = nVersion; }

    // The byte counts years since 1900, but programs of the Y2K years wrote
    // years since 2000 (2 for 2002). No table was written before 1980, so a
    // value below 80 counts from 2000: 80..255 give 1980..2155, 0..79 give
    // 2000..2079. python3-dbfread reads the byte the same way.
    int GetUpdateYear() const { return (m_bytes[1] < kFirstCenturyByte ? 2000 : 1900) + m_bytes[1]; }
    int GetUpdateMonth() const { return m_bytes[2]; }
    int GetUpdateDay() const { return m_bytes[3]; }
    // nYear is the full year; stored as years since 1900 (low byte).
    void SetUpdateDate(int nYear, int nMonth, int nDay)
    {
        m_bytes[1] = static_cast<unsigned char>(nYear - 1900);
        m_bytes[2] = static_cast<unsigned char>(nMonth);
        m_bytes[3] = static_cast<unsigned char>(nDay);
    }

    int32_t GetRecordCount() const { return static_cast<int32_t>(dbfbytes::DecodeFixed32LE(&m_bytes[4])); }
    void SetRecordCount(int32_t nCount) { dbfbytes::EncodeFixed32LE(&m_bytes[4], static_cast<uint32_t>(nCount)); }

    uint16_t GetHeaderLength() const { return dbfbytes::DecodeFixed16LE(&m_bytes[8]); }
    void SetHeaderLength(uint16_t nLength) { dbfbytes::EncodeFixed16LE(&m_bytes[8], nLength); }

    uint16_t GetRecordLength() const { return dbfbytes::DecodeFixed16LE(&m_bytes[10]); }
    void SetRecordLength(uint16_t nLength) { dbfbytes::EncodeFixed16LE(&m_bytes[10], nLength); }

    uint8_t GetTableFlags() const { return m_bytes[28]; }
    void SetTableFlags(uint8_t nFlags) { m_bytes[28] = nFlags; }

    uint8_t GetCodePageMark() const { return m_bytes[29]; }
    void SetCodePageMark(uint8_t nMark) { m_bytes[29] = nMark; }

    void Clear() { m_bytes.fill(0); }

    unsigned char* Data() { return m_bytes.data(); }
    const unsigned char* Data() const { return m_bytes.data(); }
};

static_assert(sizeof(DBFHeader) == DBFHeader::kSize, "DBFHeader must be exactly 32 bytes");
