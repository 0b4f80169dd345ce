#pragma once
// The file layer's exception: the cause, the OS error number and the path.

#include "platform/Exception.h"

#include <string>

class CFileException : public CException {
public:
    enum Cause {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    CFileException() = default;
    CFileException(Cause cause, int nOsError, std::string strFileName);

    // Maps an errno value to a cause.
    static Cause OsErrorToCause(int nOsError);

    bool GetErrorMessage(char* lpszError, unsigned nMaxError,
                         unsigned* pnHelpContext = nullptr) const override;

    Cause m_cause = none;
    int m_lOsError = 0;
    std::string m_strFileName;
};

[[noreturn]] void ThrowFileException(CFileException::Cause cause, int nOsError,
                                     const std::string& strFileName);
// Throws the exception for the current errno.
[[noreturn]] void ThrowOsFileError(int nOsError, const std::string& strFileName);
