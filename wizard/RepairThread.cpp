#include "wizard/RepairThread.h"

#include "platform/Exception.h"
#include "repair/DBFRepair.h"
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
    try {
        const std::string strRepairedPath = BuildTempOutputPath(strSourcePath, nFileNumber - 1);
        log.AppendLog(kPhaseLogText);
        log.ScrollLog(12 * nFileNumber + 7);

        // A leftover of an earlier run of the same file goes first.
        RemoveRepairedFiles(strRepairedPath);

        CDBFRepair repair(m_spBridge.get(), m_spBridge.get());
        repair.SetOptions(m_options);
        const bool bOk = repair.Repair(strSourcePath, strRepairedPath, 0);
        m_report = repair.GetReport();
        if (bOk && !m_bStopped.load()) {
            // A stop asked for during the preview fill still counts as a failure.
            m_strStatus = g_bStopRepair.load() == 0 ? kRepairStatusDone : kRepairStatusFailed;
            if (m_strStatus == kRepairStatusDone)
                m_strResultPath = strRepairedPath;
        } else {
            RemoveRepairedFiles(strRepairedPath);
            if (!m_bStopped.load())
                m_strStatus = kRepairStatusFailed;
        }
    } catch (const CException& e) {
        m_strStatus = kRepairStatusFailed;
        m_strError = e.GetMessage();
    } catch (const std::exception& e) {
        m_strStatus = kRepairStatusFailed;
        m_strError = e.what();
    }
    return true;
}
