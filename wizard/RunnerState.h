#pragma once
// Process-wide state of the repair batch runner. Written by the runner
// (wizard/RepairRunner.h) only; read by the wizard view, saving and the exit
// command.
//
// The selected file and the outcome are read and written on the GUI thread
// only: a repair thread hands its outcome to the GUI thread, which records it. The flags
// are atomics because the exit command and the Stop command read them while
// a repair thread may be ending.

#include "repair/RepairOutcome.h"

#include <atomic>
#include <optional>
#include <string>

// The file to repair: the path box's text at the last start, as typed
// (letter case kept; only derived names are lower-cased).
extern std::string g_strSelectedFile;
// Outcome of the last run: none (none yet, or a run is under way), Done or
// Failed.
extern std::optional<RepairOutcome> g_repairOutcome;
// True from the start of a run until its repair thread ends or the user
// confirms Stop.
extern std::atomic<bool> g_bRepairRunning;
// True after the user confirmed Stop, until the stopped repair thread ended.
extern std::atomic<bool> g_bRepairStopped;

// g_bRepairRunning: the exit and Back commands refuse to act while it holds.
bool IsRepairRunning();
