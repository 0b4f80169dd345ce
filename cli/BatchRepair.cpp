#include "cli/BatchRepair.h"

#include "cli/Command.h"
#include "cli/RepairResult.h"
#include "platform/ErrorReporter.h"
#include "platform/Exception.h"
#include "platform/FileException.h"
#include "platform/FileSystem.h"
#include "platform/JsonWriter.h"
#include "platform/OsError.h"
#include "platform/PathName.h"
#include "platform/StopSignals.h"
#include "repair/RepairContext.h"
#include "repair/RepairJob.h"
#include "repair/RepairPaths.h"
#include "repair/RepairReport.h"
#include "repair/RepairState.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>

namespace fs = std::filesystem; // names only; the system through CFileSystem

namespace {

using Clock = std::chrono::steady_clock;

bool HasTableExtension(const fs::path& path)
{
    return LowerCaseAscii(CPathName::FromPath(path.extension())) == ".dbf";
}

uint64_t FileBytes(const fs::path& path)
{
    CFileSystem::Status status;
    return CFileSystem::GetStatus(CPathName::FromPath(path), status) == 0 && status.bRegular ? status.nSize : 0;
}

std::string Megabytes(uint64_t nBytes)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.1f MB", nBytes / 1e6);
    return sz;
}

std::string Duration(double dSeconds)
{
    const long nSeconds = static_cast<long>(dSeconds + 0.5);
    char sz[32];
    std::snprintf(sz, sizeof sz, "%ld:%02ld", nSeconds / 60, nSeconds % 60);
    return sz;
}

// The first line of a failure's reasons, for the short table at the end.
std::string FirstLine(const std::string& str)
{
    return str.substr(0, str.find('\n'));
}

// Turns one worker's engine progress (0..100) into bytes of its table.
class CTableProgress : public IRepairProgressSink {
public:
    CTableProgress(std::atomic<uint64_t>& nSlot, uint64_t nBytes) : m_nSlot(nSlot), m_nBytes(nBytes)
    {
        m_nSlot.store(0);
    }
    ~CTableProgress() override { m_nSlot.store(0); }
    void SetStatusText(const std::string&) override {}
    void SetProgress(int nValue) override
    {
        m_nSlot.store(m_nBytes * static_cast<uint64_t>(std::clamp(nValue, 0, 100)) / 100);
    }
    void ShowPreview() override {}

private:
    std::atomic<uint64_t>& m_nSlot;
    const uint64_t m_nBytes;
};

// Adds one table's losses to the batch's.
void AddLosses(RepairReport& total, const RepairReport& report)
{
    total.nRecordsDropped += report.nRecordsDropped;
    total.nBytesDropped += report.nBytesDropped;
    total.nRecordsCutShort += report.nRecordsCutShort;
    total.nRecordsMended += report.nRecordsMended;
    total.nValuesMended += report.nValuesMended;
    total.nMemosMissing += report.nMemosMissing;
    total.nMemosSharedNotCopied += report.nMemosSharedNotCopied;
    total.bMemoFileMissing = total.bMemoFileMissing || report.bMemoFileMissing;
}

} // namespace

struct CBatchRepair::Result {
    size_t nItem = 0;
    RepairOutcome outcome = RepairOutcome::Failed;
    SavedRepairFiles saved;
    bool bRan = false;     // the checks let the run start: the report holds it
    int nFields = 0;
    RepairReport report;
    std::string strError;
    double dSeconds = 0;
};

struct CBatchRepair::Shared {
    explicit Shared(size_t nWorkers) : slots(nWorkers) {}
    std::vector<size_t> order; // items by size, largest first
    std::atomic<size_t> nNext{0};
    std::vector<std::atomic<uint64_t>> slots; // bytes done of each worker's current table
    std::atomic<size_t> nSlotsTaken{0};
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Result> finished;
    size_t nWorkersLeft = 0;
};

CBatchRepair::CBatchRepair(const RepairArguments& args, const std::atomic<int>* pAbort)
    : m_args(args), m_pAbort(pAbort)
{
}

