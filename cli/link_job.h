// From the command line to the boards a job works on: the job options
// they share, the link each engine gets, the virtual PIC of --simulate.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "engine/jobs.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

class TVirtualPic;
class TPtyServer;

// A virtual PIC served on a pseudo-terminal by a thread of this process,
// so a job runs over a real serial link with nothing attached.
class TSimulatedPic {
 public:
  // code must be defined in the loaded device table.
  explicit TSimulatedPic(uint8_t code);
  ~TSimulatedPic();
  TSimulatedPic(const TSimulatedPic&) = delete;
  TSimulatedPic& operator=(const TSimulatedPic&) = delete;

  const std::string& PortPath() const { return path_; }
  TVirtualPic& Pic() { return *pic_; }
  // Ends the serving thread (the host has closed the port or gave up).
  void Stop();

 private:
  std::unique_ptr<TVirtualPic> pic_;
  std::unique_ptr<TPtyServer> server_;
  std::string path_;
};

// One board of a job: the port its engine opens (empty offline and over
// UDP) and, for --simulate, the virtual PIC behind it.
struct TBoardPlan {
  std::string Port;
  std::unique_ptr<TSimulatedPic> Simulation;
};

// The job options every board shares. Throws CliUsageError for values
// that make no sense.
TJobOptions JobOptionsFrom(const CliOptions& o);

// The boards the options name: one per --port (an adapter text may name
// several), or the one of --simulate, --offline or --udp. Throws
// CliUsageError when the options name no link or two kinds at once.
std::vector<TBoardPlan> PlanBoards(const CliOptions& o);

// Gives the engine the link the options name and its line settings
// (RTS/DTR, stop bits, the offline code).
void InstallLink(TVantleBootloader& engine, const CliOptions& o);

}  // namespace vantlebld
