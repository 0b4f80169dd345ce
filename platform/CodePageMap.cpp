#include "platform/CodePageMap.h"

#include "platform/CodePageDecoder.h"
#include "platform/SystemCodec.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr unsigned kUtf8CodePage = 65001;

struct NamedCodePage {
    const char* lpszName; // lower case, without '-' and '_'
    unsigned nCodePage;
};

// Names that carry no number, or a number that is not the Windows one.
constexpr NamedCodePage kNamed[] = {
    {"macintosh", 10000}, {"xmaccyrillic", 10007}, {"xmaccentraleurroman", 10029}, {"xmacgreek", 10006},
    {"windows31j", 932},  {"gbk", 936},           {"big5", 950},                  {"uhc", 949},
    {"utf8", kUtf8CodePage},
};

struct ByteOverride {
    unsigned nCodePage;
    unsigned char cByte;
    char32_t ch;
};

// Where IBM's and Microsoft's tables part from glibc's: the Greek mu of the
// IBM PC code pages (glibc has the micro sign), 852's undefined 0xAA, the
// Apple logo and increment sign of Mac Roman, the euro of Mac Cyrillic, the
// bytes Microsoft gives to the private use area, and the single bytes of the
// double-byte code pages that are no lead.
constexpr ByteOverride kOverrides[] = {
    {437, 0xE6, 0x03BC},   {860, 0xE6, 0x03BC},   {861, 0xE6, 0x03BC},   {863, 0xE6, 0x03BC},
    {865, 0xE6, 0x03BC},   {852, 0xAA, kReplacement},
    {874, 0xDB, 0xF8C1},   {874, 0xDC, 0xF8C2},   {874, 0xDD, 0xF8C3},   {874, 0xDE, 0xF8C4},
    {874, 0xFC, 0xF8C5},   {874, 0xFD, 0xF8C6},   {874, 0xFE, 0xF8C7},   {874, 0xFF, 0xF8C8},
    {1253, 0xAA, 0x00AA},  {10000, 0xC6, 0x2206}, {10000, 0xF0, 0xF8FF}, {10007, 0xFF, 0x20AC},
    {932, 0x80, 0x001A},   {932, 0xA0, 0x001A},   {932, 0xFD, 0x001A},   {932, 0xFE, 0x001A},
    {932, 0xFF, 0x001A},   {936, 0xFF, 0xF8F5},   {949, 0x80, 0x0080},   {949, 0xFF, 0xF8F7},
    {950, 0x80, 0x0080},   {950, 0xFF, 0xF8F8},
};

// IBM's PC code pages put the control characters 0x1A, 0x1C and 0x7F in a
// round: 0x1A reads U+001C, 0x1C reads U+007F and 0x7F reads U+001A.
constexpr unsigned kIbmControls[] = {437, 737, 850, 852, 857, 860, 861, 863, 865, 866, 932};

// Mac Greek, which glibc lacks: 0x80..0xFF (0x00..0x7F are ASCII).
constexpr char16_t kMacGreek[128] = {
    0x00C4, 0x00B9, 0x00B2, 0x00C9, 0x00B3, 0x00D6, 0x00DC, 0x0385,
    0x00E0, 0x00E2, 0x00E4, 0x0384, 0x00A8, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00A3, 0x2122, 0x00EE, 0x00EF, 0x2022, 0x00BD,
    0x2030, 0x00F4, 0x00F6, 0x00A6, 0x20AC, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x0393, 0x0394, 0x0398, 0x039B, 0x039E, 0x03A0, 0x00DF,
    0x00AE, 0x00A9, 0x03A3, 0x03AA, 0x00A7, 0x2260, 0x00B0, 0x00B7,
    0x0391, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x0392, 0x0395, 0x0396,
    0x0397, 0x0399, 0x039A, 0x039C, 0x03A6, 0x03AB, 0x03A8, 0x03A9,
    0x03AC, 0x039D, 0x00AC, 0x039F, 0x03A1, 0x2248, 0x03A4, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x03A5, 0x03A7, 0x0386, 0x0388, 0x0153,
    0x2013, 0x2015, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x0389,
    0x038A, 0x038C, 0x038E, 0x03AD, 0x03AE, 0x03AF, 0x03CC, 0x038F,
    0x03CD, 0x03B1, 0x03B2, 0x03C8, 0x03B4, 0x03B5, 0x03C6, 0x03B3,
    0x03B7, 0x03B9, 0x03BE, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF,
    0x03C0, 0x03CE, 0x03C1, 0x03C3, 0x03C4, 0x03B8, 0x03C9, 0x03C2,
    0x03C7, 0x03C5, 0x03B6, 0x03CA, 0x03CB, 0x0390, 0x03B0, 0x00AD,
};
constexpr unsigned kMacGreekCodePage = 10006;

