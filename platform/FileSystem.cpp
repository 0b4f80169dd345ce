#include "platform/FileSystem.h"

// What a path names, from GetStatus and GetLinkStatus of each system.

bool CFileSystem::Exists(const std::string& strPath)
{
    Status status;
    return GetStatus(strPath, status) == 0;
}

bool CFileSystem::IsFolder(const std::string& strPath)
{
    Status status;
    return GetStatus(strPath, status) == 0 && status.bFolder;
}

bool CFileSystem::IsRegularFile(const std::string& strPath)
{
    Status status;
    return GetStatus(strPath, status) == 0 && status.bRegular;
}

bool CFileSystem::IsLink(const std::string& strPath)
{
    Status status;
    return GetLinkStatus(strPath, status) == 0 && status.bLink;
}

bool CFileSystem::IsSameFile(const std::string& strA, const std::string& strB)
{
    Status a;
    Status b;
    return GetStatus(strA, a) == 0 && GetStatus(strB, b) == 0 && a.nDevice == b.nDevice && a.nInode == b.nInode;
}
