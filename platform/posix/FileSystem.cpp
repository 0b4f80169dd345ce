#include "platform/FileSystem.h"

#include "platform/FileFaultInjector.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void Fill(const struct stat& st, CFileSystem::Status& status)
{
    status.bFolder = S_ISDIR(st.st_mode);
    status.bRegular = S_ISREG(st.st_mode);
    status.bLink = S_ISLNK(st.st_mode);
    status.nSize = static_cast<uint64_t>(st.st_size);
    status.nDevice = static_cast<uint64_t>(st.st_dev);
    status.nInode = static_cast<uint64_t>(st.st_ino);
}

// stat or lstat.
int StatusBy(int (*pfnStat)(const char*, struct stat*), const std::string& strPath, CFileSystem::Status& status)
{
    struct stat st {};
    if (pfnStat(strPath.c_str(), &st) != 0)
        return errno;
    Fill(st, status);
    return 0;
}

int Result(int nReturned)
{
    return nReturned == 0 ? 0 : errno;
}

// A removal or a rename the injector fails; 0 to go ahead.
int InjectedRemoveError(const std::string& strPath)
{
    return CFileFaultInjector::IsArmed() ? CFileFaultInjector::OnRemove(strPath) : 0;
}

} // namespace

int CFileSystem::GetStatus(const std::string& strPath, Status& status)
{
    return StatusBy(::stat, strPath, status);
}

int CFileSystem::GetLinkStatus(const std::string& strPath, Status& status)
{
    return StatusBy(::lstat, strPath, status);
}

bool CFileSystem::IsRegularFileSpelledSo(const std::string& strPath)
{
    return IsRegularFile(strPath);
}

int CFileSystem::CheckReadable(const std::string& strPath)
{
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

int CFileSystem::CheckWritableFolder(const std::string& strFolder)
{
    return Result(::access(strFolder.c_str(), W_OK | X_OK));
}

int CFileSystem::Canonical(const std::string& strPath, std::string& strCanonical)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::canonical(strPath, error);
    if (error)
        return error.value();
    strCanonical = path.string();
    return 0;
}

std::string CFileSystem::WeaklyCanonical(const std::string& strPath)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::weakly_canonical(strPath, error);
    return error ? std::string() : path.string();
}

std::string CFileSystem::Absolute(const std::string& strPath)
{
    std::error_code error;
    return std::filesystem::absolute(strPath, error).string();
}

int CFileSystem::ListFolder(const std::string& strFolder, std::vector<std::string>& names)
{
    DIR* pDir = ::opendir(strFolder.c_str());
    if (pDir == nullptr)
        return errno;
    errno = 0;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string strName = pEntry->d_name;
        if (strName != "." && strName != "..")
            names.push_back(strName);
    }
    const int nError = errno;
    ::closedir(pDir);
    return nError;
}

int CFileSystem::MakeFolder(const std::string& strFolder, unsigned nMode)
{
    return Result(::mkdir(strFolder.c_str(), static_cast<mode_t>(nMode)));
}

int CFileSystem::MakeFolders(const std::string& strFolder)
{
    std::error_code error;
    std::filesystem::create_directories(strFolder, error);
    return error ? error.value() : 0;
}

int CFileSystem::Remove(const std::string& strPath)
{
    if (const int nError = InjectedRemoveError(strPath))
        return nError;
    return Result(::unlink(strPath.c_str()));
}

int CFileSystem::RemoveFolder(const std::string& strFolder)
{
    if (const int nError = InjectedRemoveError(strFolder))
        return nError;
    return Result(::rmdir(strFolder.c_str()));
}

int CFileSystem::MakeSymbolicLink(const std::string& strTarget, const std::string& strLink)
{
    return Result(::symlink(strTarget.c_str(), strLink.c_str()));
}

bool CFileSystem::IsStandardErrorTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int CFileSystem::Rename(const std::string& strFrom, const std::string& strTo, bool bReplace)
{
    if (bReplace)
        return Result(::rename(strFrom.c_str(), strTo.c_str()));
    if (::renameat2(AT_FDCWD, strFrom.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without renameat2: a hard link refuses an existing name
    // as well.
    if (::link(strFrom.c_str(), strTo.c_str()) != 0)
        return errno;
    ::unlink(strFrom.c_str());
    return 0;
}

int CFileSystem::MakeHardLink(const std::string& strExisting, const std::string& strLink)
{
    return Result(::link(strExisting.c_str(), strLink.c_str()));
}

void CFileSystem::SyncFolder(const std::string& strFolder)
{
    const int fd = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int CFileSystem::MakeUniqueFolder(const std::string& strBase, std::string& strFolder)
{
    const std::string strTemplate = strBase + "XXXXXX";
    std::vector<char> buffer(strTemplate.begin(), strTemplate.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        return errno;
    strFolder = buffer.data();
    return 0;
}

void CFileSystem::RemoveTree(const std::string& strFolder)
{
    std::error_code error;
    std::filesystem::remove_all(strFolder, error);
}

std::string CFileSystem::GetSystemTempPath()
{
    const char* pszDir = std::getenv("TMPDIR");
    std::string strDir = (pszDir != nullptr && *pszDir != '\0') ? pszDir : "/tmp";
    while (strDir.size() > 1 && strDir.back() == '/')
        strDir.pop_back();
    return strDir;
}

const char* CFileSystem::TempPathVariable()
{
    return "TMPDIR";
}

size_t CFileSystem::LastSeparator(const std::string& strPath)
{
    return strPath.rfind('/');
}
