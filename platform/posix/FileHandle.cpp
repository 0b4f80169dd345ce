#include "platform/FileHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

CFileHandle::~CFileHandle()
{
    Close();
}

int CFileHandle::Open(const std::string& strPath, Access eAccess, Share eShare, Create eCreate)
{
    Close();
    int flags = O_CLOEXEC;
    flags |= eAccess == Access::readWrite ? O_RDWR : eAccess == Access::write ? O_WRONLY : O_RDONLY;
    if (eCreate != Create::no)
        flags |= O_CREAT;
    if (eCreate == Create::newOnly)
        flags |= O_EXCL;
    const int fd = ::open(strPath.c_str(), flags, 0666);
    if (fd < 0)
        return errno;
    auto fail = [fd](int nError) {
        ::close(fd);
        return nError;
    };
    const int lockOp = eShare == Share::none || eShare == Share::denyRead ? LOCK_EX
        : eShare == Share::denyWrite                                     ? LOCK_SH
                                                                         : 0;
    if (lockOp != 0 && ::flock(fd, lockOp | LOCK_NB) != 0)
        return fail(errno);
    // Emptied only once the lock is ours, so a refused create leaves the
    // other holder's file intact.
    if (eCreate == Create::orEmpty && ::ftruncate(fd, 0) != 0)
        return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(errno);
    if (S_ISDIR(st.st_mode))
        return fail(EISDIR);
    m_fd = fd;
    m_bNoKernelCopy = false;
    return 0;
}

bool CFileHandle::IsOpen() const
{
    return m_fd >= 0;
}

int CFileHandle::Close()
{
    if (m_fd < 0)
        return 0;
    const int r = ::close(m_fd);
    m_fd = -1;
    return r == 0 ? 0 : errno;
}

int CFileHandle::GetSize(uint64_t& nSize) const
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        return errno;
    nSize = static_cast<uint64_t>(st.st_size);
    return 0;
}

int CFileHandle::SetSize(uint64_t nSize)
{
    return ::ftruncate(m_fd, static_cast<off_t>(nSize)) == 0 ? 0 : errno;
}

int CFileHandle::ReadAt(uint64_t nPos, void* pBuf, size_t nCount, size_t& nDone)
{
    auto* p = static_cast<unsigned char*>(pBuf);
    nDone = 0;
    while (nDone < nCount) {
        const ssize_t r = ::pread(m_fd, p + nDone, nCount - nDone, static_cast<off_t>(nPos + nDone));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (r == 0)
            break;
        nDone += static_cast<size_t>(r);
    }
    return 0;
}

int CFileHandle::WriteAt(uint64_t nPos, const void* pBuf, size_t nCount)
{
    const auto* p = static_cast<const unsigned char*>(pBuf);
    size_t nDone = 0;
    while (nDone < nCount) {
        const ssize_t r = ::pwrite(m_fd, p + nDone, nCount - nDone, static_cast<off_t>(nPos + nDone));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        nDone += static_cast<size_t>(r);
    }
    return 0;
}

int CFileHandle::SyncToDisk()
{
    return ::fsync(m_fd) == 0 ? 0 : errno;
}

int CFileHandle::CopyFrom(CFileHandle& from, uint64_t nPos, size_t nMax, size_t& nCopied)
{
    nCopied = 0;
    // In the kernel where the file systems allow it, otherwise through a
    // buffer.
    while (!m_bNoKernelCopy) {
        auto nIn = static_cast<off_t>(nPos);
        auto nOut = static_cast<off_t>(nPos);
        const ssize_t r = ::copy_file_range(from.m_fd, &nIn, m_fd, &nOut, nMax, 0);
        if (r >= 0) {
            nCopied = static_cast<size_t>(r);
            return 0;
        }
        if (errno == EINTR)
            continue;
        const int nError = errno;
        const bool bUnsupported =
            nError == EXDEV || nError == ENOSYS || nError == EINVAL || nError == EOPNOTSUPP || nError == EBADF;
        if (!bUnsupported || nPos != 0)
            return nError;
        m_bNoKernelCopy = true;
    }
    std::vector<unsigned char> buffer(std::min<size_t>(nMax, 1 << 20));
    if (const int nError = from.ReadAt(nPos, buffer.data(), buffer.size(), nCopied))
        return nError;
    return WriteAt(nPos, buffer.data(), nCopied);
}

void CFileHandle::AdviseSequential()
{
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void CFileHandle::StartWriteBack(uint64_t nFrom, uint64_t nCount)
{
    // Only a start: a failure shows when the file is flushed to disk.
    ::sync_file_range(m_fd, static_cast<off_t>(nFrom), static_cast<off_t>(nCount), SYNC_FILE_RANGE_WRITE);
}
