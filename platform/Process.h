#pragma once
// The running process as the system sees it: its number, its arguments in
// UTF-8 (Windows hands a program's main() the ANSI code page's bytes) and
// shell commands it starts.

#include <string>
#include <vector>

class CProcess {
public:
    static unsigned long GetId();
    // The arguments after the program's name, in UTF-8. On Windows they are
    // taken again from the system's UTF-16 command line, and the console
    // is told to show UTF-8.
    static std::vector<std::string> GetArguments(int argc, char** argv);
    // Runs strCommand through the system's shell; strOut receives its
    // standard output. Returns the exit code, or -1 when it did not end
    // normally.
    static int RunShell(const std::string& strCommand, std::string& strOut);
};
