#pragma once
// The texts of a table as UTF-8: in the code page its mark names (see
// CCodePageDecoder), or in the one the user names with --encoding when the
// mark is wrong or missing.

#include "platform/CodePageDecoder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QStringDecoder;

class CTextDecoder {
public:
    // An empty strEncoding leaves the choice to the mark (and, for an
    // undecided mark, to bTextIsUtf8). REQUIRES: IsKnownEncoding(strEncoding)
    // when not empty.
    CTextDecoder(uint8_t nMark, bool bTextIsUtf8, const std::string& strEncoding);
    ~CTextDecoder();
    CTextDecoder(const CTextDecoder&) = delete;
    CTextDecoder& operator=(const CTextDecoder&) = delete;

    std::string ToUtf8(std::string_view bytes);

    // True when the text codec knows the name ("cp1251", "IBM866", ...).
    static bool IsKnownEncoding(const std::string& strEncoding);

private:
    CCodePageDecoder m_markDecoder;
    std::unique_ptr<QStringDecoder> m_pNamed;
};
