#pragma once
// dbfrepair dump TABLE.dbf [--json]: every record through the storage
// engine's recordset, as CSV (default) or JSON.

#include "cli/Command.h"

CliCommand DumpCommand();
