#pragma once
// dbfrepair repair SOURCE.dbf [-o DIR] [--prefix TEXT] [--json] [--quiet]
// [--undelete] [--report FILE] [--dry-run]: repairs the table into the
// process's temporary folder and saves the result into DIR under the
// prefixed, collision-free name, with its memo file (with --dry-run it saves
// nothing). The engine's report goes to standard error as a summary, into
// FILE and into the JSON summary; the exit code is 3 when the run finished
// but something was lost.

#include "cli/Command.h"

CliCommand RepairCommand();
