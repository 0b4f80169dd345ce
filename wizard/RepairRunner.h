#pragma once
// The wizard's repair runner: one repair thread per run, the Stop question,
// a new run that waits for a stopped one to end, and the process-wide
// runner flags of wizard/RunnerState.h (written here and by saving only).
//
// The runner shows nothing of a run itself: the run's thread reaches the
// view through its CViewSinkBridge, and the outcome is handed on by
// runDone. GUI thread only.

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CRepairJob;
class CRepairThread;
class IWizardView;

class CRepairRunner : public QObject {
    Q_OBJECT
public:
    explicit CRepairRunner(IWizardView& view);
    // Cuts every thread still finishing off from the view and waits for it.
    ~CRepairRunner() override;

    // The file of the next run, as typed; the last run's status goes.
    void SelectFile(const std::string& strPath);
    // Starts a run of the selected file (g_strSelectedFile); it waits while
    // a stopped run is still finishing, since the two would share the
    // temporary table.
    void StartRepairThread();
    // The Stop command: asks, and stops the run on Yes.
    void OnStopRepairing();

    // True while a repair thread (running or stopped and finishing) exists.
    bool IsRepairThreadAlive() const { return !m_aLiveThreads.empty(); }
    // True while a started run waits for a stopped one to end.
    bool IsRepairStartWaiting() const { return !m_pPendingThread.isNull(); }
    // Runs fn once no repair thread is left (at once when there is none).
    void WhenRepairThreadsEnded(std::function<void()> fn);

signals:
    // A run ended while the view shows the repair page; its status is in
    // g_repairOutcome. The job holds the outcome, report and result.
    void runDone(std::shared_ptr<CRepairJob> spJob);
    // The current run's thread ended without handing over an outcome.
    void runLost();
    // The user confirmed Stop: the run is cut off from the view.
    void runStopped();
    // The last repair thread ended.
    void threadsEnded();

private:
    // Starts a run's thread; its engine reports are counted from here on.
    void StartThread(CRepairThread* pThread);
    void OnRepairThreadDone(int nRunId, std::shared_ptr<CRepairJob> spJob);
    void OnRepairThreadFinished(CRepairThread* pThread);
    void ForgetThread(CRepairThread* pThread);

    IWizardView& m_view;
    // The thread of the current run, a run waiting for a stopped thread to
    // finish, and every thread not yet ended.
    QPointer<CRepairThread> m_pRepairThread;
    QPointer<CRepairThread> m_pPendingThread;
    std::vector<CRepairThread*> m_aLiveThreads;
    int m_nRunId = 0;
    bool m_bRunDoneDelivered = false;
    std::vector<std::function<void()>> m_aWhenEnded;
};
