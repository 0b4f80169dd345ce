// dbfrepair repair and dbfrepair preview, run as a user runs them: damaged
// tables written by python3-dbf go in, the saved result is read back by
// python3-dbfread.

#include "repair/PeerTables.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace {

using orvtest::CommandResult;
using orvtest::ShellQuote;
using orvtest::TempDir;

std::string Tool()
{
    return orvtest::BinDir() + "/dbfrepair";
}

// Runs the tool with its own TMPDIR; standard error is captured into
// *pErr when asked for.
CommandResult RunTool(const std::string& strArgs, const std::string& strTmpDir, std::string* pErr = nullptr)
{
    TempDir errDir;
    const std::string strErrFile = errDir.File("stderr");
    const CommandResult result = orvtest::Run("TMPDIR=" + ShellQuote(strTmpDir) + " " + ShellQuote(Tool()) + " "
                                              + strArgs + " 2>" + ShellQuote(strErrFile));
    if (pErr != nullptr) {
        const auto bytes = orvtest::ReadBytes(strErrFile);
        pErr->assign(bytes.begin(), bytes.end());
    }
    return result;
}

bool FolderIsEmpty(const std::string& strPath)
{
    return std::filesystem::is_empty(strPath);
}

const char kFoxFields[] = "name C(12); qty N(9,2); born D; ok L; notes M";
const char kFoxRows[] = "[('alpha', 1.5, datetime.date(2005,3,7), True, 'x' * 300),"
                        " ('beta', -2, None, False, 'short'),"
                        " ('gamma', 3.25, datetime.date(1999,12,31), None, 'third text')]";

class RepairCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.File("src"));
        std::filesystem::create_directories(m_dir.File("out"));
        std::filesystem::create_directories(m_dir.File("tmp"));
    }
    std::string Tmp() const { return m_dir.File("tmp"); }
    TempDir m_dir;
};

TEST_F(RepairCommand, RefusesWhatTheWizardRefusesWithItsMessages)
{
    std::string strErr;
    EXPECT_EQ(RunTool("repair", Tmp(), &strErr).nExitCode, 2);
    EXPECT_EQ(strErr, "Please select file(s) to repair\n");
    EXPECT_EQ(RunTool("repair ''", Tmp(), &strErr).nExitCode, 2);
    EXPECT_EQ(strErr, "Please select file(s) to repair\n");
    EXPECT_EQ(RunTool("repair " + ShellQuote(m_dir.File("src/missing.dbf")), Tmp(), &strErr).nExitCode, 1);
    EXPECT_EQ(strErr, "dbfrepair repair: " + m_dir.File("src/missing.dbf") + ": No such file or directory\n");
    orvtest::WriteBytes(m_dir.File("src/table.db"), std::vector<unsigned char>(100, ' '));
    EXPECT_EQ(RunTool("repair " + ShellQuote(m_dir.File("src/table.db")), Tmp(), &strErr).nExitCode, 2);
    EXPECT_EQ(strErr, "Invalid File Name\n");

    // Held open by another program (which asked for a lock).
    const std::string strTable = m_dir.File("src/busy.dbf");
    orvtest::WritePeerTable(strTable, "name C(10)", "db3", "[('a',)]");
    const int fd = ::open(strTable.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);
    EXPECT_EQ(RunTool("repair " + ShellQuote(strTable), Tmp(), &strErr).nExitCode, 1);
    EXPECT_EQ(strErr, "The process cannot access the file because it is used by another process.\n");
    ::close(fd);

    EXPECT_EQ(RunTool("repair " + ShellQuote(strTable) + " --prefix ''", Tmp(), &strErr).nExitCode, 2);
    EXPECT_EQ(strErr, "dbfrepair repair: --prefix needs a text: the saved names begin with it\n");
    EXPECT_EQ(RunTool("repair " + ShellQuote(strTable) + " --prefix 'a:b'", Tmp(), &strErr).nExitCode, 2);
    EXPECT_EQ(strErr,
              "dbfrepair repair: --prefix a:b: \":\" cannot be in a file name (none of / \\ | * : ? < > ' can)\n");
    EXPECT_EQ(RunTool("repair " + ShellQuote(strTable) + " -o " + ShellQuote(m_dir.File("nowhere")), Tmp()).nExitCode, 1);
    EXPECT_EQ(RunTool("repair " + ShellQuote(strTable) + " --bogus", Tmp()).nExitCode, 2);
    EXPECT_TRUE(FolderIsEmpty(m_dir.File("out")));
}

