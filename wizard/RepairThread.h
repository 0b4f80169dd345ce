#pragma once
// One repair run on its own thread: the batch of the one selected file is
// repaired into the temporary folder and its outcome ("Done" or "Failed")
// and the engine's report handed back to the GUI thread.
//
// The thread never touches a control: everything the user sees goes through
// the run's CViewSinkBridge. A run the user stopped is detached from the
// view, so it ends quietly.

#include "repair/DBFRepair.h"
#include "repair/RepairReport.h"
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
    // run ended without being stopped. strError is the reason of a failure
    // that left the engine as an exception (empty otherwise); report is the
    // GUI thread's own copy of what the engine reported; strResultPath is
    // the temporary table the run wrote (what saving copies, whatever
    // becomes of the source meanwhile).
    using DoneHandler = std::function<void(const std::string& strStatus, const std::string& strError,
                                           const RepairReport& report, const std::string& strResultPath)>;

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
    // Repairs one file of the batch and records the outcome in m_strStatus.
    // Always returns true.
    bool RepairSelectedFile(const std::string& strSourcePath, IRepairLog& log, int nFileNumber);

    const std::string m_strSourcePath;
    const RepairOptions m_options;
    const std::shared_ptr<CViewSinkBridge> m_spBridge;
    DoneHandler m_onDone;
    std::atomic<bool> m_bStopped{false};
    // Repair thread only until the run ends.
    std::string m_strStatus;
    std::string m_strError;
    RepairReport m_report;
    std::string m_strResultPath;
};
