// dbfrepair repair, run in-process with injected file faults: every write
// of the repair and of the save fails in turn, the source's reads fail or
// come back short, and a stop signal comes at every write. Each time the
// run ends "Failed" (or stopped) with a message naming the file and the
// reason, nothing is left under the saved name or in the temporary folder,
// and the source is unchanged.

#include "cli/RepairCommand.h"
#include "platform/FileFaultInjector.h"
#include "platform/FileSystem.h"
#include "platform/OsError.h"
#include "platform/TempFolder.h"
#include "repair/PeerTables.h"
#include "repair/RepairPaths.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace {

using orvtest::TempDir;

struct RunResult {
    int nExitCode = -1;
    std::string strOut;
    std::string strErr;
    // Whether one line of standard error holds both parts.
    bool Reported(const std::string& strPart1, const std::string& strPart2) const
    {
        std::istringstream lines(strErr);
        for (std::string strLine; std::getline(lines, strLine);)
            if (strLine.find(strPart1) != std::string::npos && strLine.find(strPart2) != std::string::npos)
                return true;
        return false;
    }
};

// Where a short read makes the source table seem to end: bytes from the
// start of the file, from the start of the records, or before its end.
struct ShortReadCase {
    const char* lpszName;
    enum From { fileStart, recordStart, fileEnd } nFrom;
    int64_t nBytes;
};

class RepairFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pDir = new TempDir;
        // A small FoxPro table with memo texts, written by the peer.
        orvtest::WritePeerTable(s_pDir->File("src.dbf"), "name C(12); qty N(9,2); notes M", "fp",
                                "[('row%d' % i, i * 1.5, ('text %d ' % i) * (i * 7)) for i in range(40)]");
    }
    static void TearDownTestSuite()
    {
        delete s_pDir;
        s_pDir = nullptr;
    }
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.File("src"));
        std::filesystem::create_directories(m_dir.File("out"));
        std::filesystem::copy_file(s_pDir->File("src.dbf"), Source());
        std::filesystem::copy_file(s_pDir->File("src.fpt"), m_dir.File("src/damaged.fpt"));
        m_source = orvtest::ReadBytes(Source());
        m_memo = orvtest::ReadBytes(m_dir.File("src/damaged.fpt"));
    }
    std::string Source() const { return m_dir.File("src/damaged.dbf"); }
    std::string Out() const { return m_dir.File("out"); }

    RunResult RunRepair()
    {
        std::ostringstream out;
        std::ostringstream err;
        RunResult result;
        result.nExitCode = RepairCommand().pfnRun({Source(), "-o", Out()}, out, err);
        result.strOut = out.str();
        result.strErr = err.str();
        return result;
    }

    // What every run that did not end Done must leave.
    void ExpectNothingLeft(const std::string& strWhen)
    {
        EXPECT_TRUE(orvtest::FolderNames(Out()).empty()) << strWhen;
        EXPECT_TRUE(orvtest::FolderNames(CTempFolder::ProcessFolder()).empty()) << strWhen;
        EXPECT_EQ(orvtest::ReadBytes(Source()), m_source) << strWhen;
        EXPECT_EQ(orvtest::ReadBytes(m_dir.File("src/damaged.fpt")), m_memo) << strWhen;
    }
    uint64_t WalkWriteFailures(const std::string& strPattern);
    void CheckShortRead(const ShortReadCase& c);
    void ClearOut() { std::filesystem::remove_all(Out()), std::filesystem::create_directories(Out()); }

    static TempDir* s_pDir;
    TempDir m_dir;
    std::vector<unsigned char> m_source;
    std::vector<unsigned char> m_memo;
};

TempDir* RepairFaults::s_pDir = nullptr;

TEST_F(RepairFaults, WithoutFaultsTheRunIsDone)
{
    const RunResult result = RunRepair();
    ASSERT_EQ(result.nExitCode, 0) << result.strErr;
    // The memo file's extension may keep the source's letter case.
    std::vector<std::string> names;
    for (const std::string& strName : orvtest::FolderNames(Out()))
        names.push_back(LowerCaseAscii(strName));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"rep_1_damaged.dbf", "rep_1_damaged.fpt"}));
    EXPECT_EQ(orvtest::CompareWithPeer(Source(), m_dir.File("out/Rep_1_damaged.dbf")), "OK");
}

