#include "cli/RepairCommand.h"

#include "cli/BatchRepair.h"
#include "cli/CommandLine.h"
#include "cli/RepairArguments.h"
#include "cli/ConsoleProgressSink.h"
#include "cli/MemoOverride.h"
#include "dbf/TableProbe.h"
#include "platform/ErrorReporter.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "platform/StopSignals.h"
#include "repair/DBFRepair.h"
#include "repair/RepairJob.h"
#include "repair/RepairPaths.h"
#include "repair/RepairReport.h"
#include "repair/RepairState.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <fstream>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair repair SOURCE.dbf [-o DIR] [--prefix TEXT] [--json] [--quiet] [--undelete]\n"
           "                        [--report FILE] [--dry-run] [--memo FILE]\n"
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
           "  --json             print one summary object on standard output, with\n"
           "                     the repair report (\"report\") and, when the run\n"
           "                     failed, the reasons (\"error\"); in a batch one\n"
           "                     object a table as it finishes, then a summary\n"
           "  --quiet            nothing on standard error: no progress, no summary,\n"
           "                     no error messages (the exit code still tells)\n"
           "  --undelete         bring records marked deleted back to life (by\n"
           "                     default they stay marked deleted)\n"
           "  --memo FILE        read the memo values from FILE instead of the memo\n"
           "                     file beside the table, whatever its extension\n"
           "                     (.fpt, .dbt and .smt tell its format, the table's\n"
           "                     version byte any other); one table only\n"
           "  --report FILE      write the repair report into FILE as JSON: records\n"
           "                     written and dropped (with their byte ranges), values\n"
           "                     mended per column, memos recovered and lost, fixes\n"
           "                     to the structure, index files to rebuild; one table\n"
           "                     only\n"
           "  --dry-run          repair and report, but save no table\n"
           "  -j, --jobs N       batch: N tables at a time (default: one per core)\n"
           "  -r, --recursive    batch: walk the folders' subfolders too (never the\n"
           "                     output folder)\n"
           "\n"
           "Progress, errors and, after the run, a short summary of the report go\n"
           "to standard error. A write over the file-size limit (ulimit -f) is a\n"
           "Failed run.\n"
           "\n"
           "Exit codes, the same for the same failure in every command:\n";
    PrintExitCodes(out);
}

