#include "platform/Exception.h"

#include "platform/ErrorReporter.h"

#include <vector>

std::string CException::GetMessage() const
{
    std::vector<char> buf(4096);
    if (!GetErrorMessage(buf.data(), static_cast<unsigned>(buf.size())))
        return {};
    return std::string(buf.data());
}

void CException::ReportError(CErrorReporter* pReporter) const
{
    ReportErrorText(pReporter, GetMessage());
}

const char* CException::what() const noexcept
{
    try {
        m_strWhat = GetMessage();
    } catch (...) {
        return "error";
    }
    return m_strWhat.c_str();
}
