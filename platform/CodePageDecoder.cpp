#include "platform/CodePageDecoder.h"

#include "platform/CodePageMap.h"

namespace {

struct CodePageMark {
    uint8_t nMark;
    const char* lpszName;
};

// Code page marks (language driver ids) as dBASE, FoxPro and Visual FoxPro
// write them.
constexpr CodePageMark kMarks[] = {
    {0x01, "IBM437"},         {0x02, "IBM850"},         {0x03, "windows-1252"},   {0x04, "macintosh"},
    {0x08, "IBM865"},         {0x09, "IBM437"},         {0x0A, "IBM850"},         {0x0B, "IBM437"},
    {0x0D, "IBM437"},         {0x0E, "IBM850"},         {0x0F, "IBM437"},         {0x10, "IBM850"},
    {0x11, "IBM437"},         {0x12, "IBM850"},         {0x13, "windows-31j"},    {0x14, "IBM850"},
    {0x15, "IBM437"},         {0x16, "IBM850"},         {0x17, "IBM865"},         {0x18, "IBM437"},
    {0x19, "IBM437"},         {0x1A, "IBM850"},         {0x1B, "IBM437"},         {0x1C, "IBM863"},
    {0x1D, "IBM850"},         {0x1F, "IBM852"},         {0x22, "IBM852"},         {0x23, "IBM852"},
    {0x24, "IBM860"},         {0x25, "IBM850"},         {0x26, "IBM866"},         {0x37, "IBM850"},
    {0x40, "IBM852"},         {0x4D, "GBK"},            {0x4E, "windows-949"},    {0x4F, "Big5"},
    {0x50, "windows-874"},    {0x57, "windows-1252"},   {0x58, "windows-1252"},   {0x59, "windows-1252"},
    {0x64, "IBM852"},         {0x65, "IBM866"},         {0x66, "IBM865"},         {0x67, "IBM861"},
    {0x6A, "IBM737"},         {0x6B, "IBM857"},         {0x78, "Big5"},           {0x79, "windows-949"},
    {0x7A, "GBK"},            {0x7B, "windows-31j"},    {0x7C, "windows-874"},    {0x7D, "windows-1255"},
    {0x7E, "windows-1256"},   {0x96, "x-mac-cyrillic"}, {0x97, "x-mac-centraleurroman"},
    {0x98, "x-mac-greek"},    {0xC8, "windows-1250"},   {0xC9, "windows-1251"},   {0xCA, "windows-1254"},
    {0xCB, "windows-1253"},
};

constexpr const char* kDefaultCodePage = "windows-1252";
constexpr const char* kUtf8 = "UTF-8";
constexpr const char* kDosCodePage = "IBM850";

// The bytes Windows-1252 leaves undefined; DOS code pages use them for
// letters (850: ü, ì, Å, É, Ø).
constexpr std::string_view kUndefinedInWindows1252 = "\x81\x8D\x8F\x90\x9D";

const char* CodePageFor(uint8_t nMark, TextEvidence evidence)
{
    if (!CCodePageDecoder::IsUndecidedMark(nMark))
        return CodePageNameForMark(nMark);
    switch (evidence) {
    case TextEvidence::Utf8:
        return kUtf8;
    case TextEvidence::DosBytes:
        return kDosCodePage;
    case TextEvidence::None:
        break;
    }
    return kDefaultCodePage;
}

} // namespace

const char* CodePageNameForMark(uint8_t nMark, bool* pbKnown)
{
    for (const auto& m : kMarks) {
        if (m.nMark == nMark) {
            if (pbKnown)
                *pbKnown = true;
            return m.lpszName;
        }
    }
    if (pbKnown)
        *pbKnown = false;
    return kDefaultCodePage;
}

bool CCodePageDecoder::IsUndecidedMark(uint8_t nMark)
{
    bool bKnown = false;
    CodePageNameForMark(nMark, &bKnown);
    return !bKnown;
}

