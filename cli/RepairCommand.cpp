#include "cli/RepairCommand.h"

#include "cli/BatchRepair.h"
#include "cli/CommandLine.h"
#include "cli/RepairArguments.h"
#include "cli/ConsoleProgressSink.h"
#include "cli/MemoOverride.h"
#include "cli/RepairResult.h"
#include "dbf/TableProbe.h"
#include "platform/ErrorReporter.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "platform/FilePlacer.h"
#include "platform/FileSystem.h"
#include "platform/OsError.h"
#include "platform/StopSignals.h"
#include "platform/TempFolder.h"
#include "repair/DBFRepair.h"
#include "repair/RepairJob.h"
#include "repair/RepairContext.h"
#include "repair/RepairPaths.h"
#include "repair/RepairReport.h"
#include "repair/RepairState.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <ostream>

namespace {

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair repair SOURCE.dbf [-o DIR] [--prefix TEXT] [--json] [--quiet] [--undelete]\n"
           "                        [--report FILE [--force]] [--dry-run] [--memo FILE]\n"
           "       dbfrepair repair SOURCE... -o DIR [--jobs N] [--recursive] [--prefix TEXT] [--json]\n"
           "                        [--quiet] [--undelete] [--dry-run]\n"
           "\n"
           "Repairs a damaged table: rebuilds its structure from the raw field\n"
           "descriptors, salvages every record field by field, recovers the memo\n"
           "texts, and saves the new table (with its memo file) into DIR (default:\n"
           "the current folder) as PREFIX_1_name.dbf, the name in its own letter\n"
           "case, or PREFIX_2_name.dbf and so on while the name is taken. The\n"
           "source is never modified.\n"
           "\n"
           "With several sources, a folder, --jobs or --recursive it repairs a\n"
           "batch: every SOURCE is a table or a folder whose tables (*.dbf in any\n"
           "letter case) are repaired; each result is saved in DIR under the same\n"
           "relative folder as its source. Index files beside a table (.cdx, .idx,\n"
           ".ntx, .mdx, .ndx) are never copied: they are named as stale, to be\n"
           "rebuilt.\n"
           "\n"
           "  -o, --output DIR   folder to save the repaired table into\n"
           "  --prefix TEXT      file-name prefix (default Rep); not empty, at most 50\n"
           "                     characters, none of / \\ | * : ? < > '\n"
           "  --json             print one result object on standard output: status,\n"
           "                     paths, counts, exit code, the repair report\n"
           "                     (\"report\") and, when the run failed, the reason\n"
           "                     (\"error\"), also when a check refused the table; in\n"
           "                     a batch one such object a table as it finishes,\n"
           "                     then a summary\n"
           "  --quiet            nothing on standard error: no progress, no summary,\n"
           "                     no verdict (the exit code still tells)\n"
           "  --undelete         bring records marked deleted back to life (by\n"
           "                     default they stay marked deleted)\n"
           "  --memo FILE        read the memo values from FILE instead of the memo\n"
           "                     file beside the table, whatever its extension\n"
           "                     (.fpt, .dbt and .smt tell its format, the table's\n"
           "                     version byte any other); one table only\n"
           "  --report FILE      write the repair report into FILE as JSON: every\n"
           "                     record dropped, cut short or mended by its number\n"
           "                     in the source with its bytes, every memo not found\n"
           "                     by record and column, the saved paths, the outcome\n"
           "                     and the exit code; whole or not at all, never over\n"
           "                     an existing file; one table only\n"
           "  --force            with --report: replace an existing report file\n"
           "  --dry-run          repair and report, but save no table\n"
           "  -j, --jobs N       batch: N tables at a time (default: one per core)\n"
           "  -r, --recursive    batch: walk the folders' subfolders too (never the\n"
           "                     output folder)\n"
           "\n"
           "Standard output gets the result: the status (Done or Failed), the saved\n"
           "paths and the counts, or the --json object. Standard error gets the\n"
           "progress (on a terminal only), the messages, after a Done run a short\n"
           "summary of the report, and last one verdict line: \"Nothing was lost.\",\n"
           "\"Finished with losses: ...\" or \"Failed: REASON\". A write over the\n"
           "file-size limit (ulimit -f) is a Failed run.\n"
           "\n"
           "Exit codes, the same for the same failure in every command:\n";
    PrintExitCodes(out);
}

// True when both paths name one existing file.
bool SameFile(const std::string& strA, const std::string& strB)
{
    return CFileSystem::IsSameFile(strA, strB);
}

