#include "platform/windows/WideText.h"

#include <windows.h>

std::wstring CWideText::FromUtf8(const std::string& strUtf8)
{
    if (strUtf8.empty())
        return {};
    const int nIn = static_cast<int>(strUtf8.size());
    const int nWide = ::MultiByteToWideChar(CP_UTF8, 0, strUtf8.data(), nIn, nullptr, 0);
    std::wstring strWide(static_cast<size_t>(nWide > 0 ? nWide : 0), L'\0');
    if (nWide > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, strUtf8.data(), nIn, strWide.data(), nWide);
    return strWide;
}

std::string CWideText::ToUtf8(const std::wstring& strWide)
{
    if (strWide.empty())
        return {};
    const int nIn = static_cast<int>(strWide.size());
    const int nUtf8 = ::WideCharToMultiByte(CP_UTF8, 0, strWide.data(), nIn, nullptr, 0, nullptr, nullptr);
    std::string strUtf8(static_cast<size_t>(nUtf8 > 0 ? nUtf8 : 0), '\0');
    if (nUtf8 > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, strWide.data(), nIn, strUtf8.data(), nUtf8, nullptr, nullptr);
    return strUtf8;
}