// Every write to the files matching strPattern fails in turn with ENOSPC
// (N = 1, 2, ... until a run goes through); returns the number of failures
// injected.
uint64_t RepairFaults::WalkWriteFailures(const std::string& strPattern)
{
    uint64_t nCall = 1;
    for (;; ++nCall) {
        ClearOut();
        FileFault fault;
        fault.nCall = nCall;
        fault.strPathPattern = strPattern;
        CFileFaultInjector injector(fault);
        const RunResult result = RunRepair();
        if (injector.GetStrikeCount() == 0) {
            EXPECT_EQ(result.nExitCode, 0) << result.strErr;
            break;
        }
        const std::string strWhen = "write " + std::to_string(nCall) + " to " + injector.GetStruckPath();
        EXPECT_EQ(result.nExitCode, 1) << strWhen;
        EXPECT_EQ(result.strOut, "Failed\n") << strWhen;
        // A file of the user's folder is named; for an internal one, the
        // temporary folder that is full and how to choose another.
        const bool bTemporary = CTempFolder::IsInProcessFolder(injector.GetStruckPath());
        EXPECT_TRUE(result.Reported(bTemporary ? "The temporary folder " + CTempFolder::GetSystemTempPath() + " is full"
                                               : PathFileName(injector.GetStruckPath()),
                                    COsError::Text(ENOSPC)))
            << strWhen << "; reported: " << result.strErr;
        EXPECT_EQ(bTemporary, result.Reported(CFileSystem::TempPathVariable(), COsError::Text(ENOSPC))) << result.strErr;
        EXPECT_EQ(result.strErr.find(kTempNameMarker), std::string::npos) << result.strErr;
        ExpectNothingLeft(strWhen);
    }
    std::printf("%s: %llu injected write failures\n", strPattern.c_str(), static_cast<unsigned long long>(nCall - 1));
    return nCall - 1;
}

// The repaired table in the temporary folder.
TEST_F(RepairFaults, AFailedWriteOfTheRepairedTableEndsFailed)
{
    EXPECT_GE(WalkWriteFailures("*/orvane-tamsin-*/*.dbf"), 2u);
}

// The repaired memo file in the temporary folder (a text that cannot be
// written must not pass for a field the table refused).
TEST_F(RepairFaults, AFailedWriteOfTheRepairedMemoEndsFailed)
{
    EXPECT_GE(WalkWriteFailures("*/orvane-tamsin-*/*.[fF][pP][tT]"), 1u);
}

// The saved files in the output folder.
TEST_F(RepairFaults, AFailedWriteOfTheSavedFilesEndsFailed)
{
    EXPECT_GE(WalkWriteFailures("*/out/*"), 2u);
}

// The report file, written in the temporary folder and placed beside the
// user's files: a write that fails at any step leaves no report, whole or
// partial, and takes the saved table back (exit code 1 saves nothing).
TEST_F(RepairFaults, AFailedWriteOfTheReportLeavesNeitherReportNorTable)
{
    const std::string strReport = m_dir.File("report.json");
    uint64_t nCall = 1;
    for (;; ++nCall) {
        ClearOut();
        FileFault fault;
        fault.nCall = nCall;
        fault.strPathPattern = "*report.json*";
        CFileFaultInjector injector(fault);
        std::ostringstream out;
        std::ostringstream err;
        const int nExitCode = RepairCommand().pfnRun({Source(), "-o", Out(), "--report", strReport}, out, err);
        if (injector.GetStrikeCount() == 0) {
            EXPECT_EQ(nExitCode, 0) << err.str();
            EXPECT_TRUE(orvtest::FileExists(strReport));
            break;
        }
        const std::string strWhen = "write " + std::to_string(nCall) + " to " + injector.GetStruckPath();
        EXPECT_EQ(nExitCode, 1) << strWhen;
        EXPECT_NE(err.str().find("The repair report could not be written to " + strReport + ": "
                                 + COsError::Text(ENOSPC)),
                  std::string::npos)
            << strWhen << ": " << err.str();
        EXPECT_EQ(orvtest::FolderNames(m_dir.Path()), (std::vector<std::string>{"out", "src"})) << strWhen;
        ExpectNothingLeft(strWhen);
    }
    EXPECT_GE(nCall - 1, 2u);
}

// Every read of the source table or its memo file fails in turn with EIO.
TEST_F(RepairFaults, AFailedReadOfTheSourceEndsFailedWithAMessage)
{
    uint64_t nCall = 1;
    for (;; ++nCall) {
        ClearOut();
        FileFault fault;
        fault.nKind = FileFault::failRead;
        fault.nCall = nCall;
        fault.strPathPattern = "*/src/damaged.*";
        CFileFaultInjector injector(fault);
        const RunResult result = RunRepair();
        if (injector.GetStrikeCount() == 0) {
            EXPECT_EQ(result.nExitCode, 0) << result.strErr;
            break;
        }
        const std::string strWhen = "read " + std::to_string(nCall) + " of " + injector.GetStruckPath();
        EXPECT_EQ(result.nExitCode, 1) << strWhen;
        EXPECT_TRUE(result.Reported(injector.GetStruckPath(), COsError::Text(EIO)))
            << strWhen << "; reported: " << result.strErr;
        ExpectNothingLeft(strWhen);
    }
    std::printf("read walk: %llu injected failures\n", static_cast<unsigned long long>(nCall - 1));
    EXPECT_GT(nCall, 1u);
}

