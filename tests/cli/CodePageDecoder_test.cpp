// The code-page decoder: which byte runs count as UTF-8, and which code page
// a mark and the table's texts choose.

#include "platform/CodePageDecoder.h"

#include <gtest/gtest.h>

#include <string>

TEST(CodePageDecoder, Utf8TextIsWellFormedUtf8Only)
{
    struct Case {
        std::string strBytes;
        bool bValid, bMultiByte;
    };
    const Case cases[] = {
        {"", true, false},
        {"plain ASCII\t\r\n", true, false},
        {"Zo\xC3\xAB", true, true},              // ë
        {"\xE2\x80\x94 \xF0\x9F\x98\x80", true, true}, // em dash, U+1F600
        {"\xF4\x8F\xBF\xBF", true, true},         // U+10FFFF, the last code point
        {"Zo\xEB", false, false},                 // Windows-1252 ë
        {"\xC0\x80", false, false},               // overlong NUL
        {"\xE0\x9F\xBF", false, false},           // overlong three-byte form
        {"\xED\xA0\x80", false, false},           // surrogate half
        {"\xF4\x90\x80\x80", false, false},       // above U+10FFFF
        {"ok \xE2\x82", false, false},            // cut short at the end
        {"\xC3\xAB\x80", false, false},           // stray continuation byte
    };
    for (const Case& c : cases) {
        bool bMultiByte = !c.bMultiByte;
        EXPECT_EQ(CCodePageDecoder::IsUtf8Text(c.strBytes, &bMultiByte), c.bValid) << c.strBytes;
        if (c.bValid) {
            EXPECT_EQ(bMultiByte, c.bMultiByte) << c.strBytes;
        }
    }
}

TEST(CodePageDecoder, MarkAndTextsChooseTheCodePage)
{
    const std::string strUtf8 = "Zo\xC3\xAB";
    const std::string strAnsi = "Zo\xEB";
    struct Case {
        uint8_t nMark;
        TextEvidence evidence;
        std::string strBytes;
        std::string strExpected;
    };
    const Case cases[] = {
        {0x00, TextEvidence::Utf8, strUtf8, "Zo\xC3\xAB"},      // unmarked UTF-8
        {0xEE, TextEvidence::Utf8, strUtf8, "Zo\xC3\xAB"},      // unknown mark, UTF-8 texts
        {0x00, TextEvidence::None, strAnsi, "Zo\xC3\xAB"},      // unmarked, read as Windows-1252
        {0x00, TextEvidence::DosBytes, "g\x81" "ell", "g\xC3\xBC" "ell"}, // unmarked DOS: 850 güell
        {0x03, TextEvidence::DosBytes, "g\xFC", "g\xC3\xBC"},             // a known mark wins over the texts
        {0x03, TextEvidence::Utf8, strUtf8, "Zo\xC3\x83\xC2\xAB"},
        {0xC9, TextEvidence::None, "\xCD\xC8\xC8", "\xD0\x9D\xD0\x98\xD0\x98"}, // Windows-1251 НИИ
    };
    for (const Case& c : cases) {
        CCodePageDecoder decoder(c.nMark, c.evidence);
        EXPECT_EQ(decoder.ToUtf8(c.strBytes), c.strExpected) << int(c.nMark) << " " << decoder.GetName();
    }
    EXPECT_TRUE(CCodePageDecoder::IsUndecidedMark(0x00));
    EXPECT_TRUE(CCodePageDecoder::IsUndecidedMark(0xEE));
    EXPECT_FALSE(CCodePageDecoder::IsUndecidedMark(0x03));
}

TEST(CodePageDecoder, TheTextsOfTheWholeTableDecide)
{
    struct Case {
        std::vector<std::string> texts;
        TextEvidence evidence;
    };
    const Case cases[] = {
        {{}, TextEvidence::None},
        {{"ascii", "only"}, TextEvidence::None},
        {{"ascii", "Zo\xC3\xAB", ""}, TextEvidence::Utf8},
        {{"Zo\xC3\xAB", "Zo\xEB", "Zo\xC3\xAB"}, TextEvidence::None},
        {{"caf\xE9", "g\x81" "ell"}, TextEvidence::DosBytes}, // one DOS byte anywhere
        {{"\x8D", "\x8F", "\x90", "\x9D"}, TextEvidence::DosBytes},
        {{"\xC5\x81\xC3\xB3" "d\xC5\xBA"}, TextEvidence::Utf8}, // UTF-8 "Łódź" holds 0x81 too
        {{"\x80\x8E\x9F"}, TextEvidence::None},                 // defined in Windows-1252
    };
    for (const Case& c : cases) {
        CCodePageDecoder::CTextVote vote;
        for (const auto& s : c.texts)
            vote.Add(s);
        EXPECT_EQ(vote.GetEvidence(), c.evidence) << c.texts.size() << " " << c.texts.front();
    }
}
