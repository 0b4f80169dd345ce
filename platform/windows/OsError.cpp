#include "platform/OsError.h"

#include "platform/windows/WideText.h"

#include <cerrno>
#include <cstring>
#include <windows.h>

namespace {

// Codes without an errno of their own travel as kUnmapped + the code.
constexpr int kUnmapped = 0x10000;

// errno values and the system code whose words stand for them; the first
// row of an errno is the one Text uses.
struct Pair {
    int nErrno;
    DWORD nCode;
};
constexpr Pair kPairs[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},      {ENOENT, ERROR_PATH_NOT_FOUND},
    {ENOENT, ERROR_INVALID_DRIVE},       {ENOENT, ERROR_BAD_NETPATH},
    {EACCES, ERROR_ACCESS_DENIED},       {EACCES, ERROR_WRITE_PROTECT},
    {EACCES, ERROR_CURRENT_DIRECTORY},   {EACCES, ERROR_NETWORK_ACCESS_DENIED},
    {EWOULDBLOCK, ERROR_SHARING_VIOLATION}, {EWOULDBLOCK, ERROR_LOCK_VIOLATION},
    {EEXIST, ERROR_FILE_EXISTS},         {EEXIST, ERROR_ALREADY_EXISTS},
    {ENOSPC, ERROR_DISK_FULL},           {ENOSPC, ERROR_HANDLE_DISK_FULL},
    {ENOTDIR, ERROR_DIRECTORY},          {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EINVAL, ERROR_INVALID_PARAMETER},   {EINVAL, ERROR_NEGATIVE_SEEK},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {ENOMEM, ERROR_OUTOFMEMORY},         {EIO, ERROR_IO_DEVICE},
    {EIO, ERROR_CRC},                    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EXDEV, ERROR_NOT_SAME_DEVICE},      {EPIPE, ERROR_NO_DATA},
    {EPIPE, ERROR_BROKEN_PIPE},          {ECANCELED, ERROR_OPERATION_ABORTED},
    {EBADF, ERROR_INVALID_HANDLE},       {EFBIG, ERROR_FILE_TOO_LARGE},
    {ENOSYS, ERROR_NOT_SUPPORTED},       {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
};

std::string SystemText(DWORD nCode)
{
    wchar_t* pText = nullptr;
    const DWORD nLength = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                               | FORMAT_MESSAGE_IGNORE_INSERTS,
                                           nullptr, nCode, 0, reinterpret_cast<wchar_t*>(&pText), 0, nullptr);
    std::wstring strText = nLength > 0 && pText != nullptr ? std::wstring(pText, nLength) : std::wstring();
    if (pText != nullptr)
        ::LocalFree(pText);
    while (!strText.empty() && (strText.back() == L'\r' || strText.back() == L'\n' || strText.back() == L' '))
        strText.pop_back();
    // "PATH: reason." is written around it; the system's own full stop
    // would come twice.
    if (!strText.empty() && strText.back() == L'.')
        strText.pop_back();
    return CWideText::ToUtf8(strText);
}

} // namespace

std::string COsError::Text(int nError)
{
    DWORD nCode = nError >= kUnmapped ? static_cast<DWORD>(nError - kUnmapped) : 0;
    for (const Pair& pair : kPairs) {
        if (nCode == 0 && pair.nErrno == nError)
            nCode = pair.nCode;
    }
    if (nCode != 0) {
        const std::string strText = SystemText(nCode);
        if (!strText.empty())
            return strText;
    }
    return std::strerror(nError);
}

int COsError::FromSystem(unsigned long nSystemError)
{
    if (nSystemError == ERROR_SUCCESS)
        return 0;
    for (const Pair& pair : kPairs) {
        if (pair.nCode == nSystemError)
            return pair.nErrno;
    }
    return kUnmapped + static_cast<int>(nSystemError);
}
