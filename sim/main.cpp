// vantlebld-sim: a virtual PIC with the bootloader firmware on a
// pseudo-terminal, so the host can be run and tested without hardware.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/vantlebld_comm.h"
#include "sim/boot_path.h"
#include "sim/pty_server.h"
#include "sim/sim_options.h"
#include "sim/virtual_pic.h"

namespace {

// 0 and 1 as for the other programs (kExitOk, kExitBadCommandLine); 2 says
// the host did something the firmware would not take.
constexpr int kExitHostErrors = 2;

// A stop signal may come before the server exists; it is remembered and
// ends the serving as soon as it starts.
std::atomic<bool> g_stopSignalled{false};
std::atomic<vantlebld::TPtyServer*> g_server{nullptr};

extern "C" void OnStopSignal(int) {
  g_stopSignalled.store(true);
  if (auto* server = g_server.load()) server->RequestStop();
}

void InstallStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int Fail(const std::string& message) {
  std::cerr << "vantlebld-sim: " << message << '\n';
  return vantlebld::kExitBadCommandLine;
}

// The table entry for the code with its geometry derived, or an error text.
bool LoadPic(const vantlebld::TSimCommandLine& c, vantlebld::TPICInfo& pic, std::string& error) {
  using namespace vantlebld;
  const std::string path = c.PicCodes.empty() ? TVantleBootloader::FindPicCodes() : c.PicCodes;
  if (path.empty()) {
    error = "no piccodes.ini found; name one with --piccodes";
    return false;
  }
  std::string messages;
  const bool read = ReadPicCodes(path, [&messages](const TJobEvent& e) {
    if (const auto* d = std::get_if<TDetailEvent>(&e.Value)) messages += "\n  " + d->Text;
  });
  if (!read) {
    error = "cannot read the device table " + path + messages;
    return false;
  }
  pic = PicTable()[c.Code];
  if (pic.Code == 0) {
    error = Format("type code %02Xh is not in %s", c.Code, path.c_str());
    return false;
  }
  if (!DerivePicGeometry(pic)) {
    error = Format("type code %02Xh has an unknown family in %s", c.Code, path.c_str());
    return false;
  }
  return true;
}

// A symlink at path to the slave; an existing symlink is replaced, anything
// else there is left alone.
void MakeLink(const std::string& path, const std::string& slave) {
  namespace fs = std::filesystem;
  if (fs::is_symlink(fs::symlink_status(path))) fs::remove(path);
  fs::create_symlink(slave, path);
}

void PrintSummary(const vantlebld::TVirtualPic& pic, const vantlebld::TPtyServer& server,
                  const vantlebld::TBootPath& boot) {
  const vantlebld::TSimStats& s = pic.Stats();
  std::cerr << vantlebld::Format(
      "blocks accepted: %d, N answers: %d, filler bytes seen: %d, activation bytes: %d\n",
      s.BlocksAccepted, s.NAnswers, s.FillerBytes, s.ActivationBytes);
  for (const auto& e : s.HostErrors)
    std::cerr << "host error: " << e << '\n';
  for (const auto& start : s.ProgramStarts)
    std::cerr << start << '\n';
  if (pic.Identified()) std::cerr << boot.Line << '\n';
  if (RunsProgram(pic.Options())) {
    std::cerr << vantlebld::Format("user program: %s, bytes echoed: %d, stream bytes sent: %llu\n",
                                   pic.ProgramRunning() ? "ran" : "never started", s.ProgramBytes,
                                   static_cast<unsigned long long>(server.StreamedBytes()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vantlebld;
  TSimCommandLine c;
  try {
    c = ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const TSimUsageError& e) {
    std::cerr << "vantlebld-sim: " << e.what() << "\n\n" << SimUsage();
    return vantlebld::kExitBadCommandLine;
  }
  if (c.Help) {
    std::cout << SimUsage();
    return vantlebld::kExitOk;
  }
  InstallStopSignals();
  TPICInfo info;
  std::string error;
  if (!LoadPic(c, info, error)) return Fail(error);

  int result = vantlebld::kExitOk;
  try {
    TVirtualPic pic(c.Code, info, c.Options);
    TPtyServer server(pic, c.BaudPace);
    const std::string slave = server.Open();
    g_server.store(&server);
    if (g_stopSignalled.load()) server.RequestStop();
    if (!c.Link.empty()) MakeLink(c.Link, slave);
    std::cout << "PTY " << slave << std::endl;
    std::cerr << Format("vantlebld-sim: %s (%02Xh) on %s\n", info.Name.c_str(), c.Code,
                        slave.c_str());
    try {
      server.Run();
    } catch (const std::exception& e) {
      std::cerr << "vantlebld-sim: " << e.what() << '\n';
      result = vantlebld::kExitBadCommandLine;
    }
    g_server.store(nullptr);
    if (!c.Link.empty()) std::filesystem::remove(c.Link);
    if (!c.ExportHex.empty()) {
      std::ofstream out(c.ExportHex, std::ios::binary);
      out << pic.ExportHex();
      if (!out.flush()) {
        std::cerr << "vantlebld-sim: cannot write " << c.ExportHex << '\n';
        result = vantlebld::kExitBadCommandLine;
      }
    }
    const TBootPath boot = JudgeBootPath(pic.Pic(), pic.Flash());
    PrintSummary(pic, server, boot);
    // A write that leaves a PIC unable to start through its bootloader is
    // the host's fault as much as a block it should not have sent.
    const bool brokenBoot = pic.Stats().FlashBlocks > 0 && !boot.Ok;
    if (result == vantlebld::kExitOk && (!pic.Stats().HostErrors.empty() || brokenBoot))
      result = kExitHostErrors;
  } catch (const std::exception& e) {
    if (!c.Link.empty()) {
      std::error_code ec;
      if (std::filesystem::is_symlink(std::filesystem::symlink_status(c.Link, ec)))
        std::filesystem::remove(c.Link, ec);
    }
    return Fail(e.what());
  }
  return result;
}
