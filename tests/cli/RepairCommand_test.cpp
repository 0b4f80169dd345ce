// dbfrepair repair and dbfrepair preview, run as a user runs them: damaged
// tables written by python3-dbf go in, the saved result is read back by
// python3-dbfread.

#include "repair/PeerTables.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iterator>
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
    // Each check's message, then the verdict that closes every run.
    EXPECT_EQ(RunTool("repair", Tmp(), &strErr).nExitCode, 2);
    EXPECT_EQ(strErr, "Please select file(s) to repair\nFailed: Please select file(s) to repair\n");
    EXPECT_EQ(RunTool("repair ''", Tmp(), &strErr).nExitCode, 2);
    EXPECT_EQ(strErr, "Please select file(s) to repair\nFailed: Please select file(s) to repair\n");
    EXPECT_EQ(RunTool("repair " + ShellQuote(m_dir.File("src/missing.dbf")), Tmp(), &strErr).nExitCode, 1);
    EXPECT_EQ(strErr, "dbfrepair repair: " + m_dir.File("src/missing.dbf") + ": No such file or directory\nFailed: "
                          + m_dir.File("src/missing.dbf") + ": No such file or directory\n");
    orvtest::WriteBytes(m_dir.File("src/table.db"), std::vector<unsigned char>(100, ' '));
    EXPECT_EQ(RunTool("repair " + ShellQuote(m_dir.File("src/table.db")), Tmp(), &strErr).nExitCode, 2);
    EXPECT_EQ(strErr, "Invalid File Name\nFailed: Invalid File Name\n");

    // Held open by another program (which asked for a lock).
    const std::string strTable = m_dir.File("src/busy.dbf");
    orvtest::WritePeerTable(strTable, "name C(10)", "db3", "[('a',)]");
    const int fd = ::open(strTable.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);
    EXPECT_EQ(RunTool("repair " + ShellQuote(strTable), Tmp(), &strErr).nExitCode, 1);
    EXPECT_EQ(strErr, "The process cannot access the file because it is used by another process.\n"
                      "Failed: The process cannot access the file because it is used by another process.\n");
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
    // No progress into a file: only the summary, ending with the verdict.
    EXPECT_EQ(strErr.find("Analyzing Data"), std::string::npos) << strErr;
    EXPECT_EQ(strErr.substr(strErr.rfind('\n', strErr.size() - 2) + 1), "Nothing was lost.\n") << strErr;
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
      s['fields'], s['records'], s['deleted_records'], s['memos_recovered'], s['memos_missing'], s['seconds'] >= 0)
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
        // Never over a file that exists, unasked.
        {"/dev/full", 1, "/dev/full: the report file exists (--force replaces it)"},
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

// Bytes of a file from nOffset replaced by nRemove bytes taken out and
// inserted put in.
void SpliceBytes(const std::string& strPath, size_t nOffset, size_t nRemove, const std::vector<unsigned char>& inserted)
{
    auto bytes = orvtest::ReadBytes(strPath);
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(nOffset),
                bytes.begin() + static_cast<std::ptrdiff_t>(nOffset + nRemove));
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(nOffset), inserted.begin(), inserted.end());
    orvtest::WriteBytes(strPath, bytes);
}