// A version byte that names no table, over descriptors the repair reads
// (names in a national code page, a zeroed type or width byte), is no
// reason to refuse the table before the run.
TEST_F(RepairCommand, UnknownVersionByteOverOddDescriptorsIsRepaired)
{
    struct Case {
        const char* pszName;
        const char* pszSpec;
        const char* pszRows;
        const char* pszCodePage;
        size_t nZeroed;          // a descriptor byte zeroed too, or 0
        const char* pszPeerOpts; // compared with the original when set
    };
    const char kSpec[] = "name C(12); qty N(9,2); ok L";
    const char kRows[] = "[('alpha', 1.5, True), ('beta', -2, False), ('gamma', 3.25, None)]";
    const Case cases[] = {
        {"names in cp866", "имя C(10); кол N(5,0)", "[('Иван', 3), ('Пётр', 5)]", "cp866", 0, "{'encoding': 'cp866'}"},
        {"type byte zeroed", kSpec, kRows, "cp1252", 32 + 32 + 11, nullptr},
        {"width byte zeroed", kSpec, kRows, "cp1252", 32 + 32 + 16, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        TempDir dir;
        std::filesystem::create_directories(dir.File("out"));
        const std::string strPristine = dir.File("pristine.dbf");
        orvtest::WritePeerTable(strPristine, c.pszSpec, "db3", c.pszRows, "", c.pszCodePage);
        const std::string strSource = dir.File("t.dbf");
        std::filesystem::copy_file(strPristine, strSource);
        orvtest::PatchBytes(strSource, 0, {0x00});
        if (c.nZeroed != 0)
            orvtest::PatchBytes(strSource, c.nZeroed, {0x00});
        std::string strErr;
        const CommandResult result =
            RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(dir.File("out")), Tmp(), &strErr);
        EXPECT_EQ(result.strOut.substr(0, 5), "Done\n") << strErr;
        if (c.pszPeerOpts != nullptr) {
            EXPECT_EQ(orvtest::CompareWithPeer(strPristine, dir.File("out/Rep_1_t.dbf"), c.pszPeerOpts), "OK");
        }
    }
}

TEST_F(RepairCommand, DamagedUpperCaseFoxProTableIsSavedWithItsMemo)
{
    const std::string strPristine = m_dir.File("pristine.dbf");
    orvtest::WritePeerTable(strPristine, kFoxFields, "fp", kFoxRows, "dbf.delete(t[0])");
    const std::string strSource = m_dir.File("src/SALES.DBF");
    std::filesystem::copy_file(strPristine, strSource);
    std::filesystem::copy_file(m_dir.File("pristine.fpt"), m_dir.File("src/SALES.FPT"));
    orvtest::ZeroHeaderCounts(strSource);
    const auto before = orvtest::ReadBytes(strSource);

    std::string strErr;
    const CommandResult result = RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out")), Tmp(), &strErr);
    EXPECT_EQ(result.nExitCode, 0) << strErr;
    EXPECT_EQ(result.strOut.substr(0, 5), "Done\n");
    // Phase texts and progress on standard error.
    EXPECT_NE(strErr.find("Analyzing Data........"), std::string::npos) << strErr;
    EXPECT_NE(strErr.find("Extracting Data........"), std::string::npos) << strErr;
    // Saved under the prefixed name in the source's letter case, with the
    // memo file beside it in the same case.
    const std::string strSaved = m_dir.File("out/Rep_1_SALES.DBF");
    ASSERT_TRUE(orvtest::FileExists(strSaved)) << result.strOut;
    EXPECT_TRUE(orvtest::FileExists(m_dir.File("out/Rep_1_SALES.FPT")));
    EXPECT_EQ(orvtest::CompareWithPeer(strPristine, strSaved), "OK");
    // The source is untouched; the temporary files are gone with the process.
    EXPECT_EQ(orvtest::ReadBytes(strSource), before);
    EXPECT_TRUE(FolderIsEmpty(Tmp()));

    // A second save does not overwrite the first: it takes the next number.
    EXPECT_EQ(RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out")) + " --quiet", Tmp(), &strErr).nExitCode, 0);
    EXPECT_EQ(strErr, "");
    EXPECT_TRUE(orvtest::FileExists(m_dir.File("out/Rep_2_SALES.DBF")));
    EXPECT_TRUE(orvtest::FileExists(m_dir.File("out/Rep_2_SALES.FPT")));
}

TEST_F(RepairCommand, JsonSummaryAndUndelete)
{
    const std::string strSource = m_dir.File("src/fox.dbf");
    orvtest::WritePeerTable(strSource, kFoxFields, "fp", kFoxRows, "dbf.delete(t[1])");
    const CommandResult result = RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out"))
                                             + " --json --undelete --prefix Fixed",
                                         Tmp());
    EXPECT_EQ(result.nExitCode, 0);
    const std::string strScript = R"PY(
import json, sys
s = json.loads(sys.argv[1])
print(s['status'], s['source'] == sys.argv[2], s['table'].endswith('/Fixed_1_fox.dbf'), s['memo'].endswith('/Fixed_1_fox.fpt'),
      s['fields'], s['records'], s['deleted_records'], s['memo_texts'], s['memo_texts_lost'], s['seconds'] >= 0)
)PY";
    EXPECT_EQ(orvtest::RunPython(strScript, {result.strOut, strSource}).strOut, "Done True True True 5 3 1 3 0 True\n")
        << result.strOut;
    EXPECT_EQ(orvtest::CompareWithPeer(strSource, m_dir.File("out/Fixed_1_fox.dbf"), "{'undelete': True}"), "OK");
}

