// Names of the temporary and saved tables and of their memo files, and the
// copy that saves a result.

#include "platform/FileException.h"
#include "platform/TempFolder.h"
#include "repair/RepairPaths.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using orvtest::TempDir;

void Touch(const std::string& strPath, const std::string& strContent = "x")
{
    std::ofstream(strPath, std::ios::binary) << strContent;
}

std::string Content(const std::string& strPath)
{
    const auto bytes = orvtest::ReadBytes(strPath);
    return std::string(bytes.begin(), bytes.end());
}

TEST(RepairPaths, TempOutputPathCarriesIndexMarkerAndTheLowerCasedName)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("Ann.Data"));
    const std::string strSource = dir.File("Ann.Data/SALES.DBF");
    Touch(strSource);
    EXPECT_EQ(BuildTempOutputPath(strSource, 0, "/scratch/t"), "/scratch/t/0ozn_aqf_xrj_196_temp_1_sales.dbf");
    EXPECT_EQ(BuildTempOutputPath(strSource, 3, "/scratch/t/"), "/scratch/t/3ozn_aqf_xrj_196_temp_1_sales.dbf");
    // A source that cannot be read adds no name.
    EXPECT_EQ(BuildTempOutputPath(dir.File("missing.dbf"), 0, "/w"), "/w/0ozn_aqf_xrj_196_temp_1_");
}

TEST(RepairPaths, TempOutputPathLiesInTheProcessFolder)
{
    TempDir dir;
    Touch(dir.File("sales.dbf"));
    const std::string strTemp = BuildTempOutputPath(dir.File("sales.dbf"), 0);
    EXPECT_EQ(strTemp, CTempFolder::ProcessFolder() + "/0ozn_aqf_xrj_196_temp_1_sales.dbf");
}

TEST(RepairPaths, SavedPathReplacesIndexAndMarkerByThePrefix)
{
    const std::string strTemp = "/tmp/x/0ozn_aqf_xrj_196_temp_1_sales.dbf";
    EXPECT_EQ(BuildSavedPath("/home/ann", strTemp, "Rep"), "/home/ann/Rep_1_sales.dbf");
    EXPECT_EQ(BuildSavedPath("/home/ann/", strTemp, "my files"), "/home/ann/my files_1_sales.dbf");
    EXPECT_EQ(BuildSavedPath("/", strTemp, "Rep"), "/Rep_1_sales.dbf");
}

TEST(RepairPaths, UniqueSavedPathInsertsAfterThePrefixWhileTaken)
{
    TempDir dir;
    const std::string strFirst = dir.File("Rep_1_sales.dbf");
    EXPECT_EQ(MakeUniqueSavedPath(strFirst, "Rep"), strFirst);
    Touch(strFirst);
    EXPECT_EQ(MakeUniqueSavedPath(strFirst, "Rep"), dir.File("Rep_(1)_1_sales.dbf"));
    Touch(dir.File("Rep_(1)_1_sales.dbf"));
    EXPECT_EQ(MakeUniqueSavedPath(strFirst, "Rep"), dir.File("Rep_(1)_(1)_1_sales.dbf"));
    // Every occurrence of the prefix is replaced.
    Touch(dir.File("ab_1_tab.dbf"));
    EXPECT_EQ(MakeUniqueSavedPath(dir.File("ab_1_tab.dbf"), "ab"), dir.File("ab_(1)_1_tab_(1).dbf"));
    // The letter case of the prefix counts.
    Touch(dir.File("REP_1_x.dbf"));
    EXPECT_EQ(MakeUniqueSavedPath(dir.File("REP_1_x.dbf"), "Rep"), dir.File("_(1)REP_1_x.dbf"));
}

TEST(RepairPaths, UniqueSavedPathAvoidsSomeoneElsesMemoFile)
{
    TempDir dir;
    Touch(dir.File("Rep_1_sales.FPT"));
    EXPECT_EQ(MakeUniqueSavedPath(dir.File("Rep_1_sales.dbf"), "Rep", "FPT"), dir.File("Rep_(1)_1_sales.dbf"));
    EXPECT_EQ(MakeUniqueSavedPath(dir.File("Rep_1_sales.dbf"), "Rep", "DBT"), dir.File("Rep_1_sales.dbf"));
}

TEST(RepairPaths, MemoCompanionCutsAtTheLastDotOfTheFileName)
{
    EXPECT_EQ(MemoCompanionPath("/a.b/sales.dbf", "FPT"), "/a.b/sales.FPT");
    EXPECT_EQ(MemoCompanionPath("/a.b/sales", "DBT"), "/a.b/sales.DBT");
    EXPECT_EQ(MemoCompanionPath("x.dbf.bak", "FPT"), "x.dbf.FPT");
    EXPECT_EQ(PathExtension("/a.b/c.Fpt"), "Fpt");
    EXPECT_EQ(PathExtension("/a.b/c"), "");
    EXPECT_EQ(PathFolder("sales.dbf"), ".");
    EXPECT_EQ(PathFolder("/sales.dbf"), "/");
    EXPECT_EQ(PathFileName("/x/y/sales.dbf"), "sales.dbf");
}

