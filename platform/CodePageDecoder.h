#pragma once
// Text of a table in its code page, turned into UTF-8 for output.
//
// The code page mark of the header (byte 29) names the code page the table's
// texts are in. An unmarked table (0x00) or an unknown mark says nothing, so
// its texts decide, in this order:
//  1. all valid UTF-8, at least one multi-byte sequence: written as UTF-8
//     (by today's tools), read so;
//  2. a byte that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
//     0x9D): no Windows program wrote it, so it was most likely written under
//     a DOS code page (dBASE, FoxPro 2.x, Clipper), read as 850, the DOS
//     code page of Western Europe ("g\x81ell" reads "güell");
//  3. otherwise Windows-1252, the ANSI code page tables are usually written in.
// The caller makes that table-level decision over the texts it has
// (CTextVote), since a single value cannot tell.
//
// Used by the command-line tool's info, dump and preview and by the repair
// engine's preview fill (which the wizard's grid shows).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CCodePageMap;

// What the texts of an unmarked table show of their code page (see above).
enum class TextEvidence { None, Utf8, DosBytes };

// The code page for a mark: a name the text codec knows ("windows-1251",
// "IBM437", ...), and whether the mark is one of the known ones.
const char* CodePageNameForMark(uint8_t nMark, bool* pbKnown = nullptr);

class CCodePageDecoder {
public:
    // The mark's code page; for mark 0 or an unknown mark, the one the
    // texts' evidence points to (see above). A known mark ignores it.
    explicit CCodePageDecoder(uint8_t nMark, TextEvidence evidence = TextEvidence::None);
    // The code page strEncoding names, whatever the mark (for a table whose
    // mark is wrong or missing); an empty name leaves it to the mark as above.
    // REQUIRES: IsKnownEncoding(strEncoding) when not empty.
    CCodePageDecoder(uint8_t nMark, TextEvidence evidence, const std::string& strEncoding);
    ~CCodePageDecoder();
    CCodePageDecoder(const CCodePageDecoder&) = delete;
    CCodePageDecoder& operator=(const CCodePageDecoder&) = delete;

    const char* GetName() const { return m_lpszName; }
    // The bytes as UTF-8; bytes the code page does not define become U+FFFD.
    std::string ToUtf8(std::string_view bytes);

    // True when the mark leaves the code page open (0 or unknown), so that
    // the texts decide.
    static bool IsUndecidedMark(uint8_t nMark);

    // The code page a table is read in and why, for people: the mark's code
    // page, or for an undecided mark the one the evidence chose and the
    // reason ("unmarked; read as IBM850: ...").
    static std::string DescribeChoice(uint8_t nMark, TextEvidence evidence);

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

    // The table-level decision: feed it every text sampled.
    class CTextVote {
    public:
        void Add(std::string_view bytes);
        TextEvidence GetEvidence() const;

    private:
        bool m_bValid = true;
        bool m_bMultiByte = false;
        bool m_bDosBytes = false;
    };

private:
    std::string m_strNamed; // the name given, when one was
    const char* m_lpszName;
    std::unique_ptr<CCodePageMap> m_pDecoder;
};
