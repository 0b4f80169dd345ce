// dbfrepair repair as its own process, on a table large enough to be caught
// mid-run: SIGINT, SIGTERM and SIGHUP stop it with 130, 143 and 129, and
// a file-size limit (ulimit -f) makes it fail with a message instead of
// being killed by SIGXFSZ. Either way its temporary folder is gone, nothing
// is in the output folder, and the source is unchanged.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <algorithm>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using orvtest::TempDir;

constexpr size_t kRecords = 1500000;

// A dBASE III table: NAME C(20), QTY N(10,2), DAY D(8).
std::vector<unsigned char> BigTable()
{
    const size_t nHeader = 32 + 3 * 32 + 1;
    const size_t nRecord = 1 + 20 + 10 + 8;
    std::vector<unsigned char> bytes(nHeader + kRecords * nRecord + 1, ' ');
    std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(nHeader), 0);
    bytes[0] = 0x03;
    bytes[1] = 126;
    bytes[2] = 12;
    bytes[3] = 8;
    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = static_cast<unsigned char>(kRecords >> (8 * i));
    bytes[8] = static_cast<unsigned char>(nHeader);
    bytes[9] = static_cast<unsigned char>(nHeader >> 8);
    bytes[10] = static_cast<unsigned char>(nRecord);
    const struct {
        const char* lpszName;
        char chType;
        unsigned char nLength, nDecimals;
    } kFields[] = {{"NAME", 'C', 20, 0}, {"QTY", 'N', 10, 2}, {"DAY", 'D', 8, 0}};
    for (int f = 0; f < 3; ++f) {
        unsigned char* p = &bytes[32 + 32 * static_cast<size_t>(f)];
        std::copy_n(kFields[f].lpszName, std::strlen(kFields[f].lpszName), p);
        p[11] = static_cast<unsigned char>(kFields[f].chType);
        p[16] = kFields[f].nLength;
        p[17] = kFields[f].nDecimals;
    }
    bytes[nHeader - 1] = 0x0D;
    char record[64];
    for (size_t r = 0; r < kRecords; ++r) {
        std::snprintf(record, sizeof record, " row %-16zu%10.2f%04d%02d%02d", r, static_cast<double>(r % 9999) / 4,
                      1990 + static_cast<int>(r % 30), 1 + static_cast<int>(r % 12), 1 + static_cast<int>(r % 28));
        std::copy_n(record, nRecord, &bytes[nHeader + r * nRecord]);
    }
    bytes.back() = 0x1A;
    return bytes;
}

bool FolderIsEmpty(const std::string& strPath)
{
    return std::filesystem::is_empty(strPath);
}

