#include "wizard/RepairThread.h"

#include "repair/RepairContext.h"

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
        // A stopped run ends without a word to the view, and its result
        // goes before a new run may write the same temporary table.
        if (!bOk || m_bStopped.load()) {
            m_spJob.reset();
            return 1;
        }
    }
    // The job reaches the GUI thread after every grid batch of the run; the
    // repair thread lets go of it here.
    m_spBridge->Post([onDone = m_onDone, spJob = std::move(m_spJob)] {
        if (onDone)
            onDone(spJob);
    });
    return 1;
}

bool CRepairThread::RepairSelectedFile(const std::string& strSourcePath, IRepairLog& log,
                                       int nFileNumber)
{
    log.AppendLog(kPhaseLogText);
    log.ScrollLog(12 * nFileNumber + 7);
    auto spJob = std::make_shared<CRepairJob>(strSourcePath, m_options);
    spJob->SetFileIndex(nFileNumber - 1);
    // The desktop program's run answers to the process-wide stop flag and
    // pause gate, which the Stop question works on.
    CRepairContext context(ProcessRunState(), m_spBridge.get());
    spJob->Run(context, m_spBridge.get());
    // A stopped run's job goes here, its result with it.
    if (!m_bStopped.load())
        m_spJob = std::move(spJob);
    return true;
}
