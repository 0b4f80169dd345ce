// What dbfrepair says when it cannot do its work: every command names the
// path and the cause in the system's words, and gives the same exit code
// for the same failure (1 a failure, 2 bad usage).

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

// Exit code and standard error of one run, standard output thrown away
// unless asked for.
struct Outcome {
    int nExitCode = -1;
    std::string strOut;
    std::string strErr;
};

// strRunner, when given, runs the tool (setpriv ... for another user).
Outcome RunTool(const std::string& strArgs, const std::string& strTmpDir, const std::string& strStdout = "",
                const std::string& strRunner = "")
{
    orvtest::TempDir errDir;
    const std::string strErrFile = errDir.File("stderr");
    const std::string strRedirect = strStdout.empty() ? "" : " >" + ShellQuote(strStdout);
    const CommandResult r = orvtest::Run("TMPDIR=" + ShellQuote(strTmpDir) + " " + strRunner
                                         + ShellQuote(orvtest::BinDir() + "/dbfrepair") + " " + strArgs + strRedirect
                                         + " 2>" + ShellQuote(strErrFile));
    const auto bytes = orvtest::ReadBytes(strErrFile);
    return {r.nExitCode, r.strOut, std::string(bytes.begin(), bytes.end())};
}

bool Contains(const std::string& strText, const std::string& strPart)
{
    return strText.find(strPart) != std::string::npos;
}

void Patch(const std::string& strPath, size_t nOffset, std::vector<unsigned char> bytes)
{
    auto data = orvtest::ReadBytes(strPath);
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(nOffset));
    orvtest::WriteBytes(strPath, data);
}

constexpr const char* kInUse = "used by another process";

class CliFailures : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.File("out"));
        std::filesystem::create_directories(m_dir.File("tmp"));
    }
    // A sound table (dbase_03.dbf: header 1025, records of 590, 14 records)
    // under the name given.
    std::string Table(const std::string& strName)
    {
        std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_03.dbf", m_dir.File(strName));
        return m_dir.File(strName);
    }
    Outcome Tool(const std::string& strCommand, const std::string& strPath, const std::string& strMore = "")
    {
        const std::string strOutput = strCommand == "repair" ? " -o " + ShellQuote(m_dir.File("out")) : "";
        return RunTool(strCommand + " " + ShellQuote(strPath) + strOutput + strMore, m_dir.File("tmp"));
    }
    orvtest::TempDir m_dir;
};

const char* const kCommands[] = {"info", "dump", "preview", "repair"};

// Files no command can read: the same exit code and the system's text
// everywhere, and no talk of another process.
TEST_F(CliFailures, UnreadableFilesNameTheirCauseInEveryCommand)
{
    struct Case {
        const char* pszName;
        std::function<std::string(const orvtest::TempDir&)> fnMake;
        const char* pszMessage;
    };
    const Case cases[] = {
        {"missing", [](const orvtest::TempDir& d) { return d.File("none.dbf"); }, "none.dbf: No such file or directory"},
        {"folder",
         [](const orvtest::TempDir& d) {
             std::filesystem::create_directories(d.File("dir.dbf"));
             return d.File("dir.dbf");
         },
         "dir.dbf: Is a directory"},
        {"text",
         [](const orvtest::TempDir& d) {
             std::string strText;
             for (int i = 0; i < 20; ++i)
                 strText += "name,qty\r\nalpha,1\r\n";
             orvtest::WriteBytes(d.File("text.dbf"), std::vector<unsigned char>(strText.begin(), strText.end()));
             return d.File("text.dbf");
         },
         "text.dbf: not a DBF table ("},
        {"short", [](const orvtest::TempDir& d) {
             orvtest::WriteBytes(d.File("short.dbf"), {0x03, 0x7A, 0x01});
             return d.File("short.dbf");
         },
         "short.dbf: not a DBF table (3 bytes"},
        {"empty", [](const orvtest::TempDir& d) {
             orvtest::WriteBytes(d.File("empty.dbf"), {});
             return d.File("empty.dbf");
         },
         "empty.dbf: not a DBF table (0 bytes"},
    };
    for (const Case& c : cases) {
        const std::string strPath = c.fnMake(m_dir);
        for (const char* pszCommand : kCommands) {
            SCOPED_TRACE(std::string(c.pszName) + " " + pszCommand);
            const Outcome r = Tool(pszCommand, strPath);
            EXPECT_EQ(r.nExitCode, 1) << r.strErr;
            EXPECT_TRUE(Contains(r.strErr, std::string("dbfrepair ") + pszCommand + ": ")) << r.strErr;
            // repair takes a folder as a batch of the tables in it.
            const bool bBatch = std::string(c.pszName) == "folder" && std::string(pszCommand) == "repair";
            EXPECT_TRUE(Contains(r.strErr, bBatch ? "dir.dbf: no tables (*.dbf) found" : c.pszMessage)) << r.strErr;
            EXPECT_FALSE(Contains(r.strErr, kInUse)) << r.strErr;
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.File("out")));
}

