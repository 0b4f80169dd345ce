#include "repair/RepairJob.h"

#include "dbf/TableProbe.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/OsError.h"
#include "platform/TempFolder.h"
#include "repair/RepairOutcome.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

namespace {

SourceCheck Problem(SourceProblem eProblem, std::string strMessage)
{
    return SourceCheck{eProblem, std::move(strMessage)};
}

} // namespace

CRepairJob::CRepairJob(std::string strSource, RepairOptions options)
    : m_strSource(std::move(strSource)), m_options(std::move(options))
{
}

CRepairJob::~CRepairJob()
{
    if (!m_strResultPath.empty())
        RemoveRepairedFiles(m_strResultPath);
}

SourceCheck CRepairJob::CheckSource(const std::string& strSource, SourceCheckOrder eOrder)
{
    if (strSource.empty())
        return Problem(SourceProblem::NoFile, kMsgNoFile);
    if (CFileSystem::Status status; eOrder == SourceCheckOrder::FileFirst) {
        if (const int nError = CFileSystem::GetStatus(strSource, status))
            return Problem(SourceProblem::Unreadable, strSource + ": " + COsError::Text(nError));
    }
    if (LowerCaseAscii(strSource).find(".dbf") == std::string::npos)
        return Problem(SourceProblem::InvalidName, kMsgInvalidName);
    CTableProbe probe;
    if (!probe.Probe(strSource)) {
        // Windows refuses even a read while another program holds the file
        // without sharing it.
        CFile held;
        CFileException heldError;
        if (!held.Open(strSource, CFile::modeRead | CFile::shareDenyNone, &heldError)
            && heldError.m_cause == CFileException::sharingViolation)
            return Problem(SourceProblem::InUse, kMsgInUse);
        return Problem(probe.IsNotATable() ? SourceProblem::NotATable : SourceProblem::Unreadable,
                       strSource + ": " + probe.GetError());
    }
    // The file can be read, so a refused exclusive open is another
    // program's lock.
    CFile lock;
    if (!lock.Open(strSource, CFile::modeRead | CFile::shareExclusive))
        return Problem(SourceProblem::InUse, kMsgInUse);
    lock.Close();
    return SourceCheck();
}

std::string CRepairJob::CheckSaveFolder(const std::string& strFolder, bool bWritable)
{
    CFileSystem::Status status;
    if (const int nError = CFileSystem::GetStatus(strFolder, status))
        return strFolder + ": " + COsError::Text(nError);
    if (!status.bFolder)
        return strFolder + ": " + COsError::Text(ENOTDIR);
    if (const int nError = bWritable ? CFileSystem::CheckWritableFolder(strFolder) : 0)
        return strFolder + ": " + COsError::Text(nError);
    return std::string();
}

std::string CRepairJob::MakeWorkFolder()
{
    static std::atomic<unsigned> s_nFolders{0};
    const std::string& strBase = CTempFolder::ProcessFolder();
    for (;;) {
        const std::string strFolder = strBase + "/job" + std::to_string(++s_nFolders);
        const int nError = CFileSystem::MakeFolder(strFolder, 0700);
        if (nError == 0)
            return strFolder;
        if (nError != EEXIST)
            throw std::runtime_error(strFolder + ": " + COsError::Text(nError));
    }
}

bool CRepairJob::Run(CRepairContext& context, IPreviewGridSink* pGrid)
{
    // A result of an earlier run of this job goes first.
    Discard();
    m_bDone = false;
    m_bStopped = false;
    m_strStatus.clear();
    m_strError.clear();
    std::string strTemp;
    try {
        strTemp = m_strWorkFolder.empty() ? BuildTempOutputPath(m_strSource, m_nFileIndex)
                                          : BuildTempOutputPath(m_strSource, m_nFileIndex, m_strWorkFolder);
        // A leftover of an earlier run of the same name goes as well.
        RemoveRepairedFiles(strTemp);
        CDBFRepair engine(context, pGrid);
        engine.SetOptions(m_options);
        const bool bOk = engine.Repair(m_strSource, strTemp);
        m_report = engine.GetReport();
        m_spMendedCells = std::make_shared<const CMendedCells>(engine.GetMendedCells());
        m_stats = engine.GetStatistics();
        // A stop asked for during the preview fill still counts.
        m_bStopped = context.IsStopSet() || m_stats.bStopped;
        m_bDone = bOk && !m_bStopped;
    } catch (const CException& e) {
        m_strError = e.GetMessage();
    } catch (const std::exception& e) {
        m_strError = e.what();
    }
    m_strStatus = RepairOutcomeText(m_bDone ? RepairOutcome::Done : RepairOutcome::Failed);
    if (m_bDone)
        m_strResultPath = strTemp;
    else if (!strTemp.empty())
        RemoveRepairedFiles(strTemp);
    return m_bDone;
}

SavedRepairFiles CRepairJob::Save(const std::string& strFolder, const std::string& strPrefix,
                                  std::function<bool()> pfnCancelled) const
{
    return CopyRepairedFiles(m_strResultPath, strFolder, strPrefix, std::move(pfnCancelled));
}

SavedRepairFiles CRepairJob::SaveOnce(const std::string& strFolder, const std::string& strPrefix,
                                      std::function<bool()> pfnCancelled)
{
    SavedRepairFiles saved = MoveRepairedFiles(m_strResultPath, strFolder, PathFileName(m_strSource), strPrefix,
                                               std::move(pfnCancelled));
    m_strResultPath.clear();
    return saved;
}

std::vector<FileLeftBehind> CRepairJob::Discard()
{
    const std::string strTemp = std::exchange(m_strResultPath, std::string());
    return strTemp.empty() ? std::vector<FileLeftBehind>() : RemoveRepairedFiles(strTemp);
}

std::string CRepairJob::Release()
{
    return std::exchange(m_strResultPath, std::string());
}
