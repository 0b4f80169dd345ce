#pragma once
// Process-wide state shared between a repair run and whoever started it.

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
// calls Wait() at every point where it polls g_bStopRepair.
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

// One poll of the engine: waits while paused, then reports whether a stop
// was asked for.
inline bool RepairStopRequested()
{
    g_repairPauseGate.Wait();
    return g_bStopRepair.load(std::memory_order_relaxed) != 0;
}
