#include "platform/VariantConversionException.h"

#include <algorithm>
#include <cstring>

CVariantConversionException::CVariantConversionException(std::string strText)
    : m_strText(std::move(strText))
{
}

bool CVariantConversionException::GetErrorMessage(char* lpszError, unsigned nMaxError,
                                                  unsigned* pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (!lpszError || nMaxError == 0)
        return true;
    const size_t n = std::min<size_t>(m_strText.size(), nMaxError - 1);
    std::memcpy(lpszError, m_strText.data(), n);
    lpszError[n] = '\0';
    return true;
}

void ThrowVariantConversionException(const std::string& strText)
{
    throw CVariantConversionException(strText);
}
