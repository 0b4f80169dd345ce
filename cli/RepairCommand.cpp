#include "cli/RepairCommand.h"

#include "cli/CommandLine.h"
#include "cli/ConsoleProgressSink.h"
#include "cli/TableProbe.h"
#include "platform/ErrorReporter.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "platform/FileException.h"
#include "platform/StopSignals.h"
#include "repair/DBFRepair.h"
#include "repair/RepairPaths.h"
#include "repair/RepairReport.h"
#include "repair/RepairState.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The texts of the checks the desktop program makes before a repair.
constexpr const char* kMsgNoFile = "Please select file(s) to repair";
constexpr const char* kMsgInvalidName = "Invalid File Name";
constexpr const char* kMsgInUse = "The process cannot access the file because it is used by another process.";

// The run finished, but records, values or memos were lost or dropped.
constexpr int kExitRepairedWithLosses = 3;

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair repair SOURCE.dbf [-o DIR] [--prefix TEXT] [--json] [--quiet] [--undelete]\n"
           "                        [--report FILE] [--dry-run] [--memo FILE]\n"
           "\n"
           "Repairs a damaged table: rebuilds its structure from the raw field\n"
           "descriptors, salvages every record field by field, recovers the memo\n"
           "texts, and saves the new table (with its memo file) into DIR (default:\n"
           "the current folder) as PREFIX_1_name.dbf, inserting \"_(1)\" after the\n"
           "prefix while the name is taken. The source is never modified.\n"
           "\n"
           "  -o, --output DIR   folder to save the repaired table into\n"
           "  --prefix TEXT      file-name prefix (default Rep); not empty, at most 50\n"
           "                     characters, none of / \\ | * : ? < > '\n"
           "  --json             print one summary object on standard output, with\n"
           "                     the repair report (\"report\") and, when the run\n"
           "                     failed, the reasons (\"error\")\n"
           "  --quiet            nothing on standard error: no progress, no summary,\n"
           "                     no error messages (the exit code still tells)\n"
           "  --undelete         bring records marked deleted back to life (by\n"
           "                     default they stay marked deleted)\n"
           "  --memo FILE        read the memo values from FILE instead of the memo\n"
           "                     file beside the table (its extension, .fpt, .dbt or\n"
           "                     .smt, tells its format)\n"
           "  --report FILE      write the repair report into FILE as JSON: records\n"
           "                     written and dropped (with their byte ranges), values\n"
           "                     mended per column, memos recovered and lost, fixes\n"
           "                     to the structure, index files to rebuild\n"
           "  --dry-run          repair and report, but save no table\n"
           "\n"
           "Progress, errors and, after the run, a short summary of the report go\n"
           "to standard error.\n"
           "Exit codes:\n"
           "  0  Done, and nothing was lost\n"
           "  1  Failed: the table could not be read (missing, not readable, not a\n"
           "     table, in use), the output folder cannot take the files, the\n"
           "     repair failed or the report file could not be written; nothing\n"
           "     was saved\n"
           "  2  bad usage (also a name without .dbf, or a bad prefix)\n"
           "  3  Done, but records, values or memos were lost or dropped (the\n"
           "     table is saved; the report says what is missing)\n"
           "  129, 130, 143  stopped by SIGHUP, SIGINT, SIGTERM: nothing saved, the\n"
           "     temporary files removed\n"
           "A write over the file-size limit (ulimit -f) is a Failed run.\n";
}

struct Options {
    std::string strSource;
    bool bSourceGiven = false;
    std::string strFolder = ".";
    std::string strPrefix = kDefaultSavedPrefix;
    bool bJson = false;
    bool bQuiet = false;
    bool bUndelete = false;
    bool bDryRun = false;
    std::string strReport; // empty: no report file
    std::string strMemo;   // empty: the memo file beside the table
};

std::string JsonString(const std::string& str)
{
    return JsonQuote(str);
}

std::string JsonPathOrNull(const std::string& str)
{
    return str.empty() ? "null" : JsonString(str);
}

// The checks of the desktop program's Next button, on the path as given,
// with the system's reason where the file cannot be read. Returns the
// message to show (and sets nExit), or an empty text when the file may be
// repaired.
std::string CheckSource(const std::string& strSource, int& nExit)
{
    nExit = kExitUsage;
    if (strSource.empty())
        return kMsgNoFile;
    if (LowerCaseAscii(strSource).find(".dbf") == std::string::npos)
        return kMsgInvalidName;
    nExit = kExitTableError;
    CTableProbe probe;
    if (!probe.Probe(strSource))
        return "dbfrepair repair: " + strSource + ": " + probe.GetError();
    // The file can be read, so a refused exclusive open is another
    // program's lock.
    CFile probeLock;
    if (!probeLock.Open(strSource, CFile::modeRead | CFile::shareExclusive))
        return kMsgInUse;
    probeLock.Close();
    return std::string();
}

