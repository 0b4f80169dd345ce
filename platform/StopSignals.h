#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into a stop request for as long as the
// object lives (on Windows: Ctrl-C and Ctrl-Break as SIGINT, a closed
// console as SIGHUP, logoff and shutdown as SIGTERM, through the console
// control handler): the handler only stores into two lock-free atomics (the
// caller's stop flag and the signal number), which is all a signal handler
// may safely do. The program then winds down on its own path, removing its
// temporary files, and ends with ExitStatus() (128 + the signal, as a shell
// reports a process killed by it).
//
// SIGXFSZ is ignored meanwhile, so that a write over the file-size limit
// (ulimit -f) fails with EFBIG and is reported like any write error, instead
// of killing the process with its temporary files left behind.
//
// Only one object may be alive at a time.

#include <atomic>

class CStopSignals {
public:
    explicit CStopSignals(std::atomic<int>* pStopFlag);
    ~CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    // The first stop signal that arrived, or 0.
    static int GetSignal() { return s_nSignal.load(std::memory_order_relaxed); }
    // 128 + GetSignal(), or 0 when none arrived.
    static int ExitStatus();

private:
    static void OnSignal(int nSignal);
    // Makes pStopFlag the one the handler sets, and clears the signal;
    // raises std::logic_error while another object is alive.
    static void Claim(std::atomic<int>* pStopFlag);

    static std::atomic<int> s_nSignal;
    static std::atomic<std::atomic<int>*> s_pStopFlag;
};
