#pragma once
// The exit codes of dbfrepair and what each means. The global help and the
// repair command's help print this one table; the README and the man page
// repeat it word for word (a test compares them).

#include <iosfwd>

enum CliExitCode : int {
    kExitSuccess = 0,
    kExitTableError = 1, // a table (or its memo file) could not be read, or a repair failed
    kExitUsage = 2,      // bad command line
    kExitWithLosses = 3, // repair: done, but something was lost, dropped or mended
};

struct ExitCodeMeaning {
    const char* lpszCodes;
    const char* lpszMeaning;
};

// In the order the help lists them.
extern const ExitCodeMeaning kExitCodeMeanings[5];

// Writes the table, each meaning wrapped under its code.
void PrintExitCodes(std::ostream& out);
