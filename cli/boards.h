// Several boards at once: one engine, link and thread per port, a progress
// line per board updated in place on a terminal, and a table at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/link_job.h"
#include "cli/report_file.h"

namespace vantlebld {

// Log lines above, one line per board below; on a terminal the board lines
// are redrawn in place, elsewhere only the log lines are written.
class TBoardLines {
 public:
  using TSink = std::function<void(const std::string& text)>;
  // log receives log lines (with their newline), screen the board lines
  // (first as given) and the cursor movements that redraw them.
  TBoardLines(TSink log, TSink screen, std::vector<std::string> lines, bool inPlace);
  void Print(const std::string& line);
  void SetLine(size_t board, const std::string& text);
  // Leaves the board lines as they stand.
  void Finish();

 private:
  void Erase();
  void Draw();
  std::mutex mutex_;
  TSink log_, screen_;
  std::vector<std::string> lines_;
  bool inPlace_;
  bool drawn_ = false;
};

// The board's name in its log lines and the table: its port.
std::string BoardName(const TBoardPlan& board);

// What one board's job came to.
struct TBoardOutcome {
  std::string Port;
  std::string Pic;  // the PIC found, or "-"
  int32_t BlocksWritten = 0;
  int32_t BlocksToWrite = 0;
  int64_t Millis = 0;
  std::string Link;  // the link report
  int ExitCode = 0;
  std::string Error;
  std::optional<TBoardReport> Report;  // with --report
};

// The table printed after a several-boards job: a header and one row per
// board.
std::vector<std::string> BoardTableLines(const std::vector<TBoardOutcome>& outcomes);

// Runs the command of o on every board at once. Returns 0 when every board
// succeeded, 3 otherwise; the failed ports are named on err. Each board's
// record goes to reportFile, in the order of the boards.
int RunBoards(const CliOptions& o, std::vector<TBoardPlan>& boards, TBoardLines& lines,
              const std::function<void(const std::string&)>& err, TReportFile& reportFile);

}  // namespace vantlebld
