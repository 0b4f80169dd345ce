// dbfrepair repair on tables whose paths are not plain ASCII names: spaces,
// letters outside ASCII, upper-case extensions with the memo file beside,
// a source the user may not write. Each is found with its memo, saved
// under the tool's name in the output folder, reads back as the undamaged
// table, and the source stays as it was. scripts/test runs this against
// the Windows build under Wine too (ORV_DBFREPAIR).

#include "platform/PathName.h"
#include "repair/PeerTables.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using orvtest::ShellQuote;

struct PathCase {
    const char* lpszName;
    const char* lpszTable; // under the source folder, UTF-8
    const char* lpszMemoExtension;
    bool bReadOnly;
};

const PathCase kCases[] = {
    {"Spaces", "My Tables/Sales 2024.dbf", ".fpt", false},
    {"NonAscii", "Donn\xC3\xA9" "es/\xC3\x84rzte.dbf", ".fpt", false},
    {"UpperCase", "DATA/KUNDEN.DBF", ".FPT", false},
    {"ReadOnly", "archive/stock.dbf", ".fpt", true},
};

class ToolPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(ToolPaths, TableIsRepairedBesideItsMemoAndTheSourceStays)
{
    const PathCase& c = GetParam();
    orvtest::TempDir dir;
    const std::string strPristine = dir.File("pristine.dbf");
    orvtest::WritePeerTable(strPristine, "name C(12); notes M", "fp", "[('alpha', 'x' * 300), ('beta', 'short')]");
    const fs::path table = CPathName::ToPath(dir.File(std::string("src/") + c.lpszTable));
    fs::create_directories(table.parent_path());
    fs::create_directories(dir.File("out"));
    fs::copy_file(strPristine, table);
    fs::path memo = table;
    memo.replace_extension(c.lpszMemoExtension);
    fs::copy_file(dir.File("pristine.fpt"), memo);
    orvtest::ZeroHeaderCounts(table.string());
    if (c.bReadOnly) {
        for (const fs::path& path : {table, memo})
            fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    const auto before = orvtest::ReadBytes(table.string());

    const orvtest::CommandResult run = orvtest::Run(orvtest::ToolCommand() + " repair " + ShellQuote(table.string())
                                                    + " -o " + ShellQuote(dir.File("out")) + " --quiet 2>&1");
    EXPECT_EQ(run.nExitCode, 0) << run.strOut;
    const fs::path saved = fs::path(dir.File("out")) / ("Rep_1_" + table.filename().string());
    fs::path savedMemo = saved;
    savedMemo.replace_extension(c.lpszMemoExtension);
    EXPECT_TRUE(fs::exists(savedMemo)) << savedMemo;
    EXPECT_EQ(orvtest::CompareWithPeer(strPristine, saved.string()), "OK") << saved;
    EXPECT_EQ(orvtest::ReadBytes(table.string()), before);
    EXPECT_EQ(orvtest::FolderNames(dir.File("out")).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Paths, ToolPaths, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.lpszName); });

} // namespace
