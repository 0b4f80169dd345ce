// The file layer's fault seam: each kind of fault strikes the call it names
// (by count or by byte offset, only on matching paths) and reaches the
// caller as the file layer's own error, naming the file.

#include "platform/File.h"
#include "platform/FileFaultInjector.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using orvtest::TempDir;

constexpr size_t kWindow = 4096;

std::vector<unsigned char> Bytes(size_t n)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>(i * 7 + 1);
    return v;
}

// Reads the file through a small window (one read call per window) up to
// the first short read, which callers take for the end of the file.
// Returns the bytes read, or the OS error of the CFileException.
struct ReadOutcome {
    size_t nBytes = 0;
    int nError = 0;
    std::string strFile;
};

ReadOutcome ReadAll(const std::string& strPath)
{
    CFile f(kWindow);
    EXPECT_TRUE(f.Open(strPath, CFile::modeRead | CFile::shareDenyNone));
    ReadOutcome outcome;
    unsigned char buf[1000];
    try {
        for (size_t n = sizeof buf; n == sizeof buf;) {
            n = f.Read(buf, sizeof buf);
            outcome.nBytes += n;
        }
    } catch (const CFileException& e) {
        outcome.nError = e.m_lOsError;
        outcome.strFile = e.m_strFileName;
    }
    return outcome;
}

struct ReadCase {
    const char* lpszName;
    FileFault::Kind nKind;
    uint64_t nCall;
    uint64_t nOffset;
    const char* lpszPattern;
    size_t nBytesRead; // of the 5 windows of the file
    int nError;
};

const ReadCase kReadCases[] = {
    {"EioAtSecondCall", FileFault::failRead, 2, UINT64_MAX, "", 0, EIO},
    {"EioAtOffset", FileFault::failRead, 0, 3 * kWindow + 5, "", 0, EIO},
    {"ShortAtOffset", FileFault::shortRead, 0, 3 * kWindow + 5, "", 3 * kWindow + 5, 0},
    {"ShortByCountEndsTheFileAtTheCall", FileFault::shortRead, 3, UINT64_MAX, "", 2 * kWindow, 0},
    {"PatternOfAnotherFile", FileFault::failRead, 1, UINT64_MAX, "*/other.bin", 5 * kWindow, 0},
    {"PatternOfThisFile", FileFault::failRead, 1, UINT64_MAX, "*/data.bin", 0, EIO},
};

class FileFaultRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(FileFaultRead, StrikesTheNamedCall)
{
    const ReadCase& c = GetParam();
    TempDir dir;
    orvtest::WriteBytes(dir.File("data.bin"), Bytes(5 * kWindow));
    FileFault fault;
    fault.nKind = c.nKind;
    fault.nCall = c.nCall;
    fault.nOffset = c.nOffset;
    fault.strPathPattern = c.lpszPattern;
    CFileFaultInjector injector(fault);
    const ReadOutcome outcome = ReadAll(dir.File("data.bin"));
    EXPECT_EQ(outcome.nError, c.nError);
    if (c.nError != 0) {
        EXPECT_EQ(outcome.strFile, dir.File("data.bin"));
        EXPECT_EQ(injector.GetStruckPath(), dir.File("data.bin"));
    } else {
        EXPECT_EQ(outcome.nBytes, c.nBytesRead);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileFaultRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.lpszName); });

// Writes land in the window and reach the file when it moves and on Close:
// the fault strikes there, the file keeps what the earlier calls wrote, and
// a sticky fault keeps failing.
TEST(FileFaultWrite, FailsTheNthWriteWithEnospcAndKeepsTheEarlierOnes)
{
    TempDir dir;
    const std::string strPath = dir.File("out.bin");
    FileFault fault;
    fault.nCall = 2;
    CFileFaultInjector injector(fault);
    CFile f(kWindow);
    ASSERT_TRUE(f.Open(strPath, CFile::modeCreate | CFile::modeReadWrite));
    const auto data = Bytes(kWindow);
    f.Write(data.data(), data.size()); // a whole window goes straight out: call 1
    f.Write(data.data(), 10);          // waits in the window
    try {
        f.Write(data.data(), data.size()); // flushes the 10 bytes first: call 2
        f.Close();
        FAIL() << "the second write went through";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_lOsError, ENOSPC);
        EXPECT_EQ(e.m_strFileName, strPath);
        EXPECT_NE(e.GetMessage().find("disk is full"), std::string::npos) << e.GetMessage();
    }
    f.Abort();
    EXPECT_EQ(orvtest::ReadBytes(strPath), data);
    EXPECT_EQ(injector.GetCallCount(), 2u);
}

TEST(FileFaultWrite, AtAnOffsetStrikesTheWriteThatReachesIt)
{
    TempDir dir;
    FileFault fault;
    fault.nOffset = 3 * kWindow;
    fault.bSticky = true;
    fault.nError = EFBIG;
    CFileFaultInjector injector(fault);
    CFile f(kWindow);
    ASSERT_TRUE(f.Open(dir.File("out.bin"), CFile::modeCreate | CFile::modeReadWrite));
    const auto data = Bytes(kWindow);
    int nFailures = 0;
    for (int i = 0; i < 6; ++i) {
        try {
            f.Write(data.data(), data.size());
            f.Flush();
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_lOsError, EFBIG);
            ++nFailures;
        }
    }
    f.Abort();
    // Windows 0..2 went through; 3 was struck and, sticky, so was every
    // later one.
    EXPECT_EQ(nFailures, 3);
    EXPECT_EQ(orvtest::ReadBytes(dir.File("out.bin")).size(), 3 * kWindow);
}

} // namespace
