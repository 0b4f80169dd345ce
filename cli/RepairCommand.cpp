#include "cli/RepairCommand.h"

#include "cli/ConsoleProgressSink.h"
#include "platform/ErrorReporter.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "repair/DBFRepair.h"
#include "repair/RepairPaths.h"
#include "repair/RepairState.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The texts of the checks the desktop program makes before a repair.
constexpr const char* kMsgNoFile = "Please select file(s) to repair";
constexpr const char* kMsgInvalidName = "Invalid File Name";
constexpr const char* kMsgInUse = "The process cannot access the file because it is used by another process.";

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair repair SOURCE.dbf [-o DIR] [--prefix TEXT] [--json] [--quiet] [--undelete]\n"
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
           "  --json             print one summary object on standard output\n"
           "  --quiet            no progress on standard error\n"
           "  --undelete         bring records marked deleted back to life (by\n"
           "                     default they stay marked deleted)\n"
           "\n"
           "Progress and errors go to standard error.\n"
           "Exit codes: 0 Done, 1 Failed, 2 refused (bad usage or a file that cannot be\n"
           "repaired).\n";
}

struct Options {
    std::string strSource;
    bool bSourceGiven = false;
    std::string strFolder = ".";
    std::string strPrefix = kDefaultSavedPrefix;
    bool bJson = false;
    bool bQuiet = false;
    bool bUndelete = false;
};

std::string JsonString(const std::string& str)
{
    std::string strOut = "\"";
    for (const char c : str) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': strOut += "\\\""; break;
        case '\\': strOut += "\\\\"; break;
        case '\n': strOut += "\\n"; break;
        case '\r': strOut += "\\r"; break;
        case '\t': strOut += "\\t"; break;
        default:
            if (u < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", u);
                strOut += buf;
            } else {
                strOut += c;
            }
        }
    }
    return strOut + "\"";
}

std::string JsonPathOrNull(const std::string& str)
{
    return str.empty() ? "null" : JsonString(str);
}