void CBatchRepair::Collect(std::ostream& err)
{
    std::set<std::string> seen;
    auto add = [&](const fs::path& path, const std::string& strRel) {
        const std::string strPath = CPathName::FromPath(path);
        const std::string strCanonical = CFileSystem::WeaklyCanonical(strPath);
        if (!seen.insert(strCanonical.empty() ? strPath : strCanonical).second)
            return;
        // The memo file is read and written as well: it counts in the rate.
        const std::string strMemo = FindMemoCompanion(strPath);
        m_items.push_back({strPath, strRel, FileBytes(path) + (strMemo.empty() ? 0 : FileBytes(strMemo))});
    };
    for (const std::string& strSource : m_args.sources) {
        if (!CFileSystem::IsFolder(strSource)) {
            // A table, or a path that the job's checks will explain.
            add(CPathName::ToPath(strSource), std::string());
            continue;
        }
        const fs::path root = CPathName::ToPath(strSource);
        std::vector<fs::path> tables;
        const size_t nErrorsBefore = m_folderErrors.size();
        Walk(root, tables, err);
        if (tables.empty() && m_folderErrors.size() == nErrorsBefore) {
            // Most likely a wrong folder or a forgotten --recursive: say so
            // rather than report an empty success.
            m_folderErrors.push_back(strSource + ": no tables (*.dbf) found"
                                     + (m_args.bRecursive ? "" : " (subfolders are walked with --recursive)"));
            err << "dbfrepair repair: " << m_folderErrors.back() << "\n";
        }
        // A listing's order is the file system's; people read sorted names.
        std::sort(tables.begin(), tables.end());
        for (const fs::path& table : tables) {
            const fs::path rel = table.parent_path().lexically_relative(root);
            add(table, rel == "." ? std::string() : CPathName::FromPath(rel));
        }
    }
}

void CBatchRepair::Walk(const fs::path& root, std::vector<fs::path>& tables, std::ostream& err)
{
    // The output folder may lie inside a source folder: its results are
    // never taken for sources, in this run or the next.
    const std::string strOutput = CFileSystem::WeaklyCanonical(m_args.strFolder); // empty: unknown
    std::vector<fs::path> folders{root};
    while (!folders.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::vector<std::string> names;
        const int nError = CFileSystem::ListFolder(CPathName::FromPath(folder), names);
        for (const std::string& strName : names) {
            const fs::path path = folder / CPathName::ToPath(strName);
            CFileSystem::Status status;
            if (CFileSystem::GetStatus(CPathName::FromPath(path), status) != 0)
                continue;
            if (status.bFolder) {
                if (m_args.bRecursive && !CFileSystem::IsLink(CPathName::FromPath(path))
                    && (strOutput.empty() || CFileSystem::WeaklyCanonical(CPathName::FromPath(path)) != strOutput))
                    folders.push_back(path);
            } else if (HasTableExtension(path) && status.bRegular) {
                tables.push_back(path);
            }
        }
        if (nError != 0) {
            m_folderErrors.push_back(CPathName::FromPath(folder) + ": " + COsError::Text(nError));
            err << "dbfrepair repair: " << m_folderErrors.back() << "\n";
        }
    }
}