TEST_F(CliFailures, NoReadPermissionIsPermissionDenied)
{
    const std::string strPath = Table("locked_out.dbf");
    std::filesystem::permissions(strPath, std::filesystem::perms::none);
    const int fd = ::open(strPath.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::close(fd);
        GTEST_SKIP() << "this user reads files without read permission (root): nothing to deny";
    }
    for (const char* pszCommand : kCommands) {
        SCOPED_TRACE(pszCommand);
        const Outcome r = Tool(pszCommand, strPath);
        EXPECT_EQ(r.nExitCode, 1);
        EXPECT_TRUE(Contains(r.strErr, "locked_out.dbf: Permission denied")) << r.strErr;
        EXPECT_FALSE(Contains(r.strErr, kInUse)) << r.strErr;
    }
}

// Only repair asks for the file to itself, so only repair is refused while
// another program holds a lock on it.
TEST_F(CliFailures, ALockRefusesOnlyTheRepair)
{
    const std::string strPath = Table("busy.dbf");
    const int fd = ::open(strPath.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);
    for (const char* pszCommand : kCommands) {
        SCOPED_TRACE(pszCommand);
        const Outcome r = Tool(pszCommand, strPath);
        const bool bRepair = std::string(pszCommand) == "repair";
        EXPECT_EQ(r.nExitCode, bRepair ? 1 : 0) << r.strErr;
        EXPECT_EQ(Contains(r.strErr, "The process cannot access the file because it is used by another process."),
                  bRepair)
            << r.strErr;
    }
    ::close(fd);
}

