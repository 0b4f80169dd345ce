#pragma once
// Text of a table in its code page, turned into UTF-8 for output.
//
// The code page mark of the header (byte 29) names the code page the table's
// texts are in; an unmarked table (0x00) and an unknown mark are read as
// Windows-1252, the ANSI code page the tables are usually written in.

#include <cstdint>
#include <memory>
#include <string>

class QStringDecoder;

// The code page for a mark: a name the text codec knows ("windows-1251",
// "IBM437", ...), and whether the mark is one of the known ones.
const char* CodePageNameForMark(uint8_t nMark, bool* pbKnown = nullptr);

class CCodePageDecoder {
public:
    explicit CCodePageDecoder(uint8_t nMark);
    ~CCodePageDecoder();
    CCodePageDecoder(const CCodePageDecoder&) = delete;
    CCodePageDecoder& operator=(const CCodePageDecoder&) = delete;

    const char* GetName() const { return m_lpszName; }
    // The bytes as UTF-8; bytes the code page does not define become U+FFFD.
    std::string ToUtf8(const std::string& strBytes);

private:
    const char* m_lpszName;
    std::unique_ptr<QStringDecoder> m_pDecoder;
};
