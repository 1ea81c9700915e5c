#include "cli/report_file.h"

#include <QCryptographicHash>
#include <QFile>

#include "cli/stop_signals.h"

namespace vantlebld {

namespace {

// The SHA-256 of the file's bytes in lower-case hex; none when it cannot
// be read.
std::optional<std::string> FileSha256(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file)) return std::nullopt;
  return hash.result().toHex().toStdString();
}

}  // namespace

TReportFile::TReportFile(const CliOptions& o) {
  if (!o.Has("report")) return;
  const bool boards = o.Command == "check" || o.Command == "write" || o.Command == "clear-all" ||
                      o.Command == "eeprom" || o.Command == "config";
  if (!boards)
    throw CliUsageError("--report works with check, write, clear-all, eeprom and config");
  if (o.Monitors()) throw CliUsageError("--report works without --monitor and --watch");
  if (o.Value("report").empty()) throw CliUsageError("--report needs a file name");
  path_ = o.Value("report");
  job_ = o.Command;
  if (o.Command == "write" || o.Command == "clear-all") {
    hexFile_ = o.Arguments.at(0);
    hexSha256_ = FileSha256(*hexFile_);
  }
}

TBoardRecorder TReportFile::Recorder(const std::string& port) const {
  return TBoardRecorder(port, hexFile_, hexSha256_);
}

void TReportFile::StartBoard(const std::string& port) {
  if (Active()) board_.emplace(Recorder(port));
}

void TReportFile::Follow(const TJobEvent& event) {
  if (board_) board_->Follow(event);
}

int TReportFile::Finish(int code, const TVantleBootloader::TLinkStats& stats,
                        const std::string& error,
                        const std::function<void(const std::string&)>& err) {
  if (!Active()) return code;
  if (board_) {
    board_->TakeLinkStats(stats);
    boards_.push_back(board_->Finish(code == kExitOk, StopWasRequested(), error));
    board_.reset();
  }
  try {
    WriteFileAtomically(path_, ReportJson("vantlebld-cli", job_, boards_));
  } catch (const std::exception& e) {
    err(e.what());
    return code == kExitOk ? kExitReportNotWritten : code;
  }
  return code;
}

std::string ReportMessage(const std::string& error, const std::string& hint) {
  return hint.empty() || error.empty() ? error : error + "\n" + hint;
}

bool StopWasRequested() {
  return CliStopRequest()->Requested();
}

}  // namespace vantlebld
