#include "platform/FilePlacer.h"

#include "platform/FileException.h"
#include "platform/FileFaultInjector.h"
#include "platform/FileHandle.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <atomic>
#include <cerrno>
#include <vector>

namespace {

std::string FolderOf(const std::string& strPath)
{
    const size_t nSlash = CFileSystem::LastSeparator(strPath);
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? strPath.substr(0, 1) : strPath.substr(0, nSlash);
}

// Renames without replacing (unless asked to).
int RenameInto(const std::string& strFrom, const std::string& strTo, bool bReplace)
{
    if (CFileFaultInjector::IsArmed()) {
        if (const int nError = CFileFaultInjector::OnWrite(strTo, 0, 0))
            return nError;
    }
    return CFileSystem::Rename(strFrom, strTo, bReplace);
}

// Flushes a file written through another handle; Windows flushes only
// through a handle that may write, so read access is the fallback for a
// file that refuses writing.
int SyncFileToDisk(const std::string& strPath)
{
    CFileHandle file;
    int nError = file.Open(strPath, CFileHandle::Access::readWrite, CFileHandle::Share::all, CFileHandle::Create::no);
    if (nError == EACCES)
        nError = file.Open(strPath, CFileHandle::Access::read, CFileHandle::Share::all, CFileHandle::Create::no);
    return nError != 0 ? nError : file.SyncToDisk();
}

} // namespace

std::string CFilePlacer::TemporaryNameFor(const std::string& strTo)
{
    static std::atomic<unsigned> s_nCounter{0};
    const size_t nSlash = CFileSystem::LastSeparator(strTo);
    const std::string strName = nSlash == std::string::npos ? strTo : strTo.substr(nSlash + 1);
    const std::string strFolder = nSlash == std::string::npos ? std::string() : strTo.substr(0, nSlash + 1);
    return strFolder + "." + strName + ".part-" + std::to_string(CProcess::GetId()) + "-" + std::to_string(++s_nCounter);
}

void CFilePlacer::CopyInto(const std::string& strFrom, const std::string& strTo)
{
    CFileHandle in;
    if (const int nError = in.Open(strFrom, CFileHandle::Access::read, CFileHandle::Share::all, CFileHandle::Create::no))
        ThrowOsFileError(nError, strFrom);
    CFileHandle out;
    if (const int nError =
            out.Open(strTo, CFileHandle::Access::write, CFileHandle::Share::all, CFileHandle::Create::newOnly))
        ThrowOsFileError(nError, strTo);
    // A chunk at a time so that a cancel is heard.
    constexpr size_t kChunk = 8 << 20;
    uint64_t nSize = 0;
    if (const int nError = in.GetSize(nSize))
        ThrowOsFileError(nError, strFrom);
    for (uint64_t nDone = 0;;) {
        if (Cancelled())
            ThrowOsFileError(ECANCELED, strTo);
        if (CFileFaultInjector::IsArmed() && nDone < nSize) {
            if (const int nError = CFileFaultInjector::OnWrite(strTo, nDone, kChunk))
                ThrowOsFileError(nError, strTo);
        }
        size_t nCopied = 0;
        if (const int nError = out.CopyFrom(in, nDone, kChunk, nCopied))
            ThrowOsFileError(nError, strTo);
        if (nCopied == 0)
            break;
        nDone += nCopied;
    }
    // On disk before it gets its name, so a crash cannot leave an empty or
    // partial table under the final name.
    if (const int nError = out.SyncToDisk())
        ThrowOsFileError(nError, strTo);
    if (const int nError = out.Close())
        ThrowOsFileError(nError, strTo);
}

void CFilePlacer::Place(const std::vector<PlacedFile>& files, bool bMove)
{
    std::vector<std::string> temporaries;
    std::vector<std::string> placed;
    auto cleanUp = [&] {
        for (const std::string& strPath : temporaries)
            CFileSystem::Remove(strPath);
        for (const std::string& strPath : placed)
            CFileSystem::Remove(strPath);
    };
    try {
        for (const PlacedFile& file : files) {
            const std::string strTemp = TemporaryNameFor(file.strTo);
            temporaries.push_back(strTemp);
            if (Cancelled())
                ThrowOsFileError(ECANCELED, file.strTo);
            // A move within one file system needs no copy, but its data
            // must reach the disk before the name does, as a copy's does.
            if (bMove && CFileSystem::MakeHardLink(file.strFrom, strTemp) == 0) {
                if (const int nError = SyncFileToDisk(strTemp))
                    ThrowOsFileError(nError, file.strTo);
            } else {
                try {
                    CopyInto(file.strFrom, strTemp);
                } catch (const CFileException& e) {
                    // The user knows the file by its final name.
                    if (e.m_strFileName != strTemp)
                        throw;
                    ThrowFileException(e.m_cause, e.m_lOsError, file.strTo);
                }
            }
        }
        if (Cancelled())
            ThrowOsFileError(ECANCELED, files.empty() ? std::string() : files.front().strTo);
        for (size_t i = 0; i < files.size(); ++i) {
            if (const int nError = RenameInto(temporaries[i], files[i].strTo, m_bReplace))
                ThrowOsFileError(nError, files[i].strTo);
            placed.push_back(files[i].strTo);
        }
        temporaries.clear();
        // The new names themselves reach the disk.
        if (!files.empty())
            CFileSystem::SyncFolder(FolderOf(files.front().strTo));
    } catch (...) {
        cleanUp();
        throw;
    }
    if (bMove) {
        for (const PlacedFile& file : files)
            CFileSystem::Remove(file.strFrom);
    }
}

std::vector<PlacedFile> CFilePlacer::PlaceUnderFreeNames(const std::function<std::vector<PlacedFile>()>& pfnNames,
                                                         bool bMove)
{
    for (int nRound = 0;; ++nRound) {
        std::vector<PlacedFile> files = pfnNames();
        try {
            Place(files, bMove);
            return files;
        } catch (const CFileException& e) {
            if (e.m_lOsError != EEXIST || nRound == 99)
                throw;
        }
    }
}
