#pragma once
// One repair of one table, as both front ends run it:
//  1. CheckSource: may this path be repaired at all? (a name, a readable
//     file, a DBF table, not locked by another program), with the message
//     to show when not;
//  2. Run: the engine repairs it into a private temporary folder; the
//     result's location is kept here, never rebuilt from the source, so a
//     source moved or deleted afterwards does not lose the result;
//  3. Save (keeps the result, for a wizard that may save again) or
//     SaveOnce (moves it, for the command-line tool): the table and its
//     memo file under the prefixed, collision-free names, whole or not at
//     all;
//  4. Discard, or the destructor: the temporary files go.
//
// A job is used by one thread at a time. Parallel jobs each run on their
// own thread with their own context (repair/RepairContext.h) and work
// folder.

#include "repair/DBFRepair.h"
#include "repair/MendedCells.h"
#include "repair/RepairPaths.h"
#include "repair/RepairReport.h"

#include <functional>
#include <memory>
#include <string>

// Why a source may not be repaired.
enum class SourceProblem {
    None,
    NoFile,      // no path given
    InvalidName, // the name holds no ".dbf"
    Unreadable,  // missing, not permitted, a folder: the system's reason
    NotATable,   // readable, but no DBF table
    InUse,       // readable, but another program holds a lock on it
};

struct SourceCheck {
    SourceProblem eProblem = SourceProblem::None;
    // What to show: the fixed texts "Please select file(s) to repair",
    // "Invalid File Name" and the in-use text, or "PATH: reason".
    std::string strMessage;

    bool IsOk() const { return eProblem == SourceProblem::None; }
    // A problem of the name as typed, not of the file.
    bool IsUsage() const { return eProblem == SourceProblem::NoFile || eProblem == SourceProblem::InvalidName; }
};

class CRepairJob {
public:
    explicit CRepairJob(std::string strSource, RepairOptions options = RepairOptions());
    // Removes the temporary result unless it was moved away or released.
    ~CRepairJob();
    CRepairJob(const CRepairJob&) = delete;
    CRepairJob& operator=(const CRepairJob&) = delete;

    static constexpr const char* kMsgNoFile = "Please select file(s) to repair";
    static constexpr const char* kMsgInvalidName = "Invalid File Name";
    static constexpr const char* kMsgInUse =
        "The process cannot access the file because it is used by another process.";

    // NameFirst: the wizard's order, a name without ".dbf" is refused
    // before the file is looked for. FileFirst (the command-line tool): a
    // mistyped path is told as missing, with the system's reason, whatever
    // its name.
    enum class SourceCheckOrder { NameFirst, FileFirst };
    static SourceCheck CheckSource(const std::string& strSource,
                                   SourceCheckOrder eOrder = SourceCheckOrder::NameFirst);

    // The folder a result may be saved into: exists, is a folder and (with
    // bWritable) takes new files. Empty when fine, else "PATH: reason".
    static std::string CheckSaveFolder(const std::string& strFolder, bool bWritable = true);

    // Where Run writes: by default the process's own temporary folder, as
    // file number nIndex + 1 of a batch. Parallel jobs give each its own
    // folder (MakeWorkFolder), so two tables of one name never meet.
    void SetWorkFolder(std::string strFolder) { m_strWorkFolder = std::move(strFolder); }
    void SetFileIndex(int nIndex) { m_nFileIndex = nIndex; }
    // A fresh folder inside the process's temporary folder, removed with it.
    static std::string MakeWorkFolder();

    // Repairs the source into the work folder for the context (its stop
    // flag, progress sink and reporter); pGrid may be null. True when the
    // run is Done (not failed, not stopped). Engine exceptions are caught:
    // GetError() then says why.
    bool Run(CRepairContext& context, IPreviewGridSink* pGrid = nullptr);

    const std::string& GetSource() const { return m_strSource; }
    bool IsDone() const { return m_bDone; }
    // "Done", "Failed", or empty before a run.
    const std::string& GetStatus() const { return m_strStatus; }
    // The reason of a failure that left the engine as an exception.
    const std::string& GetError() const { return m_strError; }
    bool WasStopped() const { return m_bStopped; }
    const RepairReport& GetReport() const { return m_report; }
    // The cells the run mended, with the source's bytes; shared with a grid
    // that marks them.
    const std::shared_ptr<const CMendedCells>& GetMendedCells() const { return m_spMendedCells; }
    const RepairStatistics& GetStatistics() const { return m_stats; }
    // The temporary repaired table; empty unless the run is Done and the
    // result not yet moved or discarded.
    const std::string& GetResultPath() const { return m_strResultPath; }

    // Copies the result into strFolder (CopyRepairedFiles); it stays here
    // for another save. Throws CFileException naming the file and reason.
    SavedRepairFiles Save(const std::string& strFolder, const std::string& strPrefix,
                          std::function<bool()> pfnCancelled = {}) const;
    // Moves the result into strFolder under the source's file name
    // (MoveRepairedFiles); the job holds no result afterwards.
    SavedRepairFiles SaveOnce(const std::string& strFolder, const std::string& strPrefix,
                              std::function<bool()> pfnCancelled = {});
    // Deletes the temporary result; returns the files that stay.
    std::vector<FileLeftBehind> Discard();
    // The result is someone else's to delete from now on.
    std::string Release();

private:
    const std::string m_strSource;
    const RepairOptions m_options;
    std::string m_strWorkFolder;
    int m_nFileIndex = 0;
    bool m_bDone = false;
    bool m_bStopped = false;
    std::string m_strStatus;
    std::string m_strError;
    RepairReport m_report;
    std::shared_ptr<const CMendedCells> m_spMendedCells = std::make_shared<const CMendedCells>();
    RepairStatistics m_stats;
    std::string m_strResultPath;
};
