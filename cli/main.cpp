// dbfrepair: the command-line face of the storage and repair engines.
//
//   dbfrepair COMMAND [ARGS...]
//   dbfrepair --help | dbfrepair COMMAND --help | dbfrepair --version
//
// Every command is one entry of kCommands below.

#include "cli/Command.h"
#include "cli/CommandLine.h"
#include "cli/DumpCommand.h"
#include "cli/InfoCommand.h"
#include "cli/PreviewCommand.h"
#include "cli/RepairCommand.h"
#include "platform/BrokenPipe.h"
#include "platform/Process.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

const std::vector<CliCommand>& Commands()
{
    static const std::vector<CliCommand> kCommands = {
        InfoCommand(),
        DumpCommand(),
        RepairCommand(),
        PreviewCommand(),
    };
    return kCommands;
}

void GlobalHelp(std::ostream& out)
{
    out << "Usage: dbfrepair COMMAND [ARGS...]\n"
           "       dbfrepair COMMAND --help\n"
           "\n"
           "Commands:\n";
    for (const auto& c : Commands()) {
        std::string strName = c.lpszName;
        strName.resize(std::max<size_t>(strName.size(), 10), ' ');
        out << "  " << strName << c.lpszSummary << "\n";
    }
    out << "\n"
           "Options take their value as the next argument or after \"=\"\n"
           "(--rows 5, --rows=5); \"--\" ends the options, so that a table named\n"
           "\"-x.dbf\" can follow it. --version prints the version.\n"
           "\n"
           "Exit codes, the same for the same failure in every command:\n";
    PrintExitCodes(out);
}

} // namespace

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const CBrokenPipe brokenPipe;
    const std::vector<std::string> args = CProcess::GetArguments(argc, argv);
    if (args.empty()) {
        GlobalHelp(std::cerr);
        return kExitUsage;
    }
    if (args[0] == "--version") {
        std::cout << "dbfrepair (Orvane Tamsin DBF) " << ORV_VERSION << "\n";
        return CCommandLine::CheckedExit(kExitSuccess, std::cout, std::cerr, "dbfrepair");
    }
    if (IsHelpOption(args[0]) || args[0] == "help") {
        if (args.size() > 1) {
            for (const auto& c : Commands()) {
                if (args[1] == c.lpszName) {
                    c.pfnHelp(std::cout);
                    return kExitSuccess;
                }
            }
            std::cerr << "dbfrepair: unknown command " << args[1] << "\n";
            return kExitUsage;
        }
        GlobalHelp(std::cout);
        return kExitSuccess;
    }
    for (const auto& c : Commands()) {
        if (args[0] == c.lpszName)
            return CCommandLine::CheckedExit(
                c.pfnRun(std::vector<std::string>(args.begin() + 1, args.end()), std::cout, std::cerr), std::cout,
                std::cerr, std::string("dbfrepair ") + c.lpszName);
    }
    std::cerr << "dbfrepair: unknown command " << args[0] << " (see dbfrepair --help)\n";
    return kExitUsage;
}
