// Ctrl+C (SIGINT) and SIGTERM while the CLI talks to its boards: the first
// stops every board's job as the window's Stop button does (a search at
// its next probe, a write after the block on the line, which leaves the
// bootloader reachable); the second ends the program at once.
#pragma once

#include <csignal>
#include <memory>

#include "engine/cancel_token.h"

namespace vantlebld {

// The stop request every job of this run shares; set only by the handlers.
std::shared_ptr<const TCancelToken> CliStopRequest();

// Installs the handlers for its lifetime and puts the old ones back.
class TStopSignals {
 public:
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

}  // namespace vantlebld
