// dbfrepair repair on a folder tree, as a user runs it after a disk failure:
// peer-written tables (some damaged), files named .dbf that are no tables,
// an index file; two workers. Every table is accounted for once, results
// keep their relative folders and read back as the originals, the sources
// stay as they were, and the exit code tells whether anything failed.

#include "repair/PeerTables.h"
#include "repair/RepairPaths.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <string>

namespace {

using orvtest::CommandResult;
using orvtest::ShellQuote;
using orvtest::TempDir;
namespace fs = std::filesystem;

const char kRows[] = "[('alpha', 1.5, 'x' * 300), ('beta', -2, 'short'), ('gamma', 3.25, 'third')]";

std::string LowerToUpper(std::string str)
{
    for (char& ch : str)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return str;
}

std::map<std::string, std::vector<unsigned char>> Snapshot(const std::string& strFolder)
{
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& entry : fs::recursive_directory_iterator(strFolder))
        if (entry.is_regular_file())
            files[entry.path().string()] = orvtest::ReadBytes(entry.path().string());
    return files;
}

class BatchRepair : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* lpszFolder : {"src/sub/deep", "pristine", "out", "tmp"})
            fs::create_directories(m_dir.File(lpszFolder));
        // One table of each kind; the pristine copies are what the repaired
        // ones must read back as.
        const struct {
            const char* lpszPath;
            const char* lpszKind;
            bool bDamage;
        } kTables[] = {{"a.dbf", "db3", false}, {"sub/B.DBF", "fp", true}, {"sub/deep/c.dbf", "vfp", true}};
        for (const auto& table : kTables) {
            const std::string strName = LowerCaseAscii(fs::path(table.lpszPath).filename().string());
            const std::string strPristine = m_dir.File("pristine/" + strName);
            orvtest::WritePeerTable(strPristine, "name C(12); qty N(9,2); notes M", table.lpszKind, kRows,
                                    "dbf.delete(t[1])");
            const std::string strSource = m_dir.File("src/" + std::string(table.lpszPath));
            fs::copy_file(strPristine, strSource);
            const fs::path memo = fs::path(strPristine).replace_extension(table.lpszKind == std::string("db3") ? ".dbt" : ".fpt");
            // The memo file follows the table's letter case, as DOS programs wrote them.
            const bool bUpper = fs::path(strSource).extension() == ".DBF";
            fs::copy_file(memo, fs::path(strSource).replace_extension(bUpper ? LowerToUpper(memo.extension().string()) : memo.extension().string()));
            if (table.bDamage)
                orvtest::ZeroHeaderCounts(strSource);
            m_pristine[strSource] = strPristine;
        }
        orvtest::WriteBytes(m_dir.File("src/notes.dbf"), {'n', 'a', 'm', 'e', ',', '1', '\n'});
        orvtest::WriteBytes(m_dir.File("src/sub/empty.dbf"), {});
        orvtest::WriteBytes(m_dir.File("src/readme.txt"), {'h', 'i'});
        orvtest::WriteBytes(m_dir.File("src/a.cdx"), std::vector<unsigned char>(512, 0));
    }

    CommandResult Repair(const std::string& strArgs)
    {
        return orvtest::Run("cd " + ShellQuote(m_dir.Path()) + " && TMPDIR=" + ShellQuote(m_dir.File("tmp")) + " "
                            + orvtest::ToolCommand() + " repair " + strArgs + " 2>/dev/null");
    }

    TempDir m_dir;
    std::map<std::string, std::string> m_pristine; // source -> undamaged original
};

