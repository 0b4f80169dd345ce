#include "dbf/DBFFormat.h"

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFHeader.h"

#include <array>
#include <cctype>

namespace dbfformat {

namespace {

// clang-format off
constexpr std::array<FieldTypeTraits, 19> kFieldTypes = {{
    // letter decoded memo  width  VFP    length byte dBASE 7
    {'C', true,  false, 0, false, false, false}, // character
    {'N', true,  false, 0, false, true,  false}, // numeric text
    {'F', true,  false, 0, false, true,  false}, // float text
    {'D', true,  false, 8, false, false, false}, // date YYYYMMDD
    {'L', true,  false, 1, false, false, false}, // logical
    {'M', true,  true,  0, false, false, false}, // memo (10 digits, or 4 bytes in Visual FoxPro)
    {'G', true,  true,  0, false, false, false}, // general (OLE)
    {'P', true,  true,  0, false, false, false}, // picture
    {'B', true,  true,  0, true,  true,  false}, // dBASE binary memo; Visual FoxPro double when 8 wide
    {'I', true,  false, 4, true,  true,  false}, // integer
    {'Y', true,  false, 8, true,  true,  false}, // currency
    {'T', true,  false, 8, true,  false, false}, // date and time
    {'0', true,  false, 0, true,  false, false}, // _NullFlags
    {'V', false, false, 0, true,  false, false}, // varchar
    {'Q', false, false, 0, true,  false, false}, // varbinary
    {'W', false, true,  4, true,  false, false}, // blob
    {'@', false, false, 8, false, false, true},  // timestamp
    {'+', false, false, 4, false, false, true},  // autoincrement
    {'O', false, false, 8, false, false, true},  // double
}};
// clang-format on

struct VersionTraits {
    uint8_t nVersion;
    bool bKnown; // the engine reads it
    MemoKind memo;
    const char* lpszName;
};

// Visual FoxPro's memo kind depends on the table flags (MemoKindForVersion).
constexpr std::array<VersionTraits, 14> kVersions = {{
    {0x02, false, MemoKind::None, "FoxBASE"},
    {0x03, true, MemoKind::None, "dBASE III / FoxPro, no memo"},
    {0x30, true, MemoKind::VisualFoxPro, "Visual FoxPro"},
    {0x31, true, MemoKind::VisualFoxPro, "Visual FoxPro with autoincrement"},
    {0x32, true, MemoKind::VisualFoxPro, "Visual FoxPro with varchar/varbinary"},
    {0x43, true, MemoKind::None, "dBASE IV SQL table, no memo"},
    {0x63, true, MemoKind::None, "dBASE IV SQL system table, no memo"},
    {0x7B, true, MemoKind::DBase4, "dBASE IV with memo"},
    {0x83, true, MemoKind::DBase3, "dBASE III with memo"},
    {0x8B, true, MemoKind::DBase4, "dBASE IV with memo"},
    {0xCB, true, MemoKind::DBase4, "dBASE IV SQL table with memo"},
    {0xE5, true, MemoKind::SIx, "Clipper with SIx memo"},
    {0xF5, true, MemoKind::FoxPro, "FoxPro 2.x with memo"},
    {0xFB, false, MemoKind::None, "FoxBASE"},
}};

// Each version without a memo file and its form with one.
constexpr std::array<std::array<uint8_t, 2>, 3> kMemoForms = {{{0x03, 0x83}, {0x43, 0x8B}, {0x63, 0xCB}}};

const VersionTraits* FindVersion(uint8_t nVersion)
{
    for (const VersionTraits& v : kVersions)
        if (v.nVersion == nVersion)
            return &v;
    return nullptr;
}

} // namespace

const FieldTypeTraits* FindFieldType(char chType)
{
    for (const FieldTypeTraits& t : kFieldTypes)
        if (t.chLetter == chType)
            return &t;
    return nullptr;
}

bool IsKnownType(char chType)
{
    return FindFieldType(chType) != nullptr;
}

bool IsDecodedType(char chType)
{
    const FieldTypeTraits* t = FindFieldType(chType);
    return t != nullptr && t->bDecoded;
}

bool IsMemoType(char chType, uint32_t nLength)
{
    const FieldTypeTraits* t = FindFieldType(chType);
    return t != nullptr && t->bMemo && !(chType == 'B' && nLength == 8);
}

bool IsVisualFoxProType(char chType, uint32_t nLength)
{
    const FieldTypeTraits* t = FindFieldType(chType);
    return t != nullptr && t->bVisualFoxProOnly && !(chType == 'B' && nLength != 8);
}

bool IsEngineMemoType(char chType, uint32_t nLength)
{
    return IsMemoType(chType, nLength) && IsDecodedType(chType);
}

bool UsesLengthByte(char chType)
{
    const FieldTypeTraits* t = FindFieldType(chType);
    return t != nullptr && t->bLengthByte;
}

const char* MemoKindExtension(MemoKind kind)
{
    switch (kind) {
    case MemoKind::FoxPro:
    case MemoKind::VisualFoxPro:
        return "FPT";
    case MemoKind::VisualFoxProDbc:
        return "DCT";
    case MemoKind::SIx:
        return "SMT";
    case MemoKind::None:
    case MemoKind::DBase3:
    case MemoKind::DBase4:
        break;
    }
    return "DBT";
}

MemoKind MemoKindForExtension(const std::string& strExtension)
{
    std::string strUpper = strExtension;
    for (char& ch : strUpper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    // A .DCT is a database container's own memo, no table's.
    for (MemoKind kind : {MemoKind::DBase3, MemoKind::FoxPro, MemoKind::SIx})
        if (strUpper == MemoKindExtension(kind))
            return kind;
    return MemoKind::None;
}

bool IsKnownVersion(uint8_t nVersion)
{
    const VersionTraits* v = FindVersion(nVersion);
    return v != nullptr && v->bKnown;
}

bool IsVisualFoxProVersion(uint8_t nVersion)
{
    return nVersion == 0x30 || nVersion == 0x31 || nVersion == 0x32;
}

const char* TableKindName(uint8_t nVersion)
{
    const VersionTraits* v = FindVersion(nVersion);
    return v != nullptr ? v->lpszName : "unknown";
}

bool IsNamedVersion(uint8_t nVersion)
{
    return FindVersion(nVersion) != nullptr;
}

MemoKind MemoKindForVersion(uint8_t nVersion, uint8_t nTableFlags)
{
    const VersionTraits* v = FindVersion(nVersion);
    if (v == nullptr)
        return MemoKind::None;
    if (IsVisualFoxProVersion(nVersion)) {
        if (!(nTableFlags & DBFHeader::kFlagMemo))
            return MemoKind::None;
        return (nTableFlags & DBFHeader::kFlagDatabaseContainer) ? MemoKind::VisualFoxProDbc : MemoKind::VisualFoxPro;
    }
    return v->memo;
}

uint8_t MemoFormOfVersion(uint8_t nVersion, MemoKind memoFile)
{
    if (nVersion == 0x03 && memoFile == MemoKind::FoxPro)
        return 0xF5;
    for (const auto& form : kMemoForms)
        if (form[0] == nVersion)
            return form[1];
    return nVersion;
}

uint8_t NoMemoFormOfVersion(uint8_t nVersion)
{
    for (const auto& form : kMemoForms)
        if (form[1] == nVersion)
            return form[0];
    return nVersion;
}

uint8_t VersionForMemoKind(MemoKind kind)
{
    switch (kind) {
    case MemoKind::DBase3: return 0x83;
    case MemoKind::DBase4: return 0x8B;
    case MemoKind::SIx: return 0xE5;
    case MemoKind::None:
    case MemoKind::FoxPro:
    case MemoKind::VisualFoxPro:
    case MemoKind::VisualFoxProDbc:
        break;
    }
    return 0xF5;
}

DescriptorWalk WalkDescriptors(size_t nMaxBlocks, const DescriptorReader& read, const DescriptorVisitor& visit)
{
    DescriptorWalk walk;
    for (size_t i = 0; i < nMaxBlocks; ++i) {
        const uint64_t nOffset = kHeaderSize + i * kDescriptorSize;
        DBFFieldDescriptor fd;
        const long nBytes = read(nOffset, fd);
        if (nBytes < 0) {
            walk.bStopped = true;
            break;
        }
        if (nBytes == 0)
            break;
        ++walk.nBlocks;
        if (fd.m_bytes[0] == kHeaderTerminator) {
            walk.bTerminator = true;
            walk.nTerminatorOffset = nOffset;
            break;
        }
        if (!visit(fd, nBytes))
            break;
    }
    return walk;
}

} // namespace dbfformat
