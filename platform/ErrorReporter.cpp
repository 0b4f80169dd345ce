#include "platform/ErrorReporter.h"

#include <atomic>
#include <cstdio>

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

} // namespace

CErrorReporter* SetErrorReporter(CErrorReporter* pReporter)
{
    CErrorReporter* pOld = g_pReporter.exchange(pReporter ? pReporter : &g_stderrReporter);
    return pOld == &g_stderrReporter ? nullptr : pOld;
}

void ReportErrorText(const std::string& strText)
{
    g_pReporter.load()->Report(strText);
}

void ReportErrorText(CErrorReporter* pReporter, const std::string& strText)
{
    if (pReporter != nullptr)
        pReporter->Report(strText);
    else
        ReportErrorText(strText);
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