// info shows the raw header of a table the engine refuses and names each
// disagreement; dump names the same and prints nothing; both exit with 1.
// preview and repair read such tables.
TEST_F(CliFailures, DamagedHeadersAreNamedByInfoAndDump)
{
    struct Case {
        const char* pszName;
        std::function<void(const std::string&)> fnDamage;
        const char* pszProblem;
    };
    const Case cases[] = {
        {"file cut short", [](const std::string& s) { std::filesystem::resize_file(s, 3000); },
         "record count 14 needs 9285 bytes, but the file has 3000 (room for 3 whole records and a part of one)"},
        {"header length too small", [](const std::string& s) { Patch(s, 8, {0xC1, 0x00}); },
         "header length 193, but the 31 field descriptors with their terminator need 1025"},
        {"record length off by one", [](const std::string& s) { Patch(s, 10, {0x4F, 0x02}); },
         "record length 591, but the fields' widths and the deletion flag add up to 590"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        orvtest::TempDir dir;
        const std::string strPath = dir.File("t.dbf");
        std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_03.dbf", strPath);
        c.fnDamage(strPath);

        const Outcome info = Tool("info", strPath);
        EXPECT_EQ(info.nExitCode, 1);
        EXPECT_TRUE(Contains(info.strOut, "Version:        0x03 (dBASE III / FoxPro, no memo)")) << info.strOut;
        EXPECT_TRUE(Contains(info.strOut, "Fields:         31 (from the raw descriptors)")) << info.strOut;
        EXPECT_TRUE(Contains(info.strOut, "Problems:\n")) << info.strOut;
        EXPECT_TRUE(Contains(info.strOut, std::string("  ") + c.pszProblem + "\n")) << info.strOut;
        EXPECT_FALSE(Contains(info.strErr, "Error number")) << info.strErr;

        const Outcome dump = Tool("dump", strPath);
        EXPECT_EQ(dump.nExitCode, 1);
        EXPECT_EQ(dump.strOut, "");
        EXPECT_TRUE(Contains(dump.strErr, "dbfrepair dump: " + strPath + ": damaged table: ")) << dump.strErr;
        EXPECT_TRUE(Contains(dump.strErr, c.pszProblem)) << dump.strErr;
    }
    // A sound table has no problems to show.
    const Outcome sound = Tool("info", Table("sound.dbf"));
    EXPECT_EQ(sound.nExitCode, 0);
    EXPECT_FALSE(Contains(sound.strOut, "Problems:")) << sound.strOut;
}

// A full disk under standard output is a failure, named, in every command.
TEST_F(CliFailures, AWriteErrorOnStandardOutputFails)
{
    const std::string strPath = Table("t.dbf");
    for (const char* pszCommand : kCommands) {
        SCOPED_TRACE(pszCommand);
        const std::string strMore = std::string(pszCommand) == "repair" ? " --dry-run" : "";
        const Outcome r = RunTool(std::string(pszCommand) + " " + ShellQuote(strPath) + strMore, m_dir.File("tmp"),
                                  "/dev/full");
        EXPECT_EQ(r.nExitCode, 1);
        EXPECT_TRUE(Contains(r.strErr, std::string("dbfrepair ") + pszCommand + ": standard output: No space left on device"))
            << r.strErr;
    }
}

// The output folder is checked before the repair starts.
TEST_F(CliFailures, AnUnusableOutputFolderIsRefusedFirst)
{
    const std::string strPath = Table("t.dbf");
    orvtest::WriteBytes(m_dir.File("plain"), {'x'});
    std::filesystem::create_directories(m_dir.File("readonly"));
    std::filesystem::permissions(m_dir.File("readonly"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool bPermissionsHold = ::access(m_dir.File("readonly").c_str(), W_OK) != 0;
    struct Case {
        std::string strFolder;
        const char* pszCause;
    };
    const Case cases[] = {
        {m_dir.File("nowhere"), "No such file or directory"},
        {m_dir.File("plain"), "Not a directory"},
        {m_dir.File("readonly"), "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strFolder);
        if (!bPermissionsHold && std::string(c.pszCause) == "Permission denied")
            continue; // root writes anywhere: that case is left out
        const Outcome r = RunTool("repair " + ShellQuote(strPath) + " -o " + ShellQuote(c.strFolder), m_dir.File("tmp"));
        EXPECT_EQ(r.nExitCode, 1);
        // Refused before the repair began: no progress, no summary, the verdict.
        EXPECT_EQ(r.strErr, "dbfrepair repair: " + c.strFolder + ": " + c.pszCause + "\nFailed: " + c.strFolder + ": "
                                + c.pszCause + "\n");
    }
}

TEST_F(CliFailures, BadUsageIsTwoInEveryCommand)
{
    const std::string strPath = Table("t.dbf");
    for (const char* pszCommand : kCommands) {
        SCOPED_TRACE(pszCommand);
        const std::string strCommand = pszCommand;
        EXPECT_EQ(RunTool(strCommand + " --bogus " + ShellQuote(strPath), m_dir.File("tmp")).nExitCode, 2);
        EXPECT_EQ(RunTool(strCommand + " --json=yes " + ShellQuote(strPath), m_dir.File("tmp")).nExitCode, 2);
        if (strCommand != "repair") { // repair takes many tables as a batch
            EXPECT_EQ(RunTool(strCommand + " " + ShellQuote(strPath) + " " + ShellQuote(strPath), m_dir.File("tmp")).nExitCode, 2);
        }
        if (strCommand == "dump") {
            const Outcome r = RunTool(strCommand + " --encoding no-such-code " + ShellQuote(strPath), m_dir.File("tmp"));
            EXPECT_EQ(r.nExitCode, 2);
            EXPECT_EQ(r.strErr, "dbfrepair " + strCommand + ": unknown encoding no-such-code\n");
        }
    }
}

// Failures told as "dbfrepair COMMAND: PATH: the system's reason", with
// their exit codes. Files are made unreadable by their mode; as root the
// tool runs as nobody, so that the mode holds.
TEST_F(CliFailures, EachFailureNamesItsPathAndReason)
{
    namespace fs = std::filesystem;
    orvtest::TempDir dir;
    fs::permissions(dir.Path(), fs::perms::all);
    for (const char* lpszFolder : {"out", "tmp", "tree/locked"})
        fs::create_directories(dir.File(lpszFolder));
    fs::permissions(dir.File("out"), fs::perms::all);
    fs::permissions(dir.File("tmp"), fs::perms::all);
    orvtest::WritePeerTable(dir.File("m.dbf"), "name C(10); notes M", "fp", "[('a', 'first'), ('b', 'second')]");
    fs::copy_file(dir.File("m.fpt"), dir.File("m.bak"));
    fs::copy_file(dir.File("m.dbf"), dir.File("locked.dbf"));
    fs::copy_file(dir.File("m.fpt"), dir.File("locked.fpt"));
    fs::copy_file(dir.File("m.dbf"), dir.File("tree/t.dbf"));
    // No 0x0D after the descriptors: a header and letters.
    std::vector<unsigned char> noEnd(32 + 780, 'A');
    std::fill_n(noEnd.begin(), 32, 0);
    noEnd[0] = 0x03, noEnd[8] = 0x58, noEnd[9] = 0x02, noEnd[10] = 11;
    orvtest::WriteBytes(dir.File("noend.dbf"), noEnd);
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
        fs::permissions(entry.path(), fs::perms::all);
    fs::permissions(dir.File("locked.fpt"), fs::perms::none);
    fs::permissions(dir.File("tree/locked"), fs::perms::none);
    const std::string strAs = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";

    struct Case {
        std::string strArgs;
        int nExit;
        std::string strMessage;
    };
    const std::string strOut = " -o " + ShellQuote(dir.File("out"));
    const Case cases[] = {
        {"repair " + ShellQuote(dir.File("nosuchdir")) + strOut, 1,
         "dbfrepair repair: " + dir.File("nosuchdir") + ": No such file or directory"},
        {"repair " + ShellQuote(dir.File("m.dbf")) + strOut + " --prefix a/b", 2,
         "dbfrepair repair: --prefix a/b: \"/\" cannot be in a file name"},
        {"info " + ShellQuote(dir.File("locked.dbf")), 1,
         "dbfrepair info: " + dir.File("locked.dbf") + ": the storage engine refuses the table ("
             + dir.File("locked.fpt") + ": Permission denied)"},
        {"dump " + ShellQuote(dir.File("locked.dbf")), 1,
         "dbfrepair dump: " + dir.File("locked.dbf") + ": " + dir.File("locked.fpt") + ": Permission denied"},
        {"repair " + ShellQuote(dir.File("tree")) + strOut + " --recursive", 1,
         "dbfrepair repair: " + dir.File("tree/locked") + ": Permission denied"},
        {"repair " + ShellQuote(dir.File("noend.dbf")) + strOut, 1,
         "dbfrepair repair: " + dir.File("noend.dbf") + ": No field descriptors end"},
        {"repair " + ShellQuote(dir.File("m.dbf")) + " --memo " + ShellQuote(dir.File("m.bak")) + " --dry-run", 0,
         "2 memos recovered."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strArgs);
        const Outcome r = RunTool(c.strArgs, dir.File("tmp"), "/dev/null", strAs);
        EXPECT_EQ(r.nExitCode, c.nExit) << r.strErr;
        EXPECT_TRUE(Contains(r.strErr, c.strMessage)) << r.strErr;
    }
    EXPECT_TRUE(fs::is_empty(dir.File("tmp")));
}

// A reader that stops early (dump ... | head) ends the tool as a broken pipe
// always did, but only after its temporary files are gone.
TEST_F(CliFailures, AReaderThatStopsEarlyLeavesNoTemporaryFiles)
{
    const std::string strTable = m_dir.File("big.dbf");
    orvtest::WritePeerTable(strTable, "name C(10); notes M", "fp", "[('r%d' % i, 'y' * 200) for i in range(1000)]");
    std::filesystem::rename(m_dir.File("big.fpt"), m_dir.File("big.bak"));
    const std::string strStatus = m_dir.File("status");
    orvtest::Run("(TMPDIR=" + ShellQuote(m_dir.File("tmp")) + " " + ShellQuote(orvtest::BinDir() + "/dbfrepair")
                 + " dump " + ShellQuote(strTable) + " --memo " + ShellQuote(m_dir.File("big.bak")) + "; echo $? >"
                 + ShellQuote(strStatus) + ") | head -c 1 >/dev/null");
    const auto status = orvtest::ReadBytes(strStatus);
    EXPECT_EQ(std::string(status.begin(), status.end()), "141\n"); // 128 + SIGPIPE, as before
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.File("tmp")));
}

} // namespace
