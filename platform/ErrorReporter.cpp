#include "platform/ErrorReporter.h"

#include <atomic>
#include <cstdio>
#include <utility>

namespace {

class CStderrReporter : public CErrorReporter {
public:
    void Report(const std::string& strText) override
    {
        std::fprintf(stderr, "%s\n", strText.c_str());
    }
};

CStderrReporter g_stderrReporter;
std::atomic<CErrorReporter*> g_pReporter{&g_stderrReporter};
thread_local CErrorReporter* t_pThreadReporter = nullptr;

} // namespace

CErrorReporter* SetErrorReporter(CErrorReporter* pReporter)
{
    CErrorReporter* pOld = g_pReporter.exchange(pReporter ? pReporter : &g_stderrReporter);
    return pOld == &g_stderrReporter ? nullptr : pOld;
}

void ReportErrorText(const std::string& strText)
{
    if (t_pThreadReporter != nullptr)
        t_pThreadReporter->Report(strText);
    else
        g_pReporter.load()->Report(strText);
}

CErrorReporter* SetThreadErrorReporter(CErrorReporter* pReporter)
{
    return std::exchange(t_pThreadReporter, pReporter);
}

void CRecordingReporter::Report(const std::string& strText)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(strText);
}

std::vector<std::string> CRecordingReporter::Messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

void CRecordingReporter::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}
