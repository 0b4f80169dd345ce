#include "cli/ConsoleProgressSink.h"

#include <ostream>

namespace {

constexpr int kBarWidth = 30;

} // namespace

CConsoleProgressSink::CConsoleProgressSink(std::ostream& out) : m_out(out) {}

CConsoleProgressSink::~CConsoleProgressSink()
{
    Finish();
}

void CConsoleProgressSink::SetStatusText(const std::string& strText)
{
    m_strStatus = strText;
    Draw();
}

void CConsoleProgressSink::SetProgress(int nValue)
{
    // 0 leaves the bar where it is, as the wizard's bar does.
    if (nValue <= 0)
        return;
    m_nValue = nValue > 100 ? 100 : nValue;
    Draw();
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
