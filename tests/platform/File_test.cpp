#include "platform/ErrorReporter.h"
#include "platform/File.h"
#include "platform/OsError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>

using orvtest::TempDir;

namespace {

std::vector<unsigned char> Pattern(size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v)
        b = static_cast<unsigned char>(rng());
    return v;
}

} // namespace

TEST(FileTest, SmallPositionedReadsMatchTheFile)
{
    TempDir dir;
    const auto data = Pattern(300000, 1);
    orvtest::WriteBytes(dir.File("a.bin"), data);

    CFile f(4096);
    ASSERT_TRUE(f.Open(dir.File("a.bin"), CFile::modeRead | CFile::shareDenyNone));
    EXPECT_EQ(f.GetLength(), data.size());
    std::mt19937 rng(7);
    for (int i = 0; i < 5000; ++i) {
        const size_t pos = rng() % data.size();
        const size_t n = 1 + rng() % 40;
        unsigned char buf[64];
        f.Seek(static_cast<int64_t>(pos), CFile::begin);
        const size_t got = f.Read(buf, n);
        ASSERT_EQ(got, std::min(n, data.size() - pos));
        ASSERT_TRUE(std::equal(buf, buf + got, data.begin() + static_cast<long>(pos)));
        ASSERT_EQ(f.GetPosition(), pos + got);
    }
}

// Random mixes of reads, writes, seeks past the end and truncation through
// one object must behave exactly like the same operations on a byte vector,
// and the file must hold the vector's bytes after Close.
TEST(FileTest, MixedReadsAndWritesBehaveLikeAnUnbufferedFile)
{
    TempDir dir;
    std::vector<unsigned char> model = Pattern(20000, 2);
    orvtest::WriteBytes(dir.File("m.bin"), model);

    CFile f(4096);
    ASSERT_TRUE(f.Open(dir.File("m.bin"), CFile::modeReadWrite));
    std::mt19937 rng(3);
    for (int i = 0; i < 4000; ++i) {
        const int op = static_cast<int>(rng() % 10);
        const size_t pos = rng() % (model.size() + 100);
        f.Seek(static_cast<int64_t>(pos), CFile::begin);
        if (op < 5) {
            std::vector<unsigned char> buf(1 + rng() % 9000);
            const size_t got = f.Read(buf.data(), buf.size());
            const size_t want = pos >= model.size() ? 0 : std::min(buf.size(), model.size() - pos);
            ASSERT_EQ(got, want) << "read at " << pos;
            ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<long>(got),
                                   model.begin() + static_cast<long>(std::min(pos, model.size()))));
        } else if (op < 9) {
            const auto chunk = Pattern(1 + rng() % 9000, static_cast<unsigned>(i));
            f.Write(chunk.data(), chunk.size());
            if (model.size() < pos + chunk.size())
                model.resize(pos + chunk.size(), 0);
            std::copy(chunk.begin(), chunk.end(), model.begin() + static_cast<long>(pos));
        } else {
            const size_t len = rng() % (model.size() + 50);
            f.SetLength(len);
            model.resize(len, 0);
        }
        ASSERT_EQ(f.GetLength(), model.size());
    }
    f.Close();
    EXPECT_EQ(orvtest::ReadBytes(dir.File("m.bin")), model);
}

TEST(FileTest, OpenFailureCarriesPathAndOsError)
{
    TempDir dir;
    CFile f;
    CFileException e;
    EXPECT_FALSE(f.Open(dir.File("missing.dbf"), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(e.m_strFileName, dir.File("missing.dbf"));
    EXPECT_NE(e.GetMessage().find("missing.dbf"), std::string::npos);
    EXPECT_NE(e.GetMessage().find(COsError::Text(ENOENT)), std::string::npos) << e.GetMessage();
    EXPECT_FALSE(f.IsOpen());
}

TEST(FileTest, WritingAReadOnlyFileThrowsAndOperationsOnAClosedFileThrow)
{
    TempDir dir;
    orvtest::WriteBytes(dir.File("r.bin"), {1, 2, 3});
    CFile f;
    ASSERT_TRUE(f.Open(dir.File("r.bin"), CFile::modeRead));
    const unsigned char b = 9;
    EXPECT_THROW(f.Write(&b, 1), CFileException);
    f.Close();
    unsigned char r;
    EXPECT_THROW(f.Read(&r, 1), CFileException);
    EXPECT_THROW(f.Seek(0, CFile::begin), CFileException);
    EXPECT_EQ(orvtest::ReadBytes(dir.File("r.bin")), (std::vector<unsigned char>{1, 2, 3}));
}

TEST(FileTest, NegativeSeekThrowsBadSeek)
{
    TempDir dir;
    orvtest::WriteBytes(dir.File("s.bin"), {1, 2, 3});
    CFile f;
    ASSERT_TRUE(f.Open(dir.File("s.bin"), CFile::modeRead));
    try {
        f.Seek(-4, CFile::end);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::badSeek);
    }
    EXPECT_EQ(f.Seek(-1, CFile::end), 2u);
}

TEST(FileTest, ExclusiveShareRefusesASecondLockingOpenWithoutTruncating)
{
    TempDir dir;
    orvtest::WriteBytes(dir.File("x.dbf"), {5, 6, 7, 8});
    CFile first;
    ASSERT_TRUE(first.Open(dir.File("x.dbf"), CFile::modeReadWrite | CFile::shareExclusive));

    CFile second;
    CFileException e;
    EXPECT_FALSE(second.Open(dir.File("x.dbf"), CFile::modeRead | CFile::shareExclusive, &e));
    EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
    EXPECT_FALSE(second.Open(dir.File("x.dbf"),
                             CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive));

    // An open that asks for no lock is refused only where the share modes
    // are the system's own (Windows), not advisory locks.
    CFile third;
    EXPECT_EQ(third.Open(dir.File("x.dbf"), CFile::modeRead | CFile::shareDenyNone), CFileHandle::kAdvisoryShares);
    third.Close();
    first.Close();
    EXPECT_EQ(orvtest::ReadBytes(dir.File("x.dbf")).size(), 4u);
    EXPECT_TRUE(second.Open(dir.File("x.dbf"), CFile::modeRead | CFile::shareExclusive));
}

TEST(FileTest, CreateTruncatesAndNamesComeFromThePath)
{
    TempDir dir;
    orvtest::WriteBytes(dir.File("Sales.DBF"), {1, 2, 3});
    CFile f;
    ASSERT_TRUE(f.Open(dir.File("Sales.DBF"), CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_EQ(f.GetLength(), 0u);
    EXPECT_EQ(f.GetFileName(), "Sales.DBF");
    EXPECT_EQ(f.GetFileTitle(), "Sales.DBF");
    EXPECT_EQ(f.GetFilePath(), dir.File("Sales.DBF"));
}

TEST(ErrorReporterTest, RecordingReporterReceivesReportsAndScopeRestores)
{
    CRecordingReporter rec;
    {
        CScopedErrorReporter scope(&rec);
        CFileException e(CFileException::accessDenied, 13, "/x/y.fpt");
        e.ReportError();
    }
    ReportErrorText("to stderr, not recorded");
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_NE(rec.Messages()[0].find("/x/y.fpt"), std::string::npos);
}