CBatchRepair::Result CBatchRepair::RepairOne(const Item& item, const std::string& strWorkFolder,
                                            std::atomic<uint64_t>& slot, CRepairRunState& state)
{
    Result result;
    const auto start = Clock::now();
    // The run's messages, the storage engine's among them, come through its
    // context.
    CRecordingReporter messages;
    auto finish = [&](RepairOutcome outcome, const std::string& strError) {
        result.outcome = outcome;
        std::vector<std::string> lines = messages.Messages();
        if (!strError.empty())
            lines.push_back(strError);
        if (outcome != RepairOutcome::Done)
            result.strError = FailureText(lines, outcome == RepairOutcome::Stopped);
        result.report.strSavedTable = result.saved.strTable;
        result.report.strSavedMemo = result.saved.strMemo;
        result.report.outcome = outcome;
        result.report.nExitCode = RepairExitCode(outcome, &result.report);
        result.dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        return result;
    };

    if (const SourceCheck check = CRepairJob::CheckSource(item.strSource, CRepairJob::SourceCheckOrder::FileFirst);
        !check.IsOk()) {
        // The lines name the table already.
        const std::string strNamed = item.strSource + ": ";
        return finish(RepairOutcome::Failed, check.strMessage.rfind(strNamed, 0) == 0 ? check.strMessage.substr(strNamed.size())
                                                                         : check.strMessage);
    }

    RepairOptions options;
    options.bUndelete = m_args.bUndelete;
    CRepairJob job(item.strSource, options);
    job.SetWorkFolder(strWorkFolder);
    CTableProgress progress(slot, item.nBytes);
    CRepairContext context(state, &progress, &messages);
    job.Run(context, nullptr);
    result.bRan = true;
    result.report = job.GetReport();
    result.nFields = job.GetStatistics().nFieldCount;
    if (!job.IsDone())
        return finish(job.WasStopped() ? RepairOutcome::Stopped : RepairOutcome::Failed, job.GetError());
    if (m_args.bDryRun)
        return finish(RepairOutcome::Done, std::string());

    fs::path folder = CPathName::ToPath(m_args.strFolder);
    if (!item.strRelFolder.empty())
        folder /= CPathName::ToPath(item.strRelFolder);
    const std::string strFolder = CPathName::FromPath(folder);
    if (const int nError = CFileSystem::MakeFolders(strFolder))
        return finish(RepairOutcome::Failed, strFolder + ": " + COsError::Text(nError));
    try {
        result.saved = job.SaveOnce(strFolder, m_args.strPrefix, [this] { return m_pAbort->load() != 0; });
    } catch (const CFileException& e) {
        // A save cancelled by the stop signal needs no reason of its own.
        if (e.m_lOsError == ECANCELED)
            return finish(RepairOutcome::Stopped, std::string());
        return finish(RepairOutcome::Failed, e.GetMessage());
    } catch (const CException& e) {
        return finish(RepairOutcome::Failed, e.GetMessage());
    }
    return finish(RepairOutcome::Done, std::string());
}

void CBatchRepair::Work(Shared& shared)
{
    // Each worker's own stop flag, progress and pause gate; the batch's
    // stop signal reaches them all through the abort flag.
    CRepairRunState state(m_pAbort);
    std::atomic<uint64_t>& slot = shared.slots[shared.nSlotsTaken.fetch_add(1)];
    std::string strWorkFolder;
    std::string strFolderError;
    try {
        strWorkFolder = CRepairJob::MakeWorkFolder();
    } catch (const std::exception& e) {
        strFolderError = e.what();
    }
    for (;;) {
        if (m_pAbort->load() != 0)
            break;
        const size_t nOrder = shared.nNext.fetch_add(1);
        if (nOrder >= shared.order.size())
            break;
        const size_t nItem = shared.order[nOrder];
        Result result;
        if (!strFolderError.empty()) {
            result.outcome = RepairOutcome::Failed;
            result.strError = strFolderError;
        } else {
            // Whatever one table throws stays that table's failure: an
            // exception leaving a worker thread would end the process.
            try {
                result = RepairOne(m_items[nItem], strWorkFolder, slot, state);
            } catch (const std::exception& e) {
                result = Result();
                result.outcome = RepairOutcome::Failed;
                result.strError = e.what();
            }
        }
        result.nItem = nItem;
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            shared.finished.push_back(std::move(result));
        }
        shared.cv.notify_one();
    }
    if (!strWorkFolder.empty())
        CFileSystem::RemoveFolder(strWorkFolder);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        --shared.nWorkersLeft;
    }
    shared.cv.notify_one();
}

void CBatchRepair::PrintTable(const Result& r, bool bTerminal, std::ostream& out) const
{
    const Item& item = m_items[r.nItem];
    if (m_args.bJson) {
        out << RepairResultToJson({.strSource = item.strSource, .outcome = r.outcome, .saved = r.saved,
                                   .nFields = r.nFields, .nBytes = item.nBytes, .dSeconds = r.dSeconds,
                                   .bDryRun = m_args.bDryRun, .nExitCode = RepairExitCode(r.outcome, &r.report),
                                   .strError = r.strError, .pReport = r.bRan ? &r.report : nullptr})
            << "\n";
    } else if (!bTerminal) {
        // On a terminal the progress line stands in for these.
        out << RepairOutcomeText(r.outcome) << "  " << item.strSource;
        if (r.outcome == RepairOutcome::Done)
            out << " -> " << (m_args.bDryRun ? std::string("(dry run)") : r.saved.strTable) << "  ("
                << RepairReportOneLine(r.report) << ")";
        else
            out << ": " << FirstLine(r.strError);
        out << "\n";
    }
    out.flush();
}

