#include "cli/write_job.h"

#include <fstream>
#include <iterator>

#include "engine/format.h"
#include "engine/user_text.h"
#include "sim/virtual_pic.h"
#include "sim/written_file_check.h"

namespace vantlebld {

namespace {

constexpr int64_t kMaxAddress = 0xFFFFFF;
constexpr int64_t kMaxValue = 0xFFFF;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// After a write into the in-process virtual PIC: what the PIC does after
// reset, and its memory against the HEX file read a second way. True when
// all holds.
bool JudgeVirtualPic(const TVirtualPic& pic, const std::string& hexFile, bool eepromWritten,
                     bool clearAll, TJobReport& report) {
  for (const auto& e : pic.Stats().HostErrors)
    report.Say("virtual PIC: host error: " + e);
  const TWrittenFileCheck check = CheckWrittenFile(pic.Pic(), ReadText(hexFile), pic.Flash(),
                                                   pic.EEPROM(), eepromWritten, clearAll);
  for (const auto& line : check.Lines)
    report.Say(line);
  return check.Ok && pic.Stats().HostErrors.empty();
}

// ADDR and VALUE of eeprom and config.
std::pair<int32_t, int32_t> AddressAndValue(const CliOptions& o) {
  const auto address = ParseNumber(o.Arguments.at(0));
  const auto value = ParseNumber(o.Arguments.at(1));
  if (!address || !value || *address < 0 || *address > kMaxAddress || *value < 0 ||
      *value > kMaxValue) {
    throw CliUsageError("ADDR and VALUE must be numbers (decimal, 12h, $12 or 0x12)");
  }
  return {static_cast<int32_t>(*address), static_cast<int32_t>(*value)};
}

}  // namespace

std::string LinkReport(const TVantleBootloader::TLinkStats& s) {
  return Format(
      "link: %d blocks sent, %d N answers, %d catch-ups, %d rubbish, slowest answer %d ms",
      s.BlocksSent, s.NAnswers, s.CatchUps, s.Rubbish, s.SlowestAnswerMs);
}

void CheckJobArguments(const CliOptions& o) {
  if (o.Command == "eeprom" || o.Command == "config") AddressAndValue(o);
}

int RunBoardJob(TVantleBootloader& engine, const CliOptions& o, const TJobOptions& options,
                TBoardPlan& board, TJobReport& report) {
  TJobOptions j = options;
  j.Port = board.Port;
  const bool writes = o.Command == "write" || o.Command == "clear-all";
  TJobResult result;
  if (o.Command == "check") {
    result = CheckJob(engine, j);
  } else if (o.Command == "write") {
    result = WriteJob(engine, j, o.Arguments.at(0));
  } else if (o.Command == "clear-all") {
    result = ClearAllJob(engine, j, o.Arguments.at(0));
  } else {
    const auto [address, value] = AddressAndValue(o);
    result = o.Command == "config"
                 ? WriteConfigJob(engine, j, address, value)
                 : WriteEEPROMJob(engine, j, address, static_cast<uint8_t>(value & 0xFF));
  }
  if (result.Ok && !o.Monitors()) DisconnectQuietly(engine);  // the monitor takes it
  if (writes && (result.Ok || engine.LinkStats.BlocksSent > 0))
    report.Say(LinkReport(engine.LinkStats));
  if (!result.Ok) {
    report.Error = result.Error;
    return kExitJobFailed;
  }
  if (writes && board.Simulation) {
    board.Simulation->Stop();
    if (!JudgeVirtualPic(board.Simulation->Pic(), o.Arguments.at(0), j.WriteEEPROM,
                         o.Command == "clear-all", report))
      return kExitJobFailed;
  }
  return kExitOk;
}

}  // namespace vantlebld
