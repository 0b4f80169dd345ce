#include "wizard/RepairThread.h"

#include "platform/Exception.h"
#include "repair/DBFRepair.h"
#include "repair/RepairJob.h"
#include "repair/RepairPaths.h"
#include "repair/RepairState.h"
#include "wizard/RunnerState.h"

#include <exception>
#include <utility>

CRepairThread::CRepairThread(std::string strSourcePath, const RepairOptions& options,
                             std::shared_ptr<CViewSinkBridge> spBridge, DoneHandler onDone, QObject* pParent)
    : QThread(pParent),
      m_strSourcePath(std::move(strSourcePath)),
      m_options(options),
      m_spBridge(std::move(spBridge)),
      m_onDone(std::move(onDone))
{
}

CRepairThread::~CRepairThread()
{
    // The owner waits before it lets go; this is the last safety net.
    if (isRunning()) {
        m_spBridge->Detach();
        wait();
    }
}

void CRepairThread::MarkStopped()
{
    m_bStopped.store(true);
    m_spBridge->Detach();
}

void CRepairThread::run()
{
    RepairThreadProc();
}

int CRepairThread::RepairThreadProc()
{
    for (int i = 1; i <= kBatchSize; ++i) {
        const bool bOk = RepairSelectedFile(m_strSourcePath, *m_spBridge, i);
        m_spBridge->Flush();
        // A stopped run ends without a word to the view.
        if (!bOk || m_bStopped.load())
            return 1;
    }
    // The outcome reaches the GUI thread after every grid batch of the run.
    // The report is copied here, on the repair thread, into the posted call:
    // the GUI thread never sees the engine's own.
    m_spBridge->Post([onDone = m_onDone, strStatus = m_strStatus, strError = m_strError, report = m_report,
                      strResultPath = m_strResultPath] {
        if (onDone)
            onDone(strStatus, strError, report, strResultPath);
    });
    return 1;
}

bool CRepairThread::RepairSelectedFile(const std::string& strSourcePath, IRepairLog& log,
                                       int nFileNumber)
{
    log.AppendLog(kPhaseLogText);
    log.ScrollLog(12 * nFileNumber + 7);
    CRepairJob job(strSourcePath, m_options);
    job.SetFileIndex(nFileNumber - 1);
    job.Run(m_spBridge.get(), m_spBridge.get());
    m_report = job.GetReport();
    m_strError = job.GetError();
    if (job.IsDone() && !m_bStopped.load()) {
        m_strStatus = kRepairStatusDone;
        // The view owns the result from here on: it saves or discards it.
        m_strResultPath = job.Release();
    } else if (!m_bStopped.load()) {
        m_strStatus = kRepairStatusFailed;
    }
    return true;
}
