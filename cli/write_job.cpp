#include "cli/write_job.h"

#include "cli/link_job.h"
#include "engine/format.h"
#include "sim/virtual_pic.h"

namespace vantlebld {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 3;
constexpr int64_t kMaxAddress = 0xFFFFFF;

}  // namespace

std::string LinkReport(const TVantleBootloader::TLinkStats& s) {
  return Format(
      "link: %d blocks sent, %d N answers, %d catch-ups, %d rubbish, slowest answer %d ms",
      s.BlocksSent, s.NAnswers, s.CatchUps, s.Rubbish, s.SlowestAnswerMs);
}

int32_t CompareWithImage(const TVantleBootloader& engine, const TVirtualPic& pic,
                         bool eepromWritten, int64_t& first) {
  int32_t differ = 0;
  first = -1;
  const auto note = [&](int64_t address) {
    if (differ++ == 0) first = address;
  };
  const int32_t codeStart =
      engine.pic.StartBldZone + engine.pic.BldSlotInstr * engine.pic.BytesPerInstrPC;
  const auto& flash = pic.Flash();
  const int32_t end = std::min<int32_t>(codeStart, static_cast<int32_t>(flash.size()));
  for (int32_t a = 0; a < end; ++a) {
    if (IsDsPIC(engine.pic.Family) && a % 4 == 3) continue;  // phantom byte: never sent
    if (engine.IsPresent(a) &&
        flash[static_cast<size_t>(a)] != engine.FlashData[static_cast<size_t>(a)])
      note(a);
  }
  const auto& eeprom = pic.EEPROM();
  const bool eepromPass =
      eepromWritten && (engine.pic.Family == kFamily16F || engine.pic.Family == kFamily18F);
  for (size_t i = 0; eepromPass && i < eeprom.size() && i < 256; ++i) {
    if ((engine.EEFlag[i] & kPresent) != 0 && eeprom[i] != engine.EEData[i])
      note(static_cast<int64_t>(i));
  }
  return differ;
}

int RunWrite(TVantleBootloader& engine, const CliOptions& o, TJobReport& report, bool clearAll) {
  TLinkPlan plan = ApplyLinkOptions(engine, o);
  const std::string file = o.Arguments.at(0);
  try {
    if (clearAll) engine.Log(0, "Clearing all flash...");
    ConnectAndIdentify(engine, plan, o, file);
    if (clearAll) engine.FillUserFlash();
    engine.ReallocateReset();
    engine.WriteFlash(!o.Has("no-eeprom"));
    engine.Disconnect();
  } catch (const std::exception& e) {
    engine.Log(LogIndent6, "ERROR!");
    engine.Log(LogIndent3 | LogIndent6, e.what());
    DisconnectQuietly(engine);
    if (engine.LinkStats.BlocksSent > 0) report.Say(LinkReport(engine.LinkStats));
    return kExitFailed;
  }
  report.Say(LinkReport(engine.LinkStats));
  if (plan.Simulation) {
    plan.Simulation->Stop();
    int64_t first = 0;
    const int32_t differ =
        CompareWithImage(engine, plan.Simulation->Pic(), !o.Has("no-eeprom"), first);
    if (differ != 0) {
      report.Say(Format("virtual PIC: %d bytes differ from the image sent, the first at %.6Xh",
                        differ, static_cast<int>(first)));
      return kExitFailed;
    }
    for (const auto& e : plan.Simulation->Pic().Stats().HostErrors)
      report.Say("virtual PIC: host error: " + e);
    if (!plan.Simulation->Pic().Stats().HostErrors.empty()) return kExitFailed;
    report.Say("virtual PIC: memory equals the image sent");
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
    return kExitFailed;
  }
}

}  // namespace vantlebld
