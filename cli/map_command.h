// vantlebld-cli map: what a write of a HEX file would leave in a PIC's
// flash, printed as text and, with --svg, drawn as a picture.
#pragma once

#include "cli/cli_options.h"
#include "cli/write_job.h"
#include "engine/log_text.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

// The model comes from --pic CODE (no link), or from a check over the link
// the options name. Returns the exit code: a file a write would refuse
// gives kExitJobFailed with the reason in the report.
int RunMap(TVantleBootloader& engine, const CliOptions& o, TLinePrinter& out, TJobReport& report);

}  // namespace vantlebld
