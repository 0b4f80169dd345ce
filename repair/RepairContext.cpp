#include "repair/RepairContext.h"

#include "platform/ErrorReporter.h"

CRepairContext::CRepairContext(CRepairRunState& state, IRepairProgressSink* pProgress, CErrorReporter* pReporter)
    : m_state(state), m_pProgress(pProgress), m_pReporter(pReporter)
{
}

void CRepairContext::BeginRun()
{
    m_state.Stop().store(0);
    m_strLastStatus.clear();
    m_bStatusSent = false;
    m_nLastProgress = -1;
}

void CRepairContext::SetStatus(const std::string& strText)
{
    if (m_bStatusSent && strText == m_strLastStatus)
        return;
    m_bStatusSent = true;
    m_strLastStatus = strText;
    if (m_pProgress != nullptr)
        m_pProgress->SetStatusText(strText);
}

void CRepairContext::SetProgress(int nValue)
{
    if (nValue == m_nLastProgress)
        return;
    m_nLastProgress = nValue;
    if (m_pProgress != nullptr)
        m_pProgress->SetProgress(nValue);
}

void CRepairContext::ShowPreview()
{
    if (m_pProgress != nullptr)
        m_pProgress->ShowPreview();
}

void CRepairContext::ReportError(const std::string& strText)
{
    ReportErrorText(m_pReporter, strText);
}