TEST_F(RepairCommand, ARunThatFailsSavesNothingAndExitsWithOne)
{
    const std::string strSource = m_dir.File("src/tiny.dbf");
    orvtest::WriteBytes(strSource, std::vector<unsigned char>(32, 0x03));
    std::string strErr;
    const CommandResult result = RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out")), Tmp(), &strErr);
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_EQ(result.strOut, "Failed\n");
    EXPECT_NE(strErr.find("no 0x0D terminator"), std::string::npos) << strErr;
    EXPECT_TRUE(FolderIsEmpty(m_dir.File("out")));
    EXPECT_TRUE(FolderIsEmpty(Tmp()));

    // --json carries the engine's message; --quiet keeps standard error empty.
    const CommandResult json = RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out"))
                                           + " --json --quiet", Tmp(), &strErr);
    EXPECT_EQ(json.nExitCode, 1);
    EXPECT_EQ(strErr, "");
    const std::string strScript = R"PY(
import json, sys
s = json.loads(sys.argv[1])
print(s['status'], s['table'], 'no 0x0D terminator' in s['error'], s['report']['done'])
)PY";
    EXPECT_EQ(orvtest::RunPython(strScript, {json.strOut}).strOut, "Failed None True False\n") << json.strOut;
}

// The report against what the saved table holds, read by python3-dbfread:
// its records, those marked deleted, its memo values; the exit code says
// whether anything was lost.
TEST_F(RepairCommand, ReportAgreesWithTheSavedTableAndTheExitCodeTellsOfLosses)
{
    struct Case {
        const char* pszName;
        std::function<void(const std::string& strTable, const std::string& strMemo)> fnDamage;
        int nExitCode;
        // records, deleted, memo values; records dropped and why; memo file missing; losses
        const char* pszExpected;
    };
    const Case cases[] = {
        {"clean", [](const std::string&, const std::string&) {}, 0, "3 1 3 | 0 [] | False False"},
        // The last record ends inside its first field: it is dropped.
        {"last record cut off early",
         [](const std::string& strTable, const std::string&) {
             orvtest::TruncateTo(strTable, orvtest::HeaderLengthOf(strTable) + 2 * orvtest::RecordLengthOf(strTable) + 5);
         },
         3, "2 1 2 | 1 ['cut_off'] | False True"},
        // It loses its second half: the whole fields are kept, the rest
        // (its memo among them) is gone.
        {"last record cut in half",
         [](const std::string& strTable, const std::string&) {
             orvtest::TruncateTo(strTable, orvtest::HeaderLengthOf(strTable) + 2 * orvtest::RecordLengthOf(strTable)
                                               + orvtest::RecordLengthOf(strTable) / 2);
         },
         3, "3 1 2 | 0 [] | False True"},
        {"memo file missing", [](const std::string&, const std::string& strMemo) { std::filesystem::remove(strMemo); },
         3, "3 1 0 | 0 [] | True True"},
    };
    const std::string strScript = R"PY(
import json, sys, dbfread
s = json.loads(sys.argv[1])
r = s['report']
t = dbfread.DBF(s['table'], encoding='cp1252', load=True, ignore_missing_memofile=True)
rows = t.records + t.deleted
memos = sum(1 for row in rows for f in t.fields if f.type == 'M' and row[f.name])
# The report's counts are the table's.
agree = (r['records_written'] == len(rows) == s['records'], r['deleted_records'] == len(t.deleted),
         r['memos_recovered'] == memos, r['done'], s['status'] == 'Done')
if not all(agree):
    print('disagree', agree, len(rows), len(t.deleted), memos)
print(len(rows), len(t.deleted), memos, '|', r['records_dropped'], [d['reason'] for d in r['dropped']], '|',
      r['memo_file_missing'], r['losses'])
)PY";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        TempDir dir;
        std::filesystem::create_directories(dir.File("out"));
        const std::string strSource = dir.File("fox.dbf");
        orvtest::WritePeerTable(strSource, kFoxFields, "fp", kFoxRows, "dbf.delete(t[1])");
        c.fnDamage(strSource, dir.File("fox.fpt"));
        std::string strErr;
        const CommandResult result =
            RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(dir.File("out")) + " --json", Tmp(), &strErr);
        EXPECT_EQ(result.nExitCode, c.nExitCode) << result.strOut << strErr;
        EXPECT_EQ(orvtest::RunPython(strScript, {result.strOut}).strOut, std::string(c.pszExpected) + "\n")
            << result.strOut;
        // The summary for people follows the run on standard error.
        EXPECT_NE(strErr.find(" records written"), std::string::npos) << strErr;
        EXPECT_EQ(strErr.find("Nothing was lost.") != std::string::npos, c.nExitCode == 0) << strErr;
    }
}

