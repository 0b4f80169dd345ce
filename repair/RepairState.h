#pragma once
// The state a repair run shares with whoever started it: the stop flag, the
// progress value and the pause gate.
//
// The desktop program and a single command-line repair use the process-wide
// ones below (ProcessRunState). A batch runs several engines at once, one a
// thread; each then gets a CRepairRunState of its own, so that one run's
// stop, progress and pause never touch another's. The engine reaches the
// state only through the run's context (repair/RepairContext.h).

#include <atomic>
#include <condition_variable>
#include <mutex>

// Set to 1 to ask the running repair to stop; the engine clears it when a run
// starts and polls it while working.
extern std::atomic<int> g_bStopRepair;
// The last progress value of the salvage loop (0..49).
extern std::atomic<int> g_nRepairProgress;

// Holds the repair thread still while the user answers the Stop question.
// The GUI closes the gate before asking and opens it afterwards; the engine
// calls Wait() at every point where it polls the stop flag.
class CRepairPauseGate {
public:
    void Close();
    void Open();
    bool IsClosed() const;
    // Returns at once while open; blocks while closed.
    void Wait();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<bool> m_bClosed{false};
};

extern CRepairPauseGate g_repairPauseGate;

// One run's stop flag, progress value and pause gate.
class CRepairRunState {
public:
    // A state of its own. pAbort, when given, is a flag that stops this run
    // as well and that the run never clears (a batch's Ctrl-C).
    explicit CRepairRunState(const std::atomic<int>* pAbort = nullptr);
    // A state over existing flags (the process-wide ones).
    CRepairRunState(std::atomic<int>* pStop, std::atomic<int>* pProgress, CRepairPauseGate* pGate);
    CRepairRunState(const CRepairRunState&) = delete;
    CRepairRunState& operator=(const CRepairRunState&) = delete;

    std::atomic<int>& Stop() { return *m_pStop; }
    std::atomic<int>& Progress() { return *m_pProgress; }
    CRepairPauseGate& Gate() { return *m_pGate; }
    // True when this run was asked to stop, or its abort flag is set.
    bool IsStopSet() const
    {
        return m_pStop->load(std::memory_order_relaxed) != 0
            || (m_pAbort != nullptr && m_pAbort->load(std::memory_order_relaxed) != 0);
    }

private:
    std::atomic<int> m_nOwnStop{0};
    std::atomic<int> m_nOwnProgress{0};
    CRepairPauseGate m_ownGate;
    std::atomic<int>* m_pStop;
    std::atomic<int>* m_pProgress;
    CRepairPauseGate* m_pGate;
    const std::atomic<int>* m_pAbort = nullptr;
};

// The state over g_bStopRepair, g_nRepairProgress and g_repairPauseGate.
CRepairRunState& ProcessRunState();
