#pragma once
// What one repair run answers to and tells, handed to the engine by whoever
// starts the run: the stop flag, progress value and pause gate it shares
// with its starter (CRepairRunState: the process-wide one for the desktop
// program and a single command-line repair, one of its own for each worker
// of a batch), the progress sink that shows how far it is, the reporter of
// what went wrong, and the report of what it did. Nothing of a run passes
// through state of the thread or the process besides what the starter put
// in here.

#include "repair/RepairProgressSink.h"
#include "repair/RepairReport.h"
#include "repair/StopToken.h"

#include <string>

class CErrorReporter;

class CRepairContext {
public:
    // pProgress may be null: the run shows no progress. pReporter may be
    // null: errors go to the program's reporter (platform/ErrorReporter.h).
    explicit CRepairContext(CRepairRunState& state, IRepairProgressSink* pProgress = nullptr,
                            CErrorReporter* pReporter = nullptr);
    CRepairContext(const CRepairContext&) = delete;
    CRepairContext& operator=(const CRepairContext&) = delete;

    CRepairRunState& State() { return m_state; }
    CStopToken StopToken() { return CStopToken(m_state); }
    // One poll: waits while paused, then tells whether a stop was asked for.
    bool StopRequested() { return StopToken().Requested(); }
    // Whether a stop was asked for, without waiting.
    bool IsStopSet() const { return m_state.IsStopSet(); }

    // A run starts: its stop flag is cleared and the sink will hear the
    // first status and value whatever they are.
    void BeginRun();
    bool HasProgressSink() const { return m_pProgress != nullptr; }
    // The status line and the bar, passed on only when they change.
    void SetStatus(const std::string& strText);
    void SetProgress(int nValue);
    void ShowPreview();

    void ReportError(const std::string& strText);
    // Where the run's errors go (null: the program's reporter); the storage
    // engine below the run is handed it too.
    CErrorReporter* Reporter() const { return m_pReporter; }

    RepairReport& Report() { return m_report; }
    const RepairReport& Report() const { return m_report; }

private:
    CRepairRunState& m_state;
    IRepairProgressSink* m_pProgress;
    CErrorReporter* m_pReporter;
    RepairReport m_report;
    // Last values handed to the progress sink, so that it hears of changes only.
    std::string m_strLastStatus;
    int m_nLastProgress = -1;
    bool m_bStatusSent = false;
};
