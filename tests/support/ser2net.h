// ser2net, started by a test on 127.0.0.1 in front of pseudo-terminals
// (Debian's ser2net, installed by ./dev.sh test), and the loopback ports
// around it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"

namespace vantlebld::test {

// A TCP port on 127.0.0.1 that nothing listens on now.
inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

inline std::string Url(int port) {
  return "rfc2217://127.0.0.1:" + std::to_string(port);
}

// ser2net serving pseudo-terminals, each on a port of its own, with the
// configuration the README shows.
class TSer2Net {
 public:
  TSer2Net(const TempDir& dir, const std::vector<std::string>& ptys) {
    std::string yaml = "%YAML 1.1\n---\n";
    for (size_t i = 0; i < ptys.size(); ++i) {
      ports_.push_back(FreePort());
      yaml += "connection: &board" + std::to_string(i) +
              "\n  accepter: telnet(rfc2217),tcp,127.0.0.1," + std::to_string(ports_.back()) +
              "\n  connector: serialdev," + ptys[i] +
              ",115200n81,local\n  options:\n    kickolduser: true\n    chardelay: false\n";
    }
    const std::string config = dir.Write("ser2net.yaml", yaml);
    const char* binary = QFile::exists("/usr/sbin/ser2net") ? "/usr/sbin/ser2net" : "ser2net";
    process_.start(binary, {"-n", "-u", "-c", QString::fromStdString(config), "-P",
                            QString::fromStdString((dir.Path() / "ser2net.pid").string())});
    for (int tries = 0; tries < 200 && !Accepts(ports_.back()); ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ~TSer2Net() { Stop(); }
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
  }
  std::string Port(size_t i) const { return Url(ports_[i]); }

 private:
  QProcess process_;
  std::vector<int> ports_;
};

}  // namespace vantlebld::test