// --dry-run: the same report and exit code, nothing saved; --report FILE
// holds the report that --json prints.
TEST_F(RepairCommand, DryRunSavesNothingAndReportFileHoldsTheReport)
{
    const std::string strSource = m_dir.File("src/fox.dbf");
    orvtest::WritePeerTable(strSource, kFoxFields, "fp", kFoxRows);
    orvtest::TruncateTo(strSource, orvtest::HeaderLengthOf(strSource) + 2 * orvtest::RecordLengthOf(strSource) + 3);
    const auto before = orvtest::ReadBytes(strSource);
    const std::string strReport = m_dir.File("report.json");

    std::string strErr;
    const CommandResult dry = RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out"))
                                          + " --dry-run --json --report " + ShellQuote(strReport),
                                      Tmp(), &strErr);
    EXPECT_EQ(dry.nExitCode, 3) << dry.strOut << strErr;
    EXPECT_TRUE(FolderIsEmpty(m_dir.File("out")));
    EXPECT_TRUE(FolderIsEmpty(Tmp()));
    EXPECT_EQ(orvtest::ReadBytes(strSource), before);
    EXPECT_NE(strErr.find("2 records written"), std::string::npos) << strErr;
    const std::string strScript = R"PY(
import json, sys
s = json.loads(sys.argv[1])
with open(sys.argv[2], 'rb') as f:
    r = json.loads(f.read().decode('utf-8'))
print(s['status'], s['dry_run'], s['table'], r == s['report'], r['records_written'], r['records_dropped'], r['losses'])
)PY";
    EXPECT_EQ(orvtest::RunPython(strScript, {dry.strOut, strReport}).strOut, "Done True None True 2 1 True\n")
        << dry.strOut;

    // Without --json: the status and a word that nothing was saved.
    const CommandResult plain = RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out"))
                                            + " --dry-run --quiet", Tmp(), &strErr);
    EXPECT_EQ(plain.nExitCode, 3);
    EXPECT_EQ(plain.strOut.substr(0, 5), "Done\n");
    EXPECT_EQ(strErr, "");
    EXPECT_TRUE(FolderIsEmpty(m_dir.File("out")));
}

