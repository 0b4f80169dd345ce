#include "platform/SystemCodec.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <cerrno>
#include <iconv.h>
#endif

#ifdef _WIN32

struct CSystemCodec::Handle {
    UINT nCodePage = 0;
};

CSystemCodec::CSystemCodec(unsigned nCodePage, const std::string&) : m_pHandle(std::make_unique<Handle>())
{
    CPINFO info;
    if (nCodePage != 0 && ::GetCPInfo(nCodePage, &info))
        m_pHandle->nCodePage = nCodePage;
}

CSystemCodec::~CSystemCodec() = default;

bool CSystemCodec::IsValid() const
{
    return m_pHandle->nCodePage != 0;
}

CSystemCodec::Result CSystemCodec::Decode(std::string_view bytes, std::string& strUtf8)
{
    if (!IsValid())
        return invalid;
    if (bytes.empty())
        return converted;
    const int nIn = static_cast<int>(bytes.size());
    const int nWide = ::MultiByteToWideChar(m_pHandle->nCodePage, MB_ERR_INVALID_CHARS, bytes.data(), nIn, nullptr, 0);
    if (nWide <= 0) {
        // A lone lead byte at the end is a character cut short, not a wrong
        // one.
        const BYTE cLast = static_cast<BYTE>(bytes.back());
        return ::IsDBCSLeadByteEx(m_pHandle->nCodePage, cLast) ? incomplete : invalid;
    }
    std::vector<wchar_t> wide(static_cast<size_t>(nWide));
    ::MultiByteToWideChar(m_pHandle->nCodePage, MB_ERR_INVALID_CHARS, bytes.data(), nIn, wide.data(), nWide);
    const int nUtf8 = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), nWide, nullptr, 0, nullptr, nullptr);
    if (nUtf8 <= 0)
        return invalid;
    const size_t nOld = strUtf8.size();
    strUtf8.resize(nOld + static_cast<size_t>(nUtf8));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), nWide, strUtf8.data() + nOld, nUtf8, nullptr, nullptr);
    return converted;
}

#else

namespace {

// iconv's names for the Windows code page numbers that have no
// "WINDOWS-<n>" or "IBM<n>" name of their own in glibc.
struct IconvName {
    unsigned nCodePage;
    const char* lpszName;
};
constexpr IconvName kIconvNames[] = {
    {737, "CP737"},          {874, "WINDOWS-874"},        {932, "WINDOWS-31J"},       {936, "CP936"},
    {949, "CP949"},          {950, "CP950"},              {10000, "MACINTOSH"},       {10007, "MAC-CYRILLIC"},
    {10029, "MAC-CENTRALEUROPE"},
};

std::string NameForIconv(unsigned nCodePage, const std::string& strName)
{
    if (nCodePage == 0)
        return strName;
    for (const auto& n : kIconvNames) {
        if (n.nCodePage == nCodePage)
            return n.lpszName;
    }
    return (nCodePage >= 1250 && nCodePage <= 1258 ? "WINDOWS-" : "IBM") + std::to_string(nCodePage);
}

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

} // namespace

struct CSystemCodec::Handle {
    iconv_t cd = kNoConverter;
};

CSystemCodec::CSystemCodec(unsigned nCodePage, const std::string& strName) : m_pHandle(std::make_unique<Handle>())
{
    const std::string strIconv = NameForIconv(nCodePage, strName);
    if (!strIconv.empty())
        m_pHandle->cd = ::iconv_open("UTF-8", strIconv.c_str());
}

CSystemCodec::~CSystemCodec()
{
    if (IsValid())
        ::iconv_close(m_pHandle->cd);
}

bool CSystemCodec::IsValid() const
{
    return m_pHandle->cd != kNoConverter;
}

CSystemCodec::Result CSystemCodec::Decode(std::string_view bytes, std::string& strUtf8)
{
    if (!IsValid())
        return invalid;
    ::iconv(m_pHandle->cd, nullptr, nullptr, nullptr, nullptr);
    const size_t nOld = strUtf8.size();
    char* pIn = const_cast<char*>(bytes.data());
    size_t nIn = bytes.size();
    char buf[1024];
    for (bool bFlushed = false; !bFlushed;) {
        char* pOut = buf;
        size_t nOut = sizeof buf;
        // The last round (no input) writes out what a stateful code page
        // still holds.
        const bool bFlush = nIn == 0;
        const size_t r = bFlush ? ::iconv(m_pHandle->cd, nullptr, nullptr, &pOut, &nOut)
                                : ::iconv(m_pHandle->cd, &pIn, &nIn, &pOut, &nOut);
        strUtf8.append(buf, static_cast<size_t>(pOut - buf));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            const Result result = errno == EINVAL ? incomplete : invalid;
            strUtf8.resize(nOld);
            return result;
        }
        bFlushed = bFlush && r != static_cast<size_t>(-1);
    }
    return converted;
}

#endif