bool IsFolder(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The checks of the desktop program's Next button, on the path as given.
// Returns the message to show, or an empty text when the file may be
// repaired.
std::string CheckSource(const std::string& strSource)
{
    if (strSource.empty())
        return kMsgNoFile;
    struct stat st {};
    if (::stat(strSource.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return kMsgInvalidName;
    if (LowerCaseAscii(strSource).find(".dbf") == std::string::npos)
        return kMsgInvalidName;
    CFile probe;
    if (!probe.Open(strSource, CFile::modeRead | CFile::shareExclusive))
        return kMsgInUse;
    probe.Close();
    return std::string();
}

// Ctrl+C asks the engine to stop; a second one ends the program at once.
void OnInterrupt(int)
{
    g_bStopRepair.store(1);
}

class CInterruptScope {
public:
    CInterruptScope()
    {
        struct sigaction action {};
        action.sa_handler = &OnInterrupt;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_previous);
        ::sigaction(SIGTERM, &action, &m_previousTerm);
    }
    ~CInterruptScope()
    {
        ::sigaction(SIGINT, &m_previous, nullptr);
        ::sigaction(SIGTERM, &m_previousTerm, nullptr);
    }
    CInterruptScope(const CInterruptScope&) = delete;
    CInterruptScope& operator=(const CInterruptScope&) = delete;

private:
    struct sigaction m_previous {};
    struct sigaction m_previousTerm {};
};

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& strTarget) {
            if (i + 1 >= args.size()) {
                err << "dbfrepair repair: " << a << " needs a value\n";
                return false;
            }
            strTarget = args[++i];
            return true;
        };
        if (IsHelpOption(a)) {
            Help(out);
            return kExitSuccess;
        } else if (a == "-o" || a == "--output") {
            if (!value(options.strFolder))
                return kExitUsage;
        } else if (a == "--prefix") {
            if (!value(options.strPrefix))
                return kExitUsage;
        } else if (a == "--json") {
            options.bJson = true;
        } else if (a == "--quiet" || a == "-q") {
            options.bQuiet = true;
        } else if (a == "--undelete") {
            options.bUndelete = true;
        } else if (a.size() > 1 && a[0] == '-') {
            err << "dbfrepair repair: unknown option " << a << " (see dbfrepair repair --help)\n";
            return kExitUsage;
        } else if (options.bSourceGiven) {
            err << "dbfrepair repair: only one table can be repaired at a time\n";
            return kExitUsage;
        } else {
            options.strSource = a;
            options.bSourceGiven = true;
        }
    }

    if (const std::string strMessage = CheckSource(options.strSource); !strMessage.empty()) {
        err << strMessage << "\n";
        return kExitUsage;
    }
    if (const std::string strMessage = CheckSavedPrefix(options.strPrefix); !strMessage.empty()) {
        err << strMessage << "\n";
        return kExitUsage;
    }
    if (!IsFolder(options.strFolder)) {
        err << "dbfrepair repair: " << options.strFolder << " is not a folder\n";
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

    CConsoleProgressSink progress(err, !options.bQuiet && ::isatty(STDERR_FILENO) == 1);
    CDBFRepair engine(options.bQuiet ? nullptr : &progress, nullptr);
    RepairOptions repairOptions;
    repairOptions.bUndelete = options.bUndelete;
    engine.SetOptions(repairOptions);

    bool bOk = false;
    {
        CInterruptScope interrupt;
        try {
            bOk = engine.Repair(options.strSource, strTemp, 0);
        } catch (const CException& e) {
            progress.Finish();
            e.ReportError();
        } catch (const std::exception& e) {
            progress.Finish();
            ReportErrorText(e.what());
        }
    }
    progress.Finish();
    const bool bStopped = g_bStopRepair.load() != 0;
    bool bDone = bOk && !bStopped;

    SavedRepairFiles saved;
    if (bDone) {
        try {
            saved = MoveRepairedFiles(strTemp, options.strFolder, options.strPrefix);
        } catch (const CException& e) {
            e.ReportError();
            bDone = false;
        }
    }
    RemoveRepairedFiles(strTemp);
    if (bStopped)
        err << "The repair was stopped.\n";

    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const RepairStatistics& stats = engine.GetStatistics();
    const char* lpszStatus = bDone ? "Done" : "Failed";
    if (options.bJson) {
        char szSeconds[32];
        std::snprintf(szSeconds, sizeof szSeconds, "%.3f", dSeconds);
        out << "{\"status\": " << JsonString(lpszStatus) << ", \"source\": " << JsonString(options.strSource)
            << ", \"table\": " << JsonPathOrNull(saved.strTable) << ", \"memo\": " << JsonPathOrNull(saved.strMemo)
            << ", \"fields\": " << stats.nFieldCount << ", \"records\": " << stats.nRecordsWritten
            << ", \"deleted_records\": " << stats.nDeletedRecords
            << ", \"memo_texts\": " << stats.nMemoTextsRecovered
            << ", \"memo_texts_lost\": " << stats.nMemoTextsLost << ", \"seconds\": " << szSeconds << "}\n";
    } else {
        out << lpszStatus << "\n";
        if (bDone) {
            out << "Table: " << saved.strTable << "\n";
            if (!saved.strMemo.empty())
                out << "Memo:  " << saved.strMemo << "\n";
            out << "Fields: " << stats.nFieldCount << ", records: " << stats.nRecordsWritten
                << " (marked deleted: " << stats.nDeletedRecords << "), memo texts: " << stats.nMemoTextsRecovered;
            if (stats.nMemoTextsLost > 0)
                out << " (not found: " << stats.nMemoTextsLost << ")";
            out << "\n";
        }
    }
    out.flush();
    return bDone ? kExitSuccess : kExitTableError;
}

} // namespace

CliCommand RepairCommand()
{
    return {"repair", "repair a damaged table and save the result", &Run, &Help};
}
