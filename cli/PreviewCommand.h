#pragma once
// dbfrepair preview TABLE.dbf [--rows N]: the preview grid the wizard shows
// after a repair (headings, row labels, display texts), for the first N rows.

#include "cli/Command.h"

CliCommand PreviewCommand();