// Passes the engine's progress on (when there is a console to show it) and
// repeats a stop signal into the stop flag, which the engine clears when its
// run starts: a signal that came just before that is not lost.
class CStopRelaySink : public IRepairProgressSink {
public:
    explicit CStopRelaySink(CConsoleProgressSink* pConsole) : m_pConsole(pConsole) {}
    void SetStatusText(const std::string& strText) override
    {
        Relay();
        if (m_pConsole != nullptr)
            m_pConsole->SetStatusText(strText);
    }
    void SetProgress(int nValue) override
    {
        Relay();
        if (m_pConsole != nullptr)
            m_pConsole->SetProgress(nValue);
    }
    void ShowPreview() override
    {
        if (m_pConsole != nullptr)
            m_pConsole->ShowPreview();
    }

private:
    static void Relay()
    {
        if (CStopSignals::GetSignal() != 0)
            g_bStopRepair.store(1);
    }
    CConsoleProgressSink* m_pConsole;
};

// Shows the engine's messages (unless the user asked for quiet) as every
// message of the tool reads, "dbfrepair repair: SOURCE: what", and keeps
// them as they are for the JSON summary.
class CKeepingReporter : public CErrorReporter {
public:
    CKeepingReporter(std::ostream& err, bool bShow, std::string strSource)
        : m_err(err), m_bShow(bShow), m_strSource(std::move(strSource))
    {
    }
    void Report(const std::string& strText) override
    {
        m_recorded.Report(strText);
        if (!m_bShow)
            return;
        m_err << "dbfrepair repair: ";
        if (strText.compare(0, m_strSource.size() + 1, m_strSource + ":") != 0)
            m_err << m_strSource << ": ";
        m_err << strText << std::endl;
    }
    std::vector<std::string> Messages() const { return m_recorded.Messages(); }

private:
    std::ostream& m_err;
    const bool m_bShow;
    const std::string m_strSource;
    CRecordingReporter m_recorded;
};

// Writes the report as JSON into strPath, whole or not at all: written in
// the private temporary folder, then placed under its name in one rename
// (over an existing file only with bReplace). False, with the reason
// reported, when it could not be.
bool WriteReportFile(const std::string& strPath, const RepairReport& report, bool bReplace)
{
    const std::string strTemp = CTempFolder::ProcessFolder() + "/report.json";
    try {
        CFile file;
        CFileException error;
        if (!file.Open(strTemp, CFile::modeCreate | CFile::modeWrite, &error))
            ThrowOsFileError(error.m_lOsError, strTemp);
        const std::string strJson = RepairReportToJson(report) + "\n";
        file.Write(strJson.data(), strJson.size());
        file.Close();
        CFilePlacer placer;
        placer.SetReplaceExisting(bReplace);
        placer.SetCancelCheck([] { return CStopSignals::GetSignal() != 0; });
        placer.Place({{strTemp, strPath}}, true);
    } catch (const CFileException& e) {
        CFileSystem::Remove(strTemp);
        if (e.m_lOsError != ECANCELED)
            ReportErrorText("The repair report could not be written to " + strPath
                            + (e.m_lOsError ? std::string(": ") + COsError::Text(e.m_lOsError) : std::string()));
        return false;
    }
    return true;
}

// What one single-table run did, for printing.
struct SingleOutcome {
    bool bDone = false;
    bool bStopped = false;
    SavedRepairFiles saved;
    RepairReport report;
    RepairStatistics stats;
    std::vector<std::string> messages;
    double dSeconds = 0;
    uint64_t nBytes = 0; // of the source table and its memo file
};

// Why a check before the run refused it.
struct Refusal {
    int nExitCode = kExitTableError;
    std::string strShown;  // the line on standard error
    std::string strReason; // the same for the verdict and the JSON object
};

Refusal Refuse(int nExitCode, const std::string& strReason, bool bNamed = true)
{
    return {nExitCode, (bNamed ? "dbfrepair repair: " : "") + strReason, strReason};
}

// The checks before any work; why the run must not start, if it must not.
std::optional<Refusal> CheckBeforeRun(const RepairArguments& args)
{
    const std::string& strSource = args.sources.empty() ? std::string() : args.sources.front();
    if (const SourceCheck check = CRepairJob::CheckSource(strSource, CRepairJob::SourceCheckOrder::FileFirst);
        !check.IsOk()) {
        // The wizard's own texts stand alone.
        return Refuse(check.IsUsage() ? kExitUsage : kExitTableError, check.strMessage,
                      check.eProblem == SourceProblem::Unreadable || check.eProblem == SourceProblem::NotATable);
    }
    if (const std::string strMessage = CRepairJob::CheckSaveFolder(args.strFolder, !args.bDryRun);
        !strMessage.empty())
        return Refuse(kExitTableError, strMessage);
    if (args.strReport.empty())
        return std::nullopt;
    // The report must never overwrite the source or its memo file.
    if (SameFile(args.strReport, strSource)
        || SameFile(args.strReport, FindMemoCompanion(CDBFRepair::ResolvedTablePath(strSource))))
        return Refuse(kExitUsage, "the report file " + args.strReport + " is the table or its memo file");
    // Nor another file unasked, nor ever anything but a file.
    if (CFileSystem::Status status; CFileSystem::GetLinkStatus(args.strReport, status) == 0) {
        if (!args.bForce)
            return Refuse(kExitTableError, args.strReport + ": the report file exists (--force replaces it)");
        if (!status.bRegular)
            return Refuse(kExitTableError, args.strReport + ": the report file exists and is no regular file");
    }
    return std::nullopt;
}

