// What a job came to on each board, for scripts: a recorder follows one
// board's typed job events (a sink beside the log), and the boards' records
// are written as one JSON document at the end of the job. The CLI's
// --report and the window's automatic mode share it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/job_events.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

// The exit code when every board's job succeeded but the report could not
// be written; a failed job keeps its own code.
constexpr int kExitReportNotWritten = 4;
// The report's layout; raised when a field changes its meaning or goes.
constexpr int kReportVersion = 1;

// One board's job, as the report holds it.
struct TBoardReport {
  enum class TPreflight : uint8_t { NotChecked, Ok, Refused };
  enum class TResult : uint8_t { Ok, Refused, Failed, Stopped };
  std::string Port;
  std::optional<uint8_t> PicCode;  // the PIC found
  std::optional<std::string> PicName;
  std::optional<std::string> HexFile;    // the file the job writes
  std::optional<std::string> HexSha256;  // of its bytes, lower-case hex
  TPreflight Preflight = TPreflight::NotChecked;
  std::string PreflightReason;  // Refused: why
  int64_t Blocks = 0;           // sends, resends included
  int64_t Bytes = 0;            // block bytes on the wire
  int32_t NAnswers = 0;
  int32_t CatchUps = 0;
  int64_t Ms = 0;  // the job's time
  TResult Result = TResult::Failed;
  std::optional<std::string> Message;  // a failure's message and hint
};

// Follows one board's job events. The time runs from construction to
// Finish. Not shared between threads: each board has its own.
class TBoardRecorder {
 public:
  TBoardRecorder(std::string port, std::optional<std::string> hexFile,
                 std::optional<std::string> hexSha256);
  void Follow(const TJobEvent& event);
  // The engine's own count of the job's sends, for a front end whose
  // engine ran this job alone: it also covers sends no block event
  // announces (a single EEPROM or configuration location) and a send whose
  // answer never came because the port failed.
  void TakeLinkStats(const TVantleBootloader::TLinkStats& stats);
  // The job has ended, ok as the front end judged it (a check after the
  // write may fail it). stopRequested: the job was asked to stop. error:
  // why it failed when no failed event said so.
  TBoardReport Finish(bool ok, bool stopRequested, const std::string& error = {});

 private:
  TBoardReport report_;
  int32_t lineBytes_ = 0;  // the bytes of the block on the line
  std::optional<std::string> failure_;
  bool stoppedEvent_ = false;
  std::chrono::steady_clock::time_point start_;
};

// text as a JSON string with its quotes. Bytes that are no valid UTF-8
// become U+FFFD; control characters are escaped.
std::string JsonString(const std::string& text);

// The document: {"version": 1, "tool": ..., "job": ..., "boards": [...]}.
std::string ReportJson(const std::string& tool, const std::string& job,
                       const std::vector<TBoardReport>& boards);

// Writes text to path whole or not at all: into a new file beside it, then
// renamed over it. Throws EVantleError (FileIO) naming the path and the
// system's reason.
void WriteFileAtomically(const std::string& path, const std::string& text);

}  // namespace vantlebld
