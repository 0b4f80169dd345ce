#include "dbf/DBFException.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

CDBFException::CDBFException(int32_t nErrorCode) : m_nErrorCode(nErrorCode) {}

CDBFException::CDBFException(int32_t nErrorCode, const char* lpszText) : m_nErrorCode(nErrorCode)
{
    if (lpszText)
        m_message = MessageRecord{nErrorCode, lpszText};
}

bool CDBFException::GetErrorMessage(char* lpszError, unsigned nMaxError,
                                    unsigned* pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (!m_message)
        m_message = MessageRecord{m_nErrorCode, {}};
    if (m_message->strText.empty()) {
        // "00000000%X", last eight characters.
        char hex[32];
        std::snprintf(hex, sizeof hex, "00000000%X", static_cast<unsigned>(m_nErrorCode));
        const size_t len = std::strlen(hex);
        m_message->strText = std::string("Error number 0x") + (hex + len - 8) + ".";
    }
    if (!lpszError || nMaxError == 0)
        return true;
    const size_t n = std::min<size_t>(m_message->strText.size(), nMaxError - 1);
    std::memcpy(lpszError, m_message->strText.data(), n);
    lpszError[n] = '\0';
    return true;
}

void ThrowDBFException(int32_t nErrorCode, const char* lpszText)
{
    throw CDBFException(nErrorCode, lpszText);
}
