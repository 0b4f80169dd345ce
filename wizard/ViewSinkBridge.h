#pragma once
// The wizard view's two engine sinks (and its repair log) as the repair
// thread sees them. Every call is handed to the GUI thread in the order it
// was made; the view's controls are touched only there.
//
// Cheap by construction: a progress value is passed on only when it changed,
// and preview rows are collected on the repair thread into batches of a few
// thousand rows (or 50 ms of work) that reach the grid in one queued call
// each. At most a few batches are in flight; when the GUI falls behind, the
// repair thread waits, so a table of millions of rows neither floods the
// event loop nor piles up in memory.
//
// Detach() (GUI thread) cuts the bridge off: everything still queued or
// called later is dropped and the repair thread never waits again. A stopped
// run is detached so that its last moments leave the wizard alone.

#include "repair/PreviewGridSink.h"
#include "repair/RepairProgressSink.h"
#include "wizard/PreviewRowBatch.h"
#include "wizard/RepairLog.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QObject;
class CPreviewListCtrl;

// What the bridge drives on the GUI thread.
struct ViewSinkTargets {
    QObject* pContext = nullptr;              // calls run in this object's thread
    IRepairProgressSink* pProgress = nullptr; // status line, progress bar, preview switch
    IRepairLog* pLog = nullptr;               // the repair log
    CPreviewListCtrl* pGrid = nullptr;        // the preview grid
};

class CViewSinkBridge : public IRepairProgressSink,
                        public IPreviewGridSink,
                        public IRepairLog,
                        public std::enable_shared_from_this<CViewSinkBridge> {
public:
    static constexpr int kBatchRows = 4096;
    static constexpr std::chrono::milliseconds kBatchTime{50};
    static constexpr int kMaxBatchesInFlight = 3;

    static std::shared_ptr<CViewSinkBridge> Create(const ViewSinkTargets& targets);
    ~CViewSinkBridge() override;

    // Repair thread side.
    void SetStatusText(const std::string& strText) override;
    void SetProgress(int nValue) override;
    void ShowPreview() override;
    void ClearGrid() override;
    void InsertColumn(int nIndex, const std::string& strHeading) override;
    void InsertRow(int nIndex, const std::string& strLabel) override;
    void SetCellText(int nRow, int nColumn, const std::string& strText) override;
    void SetRowDeleted(int nRow) override;
    void AppendLog(const std::string& strText) override;
    void ScrollLog(int nLines) override;
    // Hands the rows collected so far to the GUI thread.
    void Flush();
    // Runs fn on the GUI thread after everything posted before it (dropped
    // when the bridge is detached by then).
    void Post(std::function<void()> fn);

    // GUI thread side.
    void Detach();
    bool IsDetached() const { return m_bDetached.load(std::memory_order_acquire); }

    // Counters for tests and measurements.
    int GetBatchesPosted() const { return m_nBatchesPosted.load(); }

private:
    explicit CViewSinkBridge(const ViewSinkTargets& targets);
    void PostBatch();
    void WaitForRoom();
    void BatchApplied();

    ViewSinkTargets m_targets;
    std::atomic<bool> m_bDetached{false};

    // Repair thread only.
    CPreviewRowBatch m_batch;
    int m_nBatchFirstRow = 0;   // grid row of the batch's first row
    int m_nGridRows = 0;        // rows the grid will have once all is applied
    int m_nLastProgress = -1;
    std::chrono::steady_clock::time_point m_tBatchStart;

    // Shared: how many batches are queued but not yet applied.
    std::mutex m_mutex;
    std::condition_variable m_cvRoom;
    int m_nInFlight = 0;
    std::atomic<int> m_nBatchesPosted{0};
};
