// `dbfrepair dump`, `info` and `preview` on the forms python3-dbfread reads
// in its own way: stored digits, blanks as null, date-time milliseconds,
// repeated field names, unmarked UTF-8 and Windows-1252 tables, and tables
// without fields. Tables come from tests/peer/write_form_tables.py; every
// dump is checked value for value against dbfread.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::string Peer(const std::string& strName)
{
    return orvtest::ShellQuote(orvtest::SourceDir() + "/tests/peer/" + strName);
}

class FormTables : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pDir = new orvtest::TempDir;
        const auto r = orvtest::Run("/usr/bin/python3 " + Peer("write_form_tables.py") + " "
                                    + orvtest::ShellQuote(s_pDir->Path()) + " 2>&1");
        ASSERT_EQ(r.nExitCode, 0) << r.strOut;
    }
    static void TearDownTestSuite()
    {
        delete s_pDir;
        s_pDir = nullptr;
    }

    static std::string Table(const std::string& strName) { return s_pDir->File(strName); }

    // The tool's standard output (its errors go to the log).
    static orvtest::CommandResult Tool(const std::string& strCommand, const std::string& strTable,
                                       const std::string& strArgs = "")
    {
        return orvtest::Run(orvtest::ShellQuote(orvtest::BinDir() + "/dbfrepair") + " " + strCommand + " "
                            + orvtest::ShellQuote(Table(strTable)) + " " + strArgs);
    }

    static orvtest::TempDir* s_pDir;
};

orvtest::TempDir* FormTables::s_pDir = nullptr;

bool Contains(const std::string& strText, const std::string& strPart)
{
    return strText.find(strPart) != std::string::npos;
}

} // namespace

TEST_F(FormTables, JsonDumpAgreesWithDbfreadOnEveryOne)
{
    const std::pair<const char*, int> tables[] = {{"forms.dbf", 4}, {"stamps.dbf", 4}, {"dup.dbf", 2},
                                                  {"utf8.dbf", 3},  {"ansi.dbf", 3},   {"nofields.dbf", 24},
                                                  {"nofields_pad.dbf", 24}};
    for (const auto& [lpszName, nRecords] : tables) {
        SCOPED_TRACE(lpszName);
        const std::string strJson = Table(std::string(lpszName) + ".json");
        const auto dump = Tool("dump", lpszName, "--json > " + orvtest::ShellQuote(strJson));
        ASSERT_EQ(dump.nExitCode, 0);
        // The unmarked UTF-8 table is compared with dbfread reading UTF-8.
        const std::string strUtf8 = std::string(lpszName) == "utf8.dbf" ? " --utf8" : "";
        const auto r = orvtest::Run("/usr/bin/python3 " + Peer("compare_dump_with_dbfread.py") + " "
                                    + orvtest::ShellQuote(Table(lpszName)) + " " + orvtest::ShellQuote(strJson)
                                    + strUtf8 + " 2>&1");
        EXPECT_EQ(r.strOut, "OK " + std::to_string(nRecords) + "\n");
    }
}

TEST_F(FormTables, NumbersKeepTheirStoredDigits)
{
    const auto json = Tool("dump", "forms.dbf", "--json");
    ASSERT_EQ(json.nExitCode, 0);
    // 19 digits do not survive a double (it would give ...768).
    EXPECT_TRUE(Contains(json.strOut, "[1234567890123456789,null,null,null,null]")) << json.strOut;
    EXPECT_TRUE(Contains(json.strOut, "[0,0.00,0.000,\"2020-01-02\",null]")) << json.strOut;
    EXPECT_TRUE(Contains(json.strOut, "[-0.5,1.00,2.000,")) << json.strOut;
    const auto csv = Tool("dump", "forms.dbf");
    EXPECT_TRUE(Contains(csv.strOut, "false,1234567890123456789,,,,\r\n")) << csv.strOut;
    const auto stamps = Tool("dump", "stamps.dbf");
    EXPECT_TRUE(Contains(stamps.strOut, "false,2006-07-04T14:05:09.999000,92233720368547.5807\r\n")) << stamps.strOut;
}

TEST_F(FormTables, RepeatedNamesKeepBothColumns)
{
    const auto csv = Tool("dump", "dup.dbf");
    EXPECT_EQ(csv.strOut, "deleted,A,A,C\r\nfalse,one,1,true\r\ntrue,two,2,false\r\n");
    const auto preview = Tool("preview", "dup.dbf");
    EXPECT_TRUE(Contains(preview.strOut, "| A     | A    |")) << preview.strOut;
}

TEST_F(FormTables, UnmarkedTablesReadAsUtf8OnlyWhenTheirTextsAre)
{
    const std::pair<const char*, const char*> tables[] = {{"utf8.dbf", "Zoë Ĳ — ✓"}, {"ansi.dbf", "Zoë Å"}};
    for (const auto& [lpszName, lpszText] : tables) {
        SCOPED_TRACE(lpszName);
        EXPECT_TRUE(Contains(Tool("dump", lpszName).strOut, std::string("false,") + lpszText + ",2\r\n"));
        EXPECT_TRUE(Contains(Tool("preview", lpszName).strOut, std::string("| ") + lpszText + " "));
    }
}

TEST_F(FormTables, TableWithoutFieldsShowsItsRecords)
{
    std::string strExpected = "deleted\r\n";
    for (int i = 0; i < 24; ++i)
        strExpected += (i == 1 || i == 23) ? "true\r\n" : "false\r\n";
    for (const char* lpszName : {"nofields.dbf", "nofields_pad.dbf"}) {
        SCOPED_TRACE(lpszName);
        const auto csv = Tool("dump", lpszName);
        EXPECT_EQ(csv.nExitCode, 0);
        EXPECT_EQ(csv.strOut, strExpected);
        const auto info = Tool("info", lpszName);
        EXPECT_TRUE(Contains(info.strOut, "Records:        24\n")) << info.strOut;
        EXPECT_TRUE(Contains(info.strOut, "Fields:         0\n")) << info.strOut;
        const auto preview = Tool("preview", lpszName, "--rows 0");
        EXPECT_EQ(preview.nExitCode, 0);
        EXPECT_TRUE(Contains(preview.strOut, "\n24\n")) << preview.strOut;
    }
}
