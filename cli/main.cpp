// vantlebld-cli: the bootloader's jobs without a window, for scripts and CI.
#include <cstdio>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/link_job.h"
#include "engine/log_text.h"
#include "engine/vantlebld_comm.h"
#include "vantlebld_version.h"

#include <QCoreApplication>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailed = 3;

int Run(const vantlebld::CliOptions& o) {
  using namespace vantlebld;
  // Multi-line log texts (the image report) carry CR LF inside.
  TLogRenderer out(
      [](const std::string& line) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
          if (line[i] != '\r' || i + 1 >= line.size() || line[i + 1] != '\n') text += line[i];
        }
        std::cout << text << std::endl;
      },
      o.Verbose);
  TVantleBootloader engine;
  engine.OnLog = [&out](TVantleBootloader&, uint8_t flags, const std::string& text) {
    out.Add(flags, text);
  };
  if (o.Has("piccodes") && !engine.LoadPicCodesFile(o.Value("piccodes"))) {
    out.Flush();
    return kExitFailed;
  }
  try {
    if (o.Command == "check") {
      const int code = RunCheck(engine, o);
      out.Flush();
      return code;
    }
    if (o.Command == "analyze") {
      engine.AnalyzeHex(o.Arguments.at(0));
    } else if (o.Command == "devices") {
      for (const auto& line : engine.PicCodeList())
        out.Add(0, line);
      if (!PicTableLoaded()) {
        out.Add(LogIndent3, "Warning:  piccodes.ini  not found.");
        out.Flush();
        return kExitFailed;
      }
    }
  } catch (const CliUsageError& e) {
    out.Flush();
    std::cerr << "vantlebld-cli: " << e.what() << "\n\n" << CliUsage();
    return kExitUsage;
  } catch (const std::exception& e) {
    out.Add(LogIndent6, "ERROR!");
    out.Add(LogIndent3 | LogIndent6, e.what());
    out.Flush();
    return kExitFailed;
  }
  out.Flush();
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  vantlebld::CliOptions options;
  try {
    options = vantlebld::ParseCli(args);
  } catch (const vantlebld::CliUsageError& e) {
    std::cerr << "vantlebld-cli: " << e.what() << "\n\n" << vantlebld::CliUsage();
    return kExitUsage;
  }
  if (options.Help) {
    std::cout << vantlebld::CliUsage();
    return kExitOk;
  }
  if (options.Version) {
    std::cout << "vantlebld-cli " << VANTLEBLD_VERSION << '\n';
    return kExitOk;
  }
  return Run(options);
}
