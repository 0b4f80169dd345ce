#include "platform/FilePlacer.h"

#include "platform/Fd.h"
#include "platform/FileException.h"
#include "platform/FileFaultInjector.h"
#include "platform/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string FolderOf(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

// Renames without replacing (unless asked to): renameat2 where the file
// system has it, else a hard link and an unlink (which refuse an existing
// name as well).
int RenameInto(const std::string& strFrom, const std::string& strTo, bool bReplace)
{
    if (CFileFaultInjector::IsArmed()) {
        if (const int nError = CFileFaultInjector::OnWrite(strTo, 0, 0))
            return nError;
    }
    if (bReplace)
        return ::rename(strFrom.c_str(), strTo.c_str()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, strFrom.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(strFrom.c_str(), strTo.c_str()) != 0)
        return errno;
    ::unlink(strFrom.c_str());
    return 0;
}

} // namespace

std::string CFilePlacer::TemporaryNameFor(const std::string& strTo)
{
    static std::atomic<unsigned> s_nCounter{0};
    const size_t nSlash = strTo.rfind('/');
    const std::string strName = nSlash == std::string::npos ? strTo : strTo.substr(nSlash + 1);
    const std::string strFolder = nSlash == std::string::npos ? std::string() : strTo.substr(0, nSlash + 1);
    return strFolder + "." + strName + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(++s_nCounter);
}

void CFilePlacer::CopyInto(const std::string& strFrom, const std::string& strTo)
{
    CFd in(::open(strFrom.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        ThrowOsFileError(errno, strFrom);
    CFd out(::open(strTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.Get() < 0)
        ThrowOsFileError(errno, strTo);
    // In the kernel where the file systems allow it, otherwise through a
    // buffer; a chunk at a time so that a cancel is heard.
    constexpr size_t kChunk = 8 << 20;
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0)
        ThrowOsFileError(errno, strFrom);
    const uint64_t nSize = static_cast<uint64_t>(st.st_size);
    bool bKernel = true;
    std::vector<char> buffer;
    uint64_t nDone = 0;
    for (;;) {
        if (Cancelled())
            ThrowOsFileError(ECANCELED, strTo);
        if (CFileFaultInjector::IsArmed() && nDone < nSize) {
            if (const int nError = CFileFaultInjector::OnWrite(strTo, nDone, kChunk))
                ThrowOsFileError(nError, strTo);
        }
        ssize_t nCopied = 0;
        if (bKernel) {
            nCopied = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, kChunk, 0);
            if (nCopied < 0 && errno != EINTR) {
                const int nError = errno;
                const bool bUnsupported = nError == EXDEV || nError == ENOSYS || nError == EINVAL
                    || nError == EOPNOTSUPP || nError == EBADF;
                if (!bUnsupported || nDone != 0)
                    ThrowOsFileError(nError, strTo);
                bKernel = false;
                buffer.resize(1 << 20);
                continue;
            }
        } else {
            nCopied = ::read(in.Get(), buffer.data(), buffer.size());
            if (nCopied < 0 && errno != EINTR)
                ThrowOsFileError(errno, strFrom);
            for (ssize_t nWritten = 0; nCopied > 0 && nWritten < nCopied;) {
                const ssize_t r = ::write(out.Get(), buffer.data() + nWritten, static_cast<size_t>(nCopied - nWritten));
                if (r < 0 && errno != EINTR)
                    ThrowOsFileError(errno, strTo);
                nWritten += r > 0 ? r : 0;
            }
        }
        if (nCopied == 0)
            break;
        if (nCopied > 0)
            nDone += static_cast<uint64_t>(nCopied);
    }
    // On disk before it gets its name, so a crash cannot leave an empty or
    // partial table under the final name.
    if (::fsync(out.Get()) != 0)
        ThrowOsFileError(errno, strTo);
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
            if (bMove && ::link(file.strFrom.c_str(), strTemp.c_str()) == 0) {
                CFd linked(::open(strTemp.c_str(), O_RDONLY | O_CLOEXEC));
                if (linked.Get() < 0 || ::fsync(linked.Get()) != 0)
                    ThrowOsFileError(errno, file.strTo);
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
        if (!files.empty()) {
            CFd folder(::open(FolderOf(files.front().strTo).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (folder.Get() >= 0)
                ::fsync(folder.Get());
        }
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
