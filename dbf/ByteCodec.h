#pragma once
// Little- and big-endian integers of the table and memo files, assembled byte
// by byte (the compiler turns each into one load or store).

#include <cstdint>
#include <cstring>

namespace dbfbytes {

inline uint16_t DecodeFixed16LE(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t DecodeFixed32LE(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8)
        | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t DecodeFixed64LE(const unsigned char* p)
{
    return static_cast<uint64_t>(DecodeFixed32LE(p))
        | (static_cast<uint64_t>(DecodeFixed32LE(p + 4)) << 32);
}

inline uint32_t DecodeFixed32BE(const unsigned char* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16)
        | (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline uint16_t DecodeFixed16BE(const unsigned char* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline void EncodeFixed16LE(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

inline void EncodeFixed32LE(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline void EncodeFixed64LE(unsigned char* p, uint64_t v)
{
    EncodeFixed32LE(p, static_cast<uint32_t>(v));
    EncodeFixed32LE(p + 4, static_cast<uint32_t>(v >> 32));
}

inline void EncodeFixed32BE(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline void EncodeFixed16BE(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

inline double DecodeDoubleLE(const unsigned char* p)
{
    const uint64_t bits = DecodeFixed64LE(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline void EncodeDoubleLE(unsigned char* p, double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    EncodeFixed64LE(p, bits);
}

} // namespace dbfbytes
