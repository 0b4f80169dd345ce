#include "repair/RepairState.h"

std::atomic<int> g_bStopRepair{0};
std::atomic<int> g_nRepairProgress{0};
CRepairPauseGate g_repairPauseGate;

void CRepairPauseGate::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bClosed.store(true);
}

void CRepairPauseGate::Open()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bClosed.store(false);
    }
    m_cv.notify_all();
}

bool CRepairPauseGate::IsClosed() const
{
    return m_bClosed.load();
}

void CRepairPauseGate::Wait()
{
    // The common case, an open gate, costs one atomic load.
    if (!m_bClosed.load(std::memory_order_acquire))
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return !m_bClosed.load(); });
}

CRepairRunState::CRepairRunState(const std::atomic<int>* pAbort)
    : m_pStop(&m_nOwnStop), m_pProgress(&m_nOwnProgress), m_pGate(&m_ownGate), m_pAbort(pAbort)
{
}

CRepairRunState::CRepairRunState(std::atomic<int>* pStop, std::atomic<int>* pProgress, CRepairPauseGate* pGate)
    : m_pStop(pStop), m_pProgress(pProgress), m_pGate(pGate)
{
}

CRepairRunState& ProcessRunState()
{
    static CRepairRunState s_state(&g_bStopRepair, &g_nRepairProgress, &g_repairPauseGate);
    return s_state;
}
