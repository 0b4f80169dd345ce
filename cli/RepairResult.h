#pragma once
// One table's result of dbfrepair repair as --json prints it: the same keys
// for a single repair and for each table of a batch, so that one reader
// takes both. A table refused before its run has no report (null) and the
// reason in "error".

#include "repair/RepairOutcome.h"
#include "repair/RepairPaths.h"

#include <cstdint>
#include <string>

struct RepairReport;

struct RepairResult {
    std::string strSource;
    RepairOutcome outcome = RepairOutcome::Failed;
    SavedRepairFiles saved;           // empty paths when nothing was saved
    int nFields = 0;
    uint64_t nBytes = 0;              // of the source table and its memo file
    double dSeconds = 0;
    bool bDryRun = false;
    int nExitCode = 1;                // what a repair of this table alone exits with
    std::string strError;             // why it failed; empty when Done
    const RepairReport* pReport = nullptr; // null when the run never started
};

// One JSON object, no newline.
std::string RepairResultToJson(const RepairResult& result);

// The exit code of a repair of one table that ended with outcome; the
// report tells of losses when it was Done.
int RepairExitCode(RepairOutcome outcome, const RepairReport* pReport);
