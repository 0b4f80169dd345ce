#pragma once
// The DBF file format in one place, for the engine that reads and writes
// sound tables and for the repair that reads damaged ones: the marker
// bytes, the sizes, what each field type letter is and what each version
// byte says.
//
// FILE LAYOUT
//   32-byte header (DBFHeader)
//   32-byte field descriptors (DBFFieldDescriptor), ended by 0x0D
//   Visual FoxPro only: a 263-byte area (the database container link)
//   the records, each a deletion flag (0x20 live, 0x2A deleted) and its fields
//   an optional end-of-file mark 0x1A

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct DBFFieldDescriptor;

namespace dbfformat {

constexpr size_t kHeaderSize = 32;
constexpr size_t kDescriptorSize = 32;
// Ends the field descriptors.
constexpr unsigned char kHeaderTerminator = 0x0D;
// Follows the last record; also ends a dBASE III memo value.
constexpr unsigned char kEndOfFile = 0x1A;
// A record's first byte.
constexpr unsigned char kLiveFlag = 0x20;
constexpr unsigned char kDeletedFlag = 0x2A;
// Visual FoxPro keeps this many bytes between the terminator and the records.
constexpr uint32_t kVisualFoxProAreaSize = 263;
// The least header length of a Visual FoxPro table: header, terminator, area.
constexpr uint32_t kVisualFoxProLeastHeaderLength = kHeaderSize + 1 + kVisualFoxProAreaSize;
// The most descriptors a 16-bit header length has room for, the header and
// the terminator counted.
constexpr size_t kMaxDescriptorsInHeader = (0xFFFF - kHeaderSize - 1) / kDescriptorSize;
// The first bytes of a used dBASE IV memo block.
constexpr unsigned char kDBase4BlockMarker[4] = {0xFF, 0xFF, 0x08, 0x00};

// ---- field types ----

// What a type letter is. Letters outside the table are no type of the
// family.
struct FieldTypeTraits {
    char chLetter;
    bool bDecoded;          // the engine decodes the bytes; otherwise carried as they are
    bool bMemo;             // the bytes refer into the memo file (B: unless 8 bytes wide)
    uint8_t nFixedWidth;    // the only width writers use; 0 when it varies
    bool bVisualFoxProOnly; // only Visual FoxPro tables have it (B: when 8 bytes wide)
    bool bLengthByte;       // the width is the length byte alone (else bytes 16-17)
    bool bDBase7;           // dBASE 7's own letters
};

// The traits of a letter; nullptr for no type of the family.
const FieldTypeTraits* FindFieldType(char chType);
bool IsKnownType(char chType);
// The types the engine decodes (the others are carried byte for byte).
bool IsDecodedType(char chType);
// B is the dBASE binary memo unless 8 bytes wide (Visual FoxPro's double).
bool IsMemoType(char chType, uint32_t nLength);
bool IsVisualFoxProType(char chType, uint32_t nLength);
// The memo types the engine reads through the memo file.
bool IsEngineMemoType(char chType, uint32_t nLength);
bool UsesLengthByte(char chType);

// ---- memo kinds ----

// The memo file a table has; the numbers are the kind codes of old.
enum class MemoKind : int {
    None = 0,
    DBase3 = 1,
    DBase4 = 3,
    FoxPro = 4,
    VisualFoxPro = 8,
    VisualFoxProDbc = 12,
    SIx = 16,
};

// "DBT", "FPT", "DCT" or "SMT"; "DBT" for None.
const char* MemoKindExtension(MemoKind kind);
// The kind a memo file's extension (any letter case, no dot) names: DBT is
// read as dBASE III, FPT as FoxPro, SMT as SIx; None for the rest.
MemoKind MemoKindForExtension(const std::string& strExtension);

// ---- version bytes ----

// The versions the engine reads.
bool IsKnownVersion(uint8_t nVersion);
// 0x30, 0x31, 0x32: the Visual FoxPro layout.
bool IsVisualFoxProVersion(uint8_t nVersion);
// The name `info` prints; "unknown" for a byte of no table kind.
const char* TableKindName(uint8_t nVersion);
// Whether the byte names a table kind (the FoxBASE ones included).
bool IsNamedVersion(uint8_t nVersion);
// The memo kind the header calls for (Visual FoxPro: by the table flags).
MemoKind MemoKindForVersion(uint8_t nVersion, uint8_t nTableFlags);
// The version with a memo file of its own: 0x03 -> 0x83 (0xF5 when the memo
// file is FoxPro's), 0x43 -> 0x8B, 0x63 -> 0xCB; the others as they are.
uint8_t MemoFormOfVersion(uint8_t nVersion, MemoKind memoFile = MemoKind::None);
// The reverse: 0x83 -> 0x03, 0x8B -> 0x43, 0xCB -> 0x63.
uint8_t NoMemoFormOfVersion(uint8_t nVersion);
// The version a memo file of that kind goes with: 0x83, 0x8B, 0xF5, 0xE5;
// 0xF5 for the Visual FoxPro kinds and None.
uint8_t VersionForMemoKind(MemoKind kind);

// ---- the descriptors ----

struct DescriptorWalk {
    size_t nBlocks = 0;           // 32-byte blocks read, the terminator's included
    bool bTerminator = false;
    uint64_t nTerminatorOffset = 0;
    bool bStopped = false;        // the reader asked to stop
};

// Reads the 32-byte block at nOffset into the zeroed descriptor; returns
// the bytes read (0 at the end of the file), or -1 to stop the walk.
using DescriptorReader = std::function<long(uint64_t nOffset, DBFFieldDescriptor& fd)>;
// Takes one descriptor (nBytes read); false ends the walk.
using DescriptorVisitor = std::function<bool(const DBFFieldDescriptor& fd, long nBytes)>;

// Walks the blocks from offset 32 on up to the terminator, at most
// nMaxBlocks of them.
DescriptorWalk WalkDescriptors(size_t nMaxBlocks, const DescriptorReader& read, const DescriptorVisitor& visit);

} // namespace dbfformat