// The records of a saved table: the bytes after its header.
std::vector<unsigned char> RecordBytes(const std::string& strTable)
{
    const auto bytes = orvtest::ReadBytes(strTable);
    const size_t nHeader = bytes.size() >= 10 ? bytes[8] | (bytes[9] << 8) : bytes.size();
    std::vector<unsigned char> records(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(nHeader, bytes.size())),
                                       bytes.end());
    if (!records.empty() && records.back() == 0x1A)
        records.pop_back();
    return records;
}

const ShortReadCase kShortReads[] = {
    {"InTheHeader", ShortReadCase::fileStart, 40},
    {"BeforeTheRecords", ShortReadCase::recordStart, -1},
    {"InTheFirstRecord", ShortReadCase::recordStart, 1},
    {"InTheFourthRecord", ShortReadCase::recordStart, 32 * 3 + 16},
    // No row of shifted bytes may take the cut record's place.
    {"InTheLastRecord", ShortReadCase::fileEnd, 2},
};

// The source seems to end early (as a file cut under the run would): the
// run fails, or saves a prefix of the rows of the whole run, never rows
// made of what was not read.
void RepairFaults::CheckShortRead(const ShortReadCase& c)
{
    ASSERT_EQ(RunRepair().nExitCode, 0);
    const std::vector<unsigned char> whole = RecordBytes(m_dir.File("out/Rep_1_damaged.dbf"));
    ClearOut();
    const size_t nHeader = m_source[8] | (m_source[9] << 8);
    const size_t nRecord = m_source[10] | (m_source[11] << 8);
    ASSERT_EQ(nRecord, 32u);
    const int64_t nBase = c.nFrom == ShortReadCase::fileStart ? 0
        : c.nFrom == ShortReadCase::recordStart              ? static_cast<int64_t>(nHeader)
                                                             : static_cast<int64_t>(m_source.size());
    const uint64_t nOffset = static_cast<uint64_t>(nBase + (c.nFrom == ShortReadCase::fileEnd ? -c.nBytes : c.nBytes));

    FileFault fault;
    fault.nKind = FileFault::shortRead;
    fault.nOffset = nOffset;
    fault.bSticky = true;
    fault.strPathPattern = "*/src/damaged.dbf";
    CFileFaultInjector injector(fault);
    const RunResult result = RunRepair();
    ASSERT_GT(injector.GetStrikeCount(), 0u);
    // 3: Done, with the rows not read reported lost.
    if (result.nExitCode != 0 && result.nExitCode != 3) {
        EXPECT_EQ(result.nExitCode, 1);
        ExpectNothingLeft("a short read");
        return;
    }
    const std::vector<unsigned char> part = RecordBytes(m_dir.File("out/Rep_1_damaged.dbf"));
    const size_t nReadRecords = nOffset > nHeader ? (nOffset - nHeader + nRecord - 1) / nRecord : 0;
    EXPECT_LE(part.size(), nReadRecords * nRecord);
    // A cut-off last record may keep its whole fields: compare whole
    // records only.
    const size_t nWholeRecords = nOffset > nHeader ? (nOffset - nHeader) / nRecord : 0;
    const size_t nCompared = std::min(part.size(), nWholeRecords * nRecord);
    const auto mismatch = std::mismatch(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(nCompared),
                                        whole.begin());
    EXPECT_TRUE(mismatch.first == part.begin() + static_cast<std::ptrdiff_t>(nCompared))
        << "saved records differ at byte " << (mismatch.first - part.begin()) << " of " << part.size();
}

class RepairShortRead : public RepairFaults, public ::testing::WithParamInterface<ShortReadCase> {};

TEST_P(RepairShortRead, SavesOnlyRowsThatWereRead)
{
    CheckShortRead(GetParam());
}

INSTANTIATE_TEST_SUITE_P(SourceEnds, RepairShortRead, ::testing::ValuesIn(kShortReads),
                         [](const auto& info) { return std::string(info.param.lpszName); });

// A signal at every write: the run stops, saves nothing and never says Done.
TEST_F(RepairFaults, AStopSignalAtEveryWriteLeavesNothing)
{
    uint64_t nCall = 1;
    for (;; ++nCall) {
        ClearOut();
        FileFault fault;
        fault.nKind = FileFault::watchWrite;
        fault.nCall = nCall;
        fault.pfnOnStrike = [] { std::raise(SIGINT); };
        CFileFaultInjector injector(fault);
        const RunResult result = RunRepair();
        if (injector.GetStrikeCount() == 0) {
            EXPECT_EQ(result.nExitCode, 0) << result.strErr;
            break;
        }
        const std::string strWhen = "signal at write " + std::to_string(nCall) + " to " + injector.GetStruckPath();
        EXPECT_EQ(result.nExitCode, 128 + SIGINT) << strWhen;
        EXPECT_EQ(result.strOut, "Failed\n") << strWhen;
        EXPECT_NE(result.strErr.find("stopped"), std::string::npos) << strWhen;
        ExpectNothingLeft(strWhen);
    }
    std::printf("signal walk: %llu stops\n", static_cast<unsigned long long>(nCall - 1));
    EXPECT_GT(nCall, 3u);
}

} // namespace
