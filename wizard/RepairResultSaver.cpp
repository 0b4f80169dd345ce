#include "wizard/RepairResultSaver.h"

#include "platform/Exception.h"
#include "repair/RepairJob.h"
#include "wizard/FolderChooser.h"
#include "wizard/RunnerState.h"
#include "wizard/SavingDlg.h"
#include "wizard/WizardView.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <utility>
#include <vector>

namespace {

QString FromUtf8(const std::string& str)
{
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

QString DecodePath(const std::string& strPath)
{
    return QFile::decodeName(QByteArray::fromStdString(strPath));
}

} // namespace

CRepairResultSaver::CRepairResultSaver(IWizardView& view) : m_view(view)
{
}

CRepairResultSaver::~CRepairResultSaver() = default;

void CRepairResultSaver::BeginRun()
{
    m_spJob.reset();
    m_bResultHandled = false;
}

void CRepairResultSaver::TakeResult(std::shared_ptr<CRepairJob> spJob)
{
    m_spJob = spJob && spJob->IsDone() ? std::move(spJob) : nullptr;
}

bool CRepairResultSaver::CanSave() const
{
    return m_view.GetPage() == 1 && !IsRepairRunning() && !GetResultPath().empty();
}

const std::string& CRepairResultSaver::GetResultPath() const
{
    static const std::string s_strNone;
    return m_spJob ? m_spJob->GetResultPath() : s_strNone;
}

void CRepairResultSaver::OnSaveFile()
{
    // A press that comes while a run is going (or before any run) finds no
    // result yet; answering it would count the coming result as handled.
    if (m_view.GetPage() != 1 || IsRepairRunning())
        return;
    ChooseFolderAndSave();
}

bool CRepairResultSaver::ChooseFolderAndSave()
{
    const QString strFolder =
        CFolderChooser::Instance().ChooseFolder(m_view.GetDialogParent(), QString::fromUtf8(kSaveFolderTitle));
    if (strFolder.isEmpty())
        return false;
    SaveRepairedFiles(strFolder);
    // A failed copy leaves the result unsaved: the caller must not go on
    // to discard it.
    return m_bResultHandled;
}

bool CRepairResultSaver::ConfirmLeaveResults()
{
    if (m_bResultHandled)
        return true;
    if (g_repairOutcome != RepairOutcome::Done)
        return true;
    switch (m_view.ShowMessage(QStringLiteral("Repaired files have not been saved. Do you want to save it?"),
                               MsgButtons::YesNoCancel, MsgIcon::Question, false)) {
    case MsgResult::Yes:
        return ChooseFolderAndSave();
    case MsgResult::No:
        m_bResultHandled = true;
        return true;
    default:
        return false;
    }
}

void CRepairResultSaver::SaveRepairedFiles(const QString& strFolder)
{
    QString strProblem;
    bool bCopied = false;
    {
        CSavingDlg dlg(m_view.GetDialogParent());
        dlg.SetFileText(DecodePath(g_strSelectedFile));
        if (g_repairOutcome == RepairOutcome::Done && QFileInfo::exists(DecodePath(GetResultPath()))) {
            try {
                // Whole or not at all: no half-written table ever appears
                // under the saved name; the result stays for another save.
                m_spJob->Save(QFile::encodeName(strFolder).toStdString(), m_view.GetPrefix().toStdString());
                bCopied = true;
            } catch (const CException& e) {
                strProblem = QStringLiteral("The repaired file could not be saved in\n%1\n\n%2")
                                 .arg(strFolder, FromUtf8(e.GetMessage()));
            }
        }
    }

    if (bCopied) {
        m_bResultHandled = true;
    } else if (strProblem.isEmpty()) {
        // Nothing was there to copy: a failed or stopped run, or a result
        // already discarded. Nothing is lost, so the result counts as handled.
        m_bResultHandled = true;
        m_view.ShowMessage(QStringLiteral("There is no repaired file to save."), MsgButtons::Ok,
                           MsgIcon::Information, true);
    } else {
        // The copy failed: the result stays unsaved, so leaving still asks.
        m_view.ShowMessage(strProblem, MsgButtons::Ok, MsgIcon::Error, true);
    }
}

void CRepairResultSaver::DiscardRepairedFiles()
{
    if (g_repairOutcome != RepairOutcome::Done)
        return;
    // The result goes with this call, whatever stays behind.
    const std::shared_ptr<CRepairJob> spJob = std::exchange(m_spJob, nullptr);
    emit resultChanged();
    if (!spJob)
        return;
    for (const FileLeftBehind& left : spJob->Discard()) {
        // Say which file stays behind and why, then go on.
        m_view.ShowMessage(QStringLiteral("The temporary file could not be deleted:\n%1\n\n%2")
                               .arg(DecodePath(left.strPath), QString::fromLocal8Bit(left.strReason.c_str())),
                           MsgButtons::Ok, MsgIcon::Warning, false);
    }
}
