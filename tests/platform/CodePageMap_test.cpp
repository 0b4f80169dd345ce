// Code pages read through the system's converter. The expected text of every
// code page a table mark names is python3's: the test has /usr/bin/python3
// encode a sample in the code page at test time and reads the bytes back
// through the mark's decoder.

#include "platform/CodePageDecoder.h"
#include "platform/CodePageMap.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

struct Sample {
    const char* lpszCodePage;  // as the marks name it
    const char* lpszPython;    // python3's codec
    const char* lpszText;      // UTF-8, letters the code page holds
};

const Sample kSamples[] = {
    {"IBM437", "cp437", "Größe ½ £ ñ ╔═╗ ░▒▓ αßΓπ"},
    {"IBM850", "cp850", "Größe Çà ø Æ ½ ¾ ©"},
    {"IBM852", "cp852", "Łódź Żółć Čeština ő"},
    {"IBM857", "cp857", "Türkçe ğüşıöç İ"},
    {"IBM860", "cp860", "São Paulo ação Ê"},
    {"IBM861", "cp861", "Íslenska þð Ý"},
    {"IBM863", "cp863", "Québec à l'été Ç"},
    {"IBM865", "cp865", "Blåbær Ørsted Æ"},
    {"IBM866", "cp866", "Привет, мир Ёё"},
    {"IBM737", "cp737", "Ελληνικά κείμενο"},
    {"windows-874", "cp874", "ภาษาไทย ๑๒๓"},
    {"windows-1250", "cp1250", "Łódź Čeština ő"},
    {"windows-1251", "cp1251", "Привет мир Ёё"},
    {"windows-1252", "cp1252", "Zoë Åsa — “quoted” € œ"},
    {"windows-1253", "cp1253", "Ελληνικά κείμενο"},
    {"windows-1254", "cp1254", "Türkçe ğüşıöç İ"},
    {"windows-1255", "cp1255", "עברית שלום"},
    {"windows-1256", "cp1256", "العربية نص"},
    {"macintosh", "mac_roman", "Zoë Åsa — “quoted” € π"},
    {"x-mac-cyrillic", "mac_cyrillic", "Привет мир Ёё"},
    {"x-mac-centraleurroman", "mac_latin2", "Łódź Čeština ő"},
    {"x-mac-greek", "mac_greek", "Ελληνικά κείμενο"},
    {"windows-31j", "cp932", "日本語のテキスト ｶﾀｶﾅ ①"},
    {"GBK", "gbk", "中文简体 汉字"},
    {"windows-949", "cp949", "한국어 텍스트 漢字"},
    {"Big5", "cp950", "繁體中文 臺灣"},
};

// The samples in their code pages as python3 encodes them, by code page.
std::map<std::string, std::string> EncodedByPython()
{
    const char* const kScript = R"(
import sys
args = sys.argv[1:]
for name, codec, text in zip(args[0::3], args[1::3], args[2::3]):
    print(name, text.encode(codec).hex())
)";
    std::vector<std::string> args;
    for (const Sample& s : kSamples) {
        args.push_back(s.lpszCodePage);
        args.push_back(s.lpszPython);
        args.push_back(s.lpszText);
    }
    const auto result = orvtest::RunPython(kScript, args);
    EXPECT_EQ(result.nExitCode, 0);
    std::map<std::string, std::string> encoded;
    std::istringstream lines(result.strOut);
    for (std::string strName, strHex; lines >> strName >> strHex;) {
        std::string& strBytes = encoded[strName];
        for (size_t i = 0; i + 1 < strHex.size(); i += 2)
            strBytes += static_cast<char>(std::stoi(strHex.substr(i, 2), nullptr, 16));
    }
    return encoded;
}

} // namespace

TEST(CodePageMap, EveryMarkReadsPythonsSampleOfItsCodePage)
{
    const auto encoded = EncodedByPython();
    int nMarks = 0;
    for (int nMark = 1; nMark < 256; ++nMark) {
        bool bKnown = false;
        const std::string strName = CodePageNameForMark(static_cast<uint8_t>(nMark), &bKnown);
        if (!bKnown)
            continue;
        ++nMarks;
        SCOPED_TRACE(strName);
        const Sample* pSample = nullptr;
        for (const Sample& s : kSamples) {
            if (strName == s.lpszCodePage)
                pSample = &s;
        }
        ASSERT_NE(pSample, nullptr) << "no sample for the code page of mark " << nMark;
        ASSERT_EQ(encoded.count(strName), 1u);
        CCodePageDecoder decoder(static_cast<uint8_t>(nMark));
        EXPECT_STREQ(decoder.GetName(), strName.c_str());
        EXPECT_EQ(decoder.ToUtf8(encoded.at(strName)), pSample->lpszText);
    }
    EXPECT_GT(nMarks, 0);
}

// The corners where a system converter may go its own way.
TEST(CodePageMap, BytesTheCodePageLeavesOpen)
{
    struct Case {
        const char* lpszCodePage;
        std::string strBytes;
        std::string strUtf8;
    };
    const Case cases[] = {
        {"windows-1252", "a\x81z", "a\xC2\x81z"},            // undefined: the C1 control
        {"windows-1253", "\xD2", "\xEF\xBF\xBD"},            // undefined above 0x9F: U+FFFD
        {"IBM437", "\x1A\x1C\x7F", "\x1C\x7F\x1A"},          // IBM's round of controls
        {"windows-31j", "A\x82", "A"},                       // a lead cut off by the end
        {"windows-31j", "\x82 A", "\x1A A"},                 // a lead without trail: IBM's SUB
        {"GBK", "\x81" "1x", "\xEF\xBF\xBD" "1x"},           // the byte after is read anew
        {"Big5", "\x81\x40", "\xEE\xBA\xB8"},                // user-defined: U+EEB8
        {"windows-949", "\xC9\xA1", "\xEE\x80\x80"},         // user-defined: U+E000
        {"UTF-8", "\xE1\x8F" "A\xC3\xAB", "\xEF\xBF\xBD\xEF\xBF\xBD" "A\xC3\xAB"},
        {"cp1251", "\xCD\xC8\xC8", "\xD0\x9D\xD0\x98\xD0\x98"}, // a name by its number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lpszCodePage);
        CCodePageMap map(c.lpszCodePage);
        ASSERT_TRUE(map.IsValid());
        EXPECT_EQ(map.ToUtf8(c.strBytes), c.strUtf8);
    }
    EXPECT_FALSE(CCodePageMap("no-such-code-page").IsValid());
}
