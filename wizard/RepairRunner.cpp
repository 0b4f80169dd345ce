#include "wizard/RepairRunner.h"

#include "repair/RepairJob.h"
#include "repair/RepairState.h"
#include "wizard/ErrorMessageDigest.h"
#include "wizard/RepairThread.h"
#include "wizard/RunnerState.h"
#include "wizard/ViewSinkBridge.h"
#include "wizard/WizardView.h"

#include <QString>

#include <algorithm>
#include <utility>

CRepairRunner::CRepairRunner(IWizardView& view) : m_view(view)
{
}

CRepairRunner::~CRepairRunner()
{
    // A repair thread may still be finishing (a stopped run): cut it off and
    // let it end before the controls it was reporting to go away.
    if (!m_aLiveThreads.empty()) {
        g_bStopRepair.store(1);
        g_repairPauseGate.Open();
    }
    for (CRepairThread* pThread : m_aLiveThreads) {
        pThread->MarkStopped();
        pThread->wait();
    }
    // Their repeats are not worth a note any more.
    if (!m_aLiveThreads.empty())
        CErrorMessageDigest::Instance().EndRun(false);
    if (m_pPendingThread)
        delete m_pPendingThread.data();
}

void CRepairRunner::SelectFile(const std::string& strPath)
{
    g_repairOutcome.reset();
    g_strSelectedFile = strPath;
}

void CRepairRunner::StartRepairThread()
{
    g_bRepairRunning.store(true);
    const int nRunId = ++m_nRunId;
    m_bRunDoneDelivered = false;
    auto spBridge = CViewSinkBridge::Create(m_view.GetSinkTargets());
    RepairOptions options;
    options.bUndelete = m_view.GetUndelete();
    auto* pThread = new CRepairThread(
        g_strSelectedFile, options, spBridge,
        [this, nRunId](std::shared_ptr<CRepairJob> spJob) { OnRepairThreadDone(nRunId, std::move(spJob)); },
        this);
    connect(pThread, &QThread::finished, this, [this, pThread] { OnRepairThreadFinished(pThread); },
            Qt::QueuedConnection);
    m_pRepairThread = pThread;

    // A stopped run may still be finishing; two runs never share the
    // temporary file, so this one waits for it.
    const bool bOtherAlive = std::any_of(m_aLiveThreads.begin(), m_aLiveThreads.end(),
                                         [](CRepairThread* p) { return p->isRunning(); });
    m_aLiveThreads.push_back(pThread);
    if (bOtherAlive) {
        m_pPendingThread = pThread;
        return;
    }
    StartThread(pThread);
}

void CRepairRunner::StartThread(CRepairThread* pThread)
{
    // Threads run one after the other, so the reports between a thread's
    // start and its end are that run's.
    CErrorMessageDigest::Instance().BeginRun();
    pThread->start();
}

void CRepairRunner::OnRepairThreadDone(int nRunId, std::shared_ptr<CRepairJob> spJob)
{
    if (nRunId != m_nRunId || !m_pRepairThread || m_pRepairThread->IsStopped() || !spJob)
        return;
    m_bRunDoneDelivered = true;
    g_bRepairRunning.store(false);
    g_bRepairStopped.store(false);
    if (m_view.GetPage() != 1)
        return;
    g_repairOutcome = spJob->IsDone() ? RepairOutcome::Done : RepairOutcome::Failed;
    emit runDone(std::move(spJob));
}

void CRepairRunner::ForgetThread(CRepairThread* pThread)
{
    m_aLiveThreads.erase(std::remove(m_aLiveThreads.begin(), m_aLiveThreads.end(), pThread),
                         m_aLiveThreads.end());
}

void CRepairRunner::OnRepairThreadFinished(CRepairThread* pThread)
{
    ForgetThread(pThread);
    pThread->wait();
    const bool bWasCurrent = pThread == m_pRepairThread.data();
    if (pThread->IsStopped()) {
        // The stopped run has ended: its stopped flag is spent.
        g_bRepairStopped.store(false);
    } else if (bWasCurrent && !m_bRunDoneDelivered) {
        g_bRepairRunning.store(false);
        emit runLost();
    }
    pThread->deleteLater();
    // Every report of the thread has been delivered before this call.
    CErrorMessageDigest::Instance().EndRun();

    if (m_pPendingThread) {
        CRepairThread* pNext = m_pPendingThread;
        m_pPendingThread = nullptr;
        StartThread(pNext);
        return;
    }
    if (m_aLiveThreads.empty()) {
        emit threadsEnded();
        auto aCallbacks = std::move(m_aWhenEnded);
        m_aWhenEnded.clear();
        for (auto& fn : aCallbacks)
            fn();
    }
}

void CRepairRunner::WhenRepairThreadsEnded(std::function<void()> fn)
{
    if (m_aLiveThreads.empty()) {
        fn();
        return;
    }
    m_aWhenEnded.push_back(std::move(fn));
}

void CRepairRunner::OnStopRepairing()
{
    if (!g_bRepairRunning.load())
        return;

    // The engine waits at its next poll until the question is answered.
    g_repairPauseGate.Close();
    const MsgResult answer =
        m_view.ShowMessage(QStringLiteral("Are you sure that you want to stop the reparing of the file"),
                           MsgButtons::YesNoCancel, MsgIcon::Question, false);
    if (answer != MsgResult::Yes || !g_bRepairRunning.load()) {
        // No, Cancel, or the run ended on its own while the question was open.
        g_repairPauseGate.Open();
        return;
    }

    g_bStopRepair.store(1);
    CRepairThread* pThread = m_pRepairThread;
    if (pThread)
        pThread->MarkStopped();
    if (pThread && pThread == m_pPendingThread.data()) {
        // It never started: nothing to wait for.
        m_pPendingThread = nullptr;
        ForgetThread(pThread);
        pThread->deleteLater();
        pThread = nullptr;
    }
    g_repairPauseGate.Open();
    g_bRepairRunning.store(false);
    g_bRepairStopped.store(false);
    emit runStopped();
    g_bRepairStopped.store(pThread != nullptr && pThread->isRunning());
}
