#pragma once
// dbfrepair repair SOURCE... -o DIR [--jobs N] [--recursive]: many tables,
// repaired by N worker threads, one table at a time each.
//
// Each worker runs the shared repair job (repair/RepairJob.h) with a run
// state, an error reporter and a work folder of its own, so no stop flag,
// progress value or message of one table reaches another. Threads rather
// than a process a worker: one process keeps one temporary folder and one
// signal handler, the results need no pipe, and a thousand small tables do
// not pay a program start each. Memory stays bounded per worker because the
// engine reads and writes through fixed-size windows, whatever the table
// size.
//
// The main thread alone writes the output: a JSON line a table as it
// finishes (--json) or a line a table, a progress line on a terminal, and
// at the end a summary with the failures, the losses and the stale index
// files.

#include "cli/RepairArguments.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

class CRepairRunState;

class CBatchRepair {
public:
    // pAbort: set by a stop signal; every worker then ends its table
    // cleanly and takes no other.
    CBatchRepair(const RepairArguments& args, const std::atomic<int>* pAbort);

    // Returns the exit code: 128 + the signal when stopped, else 1 when any
    // table or folder failed, 3 when any table was saved with losses, 0
    // otherwise; 2 for bad usage.
    int Run(std::ostream& out, std::ostream& err);

private:
    struct Item {
        std::string strSource;
        std::string strRelFolder; // "" for a table named on the command line
        uint64_t nBytes = 0;
    };
    struct Result;
    struct Shared;

    // The tables the sources name, without repeats; folders that cannot be
    // read are reported on err and counted as failures.
    void Collect(std::ostream& err);
    // Adds the tables of the folder root (and, with --recursive, of its
    // subfolders but the output folder) to tables; a folder that cannot be
    // read is reported on err and counted as a failure, and the walk goes
    // on.
    void Walk(const std::filesystem::path& root, std::vector<std::filesystem::path>& tables, std::ostream& err);
    void Work(Shared& shared);
    Result RepairOne(const Item& item, const std::string& strWorkFolder, std::atomic<uint64_t>& slot,
                     CRepairRunState& state);
    // One table's JSON line, or its text line when no progress line is shown.
    void PrintTable(const Result& r, bool bTerminal, std::ostream& out) const;
    std::string ProgressLine(size_t nTablesDone, uint64_t nBytes, uint64_t nBytesTotal, double dElapsed) const;
    // Prints the summary, the short table and the verdict; returns the exit
    // code.
    int Summarize(const std::vector<Result>& results, uint64_t nBytesDone, double dSeconds, std::ostream& out,
                  std::ostream& err) const;

    const RepairArguments& m_args;
    const std::atomic<int>* m_pAbort;
    std::vector<Item> m_items;
    std::vector<std::string> m_folderErrors; // "folder: reason"; each counts as a failure
    std::string m_strRefusal; // why the batch could not start (its output folder), or empty
};
