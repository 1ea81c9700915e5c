#include "cli/link_job.h"

#include "cli/port_selector.h"
#include "engine/format.h"
#include "sim/pty_server.h"
#include "sim/virtual_pic.h"
#include "terminal/remote_reset.h"

namespace vantlebld {

namespace {

constexpr int64_t kDefaultSearchSeconds = 7;
constexpr int64_t kDefaultTimeoutMs = 300;

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

TLinkPlan ApplyLinkOptions(TVantleBootloader& engine, const CliOptions& o) {
  TLinkPlan plan;
  plan.Baud = static_cast<int32_t>(o.Number("baud", kDefaultBaudRate, 1, 100000000));
  engine.BaudRate = plan.Baud;
  engine.SearchSeconds =
      static_cast<int32_t>(o.Number("search-seconds", kDefaultSearchSeconds, 1, 3600));
  engine.WaitMs = static_cast<int32_t>(o.Number("timeout-ms", kDefaultTimeoutMs, 1, 60000));
  engine.IDCode = o.Has("id")
                      ? static_cast<uint8_t>(o.Number("id", kDefaultIDCode, 0, 0xFFFFFFFF) & 0xFF)
                      : kDefaultIDCode;
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

  const int modes = int{o.Has("port")} + int{o.Has("simulate")} +
                    int{o.Has("offline") && !o.Has("udp")} + int{o.Has("udp")};
  if (modes != 1) throw CliUsageError("name one of --port, --simulate, --offline or --udp");
  if (o.Has("udp")) {
    const std::string target = o.Value("udp");
    const size_t colon = target.rfind(':');
    const auto port =
        colon == std::string::npos ? std::nullopt : ParseNumberText(target.substr(colon + 1));
    if (!port || *port < 1 || *port > 65535 || colon == 0)
      throw CliUsageError("--udp takes HOST:PORT");
    if (!o.Has("offline"))
      throw CliUsageError("--udp needs --offline CODE for the PIC it stands for");
    engine.OperatingMode = kModeUdp;
    engine.UDP_DestAddr = target.substr(0, colon);
    engine.UDP_DestPort = static_cast<int32_t>(*port);
    engine.OfflineCode = CodeOption(o, "offline");
  } else if (o.Has("offline")) {
    engine.OperatingMode = kModeOffline;
    engine.OfflineCode = CodeOption(o, "offline");
  } else {
    engine.OperatingMode = kModeSerial;
    if (o.Has("simulate")) {
      plan.Simulation = std::make_unique<TSimulatedPic>(CodeOption(o, "simulate"));
      plan.Port = plan.Simulation->PortPath();
    } else {
      plan.Port = ResolvePortOption(o.Value("port"));
    }
  }
  return plan;
}

void ConnectAndIdentify(TVantleBootloader& engine, const TLinkPlan& plan, const CliOptions& o,
                        const std::string& hexFile) {
  engine.Log(0, " ");
  engine.AbortRequested = false;
  engine.Connect(plan.Port, plan.Baud, "");
  SendPreCodes(engine, o.Value("precodes"));
  if (o.Has("reset-signals")) engine.SignalScript(o.Value("reset-signals"));
  if (!hexFile.empty()) engine.AnalyzeHex(hexFile);
  if (!engine.SearchPIC(o.Has("ignore-until-k"))) {
    throw EVantleError("Not found!", EVantleError::Kind::SerialLink);
  }
  if (!hexFile.empty()) engine.ReadHex(hexFile, true);
  engine.Log(LogDetail, engine.ImageReport());
}

void DisconnectQuietly(TVantleBootloader& engine) {
  try {
    engine.Disconnect();
  } catch (const std::exception&) {
    // the link is gone already; the first error is the one to report
  }
}

int RunCheck(TVantleBootloader& engine, const CliOptions& o, std::string& error) {
  TLinkPlan plan;
  try {
    plan = ApplyLinkOptions(engine, o);
  } catch (const CliUsageError&) {
    throw;
  } catch (const std::exception& e) {
    error = e.what();
    return kExitJobFailed;
  }
  try {
    ConnectAndIdentify(engine, plan, o, "");
    engine.Disconnect();
    return kExitOk;
  } catch (const std::exception& e) {
    engine.Log(LogIndent6, "ERROR!");
    error = e.what();
    DisconnectQuietly(engine);
    return kExitJobFailed;
  }
}

}  // namespace vantlebld
