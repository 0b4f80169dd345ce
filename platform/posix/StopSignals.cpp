#include "platform/StopSignals.h"

#include <csignal>
#include <iterator>

namespace {

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// The handlers before the object's, given back when it goes (one object at
// a time).
struct sigaction g_previous[3] {};
struct sigaction g_previousFileSize {};

} // namespace

CStopSignals::CStopSignals(std::atomic<int>* pStopFlag)
{
    Claim(pStopFlag);
    struct sigaction action {};
    action.sa_handler = &CStopSignals::OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int nSignal : kStopSignals)
        sigaddset(&action.sa_mask, nSignal);
    // Interrupted reads and writes go on; the run notices the flag itself.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &action, &g_previous[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, &g_previousFileSize);
}

CStopSignals::~CStopSignals()
{
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
    ::sigaction(SIGXFSZ, &g_previousFileSize, nullptr);
    s_pStopFlag.store(nullptr);
}
