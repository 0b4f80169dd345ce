#include "cli/CodePage.h"

#include <QStringDecoder>

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

CCodePageDecoder::CCodePageDecoder(uint8_t nMark)
    : m_lpszName(CodePageNameForMark(nMark))
    , m_pDecoder(std::make_unique<QStringDecoder>(m_lpszName, QStringConverter::Flag::Stateless))
{
    if (!m_pDecoder->isValid()) {
        m_lpszName = kDefaultCodePage;
        m_pDecoder = std::make_unique<QStringDecoder>(kDefaultCodePage, QStringConverter::Flag::Stateless);
    }
}

CCodePageDecoder::~CCodePageDecoder() = default;

std::string CCodePageDecoder::ToUtf8(const std::string& strBytes)
{
    const QString text = m_pDecoder->decode(QByteArrayView(strBytes.data(), static_cast<qsizetype>(strBytes.size())));
    return text.toUtf8().toStdString();
}
