// vantlebld-cli: the bootloader's jobs without a window, for scripts and CI.
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/boards.h"
#include "cli/cli_options.h"
#include "cli/link_job.h"
#include "cli/map_command.h"
#include "cli/monitor.h"
#include "cli/output_files.h"
#include "cli/port_selector.h"
#include "cli/progress_bar.h"
#include "cli/report_file.h"
#include "cli/search_notice.h"
#include "cli/stop_signals.h"
#include "cli/text_table.h"
#include "cli/watch.h"
#include "cli/write_job.h"
#include "engine/log_text.h"
#include "engine/vantlebld_comm.h"
#include "vantlebld_version.h"

namespace {

using namespace vantlebld;

bool TalksToBoards(const CliOptions& o) {
  return o.Command == "check" || o.Command == "write" || o.Command == "clear-all" ||
         o.Command == "eeprom" || o.Command == "config";
}

// One board: the job with the log on stdout and, on stderr, where it
// searches and, on a terminal, the progress bar of a write (they follow
// the engine's events).
int RunOneBoard(TVantleBootloader& engine, const CliOptions& o, TBoardPlan& board,
                TJobReport& report, TSearchNotice& search) {
  InstallLink(engine, o);
  const TJobOptions options = JobOptionsFrom(o);
  search.SetLink(board.Port, options.Baud);
  return RunBoardJob(engine, o, options, board, report);
}

// One write of the watch, timed; its failure is reported and forgotten.
TWriteOutcome WriteOnce(TVantleBootloader& engine, const CliOptions& o, TBoardPlan& board,
                        TJobReport& report, TSearchNotice& search) {
  const auto start = std::chrono::steady_clock::now();
  TWriteOutcome outcome;
  try {
    outcome.Ok = RunOneBoard(engine, o, board, report, search) == kExitOk;
    outcome.Error = report.Error;
  } catch (const CliUsageError&) {
    throw;
  } catch (const std::exception& e) {
    outcome.Error = e.what();
  }
  report.Error.clear();
  report.Hint.clear();
  outcome.Finished = std::time(nullptr);
  outcome.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return outcome;
}

int RunJob(TVantleBootloader& engine, const CliOptions& o, TLinePrinter& out, TJobReport& report,
           TProgressBar* bar, TSearchNotice& search, TReportFile& reportFile) {
  // Before the monitor shows the program's bytes: the log so far, and a
  // progress bar left as it stands.
  const auto flushLog = [&out, bar] {
    if (bar != nullptr) bar->Finish();
    out.Flush();
    std::cout.flush();
  };
  if (TalksToBoards(o)) {
    CheckJobArguments(o);
    JobOptionsFrom(o);
    std::vector<TBoardPlan> boards = PlanBoards(o);
    if (o.Monitors() && (o.Command != "write" || boards.size() != 1 ||
                         boards.front().Port.empty() || boards.front().Simulation))
      throw CliUsageError("--monitor and --watch work with write on one --port");
    if (o.Monitors()) MonitorOptionsFrom(o);  // its usage errors before the write
    if (o.Has("watch")) {
      return RunWatch(
          engine, o, [&] { return WriteOnce(engine, o, boards.front(), report, search); },
          flushLog);
    }
    if (boards.size() == 1) {
      reportFile.StartBoard(BoardName(boards.front()));
      const int code = RunOneBoard(engine, o, boards.front(), report, search);
      if (code != kExitOk || !o.Has("monitor")) return code;
      // The write's link stays open for the program's terminal.
      return MonitorFromOptions(engine, o, flushLog);
    }
    // Every usage error shows before any board is touched.
    InstallLink(engine, o);
    out.Flush();
    std::vector<std::string> start;
    for (const auto& board : boards)
      start.push_back(BoardName(board) + "  searching");
    TBoardLines lines([](const std::string& text) { std::cout << text << std::flush; },
                      [](const std::string& text) { std::cerr << text << std::flush; }, start,
                      isatty(STDERR_FILENO) != 0);
    return RunBoards(
        o, boards, lines,
        [](const std::string& text) { std::cerr << "vantlebld-cli: " << text << '\n'; },
        reportFile);
  }
  if (o.Command == "map") return RunMap(engine, o, out, report);
  if (o.Command == "monitor") return MonitorFromOptions(engine, o, flushLog);
  if (o.Command == "ports") {
    const std::vector<std::string> lines = ListPorts(engine);
    for (const auto& line : lines)
      out.Say(TLineRole::Plain, line);
    if (lines.empty()) std::cerr << "vantlebld-cli: no serial ports found\n";
    return kExitOk;
  }
  if (o.Command == "analyze") {
    engine.AnalyzeHex(o.Arguments.at(0));
    return kExitOk;
  }
  // devices
  for (const auto& line : engine.PicCodeList())
    out.Say(TLineRole::Plain, line);
  if (PicTableLoaded()) return kExitOk;
  out.Say(TLineRole::Step, "Warning:  piccodes.ini  not found.");
  return kExitJobFailed;
}

int Run(const CliOptions& o) {
  // On a terminal a write shows a progress bar on stderr; log lines on
  // stdout first clear it so the two never share a line.
  std::unique_ptr<TProgressBar> bar;
  TSearchNotice search([](const std::string& text) { std::cerr << text << std::flush; },
                       isatty(STDERR_FILENO) != 0);
  TLinePrinter out(
      [&bar, &search](const std::string& line) {
        if (bar) bar->Clear();
        search.Clear();
        std::cout << WithoutCR(line) << std::endl;
      },
      o.Verbose);
  TVantleBootloader engine;
  std::optional<TReportFile> reportFile;
  // The bar, the search notice and the report follow the same events the
  // log shows.
  engine.OnEvent = [&out, &bar, &search, &reportFile](const TJobEvent& event) {
    if (reportFile) reportFile->Follow(event);
    if (std::holds_alternative<TDoneEvent>(event.Value)) {
      // The bar's last state (100%) stands above the WRITE OK line: the
      // log so far first, then the bar ends, then the line.
      out.Flush();
      if (bar) bar->Follow(event);
      out.Add(event);
      return;
    }
    out.Add(event);
    if (bar) bar->Follow(event);
    search.Follow(event);
  };
  if (isatty(STDERR_FILENO) && (o.Command == "write" || o.Command == "clear-all")) {
    bar = std::make_unique<TProgressBar>(
        [](const std::string& text) { std::cerr << text << std::flush; },
        static_cast<int32_t>(o.Number("baud", kDefaultBaudRate, 1, kMaxBaudRate)));
  }
  if (o.Has("piccodes") && !engine.LoadPicCodesFile(o.Value("piccodes"))) {
    out.Flush();
    return kExitJobFailed;
  }
  TJobReport report;
  report.Say = [&out](const std::string& line) { out.Say(TLineRole::Plain, line); };
  int code = kExitJobFailed;
  // The watch keeps Ctrl+C for ending itself between writes.
  std::optional<TStopSignals> stop;
  if (TalksToBoards(o) && !o.Has("watch")) stop.emplace();
  try {
    reportFile.emplace(o);
    CheckOutputFiles(o);
    code = RunJob(engine, o, out, report, bar.get(), search, *reportFile);
  } catch (const CliUsageError& e) {
    search.Clear();
    out.Flush();
    std::cerr << "vantlebld-cli: " << e.what() << '\n' << CliUsageHint();
    return kExitBadCommandLine;
  } catch (const std::exception& e) {
    const auto* failure = dynamic_cast<const EVantleError*>(&e);
    out.Add({TFailedEvent{failure ? failure->ErrorKind() : EVantleError::Kind::General, e.what(),
                          failure ? failure->Hint() : std::string()}});
    report.Error = e.what();
    report.Hint = failure ? failure->Hint() : std::string();
  }
  search.Clear();
  if (bar) bar->Finish();
  out.Flush();
  if (!report.Error.empty()) std::cerr << "vantlebld-cli: " << report.Error << '\n';
  if (!report.Error.empty() && !report.Hint.empty()) std::cerr << "  " << report.Hint << '\n';
  if (!reportFile) return code;
  return reportFile->Finish(
      code, engine.LinkStats, ReportMessage(report.Error, report.Hint),
      [](const std::string& text) { std::cerr << "vantlebld-cli: " << text << '\n'; });
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::vector<std::string> args(argv + 1, argv + argc);
  CliOptions options;
  try {
    options = ParseCli(args);
  } catch (const CliUsageError& e) {
    std::cerr << "vantlebld-cli: " << e.what() << '\n' << CliUsageHint();
    return kExitBadCommandLine;
  }
  if (options.Help) {
    std::cout << (options.Command.empty() ? CliUsage() : CliCommandUsage(options.Command));
    return kExitOk;
  }
  if (options.Version) {
    std::cout << "vantlebld-cli " << VANTLEBLD_VERSION << '\n';
    return kExitOk;
  }
  return Run(options);
}
