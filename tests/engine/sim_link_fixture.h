// Engine tests over a real pseudo-terminal. The far end of the line is
// either a virtual PIC served by a thread of the test (TServedPic), or a
// scripted line that answers the n-th byte it receives with the n-th reply
// of a list (TScriptedLine) for byte sequences no firmware would send.
// TUdpReceiver catches the datagrams of the UDP test mode.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty_server.h"
#include "sim/virtual_pic.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {

// Upper bound for anything to arrive or end; only reached when something
// is broken, no result depends on it.
constexpr int kGuardMs = 5000;

// A UDP socket bound to an ephemeral port of 127.0.0.1.
class TUdpReceiver {
 public:
  TUdpReceiver() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      return;
    }
    port_ = ntohs(a.sin_port);
  }
  ~TUdpReceiver() {
    if (fd_ >= 0) ::close(fd_);
  }
  TUdpReceiver(const TUdpReceiver&) = delete;
  TUdpReceiver& operator=(const TUdpReceiver&) = delete;

  // 0 when the socket could not be bound.
  int Port() const { return port_; }

  // The next datagram, or nothing when none comes within waitMs.
  std::optional<std::string> Next(int waitMs = kGuardMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return std::nullopt;
    char buf[2048];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0) return std::nullopt;
    return std::string(buf, static_cast<size_t>(n));
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

inline std::string PicCodesPath() {
  return std::string(VANTLEBLD_SOURCE_DIR) + "/data/piccodes.ini";
}

// A virtual PIC on a pseudo-terminal, served by a thread of the test. The
// PIC's reset (the start of its clock) is the construction.
class TServedPic {
 public:
  TServedPic(uint8_t typeCode, const TPICInfo& info, const TSimOptions& options)
      : pic_(typeCode, info, options), server_(pic_) {
    path_ = server_.Open();
    thread_ = std::thread([this] {
      try {
        server_.Run();
      } catch (const std::exception& e) {
        failure_ = e.what();
      }
      finished_.store(true);
    });
  }
  ~TServedPic() { Stop(); }
  TServedPic(const TServedPic&) = delete;
  TServedPic& operator=(const TServedPic&) = delete;

  const std::string& Path() const { return path_; }

  // Waits until the serving ends on its own (the host closed a port that
  // carried bytes, or the PIC hung up), and stops it should that not
  // happen. Afterwards every byte the host sent has been seen by the PIC.
  TPtyServer::TEnd Finish() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (!finished_.load() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Stop();
    return server_.End();
  }
  // Ends the serving at once; the line stays open until destruction.
  void Stop() {
    server_.RequestStop();
    if (thread_.joinable()) thread_.join();
  }

  // Only after Finish() or Stop(): the PIC is the serving thread's before.
  const TVirtualPic& Pic() const { return pic_; }
  const TSimStats& Stats() const { return pic_.Stats(); }
  const std::string& Failure() const { return failure_; }

 private:
  TVirtualPic pic_;
  TPtyServer server_;
  std::string path_;
  std::string failure_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

// The device end of a pseudo-terminal, played by the test: the n-th byte
// received is answered with replies[n-1] at once (nothing once the list is
// used up); Inject() puts bytes on the line unasked.
class TScriptedLine {
 public:
  explicit TScriptedLine(std::vector<std::string> replies = {}) : replies_(std::move(replies)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    termios raw{};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0 || ::tcgetattr(master_, &raw) != 0) {
      return;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(master_, TCSANOW, &raw);
    path_ = name;
    thread_ = std::thread([this] { Serve(); });
  }
  ~TScriptedLine() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) ::close(master_);
  }
  TScriptedLine(const TScriptedLine&) = delete;
  TScriptedLine& operator=(const TScriptedLine&) = delete;

  // Empty when the pseudo-terminal could not be made.
  const std::string& Path() const { return path_; }
  // The master: the slave's line settings can be read through it.
  int Master() const { return master_; }

  bool Inject(const std::string& bytes) {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Everything received so far.
  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // Waits until at least n bytes have been received; returns them.
  std::string AwaitReceived(size_t n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (Received().size() < n && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Received();
  }

 private:
  void Serve() {
    size_t next = 0;
    while (!stop_.load()) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 5) <= 0) continue;
      char buf[256];
      const ssize_t n = (p.revents & POLLIN) ? ::read(master_, buf, sizeof buf) : -1;
      if (n <= 0) {
        // No slave open (yet, or any more): the master reports a hang-up.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      for (ssize_t i = 0; i < n; ++i) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          received_ += buf[i];
        }
        if (next < replies_.size()) Inject(replies_[next]);
        ++next;
      }
    }
  }

  std::vector<std::string> replies_;
  int master_ = -1;
  std::string path_;
  std::mutex mutex_;
  std::string received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// An engine set up for short searches, with the project's device table,
// its log and its progress reports captured.
class SimLinkFixture : public EngineFixture {
 protected:
  SimLinkFixture() {
    tableLoaded = engine.LoadPicCodesFile(PicCodesPath());
    engine.OperatingMode = 0;
    engine.SearchSeconds = 1;
    engine.WaitMs = 30;
    engine.OnProgress = [this](TVantleBootloader&, int32_t value) { progress.push_back(value); };
  }
  void SetUp() override {
    ASSERT_TRUE(tableLoaded);
    log.clear();
  }

  // The table's entry for the code with its geometry derived, as the
  // firmware stand-in needs it.
  static TPICInfo TableInfo(uint8_t code) {
    TPICInfo info = PicTable()[code];
    EXPECT_EQ(info.Code, code);
    EXPECT_TRUE(DerivePicGeometry(info));
    return info;
  }

  // A virtual PIC answering with typeCode, built from the table entry of
  // model (the same code unless given).
  TServedPic& Serve(uint8_t typeCode, const TSimOptions& options = {}, int model = -1) {
    sim = std::make_unique<TServedPic>(
        typeCode, TableInfo(static_cast<uint8_t>(model < 0 ? typeCode : model)), options);
    return *sim;
  }

  // Opens the port and forgets what that logged.
  void ConnectTo(const std::string& path) {
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(engine.Connect(path, 115200, ""));
    log.clear();
    progress.clear();
  }

  // Closes the port and waits for the served PIC to have seen every byte.
  TPtyServer::TEnd HangUpAndFinish() {
    engine.Disconnect();
    return sim->Finish();
  }

  // Waits until the engine's port has at least n bytes waiting.
  int32_t AwaitWaiting(int32_t n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (engine.Port->BytesWaiting() < n && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return engine.Port->BytesWaiting();
  }

  int Count(const LogLine& line) const {
    return static_cast<int>(std::count(log.begin(), log.end(), line));
  }
  // Lines whose text starts with prefix, whatever their flags.
  std::vector<LogLine> Starting(const std::string& prefix) const {
    std::vector<LogLine> found;
    for (const auto& l : log)
      if (l.text.rfind(prefix, 0) == 0) found.push_back(l);
    return found;
  }

  bool tableLoaded = false;
  std::vector<int32_t> progress;
  std::unique_ptr<TServedPic> sim;
};

inline const LogLine kSearching{0, "  Searching for PIC ..."};
inline const LogLine kNotFound{LogAppend, "Not found"};

}  // namespace vantlebld::test
