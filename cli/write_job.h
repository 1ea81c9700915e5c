// The CLI's writing jobs: a HEX file into flash (and EEPROM), a single
// EEPROM or configuration location, and the clear-all fill.
#pragma once

#include <functional>
#include <string>

#include "cli/cli_options.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

// Where a job reports lines of its own (the link report, the comparison
// with a virtual PIC) and why it failed.
struct TJobReport {
  std::function<void(const std::string& line)> Say;
  std::string Error;  // set when the log shows only "ERROR!"
};

// write FILE and clear-all FILE. Exit code 0 after "WRITE OK", 3 on any
// failure.
int RunWrite(TVantleBootloader& engine, const CliOptions& o, TJobReport& report, bool clearAll);
// eeprom ADDR VALUE and config ADDR VALUE.
int RunSingleWrite(TVantleBootloader& engine, const CliOptions& o, TJobReport& report, bool config);

// "link: 12 blocks sent, 0 N answers, 0 catch-ups, 0 rubbish, slowest answer 3 ms"
std::string LinkReport(const TVantleBootloader::TLinkStats& stats);

}  // namespace vantlebld
