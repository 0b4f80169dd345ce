#pragma once
// UTF-8 as the program keeps text, UTF-16 as the Windows calls take it.

#include <string>

class CWideText {
public:
    static std::wstring FromUtf8(const std::string& strUtf8);
    static std::string ToUtf8(const std::wstring& strWide);
};
