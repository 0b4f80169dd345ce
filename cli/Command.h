#pragma once
// One subcommand of dbfrepair. main.cpp lists every command in its dispatch
// table; a new command is one file pair with a function that returns its
// CliCommand, and one line in that table.

#include "cli/ExitCodes.h"

#include <iosfwd>
#include <string>
#include <vector>

struct CliCommand {
    const char* lpszName;
    // One line for the global help.
    const char* lpszSummary;
    // Runs the command with the arguments that follow its name; writes its
    // output on out and its errors on err; returns the exit code.
    int (*pfnRun)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
    // Writes the command's full help.
    void (*pfnHelp)(std::ostream& out);
};

// True when the argument asks for help.
inline bool IsHelpOption(const std::string& strArg)
{
    return strArg == "--help" || strArg == "-h";
}
