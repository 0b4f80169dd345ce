#include "repair/RepairPaths.h"

#include "dbf/DBFTableDef.h"

#include "platform/FileException.h"
#include "platform/FilePlacer.h"
#include "platform/FileSystem.h"
#include "platform/OsError.h"
#include "platform/TempFolder.h"

#include <algorithm>
#include <array>
#include <functional>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

bool PathExists(const std::string& strPath)
{
    return CFileSystem::Exists(strPath);
}

bool CanOpenForReading(const std::string& strPath)
{
    return CFileSystem::CheckReadable(strPath) == 0;
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
    const size_t nSlash = CFileSystem::LastSeparator(strPath);
    return nSlash == std::string::npos ? strName : strPath.substr(0, nSlash + 1) + strName;
}

} // namespace

std::string PathFileName(const std::string& strPath)
{
    const size_t nSlash = CFileSystem::LastSeparator(strPath);
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string PathFolder(const std::string& strPath)
{
    const size_t nSlash = CFileSystem::LastSeparator(strPath);
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

namespace {

// A name is taken when the table exists, or, with strMemoExtension given,
// when its memo companion with that extension does, so a save never
// overwrites someone else's memo file either.
bool IsSavedNameTaken(const std::string& strPath, const std::string& strMemoExtension)
{
    if (PathExists(strPath))
        return true;
    return !strMemoExtension.empty() && PathExists(MemoCompanionPath(strPath, strMemoExtension));
}

} // namespace

std::string MakeUniqueSavedPath(const std::string& strPath, const std::string& strPrefix,
                                const std::string& strMemoExtension)
{
    std::string strCandidate = strPath;
    // Each round makes the name longer; the file system's name limit ends
    // the search long before this bound.
    for (int nRound = 0; nRound < 1000 && IsSavedNameTaken(strCandidate, strMemoExtension); ++nRound) {
        const std::string strName = PathFileName(strCandidate);
        std::string strNext = ReplaceAll(strName, strPrefix, strPrefix + "_(1)");
        if (strNext == strName) // no prefix in the name (an empty prefix): mark the front
            strNext = "_(1)" + strName;
        strCandidate = WithFileName(strCandidate, strNext);
    }
    return strCandidate;
}

std::string MakeCountedSavedPath(const std::string& strFolder, const std::string& strName,
                                 const std::string& strPrefix, const std::string& strMemoExtension)
{
    std::string strBase = strFolder;
    if (strBase.empty() || strBase.back() != '/')
        strBase += '/';
    std::string strCandidate;
    for (unsigned long nCounter = 1;; ++nCounter) {
        strCandidate = strBase + strPrefix + "_" + std::to_string(nCounter) + "_" + strName;
        if (!IsSavedNameTaken(strCandidate, strMemoExtension))
            return strCandidate;
    }
}

std::string MemoCompanionPath(const std::string& strTablePath, const std::string& strExtension)
{
    return CDBFTableDef::BuildMemoPath(strTablePath, strExtension.c_str());
}

std::string FindMemoCompanion(const std::string& strTablePath)
{
    return CDBFTableDef::FindMemoFile(strTablePath, std::vector<std::string>{"fpt", "dbt", "smt"});
}

SavedPrefixCheck ClassifySavedPrefix(const std::string& strPrefix)
{
    if (strPrefix.empty())
        return SavedPrefixCheck::Empty;
    if (strPrefix.find_first_of(kForbiddenPrefixChars) != std::string::npos)
        return SavedPrefixCheck::IllegalCharacter;
    if (strPrefix.size() > kMaxSavedPrefixLength)
        return SavedPrefixCheck::TooLong;
    return SavedPrefixCheck::Valid;
}

std::string CheckSavedPrefix(const std::string& strPrefix)
{
    switch (ClassifySavedPrefix(strPrefix)) {
    case SavedPrefixCheck::Empty:
        return "Please fill prefix";
    case SavedPrefixCheck::IllegalCharacter:
        return "Illegal character found in file pre fix ";
    case SavedPrefixCheck::TooLong:
        return "The file name prefix may hold at most 50 characters.";
    case SavedPrefixCheck::Valid:
        break;
    }
    return std::string();
}

namespace {

// Places the temporary table and its memo file strTempMemo (if any), the
// table under the name chooseTable gives, the memo file beside it with the
// extension strMemoExt.
SavedRepairFiles SaveRepairedFiles(const std::string& strTempTable, const std::string& strTempMemo,
                                   const std::string& strMemoExt, bool bMove, std::function<bool()> pfnCancelled,
                                   const std::function<std::string()>& chooseTable)
{
    CFilePlacer placer;
    if (pfnCancelled)
        placer.SetCancelCheck(std::move(pfnCancelled));
    // The names are chosen again while one turns out to be taken between
    // the choice and the rename.
    const std::vector<PlacedFile> placed = placer.PlaceUnderFreeNames(
        [&] {
            const std::string strTable = chooseTable();
            std::vector<PlacedFile> files{{strTempTable, strTable}};
            if (!strTempMemo.empty())
                files.push_back({strTempMemo, MemoCompanionPath(strTable, strMemoExt)});
            return files;
        },
        bMove);
    SavedRepairFiles saved;
    saved.strTable = placed.front().strTo;
    if (placed.size() > 1)
        saved.strMemo = placed.back().strTo;
    return saved;
}

bool IsUpperCaseAscii(const std::string& str)
{
    return std::any_of(str.begin(), str.end(), [](char c) { return c >= 'A' && c <= 'Z'; })
        && std::none_of(str.begin(), str.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

} // namespace

SavedRepairFiles CopyRepairedFiles(const std::string& strTempTable, const std::string& strFolder,
                                   const std::string& strPrefix, std::function<bool()> pfnCancelled)
{
    const std::string strTempMemo = FindMemoCompanion(strTempTable);
    const std::string strMemoExt = PathExtension(strTempMemo);
    return SaveRepairedFiles(strTempTable, strTempMemo, strMemoExt, false, std::move(pfnCancelled), [&] {
        return MakeUniqueSavedPath(BuildSavedPath(strFolder, strTempTable, strPrefix), strPrefix, strMemoExt);
    });
}

SavedRepairFiles MoveRepairedFiles(const std::string& strTempTable, const std::string& strFolder,
                                   const std::string& strSourceName, const std::string& strPrefix,
                                   std::function<bool()> pfnCancelled)
{
    const std::string strTempMemo = FindMemoCompanion(strTempTable);
    std::string strMemoExt = PathExtension(strTempMemo);
    // SALES.DBF keeps its memo file as SALES.FPT, as DOS programs wrote it.
    if (IsUpperCaseAscii(PathExtension(strSourceName)))
        std::transform(strMemoExt.begin(), strMemoExt.end(), strMemoExt.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return SaveRepairedFiles(strTempTable, strTempMemo, strMemoExt, true, std::move(pfnCancelled), [&] {
        return MakeCountedSavedPath(strFolder, strSourceName, strPrefix, strMemoExt);
    });
}

std::vector<FileLeftBehind> RemoveRepairedFiles(const std::string& strTempTable)
{
    const std::string strMemo = FindMemoCompanion(strTempTable);
    std::vector<FileLeftBehind> problems;
    for (const std::string& strPath : {strTempTable, strMemo}) {
        const int nError = strPath.empty() ? 0 : CFileSystem::Remove(strPath);
        if (nError == 0 || nError == ENOENT)
            continue;
        problems.push_back({strPath, COsError::Text(nError)});
    }
    return problems;
}