TEST_F(RepairCommand, AReportThatCannotBeWrittenFailsTheRun)
{
    const std::string strSource = m_dir.File("src/fox.dbf");
    orvtest::WritePeerTable(strSource, kFoxFields, "fp", kFoxRows);
    const auto before = orvtest::ReadBytes(strSource);
    struct Case {
        std::string strReport;
        int nExitCode;
        const char* pszMessage;
    };
    const Case cases[] = {
        {m_dir.File("nowhere/report.json"), 1, "The repair report could not be written"},
        {"/dev/full", 1, "No space left on device"},
        // Never over the source or its memo file.
        {strSource, 2, "is the table or its memo file"},
        {m_dir.File("src/fox.fpt"), 2, "is the table or its memo file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strReport);
        std::string strErr;
        const CommandResult result = RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out"))
                                                 + " --report " + ShellQuote(c.strReport),
                                             Tmp(), &strErr);
        EXPECT_EQ(result.nExitCode, c.nExitCode) << strErr;
        EXPECT_NE(strErr.find(c.pszMessage), std::string::npos) << strErr;
        // Exit code 1 means nothing was saved.
        EXPECT_TRUE(FolderIsEmpty(m_dir.File("out")));
    }
    EXPECT_EQ(orvtest::ReadBytes(strSource), before);
    EXPECT_EQ(RunTool("repair " + ShellQuote(strSource) + " --report", Tmp()).nExitCode, 2);
}

TEST_F(RepairCommand, TwoRunsAtOnceOnTablesOfTheSameName)
{
    // Same file name, different folders and contents, one shared TMPDIR:
    // each process works in its own folder.
    std::filesystem::create_directories(m_dir.File("src/a"));
    std::filesystem::create_directories(m_dir.File("src/b"));
    std::filesystem::create_directories(m_dir.File("out/a"));
    std::filesystem::create_directories(m_dir.File("out/b"));
    std::string strRowsA = "[";
    std::string strRowsB = "[";
    for (int i = 0; i < 3000; ++i) {
        strRowsA += "('a" + std::to_string(i) + "', " + std::to_string(i) + "),";
        strRowsB += "('b" + std::to_string(i) + "', " + std::to_string(-i) + "),";
    }
    orvtest::WritePeerTable(m_dir.File("src/a/sales.dbf"), "name C(20); qty N(9,0)", "db3", strRowsA + "]");
    orvtest::WritePeerTable(m_dir.File("src/b/sales.dbf"), "name C(20); qty N(9,0)", "db3", strRowsB + "]");
    const std::string strCommand = "TMPDIR=" + ShellQuote(Tmp()) + " ; export TMPDIR; ("
        + ShellQuote(Tool()) + " repair " + ShellQuote(m_dir.File("src/a/sales.dbf")) + " -o " + ShellQuote(m_dir.File("out/a")) + " --quiet & "
        + ShellQuote(Tool()) + " repair " + ShellQuote(m_dir.File("src/b/sales.dbf")) + " -o " + ShellQuote(m_dir.File("out/b")) + " --quiet & wait) >/dev/null";
    EXPECT_EQ(orvtest::Run(strCommand).nExitCode, 0);
    EXPECT_EQ(orvtest::CompareWithPeer(m_dir.File("src/a/sales.dbf"), m_dir.File("out/a/Rep_1_sales.dbf")), "OK");
    EXPECT_EQ(orvtest::CompareWithPeer(m_dir.File("src/b/sales.dbf"), m_dir.File("out/b/Rep_1_sales.dbf")), "OK");
    EXPECT_TRUE(FolderIsEmpty(Tmp()));
}

TEST_F(RepairCommand, PreviewShowsTheWizardsGrid)
{
    const std::string strSource = m_dir.File("src/fox.dbf");
    orvtest::WritePeerTable(strSource, kFoxFields, "fp", kFoxRows);
    const CommandResult all = RunTool("preview " + ShellQuote(strSource), Tmp());
    EXPECT_EQ(all.nExitCode, 0);
    EXPECT_EQ(all.strOut,
              "Index | NAME         | QTY       | BORN       | OK    | NOTES\n"
              "------+--------------+-----------+------------+-------+------\n"
              "1     | alpha        |      1.50 | 2005/03/07 | TRUE  | Memo\n"
              "2     | beta         |     -2.00 |     /  /   | FALSE | Memo\n"
              "3     | gamma        |      3.25 | 1999/12/31 | FALSE | Memo\n");
    const CommandResult two = RunTool("preview " + ShellQuote(strSource) + " --rows 2", Tmp());
    EXPECT_EQ(two.nExitCode, 0);
    EXPECT_EQ(std::count(two.strOut.begin(), two.strOut.end(), '\n'), 4);
    EXPECT_EQ(RunTool("preview " + ShellQuote(strSource) + " --rows x", Tmp()).nExitCode, 2);
    EXPECT_EQ(RunTool("preview " + ShellQuote(m_dir.File("src/none.dbf")), Tmp()).nExitCode, 1);
}

