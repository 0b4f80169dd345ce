// dbfrepair's command line: help, exit codes, info output, CSV form and
// error messages.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

orvtest::CommandResult Tool(const std::string& strArgs, bool bWithStderr = false)
{
    return orvtest::Run(orvtest::ShellQuote(orvtest::BinDir() + "/dbfrepair") + " " + strArgs
                        + (bWithStderr ? " 2>&1" : " 2>/dev/null"));
}

std::string Real(const std::string& strName)
{
    return orvtest::ShellQuote(orvtest::RealFixturesDir() + "/" + strName);
}

bool Contains(const std::string& strText, const std::string& strPart)
{
    return strText.find(strPart) != std::string::npos;
}

} // namespace

TEST(CliUsage, HelpAndBadUsageExitCodes)
{
    auto r = Tool("--help");
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_TRUE(Contains(r.strOut, "info")) << r.strOut;
    EXPECT_TRUE(Contains(r.strOut, "dump")) << r.strOut;
    r = Tool("dump --help");
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_TRUE(Contains(r.strOut, "--json"));
    r = Tool("help info");
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_TRUE(Contains(r.strOut, "Usage: dbfrepair info"));

    EXPECT_EQ(Tool("").nExitCode, 2);
    EXPECT_EQ(Tool("frobnicate x.dbf").nExitCode, 2);
    EXPECT_EQ(Tool("info").nExitCode, 2);
    EXPECT_EQ(Tool("dump").nExitCode, 2);
    EXPECT_EQ(Tool("dump --xml " + Real("dbase_03.dbf")).nExitCode, 2);
    EXPECT_EQ(Tool("info a.dbf b.dbf").nExitCode, 2);
}

TEST(CliInfo, ShowsHeaderMemoAndFields)
{
    const auto r = Tool("info " + Real("dbase_83.dbf"));
    ASSERT_EQ(r.nExitCode, 0);
    EXPECT_TRUE(Contains(r.strOut, "Version:        0x83 (dBASE III with memo)")) << r.strOut;
    EXPECT_TRUE(Contains(r.strOut, "Records:        67"));
    EXPECT_TRUE(Contains(r.strOut, "Header length:  513"));
    EXPECT_TRUE(Contains(r.strOut, "Record length:  805"));
    EXPECT_TRUE(Contains(r.strOut, "Memo kind:      1 (dBASE III)"));
    EXPECT_TRUE(Contains(r.strOut, "dbase_83.dbt (found, block size 512)"));
    EXPECT_TRUE(Contains(r.strOut, "Fields:         15"));
    EXPECT_TRUE(Contains(r.strOut, "DESC           M     10    0     780  0x00")) << r.strOut;

    const auto vfp = Tool("info " + Real("dbase_30.dbf"));
    EXPECT_TRUE(Contains(vfp.strOut, "Code page mark: 0x03 (windows-1252)"));
    EXPECT_TRUE(Contains(vfp.strOut, "Table flags:    0x03 structural-index memo"));
    EXPECT_TRUE(Contains(vfp.strOut, "FLAGDATE       T      8    0     803  0x04 binary")) << vfp.strOut;
}

TEST(CliInfo, MissingMemoFileIsShownNotFatal)
{
    orvtest::TempDir dir;
    std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_83.dbf", dir.File("t.dbf"));
    const auto r = Tool("info " + orvtest::ShellQuote(dir.File("t.dbf")));
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_TRUE(Contains(r.strOut, "t.DBT (not found)")) << r.strOut;
    // The dump needs the memo texts: it fails and names the missing file.
    const auto d = Tool("dump " + orvtest::ShellQuote(dir.File("t.dbf")), true);
    EXPECT_EQ(d.nExitCode, 1);
    EXPECT_TRUE(Contains(d.strOut, "its memo file " + dir.File("t.DBT") + " is missing")) << d.strOut;
}

// Bytes after the records the header counts are not read: info notes them
// and reads the table.
TEST(CliInfo, BytesPastTheRecordsAreANoteNotAProblem)
{
    struct Case {
        const char* pszName;
        std::function<void(std::vector<unsigned char>&)> fnChange;
        const char* pszNote;
    };
    const Case cases[] = {
        {"second end mark", [](std::vector<unsigned char>& b) { b.push_back(0x1A); },
         "record count 14 needs 9285 bytes, the file has 9287: the 2 bytes after the records are not read"},
        {"record count zeroed", [](std::vector<unsigned char>& b) { std::fill_n(b.begin() + 4, 4, 0); },
         "record count 0 needs 1025 bytes, the file has 9286: the 8261 bytes after the records are not read "
         "(room for 14 whole records)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        orvtest::TempDir dir;
        auto bytes = orvtest::ReadBytes(orvtest::RealFixturesDir() + "/dbase_03.dbf");
        c.fnChange(bytes);
        orvtest::WriteBytes(dir.File("long.dbf"), bytes);
        const auto r = Tool("info " + orvtest::ShellQuote(dir.File("long.dbf")), true);
        EXPECT_EQ(r.nExitCode, 0);
        EXPECT_TRUE(Contains(r.strOut, std::string("Notes:\n  ") + c.pszNote + "\n")) << r.strOut;
        EXPECT_FALSE(Contains(r.strOut, "Problems:")) << r.strOut;
    }
}

TEST(CliDump, CsvQuotesAndValueForms)
{
    const auto r = Tool("dump " + Real("dbase_83.dbf"));
    ASSERT_EQ(r.nExitCode, 0);
    // Header row, then CRLF-terminated rows; memo texts with line breaks and
    // commas are quoted; numbers keep their stored digits (0.00).
    EXPECT_EQ(r.strOut.rfind("deleted,ID,CATCOUNT,AGRPCOUNT,PGRPCOUNT,ORDER,CODE,NAME,", 0), 0u);
    EXPECT_TRUE(Contains(r.strOut,
                         "false,87,2,0,0,87,1,Assorted Petits Fours,graphics/00000001/t_1.jpg,graphics/00000001/1.jpg,0.00,0.00,"
                         "\"Our Original assortment...a little taste of heaven for everyone.  Let us\r\n"))
        << r.strOut.substr(0, 600);
    size_t nRows = 0;
    bool bInQuotes = false;
    for (size_t i = 0; i < r.strOut.size(); ++i) {
        if (r.strOut[i] == '"')
            bInQuotes = !bInQuotes;
        else if (!bInQuotes && r.strOut.compare(i, 2, "\r\n") == 0)
            ++nRows;
    }
    EXPECT_EQ(nRows, 68u); // header + 67 records

    const auto vfp = Tool("dump " + Real("dbase_31.dbf"));
    EXPECT_TRUE(Contains(vfp.strOut, "false,1,Chai,1,1,10 boxes x 20 bags,18.0000,39,0,10,false,0\r\n")) << vfp.strOut.substr(0, 400);
}
