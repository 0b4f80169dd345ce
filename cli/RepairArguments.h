#pragma once
// The command line of dbfrepair repair, for one table and for a batch, and
// the few texts both forms print alike.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct RepairArguments {
    std::vector<std::string> sources; // tables, and folders for a batch
    std::string strFolder = ".";
    std::string strPrefix;
    bool bJson = false;
    bool bQuiet = false;
    bool bUndelete = false;
    bool bDryRun = false;
    std::string strReport; // empty: no report file
    bool bForce = false;   // the report may replace an existing file
    std::string strMemo;   // empty: the memo file beside the table
    int nJobs = 0;         // 0: one worker per core
    bool bJobsGiven = false;
    bool bRecursive = false;

    // More than one source, a folder, --jobs or --recursive make a batch.
    bool IsBatch() const;
};

// Parses the arguments that follow "repair". Returns the exit code when the
// command ends here (after the help, or a usage error written on err).
std::optional<int> ParseRepairArguments(const std::vector<std::string>& argv, std::ostream& out,
                                        std::ostream& err, void (*pfnHelp)(std::ostream&),
                                        RepairArguments& args);

// Why a run failed, for the JSON output: the engine's messages, one a line.
std::string FailureText(const std::vector<std::string>& messages, bool bStopped);

// Seconds with three decimals, as the batch summary prints them.
std::string SecondsText(double dSeconds);
