// One board's job from the command line: the job itself (engine/jobs.h),
// then the link report and, for the virtual PIC of --simulate, what the
// PIC would do after reset.
#pragma once

#include <functional>
#include <string>

#include "cli/cli_options.h"
#include "cli/link_job.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

// Where a job reports lines of its own (the link report, the judgement of
// a virtual PIC) and why it failed.
struct TJobReport {
  std::function<void(const std::string& line)> Say;
  std::string Error;  // set when the job failed
  std::string Hint;   // what went on and what to try; may be empty
};

// Refuses the arguments of eeprom and config (ADDR VALUE) before any link
// is opened.
void CheckJobArguments(const CliOptions& o);

// check, write, clear-all, eeprom and config on one board whose engine has
// its link installed. Exit code 0 when the job succeeded, 3 otherwise.
int RunBoardJob(TVantleBootloader& engine, const CliOptions& o, const TJobOptions& options,
                TBoardPlan& board, TJobReport& report);

// "link: 12 blocks sent, 0 N answers, 0 catch-ups, 0 rubbish, slowest answer 3 ms"
std::string LinkReport(const TVantleBootloader::TLinkStats& stats);

}  // namespace vantlebld
