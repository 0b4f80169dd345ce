#pragma once
// Text of a table in its code page, turned into UTF-8 for output.
//
// The code page mark of the header (byte 29) names the code page the table's
// texts are in. An unmarked table (0x00) or an unknown mark says nothing:
// such a table whose texts are valid UTF-8 with at least one multi-byte
// sequence was written as UTF-8 (by today's tools) and is read so; otherwise
// it is read as Windows-1252, the ANSI code page the tables are usually
// written in. The caller makes that table-level decision over the texts it
// has (CUtf8Vote), since a single value cannot tell.
//
// Used by the command-line tool's dump and preview and by the repair
// engine's preview fill.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QStringDecoder;

// The code page for a mark: a name the text codec knows ("windows-1251",
// "IBM437", ...), and whether the mark is one of the known ones.
const char* CodePageNameForMark(uint8_t nMark, bool* pbKnown = nullptr);

class CCodePageDecoder {
public:
    // The mark's code page; for mark 0 or an unknown mark, UTF-8 when
    // bTextIsUtf8, else Windows-1252. A known mark ignores bTextIsUtf8.
    explicit CCodePageDecoder(uint8_t nMark, bool bTextIsUtf8 = false);
    // The code page strEncoding names, whatever the mark (for a table whose
    // mark is wrong or missing); an empty name leaves it to the mark as above.
    // REQUIRES: IsKnownEncoding(strEncoding) when not empty.
    CCodePageDecoder(uint8_t nMark, bool bTextIsUtf8, const std::string& strEncoding);
    ~CCodePageDecoder();
    CCodePageDecoder(const CCodePageDecoder&) = delete;
    CCodePageDecoder& operator=(const CCodePageDecoder&) = delete;

    const char* GetName() const { return m_lpszName; }
    // The bytes as UTF-8; bytes the code page does not define become U+FFFD.
    std::string ToUtf8(std::string_view bytes);

    // True when the mark leaves the code page open (0 or unknown), so that
    // the texts decide between UTF-8 and Windows-1252.
    static bool IsUndecidedMark(uint8_t nMark);

    // True when the text codec knows the name ("cp1251", "IBM866", ...).
    static bool IsKnownEncoding(const std::string& strEncoding);

    // True when the bytes are well-formed UTF-8 (no overlong forms, no
    // surrogates, nothing above U+10FFFF). *pbMultiByte (when given) tells
    // whether they hold at least one multi-byte sequence; plain ASCII is
    // valid UTF-8 without one.
    static bool IsUtf8Text(std::string_view bytes, bool* pbMultiByte);

    // Length of the well-formed UTF-8 sequence at bytes[i] (1 for ASCII), or
    // 0 when none starts there. REQUIRES i < bytes.size().
    static size_t Utf8SequenceLength(std::string_view bytes, size_t i);

    // The table-level decision: feed it every text sampled; the table is
    // UTF-8 when all of them are valid UTF-8 and one at least has a
    // multi-byte sequence.
    class CUtf8Vote {
    public:
        void Add(std::string_view bytes);
        bool IsUtf8() const { return m_bValid && m_bMultiByte; }

    private:
        bool m_bValid = true;
        bool m_bMultiByte = false;
    };

private:
    std::string m_strNamed; // the name given, when one was
    const char* m_lpszName;
    std::unique_ptr<QStringDecoder> m_pDecoder;
};