TEST(RepairPaths, FindMemoCompanionIgnoresLetterCaseAndTriesEveryKind)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("v1.0"));
    const std::string strTable = dir.File("v1.0/Sales.dbf");
    Touch(strTable);
    EXPECT_EQ(FindMemoCompanion(strTable), "");
    Touch(dir.File("v1.0/SALES.SMT"));
    EXPECT_EQ(FindMemoCompanion(strTable), dir.File("v1.0/SALES.SMT"));
    Touch(dir.File("v1.0/sales.dbt"));
    EXPECT_EQ(FindMemoCompanion(strTable), dir.File("v1.0/sales.dbt"));
    Touch(dir.File("v1.0/SALES.FPT"));
    EXPECT_EQ(FindMemoCompanion(strTable), dir.File("v1.0/SALES.FPT"));
    // The table's own spelling wins over another one.
    Touch(dir.File("v1.0/Sales.fpt"));
    EXPECT_EQ(FindMemoCompanion(strTable), dir.File("v1.0/Sales.fpt"));
    // A folder of that name is no memo file; other stems do not count.
    std::filesystem::create_directory(dir.File("v1.0/other.fpt"));
    Touch(dir.File("v1.0/other.dbf"));
    EXPECT_EQ(FindMemoCompanion(dir.File("v1.0/other.dbf")), "");
}

TEST(RepairPaths, PrefixIsCheckedLikeTheSettingsDialog)
{
    EXPECT_EQ(CheckSavedPrefix("Rep"), "");
    EXPECT_EQ(CheckSavedPrefix(" my \"files\" "), "");
    EXPECT_EQ(CheckSavedPrefix(""), "Please fill prefix");
    for (const char* psz : {"a/b", "a\\b", "a|b", "a*b", "a:b", "a?b", "a<b", "a>b", "a'b"})
        EXPECT_EQ(CheckSavedPrefix(psz), "Illegal character found in file pre fix ") << psz;
    EXPECT_EQ(CheckSavedPrefix(std::string(50, 'x')), "");
    EXPECT_NE(CheckSavedPrefix(std::string(51, 'x')), "");
}

TEST(RepairPaths, CopyRepairedFilesCarriesTheMemoAndNeverOverwrites)
{
    TempDir work;
    TempDir target;
    const std::string strTemp = work.File("0ozn_aqf_xrj_196_temp_1_sales.dbf");
    Touch(strTemp, "table-1");
    Touch(work.File("0ozn_aqf_xrj_196_temp_1_sales.FPT"), "memo-1");

    const SavedRepairFiles first = CopyRepairedFiles(strTemp, target.Path(), "Rep");
    EXPECT_EQ(first.strTable, target.File("Rep_1_sales.dbf"));
    EXPECT_EQ(first.strMemo, target.File("Rep_1_sales.FPT"));
    EXPECT_EQ(Content(first.strTable), "table-1");
    EXPECT_EQ(Content(first.strMemo), "memo-1");
    // The temporary files stay for another save.
    EXPECT_TRUE(orvtest::FileExists(strTemp));

    Touch(strTemp, "table-2");
    const SavedRepairFiles second = CopyRepairedFiles(strTemp, target.Path(), "Rep");
    EXPECT_EQ(second.strTable, target.File("Rep_(1)_1_sales.dbf"));
    EXPECT_EQ(second.strMemo, target.File("Rep_(1)_1_sales.FPT"));
    EXPECT_EQ(Content(first.strTable), "table-1");
    EXPECT_EQ(Content(second.strTable), "table-2");

    RemoveRepairedFiles(strTemp);
    EXPECT_FALSE(orvtest::FileExists(strTemp));
    EXPECT_FALSE(orvtest::FileExists(work.File("0ozn_aqf_xrj_196_temp_1_sales.FPT")));
}

TEST(RepairPaths, CopyRepairedFilesWithoutMemoAndIntoAMissingFolder)
{
    TempDir work;
    const std::string strTemp = work.File("0ozn_aqf_xrj_196_temp_1_plain.dbf");
    Touch(strTemp, "t");
    const SavedRepairFiles saved = CopyRepairedFiles(strTemp, work.Path(), "Rep");
    EXPECT_EQ(saved.strMemo, "");
    EXPECT_THROW(CopyRepairedFiles(strTemp, work.File("no/such/folder"), "Rep"), CFileException);
}

TEST(RepairPaths, MoveRepairedFilesLeavesNoTemporaryFilesAndNeverOverwrites)
{
    TempDir work;
    TempDir target;
    const std::string strTemp = work.File("0ozn_aqf_xrj_196_temp_1_sales.dbf");
    Touch(target.File("Rep_1_Sales.dbf"), "someone else's");
    Touch(strTemp, "table");
    Touch(work.File("0ozn_aqf_xrj_196_temp_1_sales.DBT"), "memo");
    Touch(target.File("Rep_2_Sales.DBT"), "someone else's memo");
    const SavedRepairFiles saved = MoveRepairedFiles(strTemp, target.Path(), "Sales.dbf", "Rep");
    EXPECT_EQ(saved.strTable, target.File("Rep_3_Sales.dbf"));
    EXPECT_EQ(saved.strMemo, target.File("Rep_3_Sales.DBT"));
    EXPECT_EQ(Content(saved.strTable), "table");
    EXPECT_EQ(Content(saved.strMemo), "memo");
    EXPECT_EQ(Content(target.File("Rep_1_Sales.dbf")), "someone else's");
    EXPECT_FALSE(orvtest::FileExists(strTemp));
    EXPECT_FALSE(orvtest::FileExists(work.File("0ozn_aqf_xrj_196_temp_1_sales.DBT")));
}

} // namespace