// 30,000 one-byte records under 1,000 zero-width columns: 62 KB of table
// but 90 MB of grid text. The rows are written as they are read, so the
// tool's memory stays small (a grid held whole took 1.9 GB).
TEST_F(RepairCommand, PreviewOfEveryRowStreamsInBoundedMemory)
{
    constexpr uint32_t kRecords = 30000;
    constexpr uint16_t kColumns = 1000;
    constexpr uint16_t kHeaderLength = 32 + 32 * kColumns + 1;
    std::vector<unsigned char> table(32, 0);
    table[0] = 0x03;
    for (int i = 0; i < 4; ++i)
        table[4 + i] = static_cast<unsigned char>(kRecords >> (8 * i));
    table[8] = kHeaderLength & 0xFF, table[9] = kHeaderLength >> 8, table[10] = 1;
    for (int nColumn = 0; nColumn < kColumns; ++nColumn) {
        std::vector<unsigned char> descriptor(32, 0);
        const std::string strName = "F" + std::to_string(nColumn);
        std::copy(strName.begin(), strName.end(), descriptor.begin());
        descriptor[11] = 'C';
        table.insert(table.end(), descriptor.begin(), descriptor.end());
    }
    table.push_back(0x0D);
    table.insert(table.end(), kRecords, ' ');
    table.push_back(0x1A);
    const std::string strTable = m_dir.File("src/wide.dbf");
    orvtest::WriteBytes(strTable, table);
    const std::string strScript = R"PY(
import os, resource, subprocess, sys
# A sanitizer build would otherwise keep up to 256 MB of freed memory.
env = dict(os.environ, ASAN_OPTIONS=os.environ.get('ASAN_OPTIONS', '') + ':quarantine_size_mb=16')
p = subprocess.Popen([sys.argv[1], 'preview', sys.argv[2], '--rows', '0'], stdout=subprocess.PIPE, env=env)
lines = sum(chunk.count(b'\n') for chunk in iter(lambda: p.stdout.read(1 << 16), b''))
print(p.wait(), lines, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024 < 300)
)PY";
    EXPECT_EQ(orvtest::RunPython(strScript, {orvtest::BinDir() + "/dbfrepair", strTable}).strOut, "0 30002 True\n");
}

TEST_F(RepairCommand, PreviewConvertsTheTablesCodePage)
{
    const CommandResult result = RunTool("preview " + ShellQuote(orvtest::RealFixturesDir() + "/cp1251.dbf"), Tmp());
    EXPECT_EQ(result.nExitCode, 0);
    // Cyrillic text from Windows-1251 arrives as UTF-8, decoded once
    // ("амбул", not the mojibake of a second decoding).
    EXPECT_NE(result.strOut.find("\xD0\xB0\xD0\xBC\xD0\xB1\xD1\x83\xD0\xBB"), std::string::npos) << result.strOut;
}

// The flow scripts/run takes when no display is there.
TEST_F(RepairCommand, BundledDamagedSampleRepairsAndPreviews)
{
    const std::string strSample = orvtest::SourceDir() + "/examples/damaged_sales.dbf";
    ASSERT_TRUE(orvtest::FileExists(strSample));
    const auto before = orvtest::ReadBytes(strSample);
    const CommandResult repaired = RunTool("repair " + ShellQuote(strSample) + " -o " + ShellQuote(m_dir.File("out")), Tmp());
    // Saved, but the half-written append is lost.
    EXPECT_EQ(repaired.nExitCode, 3) << repaired.strOut;
    const CommandResult preview = RunTool("preview " + ShellQuote(m_dir.File("out/Rep_1_damaged_sales.dbf")), Tmp());
    EXPECT_EQ(preview.nExitCode, 0);
    EXPECT_NE(preview.strOut.find("8     |   1008 | Shandon Books"), std::string::npos) << preview.strOut;
    EXPECT_EQ(preview.strOut.find("1009"), std::string::npos) << preview.strOut; // the half-written append
    const std::string strRecords = orvtest::PeerRecords(m_dir.File("out/Rep_1_damaged_sales.dbf"));
    EXPECT_NE(strRecords.find("the reminder of 15 May"), std::string::npos) << strRecords;
    EXPECT_EQ(orvtest::ReadBytes(strSample), before);
}

} // namespace
