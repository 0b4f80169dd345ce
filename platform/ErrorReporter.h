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

// Sends the text to the current process-wide reporter.
void ReportErrorText(const std::string& strText);

// Sends the text to pReporter, or to the process-wide reporter when it is
// null: parallel repairs each hand their own down to the engines.
void ReportErrorText(CErrorReporter* pReporter, const std::string& strText);

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
