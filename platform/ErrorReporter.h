#pragma once
// One replaceable place through which the engines show an error to the user.
// The desktop program installs a message-box reporter, the command-line tool
// writes a line on stderr (the default), tests install CRecordingReporter.

#include <mutex>
#include <string>
#include <vector>

class CErrorReporter {
public:
    virtual ~CErrorReporter() = default;
    virtual void Report(const std::string& strText) = 0;
};

// Installs pReporter (nullptr restores the stderr reporter); returns the
// previous one. The caller keeps ownership.
CErrorReporter* SetErrorReporter(CErrorReporter* pReporter);

// Sends the text to the calling thread's reporter (CScopedThreadErrorReporter)
// when it has one, else to the current process-wide reporter.
void ReportErrorText(const std::string& strText);

// Gives the calling thread a reporter of its own (nullptr: none, the
// process-wide one applies); returns the previous one.
CErrorReporter* SetThreadErrorReporter(CErrorReporter* pReporter);

// Keeps every reported text; safe to use from a worker thread.
class CRecordingReporter : public CErrorReporter {
public:
    void Report(const std::string& strText) override;
    std::vector<std::string> Messages() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

// Installs a reporter for the lifetime of the object, then restores the
// previous one.
class CScopedErrorReporter {
public:
    explicit CScopedErrorReporter(CErrorReporter* pReporter)
        : m_pPrevious(SetErrorReporter(pReporter)) {}
    ~CScopedErrorReporter() { SetErrorReporter(m_pPrevious); }
    CScopedErrorReporter(const CScopedErrorReporter&) = delete;
    CScopedErrorReporter& operator=(const CScopedErrorReporter&) = delete;

private:
    CErrorReporter* m_pPrevious;
};

// Gives the calling thread a reporter of its own for the lifetime of the
// object: parallel repairs each keep their own messages.
class CScopedThreadErrorReporter {
public:
    explicit CScopedThreadErrorReporter(CErrorReporter* pReporter)
        : m_pPrevious(SetThreadErrorReporter(pReporter)) {}
    ~CScopedThreadErrorReporter() { SetThreadErrorReporter(m_pPrevious); }
    CScopedThreadErrorReporter(const CScopedThreadErrorReporter&) = delete;
    CScopedThreadErrorReporter& operator=(const CScopedThreadErrorReporter&) = delete;

private:
    CErrorReporter* m_pPrevious;
};