std::string CBatchRepair::ProgressLine(size_t nTablesDone, uint64_t nBytes, uint64_t nBytesTotal,
                                       double dElapsed) const
{
    const double dRate = dElapsed > 0 ? nBytes / dElapsed : 0;
    std::string strLine = "Tables " + std::to_string(nTablesDone) + "/" + std::to_string(m_items.size()) + ", "
        + Megabytes(nBytes) + " of " + Megabytes(nBytesTotal) + ", " + Megabytes(uint64_t(dRate)) + "/s";
    if (dRate > 0 && nBytes < nBytesTotal)
        strLine += ", " + Duration((nBytesTotal - nBytes) / dRate) + " left";
    return strLine;
}

int CBatchRepair::Run(std::ostream& out, std::ostream& err)
{
    if (const std::string strMessage = CRepairJob::CheckSaveFolder(m_args.strFolder, !m_args.bDryRun);
        !strMessage.empty()) {
        if (!m_args.bQuiet)
            err << "dbfrepair repair: " << strMessage << "\n";
        m_strRefusal = strMessage;
        return Summarize({}, 0, 0, out, err);
    }
    Collect(err);

    const auto start = Clock::now();
    const size_t nCores = std::max(1u, std::thread::hardware_concurrency());
    const size_t nWorkers =
        std::clamp<size_t>(m_args.nJobs > 0 ? m_args.nJobs : nCores, 1, std::max<size_t>(1, m_items.size()));
    Shared shared(nWorkers);
    shared.order.resize(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i)
        shared.order[i] = i;
    // The largest tables go first, so that the last one to finish is small
    // and every worker stays busy to the end.
    std::stable_sort(shared.order.begin(), shared.order.end(),
                     [this](size_t a, size_t b) { return m_items[a].nBytes > m_items[b].nBytes; });
    shared.nWorkersLeft = nWorkers;
    std::vector<std::thread> workers;
    for (size_t i = 0; i < nWorkers; ++i)
        workers.emplace_back([this, &shared] { Work(shared); });

    uint64_t nBytesTotal = 0;
    for (const Item& item : m_items)
        nBytesTotal += item.nBytes;
    const bool bTerminal = !m_args.bQuiet && CFileSystem::IsStandardErrorTerminal();
    std::vector<Result> results;
    uint64_t nBytesDone = 0;
    auto lastDrawn = start;
    for (bool bEnded = false; !bEnded;) {
        std::deque<Result> finished;
        {
            std::unique_lock<std::mutex> lock(shared.mutex);
            shared.cv.wait_for(lock, std::chrono::milliseconds(250),
                               [&] { return !shared.finished.empty() || shared.nWorkersLeft == 0; });
            finished.swap(shared.finished);
            bEnded = shared.nWorkersLeft == 0 && finished.empty();
        }
        for (Result& r : finished) {
            nBytesDone += m_items[r.nItem].nBytes;
            PrintTable(r, bTerminal, out);
            results.push_back(std::move(r));
        }
        // A thousand small tables would redraw the line a thousand times.
        if (bTerminal && (bEnded || Clock::now() - lastDrawn >= std::chrono::milliseconds(100))) {
            lastDrawn = Clock::now();
            uint64_t nBusy = 0;
            for (const auto& slot : shared.slots)
                nBusy += slot.load();
            const double dElapsed = std::chrono::duration<double>(Clock::now() - start).count();
            err << "\r" << ProgressLine(results.size(), std::min(nBytesTotal, nBytesDone + nBusy), nBytesTotal, dElapsed)
                << "\x1b[K" << (bEnded ? "\n" : "") << std::flush;
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    return Summarize(results, nBytesDone, std::chrono::duration<double>(Clock::now() - start).count(), out, err);
}

int CBatchRepair::Summarize(const std::vector<Result>& results, uint64_t nBytesDone, double dSeconds,
                            std::ostream& out, std::ostream& err) const
{
    size_t nDone = 0;
    size_t nFailed = m_folderErrors.size();
    size_t nStopped = 0;
    size_t nWithLosses = 0;
    std::vector<std::string> losses;
    std::vector<std::string> indexFiles;
    std::vector<std::string> failures = m_folderErrors; // "path: reason"
    RepairReport lost; // the losses of every table, added up
    for (const Result& r : results) {
        const std::string& strSource = m_items[r.nItem].strSource;
        if (r.outcome == RepairOutcome::Done) {
            ++nDone;
            if (r.report.HasLosses()) {
                ++nWithLosses;
                losses.push_back(strSource + ": " + RepairReportOneLine(r.report));
                AddLosses(lost, r.report);
            }
            indexFiles.insert(indexFiles.end(), r.report.indexFiles.begin(), r.report.indexFiles.end());
        } else if (r.outcome == RepairOutcome::Stopped) {
            ++nStopped;
        } else {
            ++nFailed;
            failures.push_back(strSource + ": " + FirstLine(r.strError));
        }
    }
    const size_t nNotStarted = m_items.size() - results.size();
    std::sort(failures.begin(), failures.end());
    std::sort(losses.begin(), losses.end());
    std::sort(indexFiles.begin(), indexFiles.end());
    const double dRate = dSeconds > 0 ? nBytesDone / dSeconds : 0;

    int nExitCode = kExitSuccess;
    std::string strVerdict = "Nothing was lost.";
    const std::string strTables = " of " + std::to_string(m_items.size()) + " tables";
    if (const int nStatus = CStopSignals::ExitStatus()) {
        nExitCode = nStatus;
        strVerdict = "Failed: The batch was stopped.";
    } else if (!m_strRefusal.empty()) {
        nExitCode = kExitTableError;
        strVerdict = "Failed: " + m_strRefusal;
    } else if (nFailed > 0) {
        nExitCode = kExitTableError;
        strVerdict = "Failed: " + std::to_string(nFailed - m_folderErrors.size()) + strTables + " failed";
        if (!m_folderErrors.empty())
            strVerdict += ", " + std::to_string(m_folderErrors.size()) + " folders could not be walked";
        strVerdict += ".";
    } else if (nWithLosses > 0) {
        nExitCode = kExitWithLosses;
        strVerdict = "Finished with losses: " + RepairReportLosses(lost) + " (in " + std::to_string(nWithLosses)
            + strTables + ").";
    }
    if (m_args.bJson) {
        const RepairOutcome outcome = nExitCode == kExitSuccess || nExitCode == kExitWithLosses
            ? RepairOutcome::Done
            : CStopSignals::ExitStatus() != 0 ? RepairOutcome::Stopped
                                              : RepairOutcome::Failed;
        CJsonWriter json;
        json.BeginObject().Key("summary").Bool(true).Key("status").String(RepairOutcomeText(outcome));
        json.Key("exit_code").Number(nExitCode).Key("error").StringOrNull(m_strRefusal);
        json.Key("tables").Number(m_items.size()).Key("done").Number(nDone).Key("failed").Number(nFailed);
        json.Key("stopped").Number(nStopped).Key("not_started").Number(nNotStarted);
        json.Key("with_losses").Number(nWithLosses).Key("bytes").Number(nBytesDone);
        json.Key("seconds").Fixed(dSeconds, 3).Key("folder_errors").Strings(m_folderErrors);
        json.Key("index_files").Strings(indexFiles).EndObject();
        out << json.Take() << "\n";
    }
    // The short table goes where people read: standard output in text
    // mode, standard error beside JSON.
    std::ostream& table = m_args.bJson ? err : out;
    if (m_strRefusal.empty() && (!m_args.bJson || !m_args.bQuiet)) {
        table << "Tables: " << m_items.size() << ", Done: " << nDone << " (" << nWithLosses
              << " with losses), Failed: " << nFailed;
        if (nStopped + nNotStarted > 0)
            table << ", stopped: " << nStopped << ", not started: " << nNotStarted;
        table << "; " << Megabytes(nBytesDone) << " in " << SecondsText(dSeconds) << " s ("
              << Megabytes(uint64_t(dRate)) << "/s)\n";
        auto list = [&](const char* lpszTitle, const std::vector<std::string>& lines) {
            if (lines.empty())
                return;
            table << lpszTitle << "\n";
            for (const std::string& strLine : lines)
                table << "  " << strLine << "\n";
        };
        list("Failed:", failures);
        list("Saved with losses:", losses);
        list("Stale index files (not copied; rebuild them for the repaired tables):", indexFiles);
        if (nStopped + nNotStarted > 0)
            table << "The batch was stopped: the tables it finished are saved, the rest were not touched.\n";
    }
    out.flush();
    if (!m_args.bQuiet)
        err << strVerdict << "\n";
    return nExitCode;
}
