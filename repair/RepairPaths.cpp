#include "repair/RepairPaths.h"

#include "platform/FileException.h"
#include "platform/TempFolder.h"

#include <array>
#include <cerrno>
#include <dirent.h>
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

// The table path without the extension of its file name.
std::string StemPath(const std::string& strTablePath)
{
    const size_t nSlash = strTablePath.rfind('/');
    const size_t nDot = strTablePath.rfind('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash))
        return strTablePath;
    return strTablePath.substr(0, nDot);
}

struct FdCloser {
    void operator()(int* pFd) const
    {
        if (*pFd >= 0)
            ::close(*pFd);
        delete pFd;
    }
};
using UniqueFd = std::unique_ptr<int, FdCloser>;

// Copies strFrom to strTo; with bExclusive the target must not exist yet.
void CopyFile(const std::string& strFrom, const std::string& strTo, bool bExclusive)
{
    UniqueFd in(new int(::open(strFrom.c_str(), O_RDONLY | O_CLOEXEC)));
    if (*in < 0)
        ThrowOsFileError(errno, strFrom);
    const int nFlags = O_WRONLY | O_CREAT | O_CLOEXEC | (bExclusive ? O_EXCL : O_TRUNC);
    UniqueFd out(new int(::open(strTo.c_str(), nFlags, 0666)));
    if (*out < 0)
        ThrowOsFileError(errno, strTo);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t nRead = ::read(*in, buffer.data(), buffer.size());
        if (nRead < 0) {
            if (errno == EINTR)
                continue;
            ThrowOsFileError(errno, strFrom);
        }
        if (nRead == 0)
            break;
        ssize_t nDone = 0;
        while (nDone < nRead) {
            const ssize_t nWritten = ::write(*out, buffer.data() + nDone, static_cast<size_t>(nRead - nDone));
            if (nWritten < 0) {
                if (errno == EINTR)
                    continue;
                const int nError = errno;
                out.reset();
                ::unlink(strTo.c_str());
                ThrowOsFileError(nError, strTo);
            }
            nDone += nWritten;
        }
    }
    const int fd = *out;
    *out = -1;
    if (::close(fd) != 0)
        ThrowOsFileError(errno, strTo);
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
    return StemPath(strTablePath) + "." + strExtension;
}

std::string FindMemoCompanion(const std::string& strTablePath)
{
    static const std::array<const char*, 3> kExtensions = {"fpt", "dbt", "smt"};
    const std::string strStem = StemPath(strTablePath);
    const std::string strStemName = PathFileName(strStem);
    std::vector<std::string> names;
    {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(PathFolder(strTablePath).c_str()), &::closedir);
        if (!dir)
            return std::string();
        while (const dirent* pEntry = ::readdir(dir.get()))
            names.emplace_back(pEntry->d_name);
    }
    const std::string strLowerStem = LowerCaseAscii(strStemName);
    for (const char* pszExt : kExtensions) {
        const std::string strWanted = strLowerStem + "." + pszExt;
        std::string strFound;
        for (const std::string& strName : names) {
            if (LowerCaseAscii(strName) != strWanted)
                continue;
            const std::string strCandidate = WithFileName(strTablePath, strName);
            struct stat st {};
            if (::stat(strCandidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            // Of several spellings, the one whose stem matches the table's
            // own letter case wins; otherwise the first listed.
            const bool bSameStem = strName.compare(0, strStemName.size(), strStemName) == 0;
            if (strFound.empty() || bSameStem)
                strFound = strCandidate;
            if (bSameStem)
                break;
        }
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

SavedRepairFiles CopyRepairedFiles(const std::string& strTempTable, const std::string& strFolder,
                                   const std::string& strPrefix)
{
    const std::string strTempMemo = FindMemoCompanion(strTempTable);
    const std::string strMemoExt = strTempMemo.empty() ? std::string() : PathExtension(strTempMemo);
    SavedRepairFiles saved;
    // A name can be taken between the check and the copy; the exclusive
    // create then refuses and the next name is tried.
    for (int nTry = 0; nTry < 100; ++nTry) {
        saved.strTable = MakeUniqueSavedPath(BuildSavedPath(strFolder, strTempTable, strPrefix), strPrefix, strMemoExt);
        try {
            CopyFile(strTempTable, saved.strTable, true);
            break;
        } catch (const CFileException& e) {
            if (e.m_lOsError != EEXIST || nTry == 99)
                throw;
        }
    }
    if (!strTempMemo.empty()) {
        saved.strMemo = MemoCompanionPath(saved.strTable, strMemoExt);
        try {
            CopyFile(strTempMemo, saved.strMemo, false);
        } catch (...) {
            // A table without its memo file is not a saved result.
            ::unlink(saved.strTable.c_str());
            throw;
        }
    }
    return saved;
}

void RemoveRepairedFiles(const std::string& strTempTable)
{
    const std::string strMemo = FindMemoCompanion(strTempTable);
    ::unlink(strTempTable.c_str());
    if (!strMemo.empty())
        ::unlink(strMemo.c_str());
}
