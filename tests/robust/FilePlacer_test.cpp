// Placing finished files: all under their final names, or none, whatever
// write fails and whenever a cancel comes; an existing name is never
// overwritten, and no temporary file stays in the target folder.

#include "platform/FileException.h"
#include "platform/FileFaultInjector.h"
#include "platform/FilePlacer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace {

using orvtest::TempDir;

class FilePlacer : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.File("src"));
        std::filesystem::create_directories(m_dir.File("out"));
        m_table.assign(300000, 't');
        m_memo.assign(5000, 'm');
    }
    // Fresh sources (a move consumes them).
    std::vector<PlacedFile> Files()
    {
        orvtest::WriteBytes(m_dir.File("src/a.dbf"), m_table);
        orvtest::WriteBytes(m_dir.File("src/a.fpt"), m_memo);
        return {{m_dir.File("src/a.dbf"), m_dir.File("out/r.dbf")}, {m_dir.File("src/a.fpt"), m_dir.File("out/r.fpt")}};
    }
    bool Move() const { return GetParam(); }
    TempDir m_dir;
    std::vector<unsigned char> m_table;
    std::vector<unsigned char> m_memo;
};

TEST_P(FilePlacer, PlacesEveryFileWhole)
{
    CFilePlacer().Place(Files(), Move());
    EXPECT_EQ(orvtest::FolderNames(m_dir.File("out")), (std::vector<std::string>{"r.dbf", "r.fpt"}));
    EXPECT_EQ(orvtest::ReadBytes(m_dir.File("out/r.dbf")), m_table);
    EXPECT_EQ(orvtest::ReadBytes(m_dir.File("out/r.fpt")), m_memo);
    EXPECT_EQ(orvtest::FileExists(m_dir.File("src/a.dbf")), !Move());
}

TEST_P(FilePlacer, ATakenNameIsRefusedAndKept)
{
    orvtest::WriteBytes(m_dir.File("out/r.fpt"), {'x'});
    try {
        CFilePlacer().Place(Files(), Move());
        FAIL() << "an existing memo file was replaced";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_lOsError, EEXIST);
        EXPECT_EQ(e.m_strFileName, m_dir.File("out/r.fpt"));
    }
    EXPECT_EQ(orvtest::FolderNames(m_dir.File("out")), std::vector<std::string>{"r.fpt"});
    EXPECT_EQ(orvtest::ReadBytes(m_dir.File("out/r.fpt")), std::vector<unsigned char>{'x'});
    EXPECT_TRUE(orvtest::FileExists(m_dir.File("src/a.dbf")));
}

// Asked to, it replaces a taken name in its one rename: the old file until
// then, the new one whole after it.
TEST_P(FilePlacer, AskedToItReplacesATakenNameWhole)
{
    orvtest::WriteBytes(m_dir.File("out/r.dbf"), {'x'});
    CFilePlacer placer;
    placer.SetReplaceExisting(true);
    placer.Place({Files().front()}, Move());
    EXPECT_EQ(orvtest::FolderNames(m_dir.File("out")), std::vector<std::string>{"r.dbf"});
    EXPECT_EQ(orvtest::ReadBytes(m_dir.File("out/r.dbf")), m_table);
}

TEST_P(FilePlacer, FreeNamesAreAskedForAgainWhileTaken)
{
    orvtest::WriteBytes(m_dir.File("out/r.dbf"), {'x'});
    int nAsked = 0;
    const auto placed = CFilePlacer().PlaceUnderFreeNames(
        [&] {
            auto files = Files();
            if (nAsked++ > 0) {
                files[0].strTo = m_dir.File("out/r2.dbf");
                files[1].strTo = m_dir.File("out/r2.fpt");
            }
            return files;
        },
        Move());
    EXPECT_EQ(nAsked, 2);
    EXPECT_EQ(placed[0].strTo, m_dir.File("out/r2.dbf"));
    EXPECT_EQ(orvtest::FolderNames(m_dir.File("out")), (std::vector<std::string>{"r.dbf", "r2.dbf", "r2.fpt"}));
}

// Every write call of the placing fails in turn (N = 1, 2, ... until one
// placing runs through): each time the error names the file and the
// reason, and the target folder holds nothing of it.
TEST_P(FilePlacer, AFailedWriteAtEveryCallLeavesNothing)
{
    uint64_t nCall = 1;
    for (;; ++nCall) {
        FileFault fault;
        fault.nCall = nCall;
        CFileFaultInjector injector(fault);
        try {
            CFilePlacer().Place(Files(), Move());
        } catch (const CFileException& e) {
            ASSERT_EQ(injector.GetStrikeCount(), 1u) << "call " << nCall << ": " << e.GetMessage();
            EXPECT_EQ(e.m_lOsError, ENOSPC);
            // Named as the user knows it, not by its temporary name.
            EXPECT_TRUE(e.m_strFileName == m_dir.File("out/r.dbf") || e.m_strFileName == m_dir.File("out/r.fpt"))
                << e.m_strFileName;
            EXPECT_TRUE(orvtest::FolderNames(m_dir.File("out")).empty()) << "call " << nCall;
            EXPECT_EQ(orvtest::ReadBytes(m_dir.File("src/a.dbf")), m_table);
            continue;
        }
        ASSERT_EQ(injector.GetStrikeCount(), 0u) << "call " << nCall << " failed but the placing went through";
        break;
    }
    // The renames at least (two), and for a copy the two files' data.
    EXPECT_GE(nCall - 1, Move() ? 2u : 4u);
    RecordProperty("injected_failures", static_cast<int>(nCall - 1));
    EXPECT_EQ(orvtest::FolderNames(m_dir.File("out")), (std::vector<std::string>{"r.dbf", "r.fpt"}));
}

// A cancel asked at each of the placing's checks in turn.
TEST_P(FilePlacer, ACancelAtEveryCheckLeavesNothing)
{
    for (int nCheck = 1;; ++nCheck) {
        int nChecks = 0;
        CFilePlacer placer;
        placer.SetCancelCheck([&] { return ++nChecks == nCheck; });
        try {
            placer.Place(Files(), Move());
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_lOsError, ECANCELED);
            EXPECT_TRUE(orvtest::FolderNames(m_dir.File("out")).empty()) << "check " << nCheck;
            continue;
        }
        EXPECT_GT(nCheck, 2);
        EXPECT_EQ(orvtest::FolderNames(m_dir.File("out")), (std::vector<std::string>{"r.dbf", "r.fpt"}));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(CopyOrMove, FilePlacer, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Move" : "Copy"); });

} // namespace
