// The file system calls of the platform layer: what a path names, folder
// listings, and removals that the fault injector can fail.

#include "platform/FileFaultInjector.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

TEST(FileSystem, WhatAPathNames)
{
    orvtest::TempDir dir;
    orvtest::WriteBytes(dir.File("table.dbf"), {1, 2, 3});
    ASSERT_EQ(CFileSystem::MakeFolder(dir.File("sub")), 0);
    ASSERT_EQ(CFileSystem::MakeSymbolicLink(dir.File("table.dbf"), dir.File("link.dbf")), 0);
    ASSERT_EQ(CFileSystem::MakeSymbolicLink(dir.File("gone.dbf"), dir.File("dangling.dbf")), 0);
    struct Case {
        const char* lpszName;
        bool bExists, bFolder, bRegular, bLink;
    };
    const Case cases[] = {
        {"table.dbf", true, false, true, false},
        {"sub", true, true, false, false},
        {"link.dbf", true, false, true, true},
        {"dangling.dbf", false, false, false, true},
        {"missing.dbf", false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lpszName);
        const std::string strPath = dir.File(c.lpszName);
        EXPECT_EQ(CFileSystem::Exists(strPath), c.bExists);
        EXPECT_EQ(CFileSystem::IsFolder(strPath), c.bFolder);
        EXPECT_EQ(CFileSystem::IsRegularFile(strPath), c.bRegular);
        EXPECT_EQ(CFileSystem::IsLink(strPath), c.bLink);
    }
    CFileSystem::Status status;
    ASSERT_EQ(CFileSystem::GetStatus(dir.File("link.dbf"), status), 0);
    EXPECT_EQ(status.nSize, 3u);
    EXPECT_EQ(CFileSystem::GetStatus(dir.File("missing.dbf"), status), ENOENT);
    EXPECT_TRUE(CFileSystem::IsSameFile(dir.File("link.dbf"), dir.File("table.dbf")));
    EXPECT_FALSE(CFileSystem::IsSameFile(dir.File("sub"), dir.File("table.dbf")));

    std::vector<std::string> names;
    ASSERT_EQ(CFileSystem::ListFolder(dir.Path(), names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"dangling.dbf", "link.dbf", "sub", "table.dbf"}));
    EXPECT_EQ(CFileSystem::ListFolder(dir.File("missing"), names), ENOENT);
}

TEST(FileSystem, TheInjectorFailsARemoval)
{
    orvtest::TempDir dir;
    orvtest::WriteBytes(dir.File("a.dbf"), {1});
    orvtest::WriteBytes(dir.File("b.dbf"), {1});
    ASSERT_EQ(CFileSystem::MakeFolder(dir.File("sub")), 0);
    FileFault fault;
    fault.nKind = FileFault::failRemove;
    fault.nCall = 2;
    CFileFaultInjector injector(fault);
    EXPECT_EQ(CFileSystem::Remove(dir.File("a.dbf")), 0);
    EXPECT_EQ(CFileSystem::Remove(dir.File("b.dbf")), EACCES);
    EXPECT_TRUE(CFileSystem::Exists(dir.File("b.dbf")));
    EXPECT_EQ(CFileSystem::RemoveFolder(dir.File("sub")), 0);
    EXPECT_EQ(injector.GetCallCount(), 3u);
    EXPECT_EQ(injector.GetStruckPath(), dir.File("b.dbf"));
}
