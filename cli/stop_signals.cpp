#include "cli/stop_signals.h"

#include <unistd.h>

namespace vantlebld {

namespace {

TCancelToken gStop;

void OnStopSignal(int sig) {
  if (gStop.Requested()) _exit(128 + sig);
  gStop.Cancel();
  static const char kSaid[] =
      "\nvantlebld-cli: stopping after the block on the line, or a search at its next probe "
      "(Ctrl+C again ends at once)\n";
  [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kSaid, sizeof kSaid - 1);
}

}  // namespace

std::shared_ptr<const TCancelToken> CliStopRequest() {
  // Not owned: the token lives as long as the process.
  return std::shared_ptr<const TCancelToken>(&gStop, [](const TCancelToken*) {});
}

TStopSignals::TStopSignals() {
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, &oldInt_);
  sigaction(SIGTERM, &stop, &oldTerm_);
}

TStopSignals::~TStopSignals() {
  sigaction(SIGINT, &oldInt_, nullptr);
  sigaction(SIGTERM, &oldTerm_, nullptr);
}

}  // namespace vantlebld
