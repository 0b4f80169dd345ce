#include "wizard/ErrorMessageDigest.h"

#include "wizard/MessageBoxService.h"

#include <algorithm>

namespace {

QString FromUtf8(const std::string& str)
{
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

QString Times(int nCount)
{
    return nCount == 1 ? QStringLiteral("1 more time") : QStringLiteral("%1 more times").arg(nCount);
}

} // namespace

CErrorMessageDigest& CErrorMessageDigest::Instance()
{
    static CErrorMessageDigest digest;
    return digest;
}

void CErrorMessageDigest::BeginRun()
{
    m_bInRun = true;
    m_repeats.clear();
    m_aOrder.clear();
}

void CErrorMessageDigest::EndRun(bool bTellRepeats)
{
    if (!m_bInRun)
        return;
    std::vector<std::pair<std::string, int>> aRepeats;
    for (const std::string& strText : m_aOrder) {
        const int nCount = m_repeats[strText];
        if (nCount > 0)
            aRepeats.emplace_back(strText, nCount);
    }
    m_bInRun = false;
    m_repeats.clear();
    m_aOrder.clear();
    if (!bTellRepeats || aRepeats.empty())
        return;
    // A note of an earlier run still waiting is kept in front of this one.
    if (!m_strPendingNote.isEmpty())
        m_strPendingNote += QStringLiteral("\n\n");
    m_strPendingNote += RepeatNote(aRepeats);
    ShowPendingNote();
}

void CErrorMessageDigest::Deliver(const std::string& strText)
{
    if (m_bInRun) {
        const auto [it, bNew] = m_repeats.try_emplace(strText, 0);
        if (!bNew) {
            ++it->second;
            return;
        }
        m_aOrder.push_back(strText);
    }
    ++m_nOpenBoxes;
    AppMessageBox(nullptr, FromUtf8(strText), MsgButtons::Ok, MsgIcon::Warning);
    --m_nOpenBoxes;
    ShowPendingNote();
}

void CErrorMessageDigest::ShowPendingNote()
{
    if (m_nOpenBoxes > 0 || m_strPendingNote.isEmpty())
        return;
    const QString strNote = std::move(m_strPendingNote);
    m_strPendingNote.clear();
    ++m_nOpenBoxes;
    AppMessageBox(nullptr, strNote, MsgButtons::Ok, MsgIcon::Information);
    --m_nOpenBoxes;
    // A run that ended while the note was open left its own.
    ShowPendingNote();
}

QString CErrorMessageDigest::RepeatNote(const std::vector<std::pair<std::string, int>>& aRepeats)
{
    QString strNote = QStringLiteral("These messages came again during the repair and were shown once:");
    const int nNamed = std::min(static_cast<int>(aRepeats.size()), kMaxNotedMessages);
    for (int i = 0; i < nNamed; ++i) {
        strNote += QStringLiteral("\n\n\u201C%1\u201D\n%2").arg(FromUtf8(aRepeats[i].first),
                                                             Times(aRepeats[i].second));
    }
    const int nOthers = static_cast<int>(aRepeats.size()) - nNamed;
    if (nOthers > 0) {
        int nCount = 0;
        for (size_t i = static_cast<size_t>(nNamed); i < aRepeats.size(); ++i)
            nCount += aRepeats[i].second;
        strNote += QStringLiteral("\n\nand %1 other messages, %2 repeats in all")
                       .arg(nOthers)
                       .arg(nCount);
    }
    return strNote;
}
