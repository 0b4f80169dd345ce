// dbfrepair's option forms and the options that change what is read:
// --opt=VALUE, "--", --version, --encoding, --memo, info --json.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using orvtest::ShellQuote;

orvtest::CommandResult Tool(const std::string& strArgs)
{
    return orvtest::Run(ShellQuote(orvtest::BinDir() + "/dbfrepair") + " " + strArgs + " 2>/dev/null");
}

std::string Real(const std::string& strName)
{
    return ShellQuote(orvtest::RealFixturesDir() + "/" + strName);
}

} // namespace

TEST(CliOptions, ValueAfterEqualsOrAsNextArgumentAndDoubleDashEndsOptions)
{
    const auto spaced = Tool("preview " + Real("dbase_03.dbf") + " --rows 3");
    ASSERT_EQ(spaced.nExitCode, 0);
    const auto joined = Tool("preview --rows=3 " + Real("dbase_03.dbf"));
    EXPECT_EQ(joined.nExitCode, 0);
    EXPECT_EQ(joined.strOut, spaced.strOut);
    EXPECT_EQ(Tool("preview --rows= " + Real("dbase_03.dbf")).nExitCode, 2);

    // A table whose name starts with "-" follows "--".
    orvtest::TempDir dir;
    std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_03.dbf", dir.File("-t.dbf"));
    const std::string strCommand = "cd " + ShellQuote(dir.Path()) + " && " + ShellQuote(orvtest::BinDir() + "/dbfrepair");
    EXPECT_EQ(orvtest::Run(strCommand + " info -t.dbf 2>/dev/null").nExitCode, 2);
    const auto info = orvtest::Run(strCommand + " info -- -t.dbf");
    EXPECT_EQ(info.nExitCode, 0);
    EXPECT_NE(info.strOut.find("Table:          -t.dbf\n"), std::string::npos) << info.strOut;
}

TEST(CliOptions, VersionNamesTheProgramAndItsVersion)
{
    const auto r = Tool("--version");
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_EQ(r.strOut.rfind("dbfrepair (Orvane Tamsin DBF) ", 0), 0u) << r.strOut;
    EXPECT_NE(r.strOut.find_first_of("0123456789"), std::string::npos) << r.strOut;
}

// cp1251.dbf holds Windows-1251 texts under their mark: dump reads them
// so, and --encoding reads the same bytes in the code page named.
TEST(CliOptions, EncodingOverridesTheCodePageMark)
{
    const std::string strWord = "\xD0\xB0\xD0\xBC\xD0\xB1\xD1\x83\xD0\xBB"; // "амбул", from E0 EC E1 F3 EB
    const auto marked = Tool("dump " + Real("cp1251.dbf"));
    ASSERT_EQ(marked.nExitCode, 0);
    EXPECT_NE(marked.strOut.find(strWord), std::string::npos) << marked.strOut.substr(0, 300);
    // KOI8-R reads E0 EC E1 F3 EB as "ЮЛАСК".
    const auto koi = Tool("dump " + Real("cp1251.dbf") + " --encoding=KOI8-R");
    EXPECT_EQ(koi.nExitCode, 0);
    EXPECT_NE(koi.strOut.find("\xD0\xAE\xD0\x9B\xD0\x90\xD0\xA1\xD0\x9A"), std::string::npos) << koi.strOut.substr(0, 300);
    // IBM866 reads them as "рьсєы".
    const auto dos = Tool("dump " + Real("cp1251.dbf") + " --encoding IBM866");
    EXPECT_EQ(dos.nExitCode, 0);
    EXPECT_NE(dos.strOut.find("\xD1\x80\xD1\x8C\xD1\x81\xD1\x94\xD1\x8B"), std::string::npos) << dos.strOut.substr(0, 300);
    // The preview grid takes the same override.
    const auto grid = Tool("preview " + Real("cp1251.dbf") + " --encoding KOI8-R --rows 0");
    EXPECT_EQ(grid.nExitCode, 0);
    EXPECT_NE(grid.strOut.find("\xD0\xAE\xD0\x9B\xD0\x90\xD0\xA1\xD0\x9A"), std::string::npos) << grid.strOut.substr(0, 300);
    EXPECT_EQ(Tool("preview " + Real("cp1251.dbf") + " --encoding no-such-page").nExitCode, 2);
}

