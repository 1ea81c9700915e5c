// The files a command writes besides its log: --dump, --report and --svg.
// They are looked at before any board is touched, so a name typed wrong
// never costs a write nor empties the HEX file the write reads.
#pragma once

#include "cli/cli_options.h"

namespace vantlebld {

// Throws CliUsageError, naming the file and what to do, when a file of
// --dump, --report or --svg names the HEX file the command reads or
// another of these files, or cannot be written where it stands (a missing
// folder, one without write permission, a folder given as the file); also
// for a command that would not write it. Creates and empties nothing.
void CheckOutputFiles(const CliOptions& o);

}  // namespace vantlebld