// The engine tells a memo file's format by its extension (.fpt, .dbt,
// .smt). A memo file that the user names is used whatever its extension:
// through a link with the extension the table's version byte calls for.
// The path as named when no link is needed or none can be made.
std::string MemoPathForEngine(const RepairArguments& args, CMemoOverride& link)
{
    const std::string strExt = LowerCaseAscii(PathExtension(args.strMemo));
    if (args.strMemo.empty() || strExt == "fpt" || strExt == "dbt" || strExt == "smt")
        return args.strMemo;
    CTableProbe probe;
    std::string strError;
    if (!probe.Probe(args.sources.front())
        || !link.Prepare(args.sources.front(), args.strMemo, probe.GetHeader().GetVersion(),
                         probe.GetHeader().GetTableFlags(), strError))
        return args.strMemo;
    return link.GetLinkedMemoPath();
}

// Takes back a table saved by a run that then failed.
void RemoveSaved(SavedRepairFiles& saved)
{
    if (!saved.strTable.empty())
        CFileSystem::Remove(saved.strTable);
    if (!saved.strMemo.empty())
        CFileSystem::Remove(saved.strMemo);
    saved = SavedRepairFiles();
}

RepairOutcome EndOf(const SingleOutcome& outcome)
{
    return outcome.bDone ? RepairOutcome::Done : RepairOutcome::Failed;
}

int ExitCodeOf(const SingleOutcome& outcome)
{
    if (const int nStatus = CStopSignals::ExitStatus())
        return nStatus;
    return RepairExitCode(EndOf(outcome), &outcome.report);
}

// What the report tells of the run's end: what was saved, the outcome, the
// exit code.
void Conclude(SingleOutcome& outcome)
{
    outcome.report.strSavedTable = outcome.saved.strTable;
    outcome.report.strSavedMemo = outcome.saved.strMemo;
    outcome.report.outcome = EndOf(outcome);
    outcome.report.nExitCode = ExitCodeOf(outcome);
}

