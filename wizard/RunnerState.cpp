#include "wizard/RunnerState.h"

std::string g_strSelectedFile;
std::optional<RepairOutcome> g_repairOutcome;
std::atomic<bool> g_bRepairRunning{false};
std::atomic<bool> g_bRepairStopped{false};

bool IsRepairRunning()
{
    return g_bRepairRunning.load();
}
