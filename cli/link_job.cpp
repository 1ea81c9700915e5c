#include "cli/link_job.h"

#include "cli/port_selector.h"
#include "cli/stop_signals.h"
#include "engine/format.h"
#include "engine/user_text.h"
#include "platform/links.h"
#include "sim/pty_server.h"
#include "sim/virtual_pic.h"

namespace vantlebld {

namespace {

uint8_t CodeOption(const CliOptions& o, const std::string& name) {
  return static_cast<uint8_t>(o.Number(name, 0, 0, 255));
}

}  // namespace

TSimulatedPic::TSimulatedPic(uint8_t code) {
  TPICInfo info = PicTable()[code];
  if (!PicTableLoaded() || info.Code == 0) {
    throw EVantleError(
        Format("no device with code %02Xh in the device table for the virtual PIC", code));
  }
  DerivePicGeometry(info);
  pic_ = std::make_unique<TVirtualPic>(code, info, TSimOptions{});
  server_ = std::make_unique<TPtyServer>(*pic_);
  path_ = server_->Open();
  server_->Start();
}

TSimulatedPic::~TSimulatedPic() {
  Stop();
}

void TSimulatedPic::Stop() {
  if (server_) server_->Stop();
}

TJobOptions JobOptionsFrom(const CliOptions& o) {
  TJobOptions j;
  j.Baud = static_cast<int32_t>(o.Number("baud", kDefaultBaudRate, 1, kMaxBaudRate));
  j.SearchSeconds =
      static_cast<int32_t>(o.Number("search-seconds", kDefaultSearchSeconds, 1, 3600));
  j.WaitMs = static_cast<int32_t>(o.Number("timeout-ms", kDefaultTimeoutMs, 1, 60000));
  j.IDCode = static_cast<uint8_t>(o.Number("id", kDefaultIDCode, 0, 0xFFFFFFFF) & 0xFF);
  j.PreCodes = o.Value("precodes");
  j.ResetSignals = o.Value("reset-signals");
  j.IgnoreUntilK = o.Has("ignore-until-k");
  j.WriteEEPROM = !o.Has("no-eeprom");
  const bool force = o.Has("force");
  j.WriteForeignHex = [force](const std::string&) { return force; };
  j.Cancel = CliStopRequest();
  return j;
}

std::vector<TBoardPlan> PlanBoards(const CliOptions& o) {
  const int modes = int{o.Has("port")} + int{o.Has("simulate")} +
                    int{o.Has("offline") && !o.Has("udp")} + int{o.Has("udp")};
  if (modes != 1) throw CliUsageError("name one of --port, --simulate, --offline or --udp");
  std::vector<TBoardPlan> boards;
  if (o.Has("simulate")) {
    boards.emplace_back();
    boards.back().Simulation = std::make_unique<TSimulatedPic>(CodeOption(o, "simulate"));
    boards.back().Port = boards.back().Simulation->PortPath();
  } else if (o.Has("port")) {
    for (std::string& port : ResolvePortOptions(o.Ports))
      boards.push_back({std::move(port), nullptr});
  } else {
    boards.emplace_back();  // offline or UDP: nothing to open by name
  }
  return boards;
}

void InstallLink(TVantleBootloader& engine, const CliOptions& o) {
  const std::string rtsDtr = o.Value("rts-dtr", "on");
  if (rtsDtr == "off") {
    engine.RTSDTRonConnect = 0;
  } else if (rtsDtr == "on") {
    engine.RTSDTRonConnect = 1;
  } else if (rtsDtr == "keep") {
    engine.RTSDTRonConnect = 2;
  } else {
    throw CliUsageError("--rts-dtr takes off, on or keep");
  }
  engine.StopBits = static_cast<int32_t>(o.Number("stop-bits", 1, 1, 2));
  if (o.Has("udp")) {
    const std::string target = o.Value("udp");
    const size_t colon = target.rfind(':');
    const auto port =
        colon == std::string::npos ? std::nullopt : ParseNumber(target.substr(colon + 1));
    if (!port || *port < 1 || *port > 65535 || colon == 0)
      throw CliUsageError("--udp takes HOST:PORT");
    if (!o.Has("offline"))
      throw CliUsageError("--udp needs --offline CODE for the PIC it stands for");
    engine.Link = MakeLink(kModeUdp, target.substr(0, colon), static_cast<int32_t>(*port));
    engine.OfflineCode = CodeOption(o, "offline");
  } else if (o.Has("offline")) {
    engine.Link = MakeLink(kModeOffline);
    engine.OfflineCode = CodeOption(o, "offline");
  } else {
    engine.Link = MakeLink(kModeSerial);
  }
}

}  // namespace vantlebld
