// `dbfrepair dump --json` against python3-dbfread, value for value: tables
// written by python3-dbf (dBASE III, FoxPro 2.x, Visual FoxPro, code page
// 1251) and every table of the real-world fixtures.

#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <random>

namespace {

std::string PeerScript(const std::string& strName)
{
    return orvtest::SourceDir() + "/tests/peer/" + strName;
}

// Dumps the table to a JSON file beside the scratch folder's other files.
std::string DumpJson(const orvtest::TempDir& dir, const std::string& strTable)
{
    const std::string strOut = dir.File(std::filesystem::path(strTable).filename().string() + ".json");
    const auto r = orvtest::Run(orvtest::ShellQuote(orvtest::BinDir() + "/dbfrepair") + " dump "
                                + orvtest::ShellQuote(strTable) + " --json > " + orvtest::ShellQuote(strOut));
    EXPECT_EQ(r.nExitCode, 0) << strTable;
    return strOut;
}

// Runs the comparison; returns its report ("OK <n>" when all agree).
orvtest::CommandResult Compare(const std::string& strTable, const std::string& strJson)
{
    return orvtest::Run("/usr/bin/python3 " + orvtest::ShellQuote(PeerScript("compare_dump_with_dbfread.py")) + " "
                        + orvtest::ShellQuote(strTable) + " " + orvtest::ShellQuote(strJson) + " 2>&1");
}

using Json = nlohmann::json;

Json LoadJson(const std::string& strPath)
{
    const auto bytes = orvtest::ReadBytes(strPath);
    const Json doc = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << strPath << ": not JSON";
    return doc;
}

const Json& Value(const Json& dump, int nRecord, int nField)
{
    return dump.at("records").at(nRecord).at("values").at(nField);
}

// The value's text; empty for a value that is no string.
std::string Text(const Json& value)
{
    return value.is_string() ? value.get<std::string>() : std::string();
}

// Characters, not bytes, of UTF-8 text.
size_t CharacterCount(const std::string& strUtf8)
{
    return static_cast<size_t>(
        std::count_if(strUtf8.begin(), strUtf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

class PeerTables : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pDir = new orvtest::TempDir;
        const auto r = orvtest::Run("/usr/bin/python3 " + orvtest::ShellQuote(PeerScript("write_peer_tables.py")) + " "
                                    + orvtest::ShellQuote(s_pDir->Path()) + " 2>&1");
        ASSERT_EQ(r.nExitCode, 0) << r.strOut;
    }
    static void TearDownTestSuite()
    {
        delete s_pDir;
        s_pDir = nullptr;
    }

    // Dumps the table, checks that dbfread agrees, returns the dump.
    Json DumpAndCompare(const std::string& strName, int nRecords)
    {
        const std::string strTable = s_pDir->File(strName);
        const std::string strJson = DumpJson(*s_pDir, strTable);
        const auto r = Compare(strTable, strJson);
        EXPECT_EQ(r.nExitCode, 0) << r.strOut;
        EXPECT_EQ(r.strOut, "OK " + std::to_string(nRecords) + "\n");
        return LoadJson(strJson);
    }

    static orvtest::TempDir* s_pDir;
};

orvtest::TempDir* PeerTables::s_pDir = nullptr;

const std::string kLongMemo = [] {
    std::string s;
    for (int i = 0; i < 700; ++i)
        s += static_cast<char>('a' + i % 26);
    return s + "\r\nsecond line";
}();

} // namespace

TEST_F(PeerTables, DBaseIIIWithDbt)
{
    const Json dump = DumpAndCompare("db3.dbf", 4);
    EXPECT_EQ(Text(Value(dump, 0, 0)), std::string("Zoë Å"));
    EXPECT_EQ(Text(Value(dump, 0, 1)), kLongMemo);
    EXPECT_TRUE(Value(dump, 1, 1).is_string() && Text(Value(dump, 1, 1)).empty());
    EXPECT_TRUE(dump.at("records").at(2).at("deleted").get<bool>());
    EXPECT_EQ(Text(Value(dump, 2, 1)), "short memo");
    EXPECT_EQ(CharacterCount(Text(Value(dump, 3, 1))), 256u);
    EXPECT_EQ(Text(Value(dump, 3, 4)), "1900-02-28");
}

TEST_F(PeerTables, FoxProWithFpt)
{
    const Json dump = DumpAndCompare("fp.dbf", 5);
    EXPECT_EQ(Text(Value(dump, 0, 1)), kLongMemo);
    // A memo value is its stored length, NULs and all, in CSV too.
    EXPECT_EQ(CharacterCount(Text(Value(dump, 4, 1))), 16u);
    const auto csv = orvtest::Run(orvtest::ShellQuote(orvtest::BinDir() + "/dbfrepair") + " dump "
                                  + orvtest::ShellQuote(s_pDir->File("fp.dbf")));
    EXPECT_NE(csv.strOut.find(std::string("JFIF\0\x01tail", 10)), std::string::npos);
    EXPECT_DOUBLE_EQ(Value(dump, 1, 3).get<double>(), -2.5);
    EXPECT_EQ(Text(Value(dump, 1, 5)), "2000-02-29");
    EXPECT_TRUE(dump.at("records").at(2).at("deleted").get<bool>());
}

TEST_F(PeerTables, VisualFoxProWithNullableFields)
{
    const Json dump = DumpAndCompare("vfp.dbf", 4);
    const Json& fields = dump.at("fields");
    ASSERT_EQ(fields.size(), 10u);
    EXPECT_EQ(Text(fields.at(9).at("type")), "0");
    EXPECT_EQ(Text(Value(dump, 0, 2)), "12.3456");
    EXPECT_EQ(Text(Value(dump, 0, 3)), "2006-07-04T14:05:09");
    EXPECT_EQ(Text(Value(dump, 0, 7)), kLongMemo);
    EXPECT_TRUE(dump.at("records").at(1).at("deleted").get<bool>());
    EXPECT_EQ(Text(Value(dump, 1, 2)), "-0.5000");
    EXPECT_EQ(Value(dump, 2, 1).get<int64_t>(), 2147483646);
    EXPECT_EQ(Text(Value(dump, 2, 2)), "92233720368547.5807");
    EXPECT_EQ(Text(Value(dump, 2, 7)), ""); // empty memo stored with length 0
    EXPECT_EQ(Text(Value(dump, 3, 6)), "0001-01-01");
}

TEST_F(PeerTables, CyrillicCodePage)
{
    const Json dump = DumpAndCompare("cyr.dbf", 2);
    EXPECT_EQ(Text(Value(dump, 1, 0)), std::string("НИИ Ёё"));
}

TEST(RealTables, DumpAgreesWithDbfreadOnEveryOne)
{
    orvtest::TempDir dir;
    int nTables = 0;
    for (const auto& entry : std::filesystem::directory_iterator(orvtest::RealFixturesDir())) {
        if (entry.path().extension() != ".dbf")
            continue;
        ++nTables;
        const std::string strTable = entry.path().string();
        const auto r = Compare(strTable, DumpJson(dir, strTable));
        EXPECT_EQ(r.nExitCode, 0) << strTable << "\n" << r.strOut;
        EXPECT_EQ(r.strOut.rfind("OK ", 0), 0u) << strTable << "\n" << r.strOut;
    }
    EXPECT_EQ(nTables, 8);
}

TEST(RealTables, CyrillicAndMemoValues)
{
    orvtest::TempDir dir;
    const Json cyr = LoadJson(DumpJson(dir, orvtest::RealFixturesDir() + "/cp1251.dbf"));
    EXPECT_EQ(Text(Value(cyr, 2, 1)), std::string("НИИ"));
    const Json memo = LoadJson(DumpJson(dir, orvtest::RealFixturesDir() + "/memotest.dbf"));
    EXPECT_EQ(Text(Value(memo, 0, 2)), "Alice memo"); // 512-byte FoxPro blocks
}

// Bytes after the records the header counts (junk, a second end mark) are
// left unread, as dbfread leaves them: the dump holds the table's records,
// no more.
TEST(RealTables, BytesAfterTheRecordsAreLeftAsDbfreadLeavesThem)
{
    std::mt19937 random(263);
    std::vector<unsigned char> junk(263);
    for (unsigned char& ch : junk)
        ch = static_cast<unsigned char>(random());
    struct Case {
        const char* pszTable;
        std::vector<unsigned char> appended;
        const char* pszExpected;
    };
    const Case cases[] = {
        {"cp1251.dbf", junk, "OK 4\n"},
        {"dbase_03.dbf", {0x1A}, "OK 14\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszTable);
        orvtest::TempDir dir;
        auto bytes = orvtest::ReadBytes(orvtest::RealFixturesDir() + "/" + c.pszTable);
        bytes.insert(bytes.end(), c.appended.begin(), c.appended.end());
        const std::string strTable = dir.File(c.pszTable);
        orvtest::WriteBytes(strTable, bytes);
        EXPECT_EQ(Compare(strTable, DumpJson(dir, strTable)).strOut, c.pszExpected);
    }
}
