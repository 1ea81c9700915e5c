#include "cli/boards.h"

#include <QThread>
#include <chrono>
#include <memory>

#include "cli/progress_bar.h"
#include "cli/search_notice.h"
#include "cli/text_table.h"
#include "cli/write_job.h"
#include "engine/format.h"
#include "engine/log_text.h"

namespace vantlebld {

std::string BoardName(const TBoardPlan& board) {
  return board.Port.empty() ? "offline" : board.Port;
}

namespace {

constexpr char kCursorUp[] = "\x1b[%zuA";
constexpr char kEraseBelow[] = "\r\x1b[J";
// What a progress bar draws: "\r", the line, then erase-to-end-of-line.
constexpr char kBarStart = '\r';
constexpr char kBarEnd[] = "\x1b[K";

using TClock = std::chrono::steady_clock;

// The bar's line without its terminal sequences; empty for a bar that is
// only cleared or ended.
std::string BarText(const std::string& drawn) {
  const std::string end = kBarEnd;
  if (drawn.size() <= end.size() + 1 || drawn.front() != kBarStart ||
      drawn.compare(drawn.size() - end.size(), end.size(), end) != 0)
    return {};
  return drawn.substr(1, drawn.size() - end.size() - 1);
}

void RunOneBoard(const CliOptions& o, const TJobOptions& options, TBoardPlan& board, size_t index,
                 TBoardLines& lines, const TReportFile& reportFile, TBoardOutcome& out) {
  const std::string name = BoardName(board);
  const std::string prefix = "[" + name + "] ";
  out.Port = name;
  // The job's blank separator line carries nothing once lines are marked
  // with their board.
  TLinePrinter log(
      [&](const std::string& line) {
        if (line.find_first_not_of(' ') != std::string::npos) lines.Print(prefix + WithoutCR(line));
      },
      o.Verbose);
  TVantleBootloader engine;
  TProgressBar bar(
      [&](const std::string& drawn) {
        const std::string text = BarText(drawn);
        if (!text.empty()) lines.SetLine(index, name + "  " + text);
      },
      options.Baud);
  std::optional<TBoardRecorder> recorder;
  if (reportFile.Active()) recorder.emplace(reportFile.Recorder(name));
  // While it searches the board's line counts the probes; then the bar
  // takes it over.
  engine.OnEvent = [&](const TJobEvent& event) {
    if (recorder) recorder->Follow(event);
    log.Add(event);
    bar.Follow(event);
    if (const auto* probe = std::get_if<TProbeEvent>(&event.Value))
      lines.SetLine(index, name + "  searching (" + ProbeCount(*probe) + ")");
    if (const auto* found = std::get_if<TFoundEvent>(&event.Value))
      lines.SetLine(index, name + "  found " + found->Model);
  };
  TJobReport report;
  report.Say = [&log](const std::string& line) { log.Say(TLineRole::Plain, line); };
  const auto start = TClock::now();
  try {
    // The link is made on the board's own thread: the serial port belongs
    // to the thread that uses it.
    InstallLink(engine, o);
    out.ExitCode = RunBoardJob(engine, o, options, board, report);
    out.Error = report.Error;
  } catch (const std::exception& e) {
    out.ExitCode = kExitJobFailed;
    out.Error = e.what();
  }
  log.Flush();
  if (recorder) recorder->TakeLinkStats(engine.LinkStats);
  out.Millis = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
  out.Pic = engine.PICType != 0 ? engine.pic.Name : "-";
  out.BlocksWritten = engine.BlocksWritten;
  out.BlocksToWrite = engine.BlocksToWrite;
  const auto& s = engine.LinkStats;
  out.Link = Format("%d sent, %d N, %d catch-ups, %d rubbish", s.BlocksSent, s.NAnswers, s.CatchUps,
                    s.Rubbish);
  lines.SetLine(index, name + "  " + (out.ExitCode == kExitOk ? "OK" : "FAILED"));
  if (recorder) {
    out.Report = recorder->Finish(out.ExitCode == kExitOk, StopWasRequested(),
                                  ReportMessage(out.Error, report.Hint));
  }
}

}  // namespace

TBoardLines::TBoardLines(TSink log, TSink screen, std::vector<std::string> lines, bool inPlace)
    : log_(std::move(log)),
      screen_(std::move(screen)),
      lines_(std::move(lines)),
      inPlace_(inPlace) {}

void TBoardLines::Erase() {
  if (!drawn_) return;
  screen_(Format(kCursorUp, lines_.size()) + kEraseBelow);
  drawn_ = false;
}

void TBoardLines::Draw() {
  if (!inPlace_) return;
  std::string text;
  for (const auto& line : lines_)
    text += line + "\n";
  screen_(text);
  drawn_ = true;
}

void TBoardLines::Print(const std::string& line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Erase();
  log_(line + "\n");
  Draw();
}

void TBoardLines::SetLine(size_t board, const std::string& text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (board >= lines_.size() || lines_[board] == text) return;
  lines_[board] = text;
  Erase();
  Draw();
}

void TBoardLines::Finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  // The lines stay on the screen as they stand; what follows is printed
  // below them.
  drawn_ = false;
  inPlace_ = false;
}

std::vector<std::string> BoardTableLines(const std::vector<TBoardOutcome>& outcomes) {
  std::vector<std::vector<std::string>> rows = {
      {"PORT", "PIC", "BLOCKS", "TIME", "LINK", "RESULT"}};
  for (const auto& b : outcomes) {
    rows.push_back({b.Port, b.Pic,
                    b.BlocksToWrite > 0 ? Format("%d/%d", b.BlocksWritten, b.BlocksToWrite) : "-",
                    Format("%.1f s", static_cast<double>(b.Millis) / 1000.0), b.Link,
                    b.ExitCode == kExitOk ? "OK" : "FAILED: " + b.Error});
  }
  return AlignColumns(rows);
}

int RunBoards(const CliOptions& o, std::vector<TBoardPlan>& boards, TBoardLines& lines,
              const std::function<void(const std::string&)>& err, TReportFile& reportFile) {
  const TJobOptions options = JobOptionsFrom(o);
  std::vector<TBoardOutcome> outcomes(boards.size());
  // Qt threads: the serial port's socket notifiers need a thread Qt knows;
  // no event loop runs in them.
  std::vector<std::unique_ptr<QThread>> threads;
  for (size_t i = 0; i < boards.size(); ++i) {
    threads.emplace_back(QThread::create(
        [&, i] { RunOneBoard(o, options, boards[i], i, lines, reportFile, outcomes[i]); }));
    threads.back()->start();
  }
  for (auto& t : threads)
    t->wait();
  lines.Finish();
  for (const auto& line : BoardTableLines(outcomes))
    lines.Print(line);
  for (auto& b : outcomes) {
    if (b.Report) reportFile.Add(std::move(*b.Report));
  }
  std::string failed;
  for (const auto& b : outcomes) {
    if (b.ExitCode != kExitOk) failed += (failed.empty() ? "" : ", ") + b.Port;
  }
  if (failed.empty()) return kExitOk;
  err("failed on " + failed);
  return kExitJobFailed;
}

}  // namespace vantlebld