// A memo file kept under another name is read through --memo as if it
// stood beside the table, by dump, info and repair.
TEST(CliOptions, MemoNamesTheMemoFile)
{
    orvtest::TempDir dir;
    std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_83.dbf", dir.File("t.dbf"));
    std::filesystem::create_directories(dir.File("kept"));
    std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_83.dbt", dir.File("kept/memo.bin"));
    const std::string strTable = ShellQuote(dir.File("t.dbf"));
    const std::string strMemo = ShellQuote(dir.File("kept/memo.bin"));

    const auto original = Tool("dump " + Real("dbase_83.dbf"));
    ASSERT_EQ(original.nExitCode, 0);
    EXPECT_EQ(Tool("dump " + strTable).nExitCode, 1);
    const auto dump = Tool("dump " + strTable + " --memo " + strMemo);
    EXPECT_EQ(dump.nExitCode, 0);
    EXPECT_EQ(dump.strOut, original.strOut);

    const auto info = Tool("info " + strTable + " --memo=" + strMemo);
    EXPECT_EQ(info.nExitCode, 0);
    EXPECT_NE(info.strOut.find("Memo file:      " + dir.File("kept/memo.bin") + " (found, block size 512)"),
              std::string::npos)
        << info.strOut;

    // The repair reads it too (the extension tells the format); without it
    // every memo value is lost, and the exit code says so.
    std::filesystem::copy_file(dir.File("kept/memo.bin"), dir.File("kept/memo.dbt"));
    std::filesystem::create_directories(dir.File("out"));
    const std::string strOut = " -o " + ShellQuote(dir.File("out")) + " --json";
    const auto repaired = Tool("repair " + strTable + strOut + " --memo " + ShellQuote(dir.File("kept/memo.dbt")));
    EXPECT_EQ(repaired.nExitCode, 0) << repaired.strOut;
    EXPECT_NE(repaired.strOut.find("\"memos_recovered\": 67"), std::string::npos) << repaired.strOut;
    EXPECT_EQ(Tool("repair " + strTable + strOut).nExitCode, 3);

    const auto missing = orvtest::Run(ShellQuote(orvtest::BinDir() + "/dbfrepair") + " dump " + strTable + " --memo "
                                      + ShellQuote(dir.File("none.dbt")) + " 2>&1");
    EXPECT_EQ(missing.nExitCode, 1);
    EXPECT_EQ(missing.strOut, "dbfrepair dump: " + dir.File("none.dbt") + ": No such file or directory\n");
}

// info --json carries what the text form shows, for a sound table and for
// one the engine refuses.
TEST(CliOptions, InfoJson)
{
    orvtest::TempDir dir;
    std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_03.dbf", dir.File("cut.dbf"));
    std::filesystem::resize_file(dir.File("cut.dbf"), 3000);
    const std::string strScript = R"PY(
import json, sys
for text in sys.argv[1:]:
    s = json.loads(text)
    f = s['fields']
    print(s['readable'], s['version'], s['records'], s['header_length'], s['record_length'], s['memo_kind'],
          len(f), f[0]['name'], f[0]['type'], f[0]['width'], f[-1]['offset'], len(s['problems']))
)PY";
    const auto sound = Tool("info --json " + Real("dbase_03.dbf"));
    EXPECT_EQ(sound.nExitCode, 0);
    const auto cut = Tool("info --json " + ShellQuote(dir.File("cut.dbf")));
    EXPECT_EQ(cut.nExitCode, 1);
    EXPECT_EQ(orvtest::RunPython(strScript, {sound.strOut, cut.strOut}).strOut,
              "True 3 14 1025 590 0 (none) 31 Point_ID C 12 581 0\n"
              "False 3 14 1025 590 0 (none, as the header says) 31 Point_ID C 12 581 1\n")
        << sound.strOut << cut.strOut;
}