// True when both paths name one existing file.
bool SameFile(const std::string& strA, const std::string& strB)
{
    struct stat a {};
    struct stat b {};
    return ::stat(strA.c_str(), &a) == 0 && ::stat(strB.c_str(), &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
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

// Writes the report as JSON into strPath; false (with the reason reported)
// when the file cannot be written whole.
bool WriteReportFile(const std::string& strPath, const RepairReport& report)
{
    errno = 0;
    std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
    if (file)
        file << RepairReportToJson(report) << "\n";
    file.close();
    if (!file) {
        const int nErrno = errno;
        ReportErrorText("The repair report could not be written to " + strPath
                        + (nErrno ? std::string(": ") + std::strerror(nErrno) : std::string()));
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
};

// The checks before any work; an exit code when the run must not start.
std::optional<int> CheckBeforeRun(const RepairArguments& args, std::ostream& err)
{
    const std::string& strSource = args.sources.empty() ? std::string() : args.sources.front();
    if (const SourceCheck check = CRepairJob::CheckSource(strSource, CRepairJob::SourceCheckOrder::FileFirst);
        !check.IsOk()) {
        err << (check.eProblem == SourceProblem::Unreadable || check.eProblem == SourceProblem::NotATable
                    ? "dbfrepair repair: "
                    : "")
            << check.strMessage << "\n";
        return check.IsUsage() ? kExitUsage : kExitTableError;
    }
    if (const std::string strMessage = CRepairJob::CheckSaveFolder(args.strFolder, !args.bDryRun);
        !strMessage.empty()) {
        err << "dbfrepair repair: " << strMessage << "\n";
        return kExitTableError;
    }
    // The report must never overwrite the source or its memo file.
    if (!args.strReport.empty()
        && (SameFile(args.strReport, strSource)
            || SameFile(args.strReport, FindMemoCompanion(CDBFRepair::ResolvedTablePath(strSource))))) {
        err << "dbfrepair repair: the report file " << args.strReport << " is the table or its memo file\n";
        return kExitUsage;
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

SingleOutcome ExecuteSingle(const RepairArguments& args, std::ostream& err)
{
    SingleOutcome outcome;
    const auto start = std::chrono::steady_clock::now();
    CKeepingReporter reporter(err, !args.bQuiet, args.sources.front());
    CScopedErrorReporter reporterScope(&reporter);
    CConsoleProgressSink progress(err, !args.bQuiet && ::isatty(STDERR_FILENO) == 1);
    CStopRelaySink relay(args.bQuiet ? nullptr : &progress);

    RepairOptions repairOptions;
    repairOptions.bUndelete = args.bUndelete;
    CMemoOverride memoLink;
    repairOptions.strMemoPath = MemoPathForEngine(args, memoLink);
    CRepairJob job(args.sources.front(), repairOptions);
    job.Run(&relay, nullptr);
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

    // The report goes first: a run whose report cannot be written saves
    // nothing, so exit code 1 always means that nothing was saved.
    if (!args.strReport.empty() && !WriteReportFile(args.strReport, outcome.report))
        outcome.bDone = false;
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
            ::unlink(outcome.saved.strTable.c_str());
            if (!outcome.saved.strMemo.empty())
                ::unlink(outcome.saved.strMemo.c_str());
            outcome.saved = SavedRepairFiles();
            outcome.bDone = false;
        }
    }
    job.Discard();
    outcome.bStopped = stopped();
    outcome.messages = reporter.Messages();
    outcome.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

void PrintSingle(const RepairArguments& args, const SingleOutcome& outcome, std::ostream& out, std::ostream& err)
{
    if (outcome.bStopped)
        err << "The repair was stopped.\n";
    // A failed run saved nothing, so its report only tells how far it got.
    if (outcome.bDone && !args.bQuiet)
        err << RepairReportSummary(outcome.report) << "\n";
    const RepairStatistics& stats = outcome.stats;
    const char* lpszStatus = outcome.bDone ? "Done" : "Failed";
    if (args.bJson) {
        out << "{\"status\": " << JsonQuote(lpszStatus) << ", \"source\": " << JsonQuote(args.sources.front())
            << ", \"table\": " << JsonPathOrNull(outcome.saved.strTable)
            << ", \"memo\": " << JsonPathOrNull(outcome.saved.strMemo) << ", \"fields\": " << stats.nFieldCount
            << ", \"records\": " << stats.nRecordsWritten << ", \"deleted_records\": " << stats.nDeletedRecords
            << ", \"memo_texts\": " << stats.nMemoTextsRecovered
            << ", \"memo_texts_lost\": " << stats.nMemoTextsLost << ", \"seconds\": " << JsonSeconds(outcome.dSeconds)
            << ", \"dry_run\": " << (args.bDryRun ? "true" : "false")
            << ", \"report\": " << RepairReportToJson(outcome.report);
        if (!outcome.bDone)
            out << ", \"error\": " << JsonQuote(FailureText(outcome.messages, outcome.bStopped));
        out << "}\n";
        return;
    }
    out << lpszStatus << "\n";
    if (!outcome.bDone)
        return;
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

int RunSingle(const RepairArguments& args, std::ostream& out, std::ostream& err)
{
    if (const std::optional<int> nRefused = CheckBeforeRun(args, err))
        return *nRefused;
    const SingleOutcome outcome = ExecuteSingle(args, err);
    PrintSingle(args, outcome, out, err);
    out.flush();
    if (const int nStatus = CStopSignals::ExitStatus())
        return nStatus;
    if (!outcome.bDone)
        return kExitTableError;
    return outcome.report.HasLosses() ? kExitWithLosses : kExitSuccess;
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
