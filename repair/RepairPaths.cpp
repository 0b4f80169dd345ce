#include "repair/RepairPaths.h"

#include "dbf/DBFTableDef.h"

#include "platform/FileException.h"
#include "platform/TempFolder.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool PathExists(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0;
}

bool CanOpenForReading(const std::string& strPath)
{
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::string ReplaceAll(const std::string& strText, const std::string& strFrom, const std::string& strTo)
{
    if (strFrom.empty())
        return strText;
    std::string strOut;
    size_t nPos = 0;
    for (;;) {
        const size_t nHit = strText.find(strFrom, nPos);
        if (nHit == std::string::npos)
            break;
        strOut.append(strText, nPos, nHit - nPos);
        strOut += strTo;
        nPos = nHit + strFrom.size();
    }
    strOut.append(strText, nPos, std::string::npos);
    return strOut;
}

// Replaces the file-name part of strPath by strName.
std::string WithFileName(const std::string& strPath, const std::string& strName)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strName : strPath.substr(0, nSlash + 1) + strName;
}

// A file descriptor closed when it goes out of scope.
class CScopedFd {
public:
    explicit CScopedFd(int fd) : m_fd(fd) {}
    ~CScopedFd() { Reset(); }
    CScopedFd(const CScopedFd&) = delete;
    CScopedFd& operator=(const CScopedFd&) = delete;
    int Get() const { return m_fd; }
    void Reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes and reports the result of close.
    int Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd);
    }

private:
    int m_fd;
};

// Copies strFrom to strTo; with bExclusive the target must not exist yet.
void CopyFile(const std::string& strFrom, const std::string& strTo, bool bExclusive)
{
    CScopedFd in(::open(strFrom.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        ThrowOsFileError(errno, strFrom);
    const int nFlags = O_WRONLY | O_CREAT | O_CLOEXEC | (bExclusive ? O_EXCL : O_TRUNC);
    CScopedFd out(::open(strTo.c_str(), nFlags, 0666));
    if (out.Get() < 0)
        ThrowOsFileError(errno, strTo);
    // A copy that fails leaves no half file behind.
    auto fail = [&](int nError, const std::string& strPath) {
        out.Reset();
        ::unlink(strTo.c_str());
        ThrowOsFileError(nError, strPath);
    };
    // In the kernel where the file systems allow it (no trip of the bytes
    // through this process), otherwise by reading and writing.
    bool bKernelCopy = true;
    for (;;) {
        const ssize_t nCopied = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, 1 << 30, 0);
        if (nCopied > 0)
            continue;
        if (nCopied == 0)
            break;
        const int nError = errno;
        if (nError == EINTR)
            continue;
        const bool bUnsupported = nError == EXDEV || nError == ENOSYS || nError == EINVAL || nError == EOPNOTSUPP
            || nError == EBADF;
        if (bUnsupported && ::lseek(out.Get(), 0, SEEK_CUR) == 0) {
            bKernelCopy = false;
            break;
        }
        fail(nError, strTo);
    }
    std::vector<char> buffer(bKernelCopy ? 0 : 1 << 20);
    while (!bKernelCopy) {
        const ssize_t nRead = ::read(in.Get(), buffer.data(), buffer.size());
        if (nRead < 0) {
            if (errno == EINTR)
                continue;
            fail(errno, strFrom);
        }
        if (nRead == 0)
            break;
        ssize_t nDone = 0;
        while (nDone < nRead) {
            const ssize_t nWritten = ::write(out.Get(), buffer.data() + nDone, static_cast<size_t>(nRead - nDone));
            if (nWritten < 0) {
                if (errno == EINTR)
                    continue;
                fail(errno, strTo);
            }
            nDone += nWritten;
        }
    }
    if (out.Close() != 0) {
        const int nError = errno;
        ::unlink(strTo.c_str());
        ThrowOsFileError(nError, strTo);
    }
}

} // namespace

std::string PathFileName(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string PathFolder(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos)
        return ".";
    if (nSlash == 0)
        return "/";
    return strPath.substr(0, nSlash);
}

std::string PathExtension(const std::string& strPath)
{
    const std::string strName = PathFileName(strPath);
    const size_t nDot = strName.rfind('.');
    return nDot == std::string::npos ? std::string() : strName.substr(nDot + 1);
}

std::string LowerCaseAscii(const std::string& str)
{
    std::string strOut = str;
    for (char& c : strOut) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return strOut;
}

std::string BuildTempOutputPath(const std::string& strSourcePath, int nIndex, const std::string& strFolder)
{
    std::string strPath = strFolder;
    if (strPath.empty() || strPath.back() != '/')
        strPath += '/';
    strPath += std::to_string(nIndex);
    strPath += kTempNameMarker;
    strPath += "_1_";
    if (CanOpenForReading(strSourcePath))
        strPath += LowerCaseAscii(PathFileName(strSourcePath));
    return strPath;
}

