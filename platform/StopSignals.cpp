#include "platform/StopSignals.h"

#include <stdexcept>

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");
static_assert(std::atomic<std::atomic<int>*>::is_always_lock_free, "the signal handler needs a lock-free pointer");

std::atomic<int> CStopSignals::s_nSignal{0};
std::atomic<std::atomic<int>*> CStopSignals::s_pStopFlag{nullptr};

void CStopSignals::Claim(std::atomic<int>* pStopFlag)
{
    std::atomic<int>* pNone = nullptr;
    if (!s_pStopFlag.compare_exchange_strong(pNone, pStopFlag))
        throw std::logic_error("only one CStopSignals may be alive");
    s_nSignal.store(0);
}

int CStopSignals::ExitStatus()
{
    const int nSignal = GetSignal();
    return nSignal == 0 ? 0 : 128 + nSignal;
}

void CStopSignals::OnSignal(int nSignal)
{
    // The first signal names the exit status; later ones only repeat the ask.
    int nNone = 0;
    s_nSignal.compare_exchange_strong(nNone, nSignal, std::memory_order_relaxed);
    if (std::atomic<int>* pFlag = s_pStopFlag.load(std::memory_order_relaxed))
        pFlag->store(1, std::memory_order_relaxed);
}