std::string Utf8Of(char32_t ch)
{
    std::string str;
    if (ch < 0x80) {
        str += static_cast<char>(ch);
    } else if (ch < 0x800) {
        str += static_cast<char>(0xC0 | (ch >> 6));
        str += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        str += static_cast<char>(0xE0 | (ch >> 12));
        str += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        str += static_cast<char>(0xF0 | (ch >> 18));
        str += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        str += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (ch & 0x3F));
    }
    return str;
}

bool IsWindowsAnsi(unsigned nCodePage)
{
    return nCodePage == 874 || (nCodePage >= 1250 && nCodePage <= 1258);
}

struct ByteRange {
    unsigned char cLow;
    unsigned char cHigh;
};

bool InRanges(std::initializer_list<ByteRange> ranges, unsigned char c)
{
    return std::any_of(ranges.begin(), ranges.end(), [c](const ByteRange& r) { return c >= r.cLow && c <= r.cHigh; });
}

// The leads and trails of 936, 949 and 950 as Windows reads them.
bool IsWideLead(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

bool IsWideTrail(unsigned char c)
{
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

using DoubleByteRules = CCodePageMap::DoubleByteRules;

// The lead and trail bytes of the double-byte code pages.
constexpr DoubleByteRules kDoubleByte[] = {
    {932, [](unsigned char c) { return InRanges({{0x81, 0x9F}, {0xE0, 0xFC}}, c); },
     [](unsigned char c) { return InRanges({{0x40, 0x7E}, {0x80, 0xFC}}, c); }, 0x001A},
    {936, IsWideLead, IsWideTrail, kReplacement},
    {949, IsWideLead, IsWideTrail, kReplacement},
    {950, IsWideLead, IsWideTrail, kReplacement},
};

// Microsoft's user-defined characters: in each run, the pairs the code page
// assigns nothing else (those glibc refuses) take private use code points
// one after the other, in byte order.
struct PrivateUseRun {
    unsigned nCodePage;
    unsigned nFrom;
    unsigned nTo;
    bool (*pfnTakesTrail)(unsigned char);
    char32_t chFirst;
};
constexpr auto kAnyTrail = IsWideTrail;
constexpr auto kHighTrail = [](unsigned char c) { return c >= 0xA1 && c <= 0xFE; };
constexpr auto kBig5Trail = [](unsigned char c) { return InRanges({{0x40, 0x7E}, {0xA1, 0xFE}}, c); };
constexpr PrivateUseRun kPrivateUse[] = {
    {936, 0xA140, 0xA2A0, kAnyTrail, 0xE4C6}, {936, 0xA2AB, 0xA2FE, kAnyTrail, 0xE766},
    {936, 0xA340, 0xA4A0, kAnyTrail, 0xE586}, {936, 0xA4F4, 0xA4FE, kAnyTrail, 0xE772},
    {936, 0xA540, 0xA5A0, kAnyTrail, 0xE646}, {936, 0xA5F7, 0xA5FE, kAnyTrail, 0xE77D},
    {936, 0xA640, 0xA6A0, kAnyTrail, 0xE6A6}, {936, 0xA6B9, 0xA6FE, kAnyTrail, 0xE785},
    {936, 0xA740, 0xA7A0, kAnyTrail, 0xE706}, {936, 0xA7C2, 0xA9FE, kAnyTrail, 0xE7A0},
    {936, 0xAAA1, 0xAFFE, kAnyTrail, 0xE000}, {936, 0xD7FA, 0xD7FE, kAnyTrail, 0xE810},
    {936, 0xF8A1, 0xFDFE, kAnyTrail, 0xE234}, {936, 0xFE50, 0xFEA0, kAnyTrail, 0xE815},
    {936, 0xFEA1, 0xFEFE, kAnyTrail, 0xE468}, {949, 0xC9A1, 0xFEFE, kHighTrail, 0xE000},
    {950, 0x8140, 0x8DFE, kBig5Trail, 0xEEB8}, {950, 0x8E40, 0xA0FE, kBig5Trail, 0xE311},
    {950, 0xFA40, 0xFEFE, kBig5Trail, 0xE000},
};

// "Windows-1252" -> "windows1252", as kNamed spells names.
std::string Normalized(const std::string& strName)
{
    std::string str;
    for (const char c : strName) {
        if (c != '-' && c != '_')
            str += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return str;
}

} // namespace

unsigned CCodePageMap::CodePageNumber(const std::string& strName)
{
    const std::string strKey = Normalized(strName);
    for (const auto& n : kNamed) {
        if (strKey == n.lpszName)
            return n.nCodePage;
    }
    for (const char* lpszPrefix : {"windows", "ibm", "cp", "ms"}) {
        const std::string strPrefix = lpszPrefix;
        if (strKey.size() <= strPrefix.size() || strKey.compare(0, strPrefix.size(), strPrefix) != 0)
            continue;
        const std::string strDigits = strKey.substr(strPrefix.size());
        if (strDigits.size() > 5 || !std::all_of(strDigits.begin(), strDigits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return 0;
        return static_cast<unsigned>(std::stoul(strDigits));
    }
    return 0;
}

CCodePageMap::CCodePageMap(const std::string& strName)
{
    if (strName.empty())
        return;
    const unsigned nCodePage = CodePageNumber(strName);
    if (nCodePage == kUtf8CodePage) {
        m_eKind = Kind::utf8;
        return;
    }
    if (nCodePage == kMacGreekCodePage) {
        for (unsigned b = 0; b < 256; ++b)
            m_byteTable[b] = Utf8Of(b < 0x80 ? b : kMacGreek[b - 0x80]);
        m_eKind = Kind::singleByte;
        return;
    }
    m_pCodec = std::make_unique<CSystemCodec>(nCodePage, strName);
    if (!m_pCodec->IsValid())
        return;
    for (const auto& rules : kDoubleByte) {
        if (rules.nCodePage == nCodePage)
            m_pRules = &rules;
    }
    BuildByteTable(nCodePage);
}

CCodePageMap::~CCodePageMap() = default;

void CCodePageMap::BuildByteTable(unsigned nCodePage)
{
    bool bSingleByte = true;
    for (unsigned b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        std::string& strUtf8 = m_byteTable[b];
        if (m_pRules && m_pRules->pfnIsLead(static_cast<unsigned char>(b)))
            continue;
        switch (m_pCodec->Decode(std::string_view(&c, 1), strUtf8)) {
        case CSystemCodec::converted:
            break;
        case CSystemCodec::invalid:
            // Windows reads a byte 0x80..0x9F its ANSI code page leaves
            // undefined as the C1 control of the same number.
            if (IsWindowsAnsi(nCodePage) && b >= 0x80 && b <= 0x9F)
                strUtf8 = Utf8Of(b);
            else
                strUtf8 = Utf8Of(m_pRules ? m_pRules->chUndefined : kReplacement);
            break;
        case CSystemCodec::incomplete:
            bSingleByte = false;
            break;
        }
    }
    if (std::find(std::begin(kIbmControls), std::end(kIbmControls), nCodePage) != std::end(kIbmControls)) {
        m_byteTable[0x1A] = Utf8Of(0x1C);
        m_byteTable[0x1C] = Utf8Of(0x7F);
        m_byteTable[0x7F] = Utf8Of(0x1A);
    }
    for (const auto& o : kOverrides) {
        if (o.nCodePage == nCodePage)
            m_byteTable[o.cByte] = Utf8Of(o.ch);
    }
    m_eKind = m_pRules ? Kind::doubleByte : bSingleByte ? Kind::singleByte : Kind::other;
}

std::string CCodePageMap::ToUtf8(std::string_view bytes)
{
    std::string strOut;
    strOut.reserve(bytes.size());
    switch (m_eKind) {
    case Kind::none:
        break;
    case Kind::utf8:
        AppendUtf8(bytes, strOut);
        break;
    case Kind::singleByte:
        for (const char c : bytes)
            strOut += m_byteTable[static_cast<unsigned char>(c)];
        break;
    case Kind::doubleByte:
        AppendDoubleByte(bytes, strOut);
        break;
    case Kind::other:
        AppendOther(bytes, strOut);
        break;
    }
    return strOut;
}

void CCodePageMap::AppendUtf8(std::string_view bytes, std::string& strOut) const
{
    // Each byte that starts no well-formed sequence is replaced alone.
    for (size_t i = 0; i < bytes.size();) {
        const size_t nLength = CCodePageDecoder::Utf8SequenceLength(bytes, i);
        if (nLength == 0) {
            strOut += Utf8Of(kReplacement);
            ++i;
        } else {
            strOut.append(bytes.substr(i, nLength));
            i += nLength;
        }
    }
}

void CCodePageMap::AppendDoubleByte(std::string_view bytes, std::string& strOut)
{
    for (size_t i = 0; i < bytes.size();) {
        const auto cLead = static_cast<unsigned char>(bytes[i]);
        if (!m_pRules->pfnIsLead(cLead)) {
            strOut += m_byteTable[cLead];
            ++i;
            continue;
        }
        if (i + 1 == bytes.size())
            break; // a character cut off by the end of the text
        const auto cTrail = static_cast<unsigned char>(bytes[i + 1]);
        if (!m_pRules->pfnIsTrail(cTrail)) {
            strOut += Utf8Of(m_pRules->chUndefined);
            ++i;
            continue;
        }
        strOut += PairUtf8(static_cast<unsigned>(cLead << 8 | cTrail));
        i += 2;
    }
}

const std::string& CCodePageMap::PairUtf8(unsigned nPair)
{
    if (auto it = m_pairCache.find(nPair); it != m_pairCache.end())
        return it->second;
    const auto decode = [this](unsigned n, std::string& strUtf8) {
        const char pair[2] = {static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)};
        return m_pCodec->Decode(std::string_view(pair, 2), strUtf8) == CSystemCodec::converted;
    };
    if (std::string strUtf8; decode(nPair, strUtf8))
        return m_pairCache.emplace(nPair, std::move(strUtf8)).first->second;
    for (const auto& run : kPrivateUse) {
        if (run.nCodePage != m_pRules->nCodePage || nPair < run.nFrom || nPair > run.nTo)
            continue;
        // The whole run at once: its code points depend on every pair before.
        char32_t ch = run.chFirst;
        for (unsigned n = run.nFrom; n <= run.nTo; ++n) {
            const auto cTrail = static_cast<unsigned char>(n & 0xFF);
            std::string strAssigned;
            if (!run.pfnTakesTrail(cTrail) || decode(n, strAssigned))
                continue;
            m_pairCache[n] = Utf8Of(ch++);
        }
    }
    if (auto it = m_pairCache.find(nPair); it != m_pairCache.end())
        return it->second;
    return m_pairCache.emplace(nPair, Utf8Of(kReplacement)).first->second;
}

void CCodePageMap::AppendOther(std::string_view bytes, std::string& strOut)
{
    // A code page the program has no rules for: the longest character the
    // system converts (up to four bytes), or U+FFFD for one byte.
    constexpr size_t kLongest = 4;
    for (size_t i = 0; i < bytes.size();) {
        size_t nLength = 1;
        CSystemCodec::Result result = CSystemCodec::incomplete;
        for (; i + nLength <= bytes.size() && nLength <= kLongest; ++nLength) {
            result = m_pCodec->Decode(bytes.substr(i, nLength), strOut);
            if (result != CSystemCodec::incomplete)
                break;
        }
        if (result == CSystemCodec::converted) {
            i += nLength;
        } else {
            strOut += Utf8Of(kReplacement);
            ++i;
        }
    }
}
