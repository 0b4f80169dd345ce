#pragma once
// dbfrepair repair SOURCE.dbf [-o DIR] [--prefix TEXT] [--json] [--quiet]
// [--undelete]: repairs the table into the process's temporary folder and
// saves the result into DIR under the prefixed, collision-free name, with
// its memo file.

#include "cli/Command.h"

CliCommand RepairCommand();
