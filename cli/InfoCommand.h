#pragma once
// dbfrepair info TABLE.dbf: the header, memo file and field descriptors as
// the storage engine reads them.

#include "cli/Command.h"

CliCommand InfoCommand();
