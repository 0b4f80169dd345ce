#pragma once
// Raised when a value cannot be converted to the wanted kind (a text that is
// no number, a Null to text, an amount out of range).

#include "platform/Exception.h"

#include <string>

class CVariantConversionException : public CException {
public:
    explicit CVariantConversionException(std::string strText);

    bool GetErrorMessage(char* lpszError, unsigned nMaxError,
                         unsigned* pnHelpContext = nullptr) const override;

private:
    std::string m_strText;
};

[[noreturn]] void ThrowVariantConversionException(const std::string& strText);
