// The private temporary folder: made under TMPDIR (else /tmp), never shared,
// removed with its content.

#include "platform/FileException.h"
#include "platform/TempFolder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Sets TMPDIR for the lifetime of the object.
class CScopedTmpDir {
public:
    explicit CScopedTmpDir(const std::string& strValue)
    {
        const char* pszOld = std::getenv("TMPDIR");
        m_bHadOld = pszOld != nullptr;
        if (m_bHadOld)
            m_strOld = pszOld;
        ::setenv("TMPDIR", strValue.c_str(), 1);
    }
    ~CScopedTmpDir()
    {
        if (m_bHadOld)
            ::setenv("TMPDIR", m_strOld.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    bool m_bHadOld = false;
    std::string m_strOld;
};

TEST(TempFolder, IsMadeUnderTmpDirAndRemovedWithItsContent)
{
    orvtest::TempDir base;
    CScopedTmpDir tmp(base.Path() + "/");
    std::string strPath;
    {
        CTempFolder folder("unit-");
        strPath = folder.GetPath();
        EXPECT_EQ(strPath.rfind(base.Path() + "/unit-", 0), 0u) << strPath;
        EXPECT_TRUE(std::filesystem::is_directory(strPath));
        std::filesystem::create_directory(strPath + "/inner");
        std::ofstream(strPath + "/inner/file.dbf") << "x";
    }
    EXPECT_FALSE(std::filesystem::exists(strPath));
}

TEST(TempFolder, TwoFoldersNeverShareAPath)
{
    CTempFolder a;
    CTempFolder b;
    EXPECT_NE(a.GetPath(), b.GetPath());
}

TEST(TempFolder, SystemTempPathFallsBackToTmp)
{
    {
        CScopedTmpDir tmp("");
        EXPECT_EQ(CTempFolder::GetSystemTempPath(), "/tmp");
    }
    {
        CScopedTmpDir tmp("/var/tmp//");
        EXPECT_EQ(CTempFolder::GetSystemTempPath(), "/var/tmp");
    }
}

TEST(TempFolder, AFolderThatCannotBeMadeThrows)
{
    CScopedTmpDir tmp("/nonexistent-folder-for-orvane-tests");
    EXPECT_THROW(CTempFolder folder, CFileException);
}

TEST(TempFolder, ProcessFolderIsOneFolderForTheProcess)
{
    const std::string& strFirst = CTempFolder::ProcessFolder();
    EXPECT_TRUE(std::filesystem::is_directory(strFirst));
    EXPECT_EQ(&strFirst, &CTempFolder::ProcessFolder());
}

} // namespace
