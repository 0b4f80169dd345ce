#include "platform/TempFolder.h"

#include "platform/FileException.h"
#include "platform/FileSystem.h"

namespace {

constexpr const char* kProcessFolderPrefix = "orvane-tamsin-";

} // namespace

CTempFolder::CTempFolder(const std::string& strPrefix)
{
    const std::string strBase = GetSystemTempPath() + "/" + strPrefix;
    if (const int nError = CFileSystem::MakeUniqueFolder(strBase, m_strPath))
        ThrowOsFileError(nError, strBase + "XXXXXX");
}

CTempFolder::~CTempFolder()
{
    CFileSystem::RemoveTree(m_strPath);
}

std::string CTempFolder::GetSystemTempPath()
{
    return CFileSystem::GetSystemTempPath();
}

const std::string& CTempFolder::ProcessFolder()
{
    // A function-local static: made once, destroyed (and so removed) by the
    // normal end of the process.
    static const CTempFolder folder(kProcessFolderPrefix);
    return folder.GetPath();
}

bool CTempFolder::IsInProcessFolder(const std::string& strPath)
{
    const std::string strStart = GetSystemTempPath() + "/" + kProcessFolderPrefix;
    return strPath.compare(0, strStart.size(), strStart) == 0;
}
