#include "platform/FileHandle.h"

#include "platform/OsError.h"
#include "platform/windows/WideText.h"

#include <algorithm>
#include <cerrno>
#include <vector>
#include <windows.h>

namespace {

HANDLE Native(void* handle)
{
    return static_cast<HANDLE>(handle);
}

int LastError()
{
    return COsError::FromSystem(::GetLastError());
}

// One ReadFile or WriteFile moves at most this much.
constexpr size_t kMaxCall = 1u << 30;

OVERLAPPED At(uint64_t nPos)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(nPos);
    at.OffsetHigh = static_cast<DWORD>(nPos >> 32);
    return at;
}

} // namespace

CFileHandle::~CFileHandle()
{
    Close();
}

int CFileHandle::Open(const std::string& strPath, Access eAccess, Share eShare, Create eCreate)
{
    Close();
    const DWORD nAccess = eAccess == Access::readWrite ? GENERIC_READ | GENERIC_WRITE
        : eAccess == Access::write                      ? GENERIC_WRITE
                                                        : GENERIC_READ;
    // Renaming and removing stay open to others, as on Linux, where a lock
    // never keeps a name in place.
    DWORD nShare = FILE_SHARE_DELETE;
    if (eShare == Share::all || eShare == Share::denyWrite)
        nShare |= FILE_SHARE_READ;
    if (eShare == Share::all || eShare == Share::denyRead)
        nShare |= FILE_SHARE_WRITE;
    const DWORD nDisposition = eCreate == Create::newOnly ? CREATE_NEW
        : eCreate == Create::no                           ? OPEN_EXISTING
                                                          : OPEN_ALWAYS;
    const std::wstring strWide = CWideText::FromUtf8(strPath);
    HANDLE h = ::CreateFileW(strWide.c_str(), nAccess, nShare, nullptr, nDisposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD nCode = ::GetLastError();
        const DWORD nAttributes = ::GetFileAttributesW(strWide.c_str());
        if (nCode == ERROR_ACCESS_DENIED && nAttributes != INVALID_FILE_ATTRIBUTES
            && (nAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return EISDIR;
        return COsError::FromSystem(nCode);
    }
    // Emptied only after the share check let the open through, so a
    // refused create leaves the other holder's file intact.
    if (eCreate == Create::orEmpty) {
        FILE_END_OF_FILE_INFO end{};
        if (!::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end)) {
            const int nError = LastError();
            ::CloseHandle(h);
            return nError;
        }
    }
    m_handle = h;
    return 0;
}

bool CFileHandle::IsOpen() const
{
    return Native(m_handle) != INVALID_HANDLE_VALUE;
}

int CFileHandle::Close()
{
    if (!IsOpen())
        return 0;
    const BOOL bClosed = ::CloseHandle(Native(m_handle));
    m_handle = INVALID_HANDLE_VALUE;
    return bClosed ? 0 : LastError();
}

int CFileHandle::GetSize(uint64_t& nSize) const
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Native(m_handle), &size))
        return LastError();
    nSize = static_cast<uint64_t>(size.QuadPart);
    return 0;
}

int CFileHandle::SetSize(uint64_t nSize)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(nSize);
    return ::SetFileInformationByHandle(Native(m_handle), FileEndOfFileInfo, &end, sizeof end) ? 0 : LastError();
}

int CFileHandle::ReadAt(uint64_t nPos, void* pBuf, size_t nCount, size_t& nDone)
{
    auto* p = static_cast<unsigned char*>(pBuf);
    nDone = 0;
    while (nDone < nCount) {
        OVERLAPPED at = At(nPos + nDone);
        DWORD nRead = 0;
        const DWORD nAsk = static_cast<DWORD>(std::min(nCount - nDone, kMaxCall));
        if (!::ReadFile(Native(m_handle), p + nDone, nAsk, &nRead, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            return LastError();
        }
        if (nRead == 0)
            break;
        nDone += nRead;
    }
    return 0;
}

int CFileHandle::WriteAt(uint64_t nPos, const void* pBuf, size_t nCount)
{
    const auto* p = static_cast<const unsigned char*>(pBuf);
    size_t nDone = 0;
    while (nDone < nCount) {
        OVERLAPPED at = At(nPos + nDone);
        DWORD nWritten = 0;
        const DWORD nAsk = static_cast<DWORD>(std::min(nCount - nDone, kMaxCall));
        if (!::WriteFile(Native(m_handle), p + nDone, nAsk, &nWritten, &at))
            return LastError();
        nDone += nWritten;
    }
    return 0;
}

int CFileHandle::SyncToDisk()
{
    return ::FlushFileBuffers(Native(m_handle)) ? 0 : LastError();
}

int CFileHandle::CopyFrom(CFileHandle& from, uint64_t nPos, size_t nMax, size_t& nCopied)
{
    std::vector<unsigned char> buffer(std::min<size_t>(nMax, 1 << 20));
    if (const int nError = from.ReadAt(nPos, buffer.data(), buffer.size(), nCopied))
        return nError;
    return WriteAt(nPos, buffer.data(), nCopied);
}

void CFileHandle::AdviseSequential()
{
    // Windows takes this advice only at open (FILE_FLAG_SEQUENTIAL_SCAN).
}

void CFileHandle::StartWriteBack(uint64_t, uint64_t)
{
    // Windows has no call that only starts the write-out.
}