SingleOutcome ExecuteSingle(const RepairArguments& args, std::ostream& err)
{
    SingleOutcome outcome;
    const auto start = std::chrono::steady_clock::now();
    CKeepingReporter reporter(err, !args.bQuiet, args.sources.front());
    CScopedErrorReporter reporterScope(&reporter);
    CConsoleProgressSink progress(err);
    CStopRelaySink relay(!args.bQuiet && CFileSystem::IsStandardErrorTerminal() ? &progress : nullptr);

    RepairOptions repairOptions;
    repairOptions.bUndelete = args.bUndelete;
    CMemoOverride memoLink;
    repairOptions.strMemoPath = MemoPathForEngine(args, memoLink);
    CRepairJob job(args.sources.front(), repairOptions);
    CRepairContext context(ProcessRunState(), &relay, &reporter);
    job.Run(context, nullptr);
    progress.Finish();
    if (!job.GetError().empty())
        ReportErrorText(job.GetError());
    auto stopped = [] { return g_bStopRepair.load() != 0 || CStopSignals::GetSignal() != 0; };
    outcome.bDone = job.IsDone() && !stopped();
    outcome.report = job.GetReport();
    // The report names the memo file as the user named it, not the link.
    if (!args.strMemo.empty() && outcome.report.strSourceMemo == repairOptions.strMemoPath)
        outcome.report.strSourceMemo = args.strMemo;
    outcome.stats = job.GetStatistics();
    for (const std::string& strFile : {args.sources.front(), outcome.report.strSourceMemo}) {
        CFileSystem::Status status;
        if (!strFile.empty() && CFileSystem::GetStatus(strFile, status) == 0)
            outcome.nBytes += status.nSize;
    }

    if (outcome.bDone && !args.bDryRun) {
        try {
            outcome.saved = job.SaveOnce(args.strFolder, args.strPrefix,
                                         [] { return CStopSignals::GetSignal() != 0; });
        } catch (const CFileException& e) {
            if (e.m_lOsError != ECANCELED)
                e.ReportError();
            outcome.bDone = false;
        } catch (const CException& e) {
            e.ReportError();
            outcome.bDone = false;
        }
        // A signal during the last rename still means: leave nothing.
        if (outcome.bDone && CStopSignals::GetSignal() != 0) {
            RemoveSaved(outcome.saved);
            outcome.bDone = false;
        }
    }
    job.Discard();
    outcome.bStopped = stopped();
    Conclude(outcome);
    // The report tells the outcome, so it comes last; a run whose report
    // cannot be written keeps nothing, so exit code 1 always means that
    // nothing was saved.
    if (!args.strReport.empty() && !outcome.bStopped
        && !WriteReportFile(args.strReport, outcome.report, args.bForce)) {
        RemoveSaved(outcome.saved);
        outcome.bDone = false;
        Conclude(outcome);
    }
    outcome.bStopped = stopped();
    outcome.messages = reporter.Messages();
    outcome.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

// Why the run failed, in one line, for the verdict.
std::string FailureReason(const SingleOutcome& outcome)
{
    if (outcome.bStopped)
        return "The repair was stopped.";
    if (outcome.messages.empty())
        return "The repair failed.";
    const std::string& strLast = outcome.messages.back();
    return strLast.substr(0, strLast.find('\n'));
}

void PrintSingle(const RepairArguments& args, const SingleOutcome& outcome, std::ostream& out, std::ostream& err)
{
    if (outcome.bStopped)
        err << "The repair was stopped.\n";
    const RepairStatistics& stats = outcome.stats;
    if (args.bJson) {
        out << RepairResultToJson({.strSource = args.sources.front(), .outcome = EndOf(outcome), .saved = outcome.saved,
                                   .nFields = stats.nFieldCount, .nBytes = outcome.nBytes, .dSeconds = outcome.dSeconds,
                                   .bDryRun = args.bDryRun, .nExitCode = outcome.report.nExitCode,
                                   .strError = outcome.bDone ? std::string()
                                                             : FailureText(outcome.messages, outcome.bStopped),
                                   .pReport = &outcome.report})
            << "\n";
    } else {
        out << RepairOutcomeText(EndOf(outcome)) << "\n";
        if (outcome.bDone) {
            if (args.bDryRun) {
                out << "Dry run: nothing saved\n";
            } else {
                out << "Table: " << outcome.saved.strTable << "\n";
                if (!outcome.saved.strMemo.empty())
                    out << "Memo:  " << outcome.saved.strMemo << "\n";
            }
            out << "Fields: " << stats.nFieldCount << ", records: " << stats.nRecordsWritten
                << " (marked deleted: " << stats.nDeletedRecords << "), memo texts: " << stats.nMemoTextsRecovered;
            if (stats.nMemoTextsLost > 0)
                out << " (not found: " << stats.nMemoTextsLost << ")";
            out << "\n";
        }
    }
    out.flush();
    if (args.bQuiet)
        return;
    // A failed run saved nothing, so its report only tells how far it got.
    // The summary of a Done run ends with its verdict.
    if (outcome.bDone)
        err << RepairReportSummary(outcome.report) << "\n";
    else
        err << "Failed: " << FailureReason(outcome) << "\n";
}

// A check refused the table: its message, and the same as a Failed result.
int PrintRefusal(const RepairArguments& args, const Refusal& refusal, std::ostream& out, std::ostream& err)
{
    if (!args.bQuiet)
        err << refusal.strShown << "\n";
    if (args.bJson) {
        RepairResult result;
        result.strSource = args.sources.empty() ? std::string() : args.sources.front();
        result.bDryRun = args.bDryRun;
        result.nExitCode = refusal.nExitCode;
        result.strError = refusal.strReason;
        out << RepairResultToJson(result) << "\n";
        out.flush();
    }
    if (!args.bQuiet)
        err << "Failed: " << refusal.strReason << "\n";
    return refusal.nExitCode;
}

int RunSingle(const RepairArguments& args, std::ostream& out, std::ostream& err)
{
    if (const std::optional<Refusal> refusal = CheckBeforeRun(args))
        return PrintRefusal(args, *refusal, out, err);
    const SingleOutcome outcome = ExecuteSingle(args, err);
    PrintSingle(args, outcome, out, err);
    return outcome.report.nExitCode;
}

int Run(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err)
{
    RepairArguments args;
    if (const std::optional<int> nExit = ParseRepairArguments(argv, out, err, &Help, args))
        return *nExit;
    if (args.IsBatch()) {
        // From here on Ctrl-C stops every worker; each cleans up after itself.
        std::atomic<int> nAbort{0};
        CStopSignals signals(&nAbort);
        return CBatchRepair(args, &nAbort).Run(out, err);
    }
    // From here on a stop signal ends the run on its own path (temporary
    // files removed, nothing saved) with status 128 + the signal.
    CStopSignals signals(&g_bStopRepair);
    return RunSingle(args, out, err);
}

} // namespace

CliCommand RepairCommand()
{
    return {"repair", "repair a damaged table and save the result", &Run, &Help};
}
