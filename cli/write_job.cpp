#include "cli/write_job.h"

#include <fstream>
#include <iterator>

#include "cli/link_job.h"
#include "engine/format.h"
#include "sim/virtual_pic.h"
#include "sim/written_file_check.h"

namespace vantlebld {

namespace {

constexpr int64_t kMaxAddress = 0xFFFFFF;

}  // namespace

std::string LinkReport(const TVantleBootloader::TLinkStats& s) {
  return Format(
      "link: %d blocks sent, %d N answers, %d catch-ups, %d rubbish, slowest answer %d ms",
      s.BlocksSent, s.NAnswers, s.CatchUps, s.Rubbish, s.SlowestAnswerMs);
}

namespace {

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

}  // namespace

int RunWrite(TVantleBootloader& engine, const CliOptions& o, TJobReport& report, bool clearAll) {
  TLinkPlan plan = ApplyLinkOptions(engine, o);
  const std::string file = o.Arguments.at(0);
  try {
    if (clearAll) engine.Log(0, "Clearing all flash...");
    ConnectAndIdentify(engine, plan, o, file);
    if (clearAll) engine.FillUserFlash();
    engine.ReallocateReset(o.Has("force"));
    engine.WriteFlash(!o.Has("no-eeprom"));
    engine.Disconnect();
  } catch (const std::exception& e) {
    engine.Log(LogIndent6, "ERROR!");
    engine.Log(LogIndent3 | LogIndent6, e.what());
    DisconnectQuietly(engine);
    if (engine.LinkStats.BlocksSent > 0) report.Say(LinkReport(engine.LinkStats));
    return kExitJobFailed;
  }
  report.Say(LinkReport(engine.LinkStats));
  if (plan.Simulation) {
    plan.Simulation->Stop();
    if (!JudgeVirtualPic(plan.Simulation->Pic(), file, !o.Has("no-eeprom"), clearAll, report))
      return kExitJobFailed;
  }
  return kExitOk;
}

int RunSingleWrite(TVantleBootloader& engine, const CliOptions& o, TJobReport& report,
                   bool config) {
  const auto address = ParseNumberText(o.Arguments.at(0));
  const auto value = ParseNumberText(o.Arguments.at(1));
  if (!address || !value || *address > kMaxAddress || *value > 0xFFFF) {
    throw CliUsageError("ADDR and VALUE must be numbers (decimal, 12h, $12 or 0x12)");
  }
  TLinkPlan plan = ApplyLinkOptions(engine, o);
  const auto a = static_cast<int32_t>(*address);
  const auto v = static_cast<int32_t>(*value);
  try {
    ConnectAndIdentify(engine, plan, o, "");
    if (config) {
      engine.WriteConfigByte(a, v);
    } else {
      engine.WriteEEPROMByte(a, static_cast<uint8_t>(v & 0xFF));
    }
    engine.Disconnect();
    engine.Log(
        LogDetail,
        Format(config ? "performed: CFG[%06Xh]<-%Xh " : "performed: eeprom[%06Xh]<-%Xh ", a, v));
    return kExitOk;
  } catch (const std::exception& e) {
    engine.Log(LogIndent6, "ERROR!");
    report.Error = e.what();
    DisconnectQuietly(engine);
    return kExitJobFailed;
  }
}

}  // namespace vantlebld
