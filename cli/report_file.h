// --report FILE: a recorder for each board's job, fed by the board's
// engine events, and at the end one JSON document of every board
// (engine/job_report.h), also when a board failed.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "engine/job_report.h"

namespace vantlebld {

class TReportFile {
 public:
  // Inactive without --report: then every call does nothing. Throws
  // CliUsageError for --report on a command that talks to no board, and
  // with --monitor or --watch (a report is for jobs that end by
  // themselves). The HEX file is hashed here, as the job will read it.
  explicit TReportFile(const CliOptions& o);
  bool Active() const { return !path_.empty(); }

  // A recorder for the board on port (a several-boards job: one per
  // thread).
  TBoardRecorder Recorder(const std::string& port) const;
  // The one board of a single-board job, followed through Follow.
  void StartBoard(const std::string& port);
  void Follow(const TJobEvent& event);
  // A board recorded elsewhere, in the order of the boards.
  void Add(TBoardReport board) { boards_.push_back(std::move(board)); }

  // The end of the job: the board of StartBoard finished with the
  // engine's own counts, then the document written. Returns code, or
  // kExitReportNotWritten when the file could not be written (said on
  // err) and code was 0.
  int Finish(int code, const TVantleBootloader::TLinkStats& stats, const std::string& error,
             const std::function<void(const std::string&)>& err);

 private:
  std::string path_, job_;
  std::optional<std::string> hexFile_, hexSha256_;
  std::optional<TBoardRecorder> board_;
  std::vector<TBoardReport> boards_;
};

// The failure of a job as the report holds it: the error, then its hint on
// a line of its own.
std::string ReportMessage(const std::string& error, const std::string& hint);

// Whether this run of the CLI was asked to stop (Ctrl+C, SIGTERM).
bool StopWasRequested();

}  // namespace vantlebld
