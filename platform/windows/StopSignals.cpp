#include "platform/StopSignals.h"

#include <windows.h>

namespace {

// The numbers Linux gives these stops, so that the exit status is the same
// on both systems (130 after Ctrl-C).
constexpr int kInterrupt = 2;
constexpr int kHangUp = 1;
constexpr int kTerminate = 15;

} // namespace

namespace {

PHANDLER_ROUTINE g_pHandler = nullptr;

} // namespace

CStopSignals::CStopSignals(std::atomic<int>* pStopFlag)
{
    Claim(pStopFlag);
    // The system calls the handler on a thread of its own.
    g_pHandler = [](DWORD nEvent) -> BOOL {
        switch (nEvent) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            OnSignal(kInterrupt);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            OnSignal(nEvent == CTRL_CLOSE_EVENT ? kHangUp : kTerminate);
            // The process ends when the handler returns: wait here while the
            // run winds down and removes its temporary files (the system
            // allows a few seconds).
            ::Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
        }
    };
    ::SetConsoleCtrlHandler(g_pHandler, TRUE);
}

CStopSignals::~CStopSignals()
{
    ::SetConsoleCtrlHandler(g_pHandler, FALSE);
    s_pStopFlag.store(nullptr);
}
