#include "cli/RepairArguments.h"

#include "cli/Command.h"
#include "cli/CommandLine.h"
#include "platform/FileSystem.h"
#include "repair/RepairPaths.h"

#include <cstdio>
#include <ostream>

namespace {

// More workers than this only queue on the disk.
constexpr int kMaxJobs = 256;

bool IsFolder(const std::string& strPath)
{
    return CFileSystem::IsFolder(strPath);
}

// What is wrong with the value of --prefix; empty when nothing is.
std::string PrefixProblem(const std::string& strPrefix)
{
    switch (ClassifySavedPrefix(strPrefix)) {
    case SavedPrefixCheck::Empty:
        return "--prefix needs a text: the saved names begin with it";
    case SavedPrefixCheck::IllegalCharacter:
        return "--prefix " + strPrefix + ": \"" + strPrefix[strPrefix.find_first_of(kForbiddenPrefixChars)]
            + "\" cannot be in a file name (none of / \\ | * : ? < > ' can)";
    case SavedPrefixCheck::TooLong:
        return "--prefix " + strPrefix + ": a prefix holds at most " + std::to_string(kMaxSavedPrefixLength)
            + " characters";
    case SavedPrefixCheck::Valid:
        break;
    }
    return std::string();
}

} // namespace

bool RepairArguments::IsBatch() const
{
    if (sources.size() > 1 || bJobsGiven || bRecursive)
        return true;
    return !sources.empty() && IsFolder(sources.front());
}

std::optional<int> ParseRepairArguments(const std::vector<std::string>& argv, std::ostream& out,
                                        std::ostream& err, void (*pfnHelp)(std::ostream&),
                                        RepairArguments& args)
{
    CCommandLine cl("repair");
    args.strPrefix = kDefaultSavedPrefix;
    bool bReportGiven = false;
    std::string strJobs;
    cl.AddValue({"-o", "--output"}, &args.strFolder);
    cl.AddValue({"--prefix"}, &args.strPrefix);
    cl.AddFlag({"--json"}, &args.bJson);
    cl.AddFlag({"--quiet", "-q"}, &args.bQuiet);
    cl.AddFlag({"--undelete"}, &args.bUndelete);
    cl.AddFlag({"--dry-run"}, &args.bDryRun);
    cl.AddValue({"--report"}, &args.strReport, &bReportGiven);
    cl.AddFlag({"--force"}, &args.bForce);
    cl.AddValue({"--memo"}, &args.strMemo);
    cl.AddValue({"-j", "--jobs"}, &strJobs, &args.bJobsGiven);
    cl.AddFlag({"--recursive", "-r"}, &args.bRecursive);
    if (!cl.Parse(argv, err))
        return kExitUsage;
    if (cl.IsHelp()) {
        pfnHelp(out);
        return kExitSuccess;
    }
    if (bReportGiven && args.strReport.empty()) {
        err << cl.Prefix() << "--report needs a file name\n";
        return kExitUsage;
    }
    if (args.bJobsGiven) {
        size_t nUsed = 0;
        int nJobs = 0;
        try {
            nJobs = std::stoi(strJobs, &nUsed);
        } catch (const std::exception&) {
            nUsed = 0;
        }
        if (nUsed == 0 || nUsed != strJobs.size() || nJobs < 1 || nJobs > kMaxJobs) {
            err << cl.Prefix() << "--jobs takes a number from 1 to " << kMaxJobs << "\n";
            return kExitUsage;
        }
        args.nJobs = nJobs;
    }
    if (const std::string strProblem = PrefixProblem(args.strPrefix); !strProblem.empty()) {
        err << cl.Prefix() << strProblem << "\n";
        return kExitUsage;
    }
    args.sources = cl.GetOperands();
    if (args.IsBatch()) {
        if (!args.strMemo.empty() || !args.strReport.empty() || args.bForce) {
            err << cl.Prefix() << "--memo, --report and --force take one table, not a batch\n";
            return kExitUsage;
        }
        if (args.sources.empty()) {
            err << cl.Prefix() << "name the tables or folders to repair\n";
            return kExitUsage;
        }
    }
    return std::nullopt;
}

std::string FailureText(const std::vector<std::string>& messages, bool bStopped)
{
    std::string strText;
    for (const std::string& strMessage : messages)
        strText += (strText.empty() ? "" : "\n") + strMessage;
    if (bStopped)
        strText += std::string(strText.empty() ? "" : "\n") + "The repair was stopped.";
    return strText.empty() ? "The repair failed." : strText;
}

std::string SecondsText(double dSeconds)
{
    char szSeconds[32];
    std::snprintf(szSeconds, sizeof szSeconds, "%.3f", dSeconds);
    return szSeconds;
}