TEST_F(BatchRepair, EveryTableOfTheTreeIsAccountedForAndSavedInItsFolder)
{
    const auto before = Snapshot(m_dir.File("src"));
    const CommandResult result = Repair("src -o out --recursive --jobs 2 --json");
    // Two files named .dbf are no tables: the batch failed as a whole.
    EXPECT_EQ(result.nExitCode, 1);
    const std::string strScript = R"PY(
import json, sys
# Windows names folders with "\\" (escaped in the JSON): compared as "/".
lines = [json.loads(l.replace('\\\\', '/')) for l in sys.argv[1].splitlines()]
summary = lines.pop()
assert summary['summary'] and summary['tables'] == 5, summary
assert (summary['done'], summary['failed']) == (3, 2), summary
assert summary['index_files'] == ['src/a.cdx'], summary
for l in sorted(lines, key=lambda l: l['source']):
    print(l['source'], l['status'], l['table'], l['memo'] is not None, l['records'], l['deleted_records'],
          l['index_files'], l['error'] is not None)
)PY";
    EXPECT_EQ(orvtest::RunPython(strScript, {result.strOut}).strOut,
              "src/a.dbf Done out/Rep_1_a.dbf True 3 1 ['src/a.cdx'] False\n"
              "src/notes.dbf Failed None False 0 0 [] True\n"
              "src/sub/B.DBF Done out/sub/Rep_1_B.DBF True 3 1 [] False\n"
              "src/sub/deep/c.dbf Done out/sub/deep/Rep_1_c.dbf True 3 1 [] False\n"
              "src/sub/empty.dbf Failed None False 0 0 [] True\n")
        << result.strOut;
    for (const auto& [strSource, strPristine] : m_pristine) {
        const fs::path rel = fs::path(strSource).lexically_relative(m_dir.File("src"));
        const std::string strSaved =
            m_dir.File("out/" + (rel.parent_path() / ("Rep_1_" + rel.filename().string())).string());
        EXPECT_EQ(orvtest::CompareWithPeer(strPristine, strSaved), "OK") << strSaved;
    }
    EXPECT_EQ(Snapshot(m_dir.File("src")), before);
    // Nothing of the index file is carried over, and no work file stays.
    EXPECT_FALSE(orvtest::FileExists(m_dir.File("out/Rep_1_a.cdx")));
    EXPECT_TRUE(fs::is_empty(m_dir.File("tmp")));
}

TEST_F(BatchRepair, WithoutRecursiveOnlyTheFolderItselfAndAllDoneIsZero)
{
    fs::remove(m_dir.File("src/notes.dbf"));
    const CommandResult result = Repair("src/sub src/a.dbf -o out -j 2");
    EXPECT_EQ(result.nExitCode, 1) << result.strOut; // src/sub/empty.dbf
    EXPECT_TRUE(orvtest::FileExists(m_dir.File("out/Rep_1_B.DBF")));
    EXPECT_TRUE(orvtest::FileExists(m_dir.File("out/Rep_1_a.dbf")));
    EXPECT_FALSE(fs::exists(m_dir.File("out/deep")));

    fs::remove(m_dir.File("src/sub/empty.dbf"));
    const CommandResult clean = Repair("src -o out --recursive --dry-run");
    EXPECT_EQ(clean.nExitCode, 0) << clean.strOut;
    EXPECT_NE(clean.strOut.find("Tables: 3, Done: 3"), std::string::npos) << clean.strOut;
}

// The output folder inside the source tree, run twice: the second run
// finds the same three tables (never its own results), numbers its names
// after the first's, and, as a value was mended, both exit with 3; a
// table named twice is one table.
TEST_F(BatchRepair, OutputInsideTheSourcesIsNeverWalkedAndClashesCountUp)
{
    fs::remove(m_dir.File("src/notes.dbf"));
    fs::remove(m_dir.File("src/sub/empty.dbf"));
    fs::create_directories(m_dir.File("src/fixed"));
    // a.dbf: header 129 bytes, records of 32; the first record's qty
    // (after its flag and name) becomes letters.
    auto bytes = orvtest::ReadBytes(m_dir.File("src/a.dbf"));
    std::fill_n(bytes.begin() + 129 + 1 + 12, 9, 'x');
    orvtest::WriteBytes(m_dir.File("src/a.dbf"), bytes);
    for (const char* lpszName : {"Rep_1_", "Rep_2_"}) {
        SCOPED_TRACE(lpszName);
        const CommandResult result = Repair("src -o src/fixed --recursive --jobs 2");
        EXPECT_EQ(result.nExitCode, 3) << result.strOut;
        EXPECT_NE(result.strOut.find("Tables: 3, Done: 3 (1 with losses)"), std::string::npos) << result.strOut;
        EXPECT_TRUE(orvtest::FileExists(m_dir.File(std::string("src/fixed/") + lpszName + "a.dbf")));
        EXPECT_TRUE(orvtest::FileExists(m_dir.File(std::string("src/fixed/sub/") + lpszName + "B.DBF")));
    }
    EXPECT_FALSE(fs::exists(m_dir.File("src/fixed/fixed")));
    const CommandResult twice = Repair("src/a.dbf ./src/a.dbf -o out");
    EXPECT_EQ(twice.nExitCode, 3) << twice.strOut;
    EXPECT_NE(twice.strOut.find("Tables: 1, Done: 1 (1 with losses)"), std::string::npos) << twice.strOut;
}

} // namespace
