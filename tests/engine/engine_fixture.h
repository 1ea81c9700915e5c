// The engine tests' fixture, shared with the command-line tests: an engine
// with its log and progress captured, the far end of a serial line (a
// virtual PIC, or a pseudo-terminal the test plays), a UDP receiver, and
// the blocks an offline write logged. Plain helpers: test_support.h.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/format.h"
#include "engine/vantlebld_comm.h"
#include "sim/pty_server.h"
#include "sim/virtual_pic.h"
#include "tests/engine/test_support.h"

namespace vantlebld::test {

// Upper bound for anything to arrive or end; only reached when something
// is broken, no result depends on it.
constexpr int kGuardMs = 5000;
inline const std::string kSourceDir = VANTLEBLD_SOURCE_DIR;
inline const std::string kTable = kSourceDir + "/data/piccodes.ini";

// Bytes as a block string.
inline std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes)
    s += static_cast<char>(b);
  return s;
}
// The block with its checksum, worked out here rather than by the engine.
inline std::string Checked(std::string block) {
  int sum = 0;
  for (char c : block)
    sum += static_cast<uint8_t>(c);
  return block + static_cast<char>((256 - sum % 256) % 256);
}

// A log line; a text ending in '*' matches every text that starts with
// the rest (Matches).
struct LogLine {
  int flags;
  std::string text;
  bool operator==(const LogLine&) const = default;
  bool Matches(const LogLine& l) const {
    if (text.empty() || text.back() != '*') return *this == l;
    return flags == l.flags && l.text.rfind(text.substr(0, text.size() - 1), 0) == 0;
  }
};
using LogLines = std::vector<LogLine>;
inline std::ostream& operator<<(std::ostream& os, const LogLine& l) {
  return os << "{" << l.flags << ", \"" << l.text << "\"}";
}
// Every wanted line matches a logged one, in this order, others between.
inline bool InOrder(const LogLines& log, const LogLines& wanted) {
  auto at = log.begin();
  for (const auto& w : wanted) {
    at = std::find_if(at, log.end(), [&](const LogLine& l) { return w.Matches(l); });
    if (at++ == log.end()) return false;
  }
  return true;
}
inline constexpr uint8_t kBlockLine = LogIndent3 | LogDetail;  // "Hex: ..   Str:.."

// What an engine operation raised; other exception types fail the test.
struct Raised {
  bool thrown = false;
  std::string message;
  EVantleError::Kind kind = EVantleError::Kind::General;
};
template <class F>
Raised CatchVantle(F&& f) {
  try {
    f();
  } catch (const EVantleError& e) {
    return {true, e.what(), e.ErrorKind()};
  }
  return {};
}

// A UDP socket on an ephemeral port of 127.0.0.1 (port 0: none bound).
struct TUdpReceiver {
  TUdpReceiver() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
  }
  ~TUdpReceiver() { ::close(fd); }
  // The next datagram, or nothing when none comes within waitMs.
  std::optional<std::string> Next(int waitMs = kGuardMs) {
    pollfd p{fd, POLLIN, 0};
    char buf[2048];
    if (::poll(&p, 1, waitMs) <= 0) return std::nullopt;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    return n < 0 ? std::nullopt : std::optional<std::string>(std::string(buf, size_t(n)));
  }
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int port = 0;
};

// The device end of a pseudo-terminal, played by the test (path empty
// when none could be made).
struct TLine {
  TLine() {
    char name[128] = {};
    termios raw{};
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0 || ::tcgetattr(master, &raw) != 0)
      return;
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    path = name;
  }
  ~TLine() { Close(); }
  bool Put(const std::string& bytes) {
    return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // What the host has sent and this end not yet read: at least n bytes
  // unless they do not come, and whatever else is there already.
  std::string Sent(size_t n) {
    std::string s;
    char buf[256];
    for (pollfd p{master, POLLIN, 0};
         ::poll(&p, 1, s.size() < n ? kGuardMs : 0) > 0 && (p.revents & POLLIN);) {
      const ssize_t got = ::read(master, buf, sizeof buf);
      if (got <= 0) break;
      s.append(buf, size_t(got));
    }
    return s;
  }
  // The device end goes away, as an unplugged adapter does.
  void Close() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  std::string path;
};

// A virtual PIC served on a pseudo-terminal by a thread of the test. Once
// the host has closed the port (or the PIC hung up), server.WaitFinished()
// ends the serving: then the PIC has seen every byte the host sent.
struct TServedPic {
  TServedPic(uint8_t code, const TPICInfo& info, const TSimOptions& options)
      : pic(code, info, options), server(pic), path(server.Open()) {
    server.Start();
  }
  TVirtualPic pic;
  TPtyServer server;
  std::string path;
};

inline void ResetPicTable() {
  PicTable().fill(TPICInfo{});
  PicTableLoaded() = false;
}

// An engine with its log and progress captured; the device table starts
// empty for every test.
class EngineFixture : public ::testing::Test {
 protected:
  EngineFixture() {
    ResetPicTable();
    engine.OnLog = [this](TVantleBootloader&, uint8_t flags, const std::string& text) {
      log.push_back({flags, text});
    };
    engine.OnProgress = [this](TVantleBootloader&, int32_t value) { progress.push_back(value); };
    engine.SearchSeconds = 1;
    engine.WaitMs = 30;
  }
  ~EngineFixture() override { ResetPicTable(); }

  bool Logged(const LogLine& line) const { return Count(line) > 0; }
  int Count(const LogLine& line) const {
    return int(std::count_if(log.begin(), log.end(), [&](auto& l) { return line.Matches(l); }));
  }
  // The project's device table, with the log of reading it forgotten.
  void LoadTable() {
    ASSERT_TRUE(engine.LoadPicCodesFile(kTable));
    log.clear();
  }
  // Opens the port and forgets what that logged.
  void ConnectTo(const std::string& path) {
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(engine.Connect(path, 115200, ""));
    log.clear();
    progress.clear();
  }
  // Waits until the engine's port has at least n bytes waiting.
  int32_t AwaitWaiting(int32_t n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (engine.Port->BytesWaiting() < n && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return engine.Port->BytesWaiting();
  }
  // The blocks SendBlock logged, in order: each line is the hex dump of n
  // bytes (3n characters) and then the same bytes as they are.
  std::vector<std::string> Blocks() const {
    std::vector<std::string> blocks;
    for (const auto& l : log) {
      if (l.flags != kBlockLine || l.text.rfind("Hex: ", 0) != 0) continue;
      blocks.push_back(l.text.substr(l.text.size() - (l.text.size() - 12) / 4));
      EXPECT_EQ(l.text, "Hex: " + HexDump(blocks.back()) + "   Str:" + blocks.back());
    }
    return blocks;
  }

  TempDir dir;
  TVantleBootloader engine;
  LogLines log;
  std::vector<int32_t> progress;
};

}  // namespace vantlebld::test
