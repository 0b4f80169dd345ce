#include "platform/FileException.h"

#include "platform/FileSystem.h"
#include "platform/OsError.h"
#include "platform/TempFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

CFileException::CFileException(Cause cause, int nOsError, std::string strFileName)
    : m_cause(cause), m_lOsError(nOsError), m_strFileName(std::move(strFileName))
{
}

namespace {

// A full disk or a used-up quota (which Windows does not tell apart).
bool IsOutOfRoom(int nOsError)
{
#ifdef EDQUOT
    if (nOsError == EDQUOT)
        return true;
#endif
    return nOsError == ENOSPC;
}

} // namespace

CFileException::Cause CFileException::OsErrorToCause(int nOsError)
{
    switch (nOsError) {
    case 0: return none;
    case ENOENT: return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return badPath;
    case EMFILE:
    case ENFILE: return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBADF: return accessDenied;
    case EWOULDBLOCK: return sharingViolation;
    case ENOSPC:
    case EFBIG: return diskFull;
    case EINVAL:
    case ESPIPE: return badSeek;
    case EIO: return hardIO;
    default: return IsOutOfRoom(nOsError) ? diskFull : genericException;
    }
}

namespace {

const char* CauseText(CFileException::Cause cause)
{
    switch (cause) {
    case CFileException::none: return "No error occurred";
    case CFileException::fileNotFound: return "The file could not be located";
    case CFileException::badPath: return "All or part of the path is invalid";
    case CFileException::tooManyOpenFiles: return "Too many files are open";
    case CFileException::accessDenied: return "Access to the file was denied";
    case CFileException::invalidFile: return "The file handle is not valid";
    case CFileException::removeCurrentDir: return "The current working directory cannot be removed";
    case CFileException::directoryFull: return "There are no more directory entries";
    case CFileException::badSeek: return "Error trying to set the file pointer";
    case CFileException::hardIO: return "There was a hardware error";
    case CFileException::sharingViolation: return "The file is in use by another program";
    case CFileException::lockViolation: return "There was an attempt to lock a region that was already locked";
    case CFileException::diskFull: return "The disk is full";
    case CFileException::endOfFile: return "The end of file was reached";
    case CFileException::genericException: break;
    }
    return "An unspecified error occurred";
}

} // namespace

bool CFileException::GetErrorMessage(char* lpszError, unsigned nMaxError,
                                     unsigned* pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (!lpszError || nMaxError == 0)
        return false;
    std::string text;
    if (IsOutOfRoom(m_lOsError) && CTempFolder::IsInProcessFolder(m_strFileName)) {
        // The file is an internal one: what a person can act on is the
        // folder that is full and how to choose another.
        text = "The temporary folder " + CTempFolder::GetSystemTempPath() + " is full (" + COsError::Text(m_lOsError)
            + "): set " + CFileSystem::TempPathVariable() + " to a folder with room for a copy of the table, or make room";
    } else {
        text = m_strFileName.empty() ? std::string() : m_strFileName + ": ";
        text += CauseText(m_cause);
        if (m_lOsError != 0) {
            text += " (";
            text += COsError::Text(m_lOsError);
            text += ")";
        }
    }
    text += ".";
    const size_t n = std::min<size_t>(text.size(), nMaxError - 1);
    std::memcpy(lpszError, text.data(), n);
    lpszError[n] = '\0';
    return true;
}

void ThrowFileException(CFileException::Cause cause, int nOsError, const std::string& strFileName)
{
    throw CFileException(cause, nOsError, strFileName);
}

void ThrowOsFileError(int nOsError, const std::string& strFileName)
{
    throw CFileException(CFileException::OsErrorToCause(nOsError), nOsError, strFileName);
}
