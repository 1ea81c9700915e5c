// The link side of the CLI's jobs: link options into the engine, the
// in-process virtual PIC of --simulate, and the check job.
#pragma once

#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "engine/log_text.h"
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

// The port to open and how, as the link options say.
struct TLinkPlan {
  std::string Port;
  int32_t Baud = kDefaultBaudRate;
  std::unique_ptr<TSimulatedPic> Simulation;
};

// Sets the engine's link and search fields from the options; starts the
// virtual PIC for --simulate. Throws CliUsageError for values that make no
// sense.
TLinkPlan ApplyLinkOptions(TVantleBootloader& engine, const CliOptions& o);

// The first half of every job: open the link, run the reset signals,
// analyse the HEX file (when one is named), find and identify the PIC, load
// the file into the image. Throws on any failure ("Not found!" when the
// bootloader did not answer).
void ConnectAndIdentify(TVantleBootloader& engine, const TLinkPlan& plan, const CliOptions& o,
                        const std::string& hexFile);

// Closes the link after a failed job; a second error there is not news.
void DisconnectQuietly(TVantleBootloader& engine);

// Opens the link and finds the bootloader, as the window's check does.
// Returns the process exit code: 0 when the PIC was identified, 3
// otherwise, with the reason in error (the log shows only "ERROR!").
int RunCheck(TVantleBootloader& engine, const CliOptions& o, std::string& error);

}  // namespace vantlebld
