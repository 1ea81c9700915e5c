#include "cli/map_command.h"

#include <fstream>

#include "cli/link_job.h"
#include "engine/defaults.h"
#include "engine/jobs.h"
#include "engine/map_svg.h"
#include "engine/memory_map.h"

namespace vantlebld {

namespace {

// The model behind the link: a check, then the port is let go.
uint8_t IdentifiedCode(TVantleBootloader& engine, const CliOptions& o) {
  std::vector<TBoardPlan> boards = PlanBoards(o);
  if (boards.size() != 1) throw CliUsageError("map works on one board");
  InstallLink(engine, o);
  TJobOptions j = JobOptionsFrom(o);
  j.Port = boards.front().Port;
  const TJobResult r = CheckJob(engine, j);
  if (!r.Ok) throw EVantleError(r.Error);
  DisconnectQuietly(engine);
  return engine.PICType;
}

}  // namespace

int RunMap(TVantleBootloader& engine, const CliOptions& o, TLinePrinter& out, TJobReport& report) {
  const bool linked = o.Has("port") || o.Has("simulate");
  if (o.Has("pic") == linked) throw CliUsageError("map needs --pic CODE, or --port or --simulate");
  const auto baud = static_cast<int32_t>(o.Number("baud", kDefaultBaudRate, 1, kMaxBaudRate));
  const uint8_t code =
      linked ? IdentifiedCode(engine, o) : static_cast<uint8_t>(o.Number("pic", 0, 1, 255));
  const TMemoryMap map = MapHexFile(code, o.Arguments.at(0), baud, !o.Has("no-eeprom"));
  for (const std::string& line : MapLines(map))
    out.Say(TLineRole::Plain, line);
  if (o.Has("svg")) {
    std::ofstream svg(o.Value("svg"), std::ios::binary | std::ios::trunc);
    svg << MapSvg(map);
    svg.close();
    if (!svg) throw EVantleError("Could not write " + o.Value("svg"));
  }
  if (!map.Refused) return kExitOk;
  report.Error = map.Reason;
  return kExitJobFailed;
}

}  // namespace vantlebld