std::string CCodePageDecoder::DescribeChoice(uint8_t nMark, TextEvidence evidence)
{
    const char* lpszCodePage = CodePageFor(nMark, evidence);
    if (!IsUndecidedMark(nMark))
        return lpszCodePage;
    std::string strText = std::string(nMark == 0 ? "unmarked" : "unknown mark") + "; read as " + lpszCodePage;
    switch (evidence) {
    case TextEvidence::Utf8:
        return strText + ": its texts are UTF-8";
    case TextEvidence::DosBytes:
        return strText + " (DOS): its texts hold bytes that Windows-1252 leaves undefined "
                         "(0x81, 0x8D, 0x8F, 0x90 or 0x9D)";
    case TextEvidence::None:
        break;
    }
    return strText + ": its texts are neither UTF-8 nor DOS text";
}

CCodePageDecoder::CCodePageDecoder(uint8_t nMark, TextEvidence evidence)
    : m_lpszName(CodePageFor(nMark, evidence))
    , m_pDecoder(std::make_unique<CCodePageMap>(m_lpszName))
{
    if (!m_pDecoder->IsValid()) {
        m_lpszName = kDefaultCodePage;
        m_pDecoder = std::make_unique<CCodePageMap>(kDefaultCodePage);
    }
}

CCodePageDecoder::CCodePageDecoder(uint8_t nMark, TextEvidence evidence, const std::string& strEncoding)
    : CCodePageDecoder(nMark, evidence)
{
    if (strEncoding.empty())
        return;
    auto pNamed = std::make_unique<CCodePageMap>(strEncoding);
    if (!pNamed->IsValid())
        return; // the mark's code page stays
    m_strNamed = strEncoding;
    m_lpszName = m_strNamed.c_str();
    m_pDecoder = std::move(pNamed);
}

bool CCodePageDecoder::IsKnownEncoding(const std::string& strEncoding)
{
    return !strEncoding.empty() && CCodePageMap(strEncoding).IsValid();
}

CCodePageDecoder::~CCodePageDecoder() = default;

std::string CCodePageDecoder::ToUtf8(std::string_view bytes)
{
    return m_pDecoder->ToUtf8(bytes);
}

size_t CCodePageDecoder::Utf8SequenceLength(std::string_view bytes, size_t i)
{
    const auto byte = [&](size_t n) { return static_cast<unsigned char>(bytes[n]); };
    const unsigned char c = byte(i);
    if (c < 0x80)
        return 1;
    // The lead byte gives the length and the range the second byte must lie
    // in (which rules out overlong forms, surrogates and code points above
    // U+10FFFF); later bytes are 0x80..0xBF.
    size_t nLength = 0;
    unsigned char nLow = 0x80;
    unsigned char nHigh = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        nLength = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        nLength = 3;
        if (c == 0xE0)
            nLow = 0xA0;
        else if (c == 0xED)
            nHigh = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        nLength = 4;
        if (c == 0xF0)
            nLow = 0x90;
        else if (c == 0xF4)
            nHigh = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() - i < nLength)
        return 0;
    if (byte(i + 1) < nLow || byte(i + 1) > nHigh)
        return 0;
    for (size_t k = 2; k < nLength; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    }
    return nLength;
}

bool CCodePageDecoder::IsUtf8Text(std::string_view bytes, bool* pbMultiByte)
{
    if (pbMultiByte)
        *pbMultiByte = false;
    bool bMultiByte = false;
    for (size_t i = 0; i < bytes.size();) {
        const size_t nLength = Utf8SequenceLength(bytes, i);
        if (nLength == 0)
            return false;
        bMultiByte = bMultiByte || nLength > 1;
        i += nLength;
    }
    if (pbMultiByte)
        *pbMultiByte = bMultiByte;
    return true;
}

void CCodePageDecoder::CTextVote::Add(std::string_view bytes)
{
    m_bDosBytes = m_bDosBytes || bytes.find_first_of(kUndefinedInWindows1252) != std::string_view::npos;
    if (!m_bValid)
        return;
    bool bMultiByte = false;
    m_bValid = IsUtf8Text(bytes, &bMultiByte);
    m_bMultiByte = m_bMultiByte || bMultiByte;
}

TextEvidence CCodePageDecoder::CTextVote::GetEvidence() const
{
    if (m_bValid && m_bMultiByte)
        return TextEvidence::Utf8;
    return m_bDosBytes ? TextEvidence::DosBytes : TextEvidence::None;
}
