#pragma once
// One repair run on its own thread: the batch of the one selected file is
// repaired into the temporary folder by a CRepairJob, and the job itself,
// with its outcome ("Done" or "Failed"), report and result, is handed back
// to the GUI thread.
//
// The thread never touches a control: everything the user sees goes through
// the run's CViewSinkBridge. A run the user stopped is detached from the
// view, so it ends quietly.

#include "repair/DBFRepair.h"
#include "repair/RepairJob.h"
#include "wizard/RepairLog.h"
#include "wizard/ViewSinkBridge.h"

#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class CRepairThread : public QThread {
    Q_OBJECT
public:
    // Called on the GUI thread, after every view call of the run, when the
    // run ended without being stopped. The job is the GUI thread's from
    // then on: its status, error, report and temporary result (what saving
    // copies, whatever becomes of the source meanwhile). A job nobody keeps
    // deletes its result.
    using DoneHandler = std::function<void(std::shared_ptr<CRepairJob> spJob)>;

    // options go to the engine as they are (Restore deleted records).
    CRepairThread(std::string strSourcePath, const RepairOptions& options,
                  std::shared_ptr<CViewSinkBridge> spBridge, DoneHandler onDone, QObject* pParent = nullptr);
    ~CRepairThread() override;

    // GUI thread: the user confirmed Stop. The run's view calls are dropped
    // from now on and its outcome is not recorded.
    void MarkStopped();
    bool IsStopped() const { return m_bStopped.load(); }

    const std::string& GetSourcePath() const { return m_strSourcePath; }
    const RepairOptions& GetOptions() const { return m_options; }
    const std::shared_ptr<CViewSinkBridge>& GetBridge() const { return m_spBridge; }

    // The number of files in a batch: the wizard repairs the one file whose
    // path stands in the path box.
    static constexpr int kBatchSize = 1;

    // The log line written before each file of the batch.
    static constexpr const char* kPhaseLogText = "\r\n\t\tExtraction Phase 1";

protected:
    void run() override;

private:
    // The thread's whole work; always returns 1.
    int RepairThreadProc();
    // Repairs one file of the batch into m_spJob. Always returns true.
    bool RepairSelectedFile(const std::string& strSourcePath, IRepairLog& log, int nFileNumber);

    const std::string m_strSourcePath;
    const RepairOptions m_options;
    const std::shared_ptr<CViewSinkBridge> m_spBridge;
    DoneHandler m_onDone;
    std::atomic<bool> m_bStopped{false};
    // Repair thread only; handed over or gone before the thread ends, so a
    // stopped run's result never outlives its thread.
    std::shared_ptr<CRepairJob> m_spJob;
};
