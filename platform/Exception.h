#pragma once
// Base of the exceptions that carry a user-facing message (the storage
// engine's CDBFException and the file layer's CFileException).

#include <exception>
#include <string>

class CErrorReporter;

class CException : public std::exception {
public:
    ~CException() override = default;

    // Copies at most nMaxError - 1 characters of the message and a NUL into
    // lpszError. Sets *pnHelpContext to 0 when asked for. Returns true when a
    // message exists.
    virtual bool GetErrorMessage(char* lpszError, unsigned nMaxError,
                                 unsigned* pnHelpContext = nullptr) const = 0;

    // The full message as text.
    std::string GetMessage() const;

    // Shows the message through pReporter, or when it is null through the
    // process's error reporter (a message box in the desktop program, a line
    // on stderr in the command-line tool).
    void ReportError(CErrorReporter* pReporter = nullptr) const;

    const char* what() const noexcept override;

private:
    mutable std::string m_strWhat;
};