// The output folder must take the saved files: checked before the repair
// starts, so that a long run does not end in a refused save.
std::string CheckFolder(const std::string& strFolder, bool bWritable)
{
    struct stat st {};
    if (::stat(strFolder.c_str(), &st) != 0)
        return "dbfrepair repair: " + strFolder + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return "dbfrepair repair: " + strFolder + ": " + std::strerror(ENOTDIR);
    if (bWritable && ::access(strFolder.c_str(), W_OK | X_OK) != 0)
        return "dbfrepair repair: " + strFolder + ": " + std::strerror(errno);
    return std::string();
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

// Saves the repaired table and its memo file into strFolder under the
// prefixed, collision-free name: whole or not at all (see MoveRepairedFiles). A
// stop signal cancels the save.
SavedRepairFiles SaveResult(const std::string& strTemp, const std::string& strFolder, const std::string& strPrefix)
{
    return MoveRepairedFiles(strTemp, strFolder, strPrefix, [] { return CStopSignals::GetSignal() != 0; });
}

// Shows the engine's messages as the default reporter does (unless the user
// asked for quiet) and keeps them for the JSON summary.
class CKeepingReporter : public CErrorReporter {
public:
    CKeepingReporter(std::ostream& err, bool bShow) : m_err(err), m_bShow(bShow) {}
    void Report(const std::string& strText) override
    {
        m_recorded.Report(strText);
        if (m_bShow)
            m_err << strText << std::endl;
    }
    std::vector<std::string> Messages() const { return m_recorded.Messages(); }

private:
    std::ostream& m_err;
    const bool m_bShow;
    CRecordingReporter m_recorded;
};

// Why a run failed, for the JSON summary: the engine's messages, one a line.
std::string FailureText(const std::vector<std::string>& messages, bool bStopped)
{
    std::string strText;
    for (const std::string& strMessage : messages)
        strText += (strText.empty() ? "" : "\n") + strMessage;
    if (bStopped)
        strText += std::string(strText.empty() ? "" : "\n") + "The repair was stopped.";
    return strText.empty() ? "The repair failed." : strText;
}

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

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    // From here on a stop signal ends the run on its own path (temporary
    // files removed, nothing saved) with status 128 + the signal.
    CStopSignals signals(&g_bStopRepair);
    Options options;
    CCommandLine cl("repair");
    bool bReportGiven = false;
    cl.AddValue({"-o", "--output"}, &options.strFolder);
    cl.AddValue({"--prefix"}, &options.strPrefix);
    cl.AddFlag({"--json"}, &options.bJson);
    cl.AddFlag({"--quiet", "-q"}, &options.bQuiet);
    cl.AddFlag({"--undelete"}, &options.bUndelete);
    cl.AddFlag({"--dry-run"}, &options.bDryRun);
    cl.AddValue({"--report"}, &options.strReport, &bReportGiven);
    cl.AddValue({"--memo"}, &options.strMemo);
    if (!cl.Parse(args, err))
        return kExitUsage;
    if (cl.IsHelp()) {
        Help(out);
        return kExitSuccess;
    }
    if (bReportGiven && options.strReport.empty()) {
        err << "dbfrepair repair: --report needs a file name\n";
        return kExitUsage;
    }
    if (cl.GetOperands().size() > 1) {
        err << "dbfrepair repair: only one table can be repaired at a time\n";
        return kExitUsage;
    }
    options.bSourceGiven = !cl.GetOperands().empty();
    if (options.bSourceGiven)
        options.strSource = cl.GetOperands().front();

    int nRefused = kExitUsage;
    if (const std::string strMessage = CheckSource(options.strSource, nRefused); !strMessage.empty()) {
        err << strMessage << "\n";
        return nRefused;
    }
    if (const std::string strMessage = CheckSavedPrefix(options.strPrefix); !strMessage.empty()) {
        err << strMessage << "\n";
        return kExitUsage;
    }
    if (const std::string strMessage = CheckFolder(options.strFolder, !options.bDryRun); !strMessage.empty()) {
        err << strMessage << "\n";
        return kExitTableError;
    }
    // The report must never overwrite the source or its memo file.
    if (!options.strReport.empty()
        && (SameFile(options.strReport, options.strSource)
            || SameFile(options.strReport, FindMemoCompanion(CDBFRepair::ResolvedTablePath(options.strSource))))) {
        err << "dbfrepair repair: the report file " << options.strReport << " is the table or its memo file\n";
        return kExitUsage;
    }

    const auto start = std::chrono::steady_clock::now();
    std::string strTemp;
    try {
        strTemp = BuildTempOutputPath(options.strSource, 0);
    } catch (const CException& e) {
        e.ReportError();
        return kExitTableError;
    }
    // A leftover of an earlier run of the same name goes first.
    RemoveRepairedFiles(strTemp);

    CKeepingReporter reporter(err, !options.bQuiet);
    CScopedErrorReporter reporterScope(&reporter);
    CConsoleProgressSink progress(err, !options.bQuiet && ::isatty(STDERR_FILENO) == 1);
    CStopRelaySink relay(options.bQuiet ? nullptr : &progress);
    CDBFRepair engine(&relay, nullptr);
    RepairOptions repairOptions;
    repairOptions.bUndelete = options.bUndelete;
    repairOptions.strMemoPath = options.strMemo;
    engine.SetOptions(repairOptions);

    bool bOk = false;
    try {
        bOk = engine.Repair(options.strSource, strTemp, 0);
    } catch (const CException& e) {
        progress.Finish();
        e.ReportError();
    } catch (const std::exception& e) {
        progress.Finish();
        ReportErrorText(e.what());
    }
    progress.Finish();
    auto stopped = [] { return g_bStopRepair.load() != 0 || CStopSignals::GetSignal() != 0; };
    bool bDone = bOk && !stopped();

    const RepairReport& report = engine.GetReport();
    // The report goes first: a run whose report cannot be written saves
    // nothing, so exit code 1 always means that nothing was saved.
    if (!options.strReport.empty() && !WriteReportFile(options.strReport, report))
        bDone = false;

    SavedRepairFiles saved;
    if (bDone && !options.bDryRun) {
        try {
            saved = SaveResult(strTemp, options.strFolder, options.strPrefix);
        } catch (const CFileException& e) {
            if (e.m_lOsError != ECANCELED)
                e.ReportError();
            bDone = false;
        } catch (const CException& e) {
            e.ReportError();
            bDone = false;
        }
        // A signal during the last rename still means: leave nothing.
        if (bDone && CStopSignals::GetSignal() != 0) {
            ::unlink(saved.strTable.c_str());
            if (!saved.strMemo.empty())
                ::unlink(saved.strMemo.c_str());
            saved = SavedRepairFiles();
            bDone = false;
        }
    }
    RemoveRepairedFiles(strTemp);
    const bool bStopped = stopped();
    if (bStopped)
        err << "The repair was stopped.\n";

    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const RepairStatistics& stats = engine.GetStatistics();
    // A failed run saved nothing, so its report only tells how far it got.
    if (bDone && !options.bQuiet)
        err << RepairReportSummary(report) << "\n";
    const char* lpszStatus = bDone ? "Done" : "Failed";
    if (options.bJson) {
        char szSeconds[32];
        std::snprintf(szSeconds, sizeof szSeconds, "%.3f", dSeconds);
        out << "{\"status\": " << JsonString(lpszStatus) << ", \"source\": " << JsonString(options.strSource)
            << ", \"table\": " << JsonPathOrNull(saved.strTable) << ", \"memo\": " << JsonPathOrNull(saved.strMemo)
            << ", \"fields\": " << stats.nFieldCount << ", \"records\": " << stats.nRecordsWritten
            << ", \"deleted_records\": " << stats.nDeletedRecords
            << ", \"memo_texts\": " << stats.nMemoTextsRecovered
            << ", \"memo_texts_lost\": " << stats.nMemoTextsLost << ", \"seconds\": " << szSeconds
            << ", \"dry_run\": " << (options.bDryRun ? "true" : "false") << ", \"report\": " << RepairReportToJson(report);
        if (!bDone)
            out << ", \"error\": " << JsonString(FailureText(reporter.Messages(), bStopped));
        out << "}\n";
    } else {
        out << lpszStatus << "\n";
        if (bDone && options.bDryRun) {
            out << "Dry run: nothing saved\n";
        } else if (bDone) {
            out << "Table: " << saved.strTable << "\n";
            if (!saved.strMemo.empty())
                out << "Memo:  " << saved.strMemo << "\n";
        }
        if (bDone) {
            out << "Fields: " << stats.nFieldCount << ", records: " << stats.nRecordsWritten
                << " (marked deleted: " << stats.nDeletedRecords << "), memo texts: " << stats.nMemoTextsRecovered;
            if (stats.nMemoTextsLost > 0)
                out << " (not found: " << stats.nMemoTextsLost << ")";
            out << "\n";
        }
    }
    out.flush();
    if (const int nStatus = CStopSignals::ExitStatus())
        return nStatus;
    if (!bDone)
        return kExitTableError;
    return report.HasLosses() ? kExitRepairedWithLosses : kExitSuccess;
}

} // namespace

CliCommand RepairCommand()
{
    return {"repair", "repair a damaged table and save the result", &Run, &Help};
}