// The report names records as python3-dbfread numbers the source's rows:
// every record the damage touched is listed, every row of the saved table
// is the source record the report's numbers say it is, records and bytes
// add up, and the memos not found are exactly those the cut memo file lost.
TEST_F(RepairCommand, ReportNamesEachDamagedRecordAndMissingMemoAsDbfreadNumbersThem)
{
    struct Case {
        const char* pszName;
        double dRecord;     // where the damage starts, in records from the first
        size_t nRemove;     // bytes taken out there
        size_t nInsert;     // bytes put in there (noise)
        size_t nZero;       // bytes zeroed there
        double dMemoKept;   // share of the memo file left, 1 for all
        int nMemoRepeat = 5; // memo texts of one block or several
    };
    const Case cases[] = {
        {"zeroed stretch", 30.2, 0, 0, 100, 1},
        {"306 bytes inserted", 60.3, 0, 306, 0, 1},
        // References read off the shifted records must not change the
        // block size the memo file's header gives.
        {"306 bytes inserted, one-block memos", 60.3, 0, 306, 0, 1, 1},
        {"100 bytes lost", 80.1, 100, 0, 0, 1},
        {"memo file cut short", 0, 0, 0, 0, 0.8},
        {"all at once", 45.5, 37, 306, 0, 0.7},
    };
    const std::string strScript = R"PY(
import json, sys, dbfread
res = json.loads(sys.argv[1])
r = res['report']
pristine, source, memo = sys.argv[2], sys.argv[3], sys.argv[4]
at, removed, inserted, zeroed, memo_cut = (int(x) for x in sys.argv[5:10])
src = dbfread.DBF(pristine, load=True)
saved = dbfread.DBF(res['table'], load=True)
raw = open(pristine, 'rb').read()
hl, rl = raw[8] | raw[9] << 8, raw[10] | raw[11] << 8
n = len(src.records)
problems = []
losses = r['record_losses']
numbers = [l['record'] for l in losses]
if numbers != sorted(set(numbers)):
    problems.append('a record listed twice or out of order')
dropped = [l['record'] for l in losses if l['kind'] == 'dropped']
kept_damaged = {l['record'] for l in losses if l['kind'] != 'dropped'}
# Counts that add up: each source record is a saved row or a dropped one.
if (r['records_dropped'], res['records_dropped']) != (len(dropped), len(dropped)):
    problems.append('records_dropped %d, listed %d' % (r['records_dropped'], len(dropped)))
if r['records_written'] + r['records_dropped'] != n:
    problems.append('%d written + %d dropped != %d' % (r['records_written'], r['records_dropped'], n))
if r['bytes_dropped'] != sum(d['length'] for d in r['dropped']):
    problems.append('bytes_dropped %d' % r['bytes_dropped'])
# Every record whose bytes the damage touched is listed.
span = max(removed, zeroed, 1)  # inserted bytes split one record only
touched = {k + 1 for k in range(n) if at and hl + k * rl < at + span and at < hl + (k + 1) * rl}
if not touched <= set(numbers):
    problems.append('touched but not listed: %s' % sorted(touched - set(numbers)))
# A listed record's bytes lie where that record lies in the damaged source.
shift = inserted - removed
for l in losses:
    k = l['record'] - 1
    lo, hi = hl + k * rl + min(0, shift), hl + (k + 1) * rl + max(0, shift)
    if l['length'] and not (lo <= l['offset'] and l['offset'] + l['length'] <= hi):
        problems.append('record %d at %d+%d' % (l['record'], l['offset'], l['length']))
# The memos the cut memo file lost: their blocks end past the cut.
fpt = open(memo, 'rb').read()
block = fpt[6] << 8 | fpt[7]
notes = [f for f in src.fields if f.type == 'M'][0]
def lost(k):
    ref = raw[hl + k * rl + 1 + sum(f.length for f in src.fields[:src.fields.index(notes)]):][:notes.length]
    start = int(ref.strip() or b'0') * block
    return memo_cut and start + 8 + int.from_bytes(fpt[start + 4:start + 8], 'big') > memo_cut
want_missing = {(k + 1, notes.name) for k in range(n) if k + 1 not in dropped and lost(k)}
missing = {(m['record'], m['column']) for m in r['missing_memos']}
if missing != want_missing or r['memos_missing'] != len(missing):
    problems.append('missing memos %s, expected %s' % (sorted(missing), sorted(want_missing)))
# Each saved row is the source record the numbers say, whole unless listed.
kept = [k for k in range(1, n + 1) if k not in dropped]
if len(kept) != len(saved.records):
    problems.append('%d rows saved, %d records kept' % (len(saved.records), len(kept)))
for k, row in zip(kept, saved.records):
    if k in kept_damaged:
        continue
    for f in src.field_names:
        want = '' if (k, f) in missing else src.records[k - 1][f]
        if (row[f] or '') != (want or ''):
            problems.append('record %d %s: %r, not %r' % (k, f, row[f], want))
print(problems or 'agree', bool(dropped or kept_damaged) == bool(at), r['losses'], res['exit_code'])
)PY";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        TempDir dir;
        std::filesystem::create_directories(dir.File("out"));
        const std::string strPristine = dir.File("pristine.dbf");
        orvtest::WritePeerTable(strPristine, "name C(12); qty N(9,2); notes M", "fp",
                                "[('r%03d' % i, i * 1.25, 'memo %d ' % i * (i % 7 + 1) * "
                                    + std::to_string(c.nMemoRepeat) + ") for i in range(120)]");
        const std::string strSource = dir.File("t.dbf");
        const std::string strMemo = dir.File("t.fpt");
        std::filesystem::copy_file(strPristine, strSource);
        std::filesystem::copy_file(dir.File("pristine.fpt"), strMemo);
        const size_t nAt = c.dRecord == 0 ? 0
                                          : orvtest::HeaderLengthOf(strSource)
                + static_cast<size_t>(c.dRecord * orvtest::RecordLengthOf(strSource));
        std::vector<unsigned char> noise(c.nInsert);
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<unsigned char>(i * 37 % 251);
        if (nAt != 0)
            SpliceBytes(strSource, nAt, c.nRemove + c.nZero, noise);
        if (c.nZero != 0)
            SpliceBytes(strSource, nAt, 0, std::vector<unsigned char>(c.nZero, 0));
        const size_t nMemoCut = c.dMemoKept < 1 ? static_cast<size_t>(orvtest::ReadBytes(strMemo).size() * c.dMemoKept) : 0;
        if (nMemoCut != 0)
            orvtest::TruncateTo(strMemo, nMemoCut);
        std::string strErr;
        const CommandResult result =
            RunTool("repair " + ShellQuote(strSource) + " -o " + ShellQuote(dir.File("out")) + " --json", Tmp(), &strErr);
        EXPECT_EQ(result.nExitCode, 3) << strErr;
        EXPECT_EQ(orvtest::RunPython(strScript, {result.strOut, strPristine, strSource, dir.File("pristine.fpt"),
                                                 std::to_string(nAt), std::to_string(c.nRemove),
                                                 std::to_string(c.nInsert), std::to_string(c.nZero),
                                                 std::to_string(nMemoCut)})
                      .strOut,
                  "agree True True 3\n")
            << result.strOut;
    }
}