std::string BuildTempOutputPath(const std::string& strSourcePath, int nIndex)
{
    return BuildTempOutputPath(strSourcePath, nIndex, CTempFolder::ProcessFolder());
}

std::string BuildSavedPath(const std::string& strFolder, const std::string& strTempPath,
                           const std::string& strPrefix)
{
    std::string strPath = strFolder;
    if (strPath.empty() || strPath.back() != '/')
        strPath += '/';
    return strPath + ReplaceAll(PathFileName(strTempPath), std::string("0") + kTempNameMarker, strPrefix);
}

std::string MakeUniqueSavedPath(const std::string& strPath, const std::string& strPrefix,
                                const std::string& strMemoExtension)
{
    auto taken = [&](const std::string& strCandidate) {
        if (PathExists(strCandidate))
            return true;
        return !strMemoExtension.empty() && PathExists(MemoCompanionPath(strCandidate, strMemoExtension));
    };
    std::string strCandidate = strPath;
    // Each round makes the name longer; the file system's name limit ends
    // the search long before this bound.
    for (int nRound = 0; nRound < 1000 && taken(strCandidate); ++nRound) {
        const std::string strName = PathFileName(strCandidate);
        std::string strNext = ReplaceAll(strName, strPrefix, strPrefix + "_(1)");
        if (strNext == strName) // no prefix in the name (an empty prefix): mark the front
            strNext = "_(1)" + strName;
        strCandidate = WithFileName(strCandidate, strNext);
    }
    return strCandidate;
}

std::string MemoCompanionPath(const std::string& strTablePath, const std::string& strExtension)
{
    return CDBFTableDef::BuildMemoPath(strTablePath, strExtension.c_str());
}

std::string FindMemoCompanion(const std::string& strTablePath)
{
    for (const char* pszExtension : {"fpt", "dbt", "smt"}) {
        std::string strFound = CDBFTableDef::FindMemoFile(strTablePath, pszExtension);
        if (!strFound.empty())
            return strFound;
    }
    return std::string();
}

std::string CheckSavedPrefix(const std::string& strPrefix)
{
    if (strPrefix.empty())
        return "Please fill prefix";
    if (strPrefix.find_first_of("/\\|*:?<>'") != std::string::npos)
        return "Illegal character found in file pre fix ";
    if (strPrefix.size() > kMaxSavedPrefixLength)
        return "The file name prefix may hold at most 50 characters.";
    return std::string();
}

namespace {

// Puts strFrom at strTo, which must not exist: a hard link when bMove asks
// for it and the file system allows it (strFrom then goes), else a copy.
void PlaceFile(const std::string& strFrom, const std::string& strTo, bool bMove)
{
    if (bMove) {
        if (::link(strFrom.c_str(), strTo.c_str()) == 0)
            return;
        if (errno == EEXIST)
            ThrowOsFileError(errno, strTo);
    }
    CopyFile(strFrom, strTo, true);
}

SavedRepairFiles SaveRepairedFiles(const std::string& strTempTable, const std::string& strFolder,
                                   const std::string& strPrefix, bool bMove)
{
    const std::string strTempMemo = FindMemoCompanion(strTempTable);
    const std::string strMemoExt = strTempMemo.empty() ? std::string() : PathExtension(strTempMemo);
    SavedRepairFiles saved;
    // A name can be taken between the check and the copy; the exclusive
    // create then refuses and the next name is tried.
    for (int nTry = 0; nTry < 100; ++nTry) {
        saved.strTable = MakeUniqueSavedPath(BuildSavedPath(strFolder, strTempTable, strPrefix), strPrefix, strMemoExt);
        try {
            PlaceFile(strTempTable, saved.strTable, bMove);
            break;
        } catch (const CFileException& e) {
            if (e.m_lOsError != EEXIST || nTry == 99)
                throw;
        }
    }
    if (!strTempMemo.empty()) {
        saved.strMemo = MemoCompanionPath(saved.strTable, strMemoExt);
        try {
            // The name was checked to be free with the table's.
            PlaceFile(strTempMemo, saved.strMemo, bMove);
        } catch (...) {
            // A table without its memo file is not a saved result.
            ::unlink(saved.strTable.c_str());
            throw;
        }
    }
    if (bMove)
        RemoveRepairedFiles(strTempTable);
    return saved;
}

} // namespace

SavedRepairFiles CopyRepairedFiles(const std::string& strTempTable, const std::string& strFolder,
                                   const std::string& strPrefix)
{
    return SaveRepairedFiles(strTempTable, strFolder, strPrefix, false);
}

SavedRepairFiles MoveRepairedFiles(const std::string& strTempTable, const std::string& strFolder,
                                   const std::string& strPrefix)
{
    return SaveRepairedFiles(strTempTable, strFolder, strPrefix, true);
}

void RemoveRepairedFiles(const std::string& strTempTable)
{
    const std::string strMemo = FindMemoCompanion(strTempTable);
    ::unlink(strTempTable.c_str());
    if (!strMemo.empty())
        ::unlink(strMemo.c_str());
}