class StopSignals : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pDir = new TempDir;
        s_pSource = new std::vector<unsigned char>(BigTable());
        orvtest::WriteBytes(s_pDir->File("big.dbf"), *s_pSource);
    }
    static void TearDownTestSuite()
    {
        delete s_pDir;
        delete s_pSource;
    }
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.File("tmp"));
        std::filesystem::create_directories(m_dir.File("out"));
    }

    // Starts the tool with its own TMPDIR; nFileSizeLimit > 0 sets
    // RLIMIT_FSIZE (what ulimit -f sets) for it. args replace the usual
    // "repair big.dbf -o out".
    pid_t Start(rlim_t nFileSizeLimit = 0, std::vector<std::string> args = {})
    {
        const std::string strTool = orvtest::BinDir() + "/dbfrepair";
        const std::string strTmp = "TMPDIR=" + m_dir.File("tmp");
        const std::string strSource = s_pDir->File("big.dbf");
        const std::string strOut = m_dir.File("out");
        const std::string strStdout = m_dir.File("stdout");
        const std::string strStderr = m_dir.File("stderr");
        if (args.empty())
            args = {"repair", strSource, "-o", strOut};
        std::vector<char*> argv{const_cast<char*>(strTool.c_str())};
        for (std::string& strArg : args)
            argv.push_back(strArg.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fdOut = ::open(strStdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int fdErr = ::open(strStderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fdOut, STDOUT_FILENO);
            ::dup2(fdErr, STDERR_FILENO);
            if (nFileSizeLimit > 0) {
                const rlimit limit{nFileSizeLimit, nFileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::signal(SIGXFSZ, SIG_DFL);
            ::putenv(const_cast<char*>(strTmp.c_str()));
            ::execv(strTool.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }

    // Waits until the run has written a good part of its temporary table.
    bool WaitForOutput(pid_t pid)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            // The run makes and removes its folders meanwhile: a vanished
            // entry ends this look, not the test.
            std::error_code ec;
            for (std::filesystem::recursive_directory_iterator it(m_dir.File("tmp"), ec), end; !ec && it != end;
                 it.increment(ec)) {
                std::error_code ecEntry;
                if (it->path().extension() == ".dbf" && it->is_regular_file(ecEntry)
                    && it->file_size(ecEntry) >= (2u << 20) && !ecEntry)
                    return true;
            }
            if (::waitpid(pid, nullptr, WNOHANG) == pid)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    static int Wait(pid_t pid)
    {
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        return nStatus;
    }

    std::string Text(const std::string& strName) const
    {
        const auto bytes = orvtest::ReadBytes(m_dir.File(strName));
        return std::string(bytes.begin(), bytes.end());
    }

    void ExpectNothingLeft()
    {
        EXPECT_TRUE(FolderIsEmpty(m_dir.File("tmp"))) << "the temporary folder stayed";
        EXPECT_TRUE(FolderIsEmpty(m_dir.File("out"))) << "something was saved";
        EXPECT_EQ(orvtest::ReadBytes(s_pDir->File("big.dbf")), *s_pSource);
    }

    static TempDir* s_pDir;
    static std::vector<unsigned char>* s_pSource;
    TempDir m_dir;
};

TempDir* StopSignals::s_pDir = nullptr;
std::vector<unsigned char>* StopSignals::s_pSource = nullptr;

class StopSignal : public StopSignals, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignal, StopsTheRunAndEndsWith128PlusTheSignal)
{
    const int nSignal = GetParam();
    const pid_t pid = Start();
    ASSERT_TRUE(WaitForOutput(pid)) << "the run ended before it could be stopped: " << Text("stderr");
    ::kill(pid, nSignal);
    const int nStatus = Wait(pid);
    ASSERT_TRUE(WIFEXITED(nStatus)) << "killed by signal " << (WIFSIGNALED(nStatus) ? WTERMSIG(nStatus) : 0);
    EXPECT_EQ(WEXITSTATUS(nStatus), 128 + nSignal);
    EXPECT_EQ(Text("stdout"), "Failed\n");
    EXPECT_NE(Text("stderr").find("The repair was stopped."), std::string::npos) << Text("stderr");
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(StopSignals, AFileSizeLimitIsAWriteErrorNotAKill)
{
    const pid_t pid = Start(1 << 20);
    const int nStatus = Wait(pid);
    ASSERT_TRUE(WIFEXITED(nStatus)) << "killed by signal " << (WIFSIGNALED(nStatus) ? WTERMSIG(nStatus) : 0);
    EXPECT_EQ(WEXITSTATUS(nStatus), 1);
    EXPECT_EQ(Text("stdout"), "Failed\n");
    const std::string strErr = Text("stderr");
    EXPECT_NE(strErr.find("big.dbf"), std::string::npos) << strErr;
    EXPECT_NE(strErr.find(std::strerror(EFBIG)), std::string::npos) << strErr;
    ExpectNothingLeft();
}

TEST_F(StopSignals, CtrlCStopsEveryWorkerOfABatchAndKeepsWhatItFinished)
{
    // Three workers: one on the big table, two on small ones that finish
    // before the stop.
    const std::string strBatch = m_dir.File("batch");
    std::filesystem::create_directories(strBatch);
    std::filesystem::create_symlink(s_pDir->File("big.dbf"), strBatch + "/big.dbf");
    for (const char* lpszName : {"one.dbf", "two.dbf"})
        std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_03.dbf", strBatch + "/" + lpszName);
    // On a loaded machine the big table can be done before the small ones
    // show; the stop must then be tried again, as nothing was left to stop.
    pid_t pid = 0;
    bool bRunning = false;
    for (int nTry = 0; nTry < 3 && !bRunning; ++nTry) {
        if (nTry > 0) {
            Wait(pid);
            std::filesystem::remove_all(m_dir.File("out"));
            std::filesystem::create_directories(m_dir.File("out"));
        }
        pid = Start(0, {"repair", strBatch, "-o", m_dir.File("out"), "--jobs", "3", "--json"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!(orvtest::FileExists(m_dir.File("out/Rep_1_one.dbf")) && orvtest::FileExists(m_dir.File("out/Rep_1_two.dbf")))
               && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        bRunning = WaitForOutput(pid);
    }
    ASSERT_TRUE(bRunning) << "the batch ended before it could be stopped: " << Text("stderr");
    ::kill(pid, SIGINT);
    const int nStatus = Wait(pid);
    ASSERT_TRUE(WIFEXITED(nStatus)) << "killed by signal " << (WIFSIGNALED(nStatus) ? WTERMSIG(nStatus) : 0);
    EXPECT_EQ(WEXITSTATUS(nStatus), 128 + SIGINT);
    const std::string strOut = Text("stdout");
    EXPECT_NE(strOut.find("\"status\": \"Stopped\""), std::string::npos) << strOut;
    EXPECT_NE(strOut.find("\"done\": 2, \"failed\": 0, \"stopped\": 1"), std::string::npos) << strOut;
    EXPECT_TRUE(FolderIsEmpty(m_dir.File("tmp"))) << "the temporary folder stayed";
    EXPECT_EQ(orvtest::FolderNames(m_dir.File("out")), (std::vector<std::string>{"Rep_1_one.dbf", "Rep_1_two.dbf"}));
    EXPECT_EQ(orvtest::ReadBytes(s_pDir->File("big.dbf")), *s_pSource);
}

} // namespace