// One schema for every result object, single or batch, Done or Failed,
// refused before the run or not; each run's last line on standard error is
// its verdict, and the report file is the result's report.
TEST_F(RepairCommand, SingleAndBatchResultsShareOneShapeAndEndWithAVerdict)
{
    const std::string strClean = m_dir.File("src/clean.dbf");
    orvtest::WritePeerTable(strClean, kFoxFields, "fp", kFoxRows);
    const std::string strLossy = m_dir.File("src/lossy.dbf");
    orvtest::WritePeerTable(strLossy, kFoxFields, "fp", kFoxRows);
    orvtest::TruncateTo(strLossy, orvtest::HeaderLengthOf(strLossy) + 2 * orvtest::RecordLengthOf(strLossy) + 5);
    const std::string strFailing = m_dir.File("src/tiny.dbf");
    orvtest::WriteBytes(strFailing, std::vector<unsigned char>(32, 0x03));
    const std::string strMissing = m_dir.File("src/missing.dbf");
    const std::string strOut = " -o " + ShellQuote(m_dir.File("out")) + " --json";
    struct Case {
        const char* pszName;
        std::string strArgs;
        int nExitCode;
        const char* pszVerdict; // how the last line of standard error begins
    };
    const Case cases[] = {
        {"clean", ShellQuote(strClean) + strOut + " --report " + ShellQuote(m_dir.File("clean.json")), 0,
         "Nothing was lost."},
        {"losses", ShellQuote(strLossy) + strOut + " --report " + ShellQuote(m_dir.File("lossy.json")), 3,
         "Finished with losses: 1 record dropped ("},
        {"failed run", ShellQuote(strFailing) + strOut, 1, "Failed: No field descriptors end in "},
        {"refused", ShellQuote(strMissing) + strOut, 1, "Failed: "},
        {"refused report", ShellQuote(strClean) + strOut + " --report " + ShellQuote(m_dir.File("clean.json")), 1,
         "Failed: "},
        {"batch", ShellQuote(strClean) + " " + ShellQuote(strLossy) + " " + ShellQuote(strFailing) + " "
                      + ShellQuote(strMissing) + strOut,
         1, "Failed: 2 of 4 tables failed."},
        {"batch with losses", ShellQuote(strClean) + " " + ShellQuote(strLossy) + strOut + " --dry-run", 3,
         "Finished with losses: 1 record dropped ("},
    };
    // Every key of a result and of its report, with the types it may take.
    const std::string strScript = R"PY(
import json, sys
N, S, B, L, D, Z = int, str, bool, list, dict, type(None)
result = {'source': S, 'status': S, 'table': (S, Z), 'memo': (S, Z), 'fields': N, 'records': N,
          'deleted_records': N, 'records_dropped': N, 'bytes_dropped': N, 'records_cut_short': N,
          'records_mended': N, 'values_mended': N, 'memos_recovered': N, 'memos_missing': N,
          'memo_file_missing': B, 'losses': B, 'index_files': L, 'bytes': N, 'seconds': float, 'dry_run': B,
          'exit_code': N, 'error': (S, Z), 'report': (D, Z)}
report = {'schema_version': N, 'source': S, 'source_memo': (S, Z), 'table': (S, Z), 'memo': (S, Z), 'outcome': S,
          'exit_code': (N, Z), 'done': B, 'losses': B, 'records_written': N, 'deleted_records': N,
          'records_dropped': N, 'dropped': L, 'dropped_ranges_not_listed': N, 'bytes_dropped': N,
          'records_cut_short': N, 'records_mended': N, 'record_losses': L, 'record_losses_not_listed': N,
          'realignments': L, 'values_mended': N, 'columns': L, 'memos_recovered': N, 'memos_missing': N,
          'missing_memos': L, 'missing_memos_not_listed': N, 'memos_shared_not_copied': N,
          'memo_file_missing': B, 'structure_fixes': L, 'record_area_start': N, 'record_length': N,
          'memo_block_size': N, 'transfer_undone': B, 'index_files': L}
def check(obj, schema, where):
    out = []
    if set(obj) != set(schema):
        out.append('%s keys %s' % (where, sorted(set(obj) ^ set(schema))))
    for k, t in schema.items():
        if k in obj and (not isinstance(obj[k], t) or isinstance(obj[k], bool) and t is N):
            out.append('%s %s: %r' % (where, k, obj[k]))
    return out
problems, shapes = [], []
lines = [json.loads(l) for l in sys.argv[1].splitlines()]
for o in lines:
    if o.get('summary'):
        shapes.append('summary %s %d' % (o['status'], o['exit_code']))
        continue
    problems += check(o, result, o['source'])
    r = o['report']
    if r is not None:
        problems += check(r, report, 'report of ' + o['source'])
        if (r['table'], r['memo'], r['outcome'], r['exit_code']) != (o['table'], o['memo'], o['status'], o['exit_code']):
            problems.append('report of %s disagrees' % o['source'])
    if (o['status'] == 'Done') == (o['error'] is not None):
        problems.append('%s: status %s, error %r' % (o['source'], o['status'], o['error']))
    shapes.append('%s %d %s' % (o['status'], o['exit_code'], 'report' if r else 'no report'))
if len(sys.argv) > 2:
    with open(sys.argv[2], 'rb') as f:
        if json.loads(f.read()) != lines[0]['report']:
            problems.append('the report file is not the report')
print(problems or 'one shape', sorted(shapes))
)PY";
    const char* const kShapes[] = {
        "one shape ['Done 0 report']\n",
        "one shape ['Done 3 report']\n",
        "one shape ['Failed 1 report']\n",
        "one shape ['Failed 1 no report']\n",
        "one shape ['Failed 1 no report']\n",
        "one shape ['Done 0 report', 'Done 3 report', 'Failed 1 no report', 'Failed 1 report', 'summary Failed 1']\n",
        "one shape ['Done 0 report', 'Done 3 report', 'summary Done 3']\n",
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.pszName);
        std::string strErr;
        const CommandResult result = RunTool("repair " + c.strArgs, Tmp(), &strErr);
        EXPECT_EQ(result.nExitCode, c.nExitCode) << strErr;
        const size_t nReport = c.strArgs.find("--report ");
        std::vector<std::string> args{result.strOut};
        if (nReport != std::string::npos && c.nExitCode != 1)
            args.push_back(m_dir.File(std::string(c.pszName) == "clean" ? "clean.json" : "lossy.json"));
        EXPECT_EQ(orvtest::RunPython(strScript, args).strOut, kShapes[i]) << result.strOut;
        // The verdict is the last line; no progress when standard error is a file.
        const std::string strLast = strErr.substr(strErr.rfind('\n', strErr.size() - 2) + 1);
        EXPECT_EQ(strLast.rfind(c.pszVerdict, 0), 0u) << strErr;
        EXPECT_EQ(strErr.find("Analyzing Data"), std::string::npos) << strErr;
    }
}

