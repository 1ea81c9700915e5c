// The far ends of real lines for the tests of the programs and the window,
// which open real ports: the device end of a pseudo-terminal the test
// plays, a virtual PIC served on one by a thread, and a UDP receiver.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "sim/pty_server.h"
#include "sim/virtual_pic.h"

namespace vantlebld::test {

// Upper bound for anything to arrive; only reached when something is broken.
constexpr int kLineGuardMs = 5000;

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
  std::optional<std::string> Next(int waitMs = kLineGuardMs) {
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
         ::poll(&p, 1, s.size() < n ? kLineGuardMs : 0) > 0 && (p.revents & POLLIN);) {
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

}  // namespace vantlebld::test
