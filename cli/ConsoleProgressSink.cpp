#include "cli/ConsoleProgressSink.h"

#include <ostream>

namespace {

constexpr int kBarWidth = 30;

} // namespace

CConsoleProgressSink::CConsoleProgressSink(std::ostream& out, bool bTerminal) : m_out(out), m_bTerminal(bTerminal) {}

CConsoleProgressSink::~CConsoleProgressSink()
{
    Finish();
}

void CConsoleProgressSink::SetStatusText(const std::string& strText)
{
    m_strStatus = strText;
    if (m_bTerminal) {
        Draw();
        return;
    }
    m_out << strText << "\n";
    m_out.flush();
}

void CConsoleProgressSink::SetProgress(int nValue)
{
    // 0 leaves the bar where it is, as the wizard's bar does.
    if (nValue <= 0)
        return;
    m_nValue = nValue > 100 ? 100 : nValue;
    if (m_bTerminal) {
        Draw();
        return;
    }
    const int nTenth = m_nValue / 10;
    if (nTenth != m_nLastTenth && nTenth > 0) {
        m_nLastTenth = nTenth;
        m_out << nTenth * 10 << "%\n";
        m_out.flush();
    }
}

void CConsoleProgressSink::ShowPreview() {}

void CConsoleProgressSink::Draw()
{
    const int nFilled = m_nValue * kBarWidth / 100;
    std::string strBar(static_cast<size_t>(nFilled), '#');
    strBar.append(static_cast<size_t>(kBarWidth - nFilled), '.');
    m_out << "\r\x1b[K" << m_strStatus << " [" << strBar << "] " << m_nValue << "%";
    m_out.flush();
    m_bLineOpen = true;
}

void CConsoleProgressSink::Finish()
{
    if (m_bLineOpen) {
        m_out << "\n";
        m_out.flush();
        m_bLineOpen = false;
    }
}
