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
        bool bTextIsUtf8;
        std::string strBytes;
        std::string strExpected;
    };
    const Case cases[] = {
        {0x00, true, strUtf8, "Zo\xC3\xAB"},       // unmarked UTF-8
        {0xEE, true, strUtf8, "Zo\xC3\xAB"},       // unknown mark, UTF-8 texts
        {0x00, false, strAnsi, "Zo\xC3\xAB"},      // unmarked, read as Windows-1252
        {0x03, true, strUtf8, "Zo\xC3\x83\xC2\xAB"}, // a known mark wins over the texts
        {0xC9, false, "\xCD\xC8\xC8", "\xD0\x9D\xD0\x98\xD0\x98"}, // Windows-1251 НИИ
    };
    for (const Case& c : cases) {
        CCodePageDecoder decoder(c.nMark, c.bTextIsUtf8);
        EXPECT_EQ(decoder.ToUtf8(c.strBytes), c.strExpected) << int(c.nMark) << " " << decoder.GetName();
    }
    EXPECT_TRUE(CCodePageDecoder::IsUndecidedMark(0x00));
    EXPECT_TRUE(CCodePageDecoder::IsUndecidedMark(0xEE));
    EXPECT_FALSE(CCodePageDecoder::IsUndecidedMark(0x03));
}

TEST(CodePageDecoder, OneTextThatIsNoUtf8DecidesForTheCodePage)
{
    struct Case {
        std::vector<std::string> texts;
        bool bUtf8;
    };
    const Case cases[] = {
        {{}, false},
        {{"ascii", "only"}, false},
        {{"ascii", "Zo\xC3\xAB", ""}, true},
        {{"Zo\xC3\xAB", "Zo\xEB", "Zo\xC3\xAB"}, false},
    };
    for (const Case& c : cases) {
        CCodePageDecoder::CUtf8Vote vote;
        for (const auto& s : c.texts)
            vote.Add(s);
        EXPECT_EQ(vote.IsUtf8(), c.bUtf8) << c.texts.size();
    }
}