// The report file: never over an existing file unless --force, never over
// anything but a file, and a refusal comes before any work.
TEST_F(RepairCommand, AnExistingReportFileIsKeptUnlessForced)
{
    const std::string strSource = m_dir.File("src/fox.dbf");
    orvtest::WritePeerTable(strSource, kFoxFields, "fp", kFoxRows);
    const std::string strReport = m_dir.File("report.json");
    orvtest::WriteBytes(strReport, {'o', 'l', 'd'});
    const std::string strRun = "repair " + ShellQuote(strSource) + " -o " + ShellQuote(m_dir.File("out")) + " --report ";
    std::string strErr;
    EXPECT_EQ(RunTool(strRun + ShellQuote(strReport), Tmp(), &strErr).nExitCode, 1);
    EXPECT_NE(strErr.find(strReport + ": the report file exists (--force replaces it)"), std::string::npos) << strErr;
    EXPECT_EQ(orvtest::ReadBytes(strReport), std::vector<unsigned char>({'o', 'l', 'd'}));
    EXPECT_TRUE(FolderIsEmpty(m_dir.File("out")));

    std::filesystem::create_directories(m_dir.File("folder.json"));
    EXPECT_EQ(RunTool(strRun + ShellQuote(m_dir.File("folder.json")) + " --force", Tmp(), &strErr).nExitCode, 1);
    EXPECT_NE(strErr.find("is no regular file"), std::string::npos) << strErr;
    EXPECT_TRUE(FolderIsEmpty(m_dir.File("out")));

    EXPECT_EQ(RunTool(strRun + ShellQuote(strReport) + " --force", Tmp(), &strErr).nExitCode, 0) << strErr;
    const std::string strScript = R"PY(
import json, sys
r = json.load(open(sys.argv[1]))
print(r['outcome'], r['exit_code'], r['table'].endswith('/Rep_1_fox.dbf'), r['schema_version'])
)PY";
    EXPECT_EQ(orvtest::RunPython(strScript, {strReport}).strOut, "Done 0 True 1\n");
    // No temporary name is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()), {}), 5) << m_dir.Path();
    EXPECT_EQ(RunTool("repair " + ShellQuote(strSource) + " " + ShellQuote(strSource) + " -o "
                          + ShellQuote(m_dir.File("out")) + " --force",
                      Tmp())
                  .nExitCode,
              2);
}

// Progress goes to standard error only when it is a terminal.
TEST_F(RepairCommand, ProgressIsDrawnOnlyOnATerminal)
{
    const std::string strSource = m_dir.File("src/fox.dbf");
    orvtest::WritePeerTable(strSource, kFoxFields, "fp", kFoxRows);
    const std::string strScript = R"PY(
import os, pty, subprocess, sys
master, slave = pty.openpty()
p = subprocess.run([sys.argv[1], 'repair', sys.argv[2], '-o', sys.argv[3], '--dry-run'], stderr=slave,
                   stdout=subprocess.PIPE, env=dict(os.environ, TMPDIR=sys.argv[4]))
os.close(slave)
seen = b''
while True:
    try:
        chunk = os.read(master, 65536)
    except OSError:
        break
    if not chunk:
        break
    seen += chunk
print(p.returncode, b'Analyzing Data' in seen, b'\r\x1b[K' in seen, seen.rstrip().endswith(b'Nothing was lost.'))
)PY";
    EXPECT_EQ(orvtest::RunPython(strScript, {Tool(), strSource, m_dir.File("out"), Tmp()}).strOut,
              "0 True True True\n");
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
