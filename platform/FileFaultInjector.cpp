#include "platform/FileFaultInjector.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace {

// The shell's wildcards as tests write them: "*" any run of characters
// (folder separators included), "?" one character, "[fF]" one of a set
// ("a-z" a range in it).

// Whether the one-character token at strPattern[p] takes c; nNext gets
// where the next token starts.
bool TokenTakes(const std::string& strPattern, size_t p, char c, size_t& nNext)
{
    if (strPattern[p] == '?') {
        nNext = p + 1;
        return true;
    }
    const size_t nClose = strPattern[p] == '[' ? strPattern.find(']', p + 2) : std::string::npos;
    if (nClose == std::string::npos) {
        nNext = p + 1;
        return strPattern[p] == c;
    }
    nNext = nClose + 1;
    for (size_t i = p + 1; i < nClose; ++i) {
        if (i + 2 < nClose && strPattern[i + 1] == '-') {
            if (strPattern[i] <= c && c <= strPattern[i + 2])
                return true;
            i += 2;
        } else if (strPattern[i] == c) {
            return true;
        }
    }
    return false;
}

bool MatchesPattern(const std::string& strPattern, const std::string& strText)
{
    size_t p = 0;
    size_t t = 0;
    size_t nStar = std::string::npos;
    size_t nStarText = 0;
    while (t < strText.size()) {
        size_t nNext = 0;
        if (p < strPattern.size() && strPattern[p] == '*') {
            nStar = p++;
            nStarText = t;
        } else if (p < strPattern.size() && TokenTakes(strPattern, p, strText[t], nNext)) {
            p = nNext;
            ++t;
        } else if (nStar != std::string::npos) {
            p = nStar + 1;
            t = ++nStarText;
        } else {
            return false;
        }
    }
    while (p < strPattern.size() && strPattern[p] == '*')
        ++p;
    return p == strPattern.size();
}

} // namespace

std::atomic<bool> CFileFaultInjector::s_bArmed{false};
std::atomic<CFileFaultInjector*> CFileFaultInjector::s_pActive{nullptr};

CFileFaultInjector::CFileFaultInjector(const FileFault& fault) : m_fault(fault)
{
    if (m_fault.nError == 0)
        m_fault.nError = m_fault.nKind == FileFault::failRead ? EIO
            : m_fault.nKind == FileFault::failRemove          ? EACCES
                                                              : ENOSPC;
    CFileFaultInjector* pNone = nullptr;
    if (!s_pActive.compare_exchange_strong(pNone, this))
        throw std::logic_error("only one file fault injector may be alive");
    s_bArmed.store(true);
}

CFileFaultInjector::~CFileFaultInjector()
{
    s_bArmed.store(false);
    s_pActive.store(nullptr);
}

uint64_t CFileFaultInjector::GetCallCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCalls;
}

uint64_t CFileFaultInjector::GetStrikeCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nStrikes;
}

std::string CFileFaultInjector::GetStruckPath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strStruckPath;
}

bool CFileFaultInjector::Matches(const std::string& strPath) const
{
    return m_fault.strPathPattern.empty() || MatchesPattern(m_fault.strPathPattern, strPath);
}

bool CFileFaultInjector::Strikes(const std::string& strPath, uint64_t nOffset, size_t nCount)
{
    bool bHit = false;
    if (m_fault.bSticky && m_nStrikes > 0)
        bHit = true;
    else if (m_fault.nCall != 0)
        bHit = m_nCalls == m_fault.nCall;
    else
        bHit = m_fault.nOffset >= nOffset && m_fault.nOffset - nOffset < nCount;
    if (bHit) {
        ++m_nStrikes;
        m_strStruckPath = strPath;
        if (m_fault.pfnOnStrike)
            m_fault.pfnOnStrike();
    }
    return bHit;
}

int CFileFaultInjector::OnWrite(const std::string& strPath, uint64_t nOffset, size_t nCount)
{
    CFileFaultInjector* p = s_pActive;
    const bool bWatch = p != nullptr && p->m_fault.nKind == FileFault::watchWrite;
    if (p == nullptr || (p->m_fault.nKind != FileFault::failWrite && !bWatch))
        return 0;
    std::lock_guard<std::mutex> lock(p->m_mutex);
    if (!p->Matches(strPath))
        return 0;
    ++p->m_nCalls;
    return p->Strikes(strPath, nOffset, nCount) && !bWatch ? p->m_fault.nError : 0;
}

int CFileFaultInjector::OnRead(const std::string& strPath, uint64_t nOffset, size_t& nCount)
{
    CFileFaultInjector* p = s_pActive;
    if (p == nullptr || (p->m_fault.nKind != FileFault::failRead && p->m_fault.nKind != FileFault::shortRead))
        return 0;
    std::lock_guard<std::mutex> lock(p->m_mutex);
    if (!p->Matches(strPath))
        return 0;
    ++p->m_nCalls;
    if (!p->Strikes(strPath, nOffset, nCount))
        return 0;
    if (p->m_fault.nKind == FileFault::failRead)
        return p->m_fault.nError;
    // Short: the file seems to end at the offset (or where the call starts).
    if (p->m_fault.nCall == 0)
        nCount = p->m_fault.nOffset > nOffset
            ? static_cast<size_t>(std::min<uint64_t>(nCount, p->m_fault.nOffset - nOffset))
            : 0;
    else
        nCount = 0;
    return 0;
}

int CFileFaultInjector::OnRemove(const std::string& strPath)
{
    CFileFaultInjector* p = s_pActive;
    if (p == nullptr || p->m_fault.nKind != FileFault::failRemove)
        return 0;
    std::lock_guard<std::mutex> lock(p->m_mutex);
    if (!p->Matches(strPath))
        return 0;
    ++p->m_nCalls;
    return p->Strikes(strPath, 0, 0) ? p->m_fault.nError : 0;
}
