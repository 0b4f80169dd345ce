#include "platform/FileSystem.h"

#include "platform/FileFaultInjector.h"
#include "platform/OsError.h"
#include "platform/windows/WideText.h"

#include <cerrno>
#include <filesystem>
#include <random>
#include <windows.h>

namespace {

std::wstring Wide(const std::string& strPath)
{
    return CWideText::FromUtf8(strPath);
}

int LastError()
{
    return COsError::FromSystem(::GetLastError());
}

int Result(BOOL bDone)
{
    return bDone ? 0 : LastError();
}

std::string Utf8(const std::filesystem::path& path)
{
    return CWideText::ToUtf8(path.wstring());
}

// A removal or a rename the injector fails; 0 to go ahead.
int InjectedRemoveError(const std::string& strPath)
{
    return CFileFaultInjector::IsArmed() ? CFileFaultInjector::OnRemove(strPath) : 0;
}

// What the path names; bFollow: a link's target, else the link itself.
int StatusOf(const std::string& strPath, bool bFollow, CFileSystem::Status& status)
{
    const DWORD nFlags = FILE_FLAG_BACKUP_SEMANTICS | (bFollow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = ::CreateFileW(Wide(strPath).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, nFlags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastError();
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL bGot = ::GetFileInformationByHandle(h, &info);
    const int nError = bGot ? 0 : LastError();
    ::CloseHandle(h);
    if (nError != 0)
        return nError;
    status.bLink = !bFollow && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    status.bFolder = !status.bLink && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    status.bRegular = !status.bLink && !status.bFolder;
    status.nSize = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status.nDevice = info.dwVolumeSerialNumber;
    status.nInode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return 0;
}

} // namespace

int CFileSystem::GetStatus(const std::string& strPath, Status& status)
{
    return StatusOf(strPath, true, status);
}

int CFileSystem::GetLinkStatus(const std::string& strPath, Status& status)
{
    return StatusOf(strPath, false, status);
}

bool CFileSystem::IsRegularFileSpelledSo(const std::string& strPath)
{
    if (!IsRegularFile(strPath))
        return false;
    WIN32_FIND_DATAW found{};
    HANDLE h = ::FindFirstFileW(Wide(strPath).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(h);
    const size_t nSeparator = LastSeparator(strPath);
    return CWideText::ToUtf8(found.cFileName) == (nSeparator == std::string::npos ? strPath : strPath.substr(nSeparator + 1));
}

int CFileSystem::CheckReadable(const std::string& strPath)
{
    HANDLE h = ::CreateFileW(Wide(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastError();
    ::CloseHandle(h);
    return 0;
}

int CFileSystem::CheckWritableFolder(const std::string& strFolder)
{
    // Windows answers "may I write here" only by trying: a probe file that
    // goes away when closed.
    static unsigned s_nProbe = 0;
    const std::string strProbe = strFolder + "/.orvane-probe-" + std::to_string(::GetCurrentProcessId()) + "-"
        + std::to_string(++s_nProbe);
    HANDLE h = ::CreateFileW(Wide(strProbe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int nError = LastError();
        return nError == ENOENT && !IsFolder(strFolder) && Exists(strFolder) ? ENOTDIR : nError;
    }
    ::CloseHandle(h);
    return 0;
}

int CFileSystem::Canonical(const std::string& strPath, std::string& strCanonical)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::canonical(Wide(strPath), error);
    if (error)
        return Exists(strPath) ? EACCES : ENOENT;
    strCanonical = Utf8(path);
    return 0;
}

std::string CFileSystem::WeaklyCanonical(const std::string& strPath)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::weakly_canonical(Wide(strPath), error);
    return error ? std::string() : Utf8(path);
}

std::string CFileSystem::Absolute(const std::string& strPath)
{
    std::error_code error;
    return Utf8(std::filesystem::absolute(Wide(strPath), error));
}

int CFileSystem::ListFolder(const std::string& strFolder, std::vector<std::string>& names)
{
    WIN32_FIND_DATAW found{};
    HANDLE h = ::FindFirstFileW(Wide(strFolder + "/*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD nCode = ::GetLastError();
        if (nCode == ERROR_FILE_NOT_FOUND)
            return 0; // an empty folder (a drive's root has no "." either)
        if (nCode == ERROR_PATH_NOT_FOUND && Exists(strFolder))
            return ENOTDIR;
        return COsError::FromSystem(nCode);
    }
    do {
        const std::wstring strName = found.cFileName;
        if (strName != L"." && strName != L"..")
            names.push_back(CWideText::ToUtf8(strName));
    } while (::FindNextFileW(h, &found));
    const DWORD nCode = ::GetLastError();
    ::FindClose(h);
    return nCode == ERROR_NO_MORE_FILES ? 0 : COsError::FromSystem(nCode);
}

int CFileSystem::MakeFolder(const std::string& strFolder, unsigned)
{
    return Result(::CreateDirectoryW(Wide(strFolder).c_str(), nullptr));
}

int CFileSystem::MakeFolders(const std::string& strFolder)
{
    std::error_code error;
    std::filesystem::create_directories(Wide(strFolder), error);
    if (error)
        return IsFolder(strFolder) ? 0 : Exists(strFolder) ? ENOTDIR : EACCES;
    return 0;
}

int CFileSystem::Remove(const std::string& strPath)
{
    if (const int nError = InjectedRemoveError(strPath))
        return nError;
    return Result(::DeleteFileW(Wide(strPath).c_str()));
}

int CFileSystem::RemoveFolder(const std::string& strFolder)
{
    if (const int nError = InjectedRemoveError(strFolder))
        return nError;
    return Result(::RemoveDirectoryW(Wide(strFolder).c_str()));
}

int CFileSystem::MakeSymbolicLink(const std::string& strTarget, const std::string& strLink)
{
    const DWORD nFlags = IsFolder(strTarget) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    return Result(::CreateSymbolicLinkW(Wide(strLink).c_str(), Wide(strTarget).c_str(), nFlags) != 0);
}

bool CFileSystem::IsStandardErrorTerminal()
{
    DWORD nMode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &nMode) != 0;
}

int CFileSystem::Rename(const std::string& strFrom, const std::string& strTo, bool bReplace)
{
    // Without MOVEFILE_REPLACE_EXISTING a taken name is refused.
    const DWORD nFlags = MOVEFILE_WRITE_THROUGH | (bReplace ? MOVEFILE_REPLACE_EXISTING : 0);
    return Result(::MoveFileExW(Wide(strFrom).c_str(), Wide(strTo).c_str(), nFlags));
}

int CFileSystem::MakeHardLink(const std::string& strExisting, const std::string& strLink)
{
    return Result(::CreateHardLinkW(Wide(strLink).c_str(), Wide(strExisting).c_str(), nullptr));
}

void CFileSystem::SyncFolder(const std::string&)
{
    // The renames were asked for with MOVEFILE_WRITE_THROUGH: the folder's
    // entries are on disk already.
}

int CFileSystem::MakeUniqueFolder(const std::string& strBase, std::string& strFolder)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::mt19937 random(device() ^ ::GetCurrentProcessId() ^ ::GetTickCount());
    for (int nTry = 0; nTry < 100; ++nTry) {
        std::string strName = strBase;
        for (int i = 0; i < 6; ++i)
            strName += kLetters[random() % (sizeof kLetters - 1)];
        if (::CreateDirectoryW(Wide(strName).c_str(), nullptr)) {
            strFolder = strName;
            return 0;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return LastError();
    }
    return EEXIST;
}

void CFileSystem::RemoveTree(const std::string& strFolder)
{
    std::error_code error;
    std::filesystem::remove_all(Wide(strFolder), error);
}

std::string CFileSystem::GetSystemTempPath()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD nLength = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::string strDir = nLength > 0 && nLength <= MAX_PATH ? CWideText::ToUtf8(std::wstring(buffer, nLength)) : ".";
    while (strDir.size() > 3 && (strDir.back() == '\\' || strDir.back() == '/'))
        strDir.pop_back();
    return strDir;
}

const char* CFileSystem::TempPathVariable()
{
    return "TMP";
}

size_t CFileSystem::LastSeparator(const std::string& strPath)
{
    return strPath.find_last_of("/\\");
}
