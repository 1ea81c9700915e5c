// Boards on another machine: vantlebld-cli writes through a real ser2net,
// started here on 127.0.0.1 in front of vantlebld-sim pseudo-terminals,
// and each virtual PIC judges what it got. The COM-port commands that a
// pseudo-terminal cannot show are recorded by a small Telnet server of the
// test's own.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/ser2net.h"

namespace vantlebld::test {
namespace {

constexpr int kChildGuardMs = 60000;  // reached only when something hangs
const std::string kExamples = VANTLEBLD_SOURCE_DIR "/examples/";

// A virtual PIC on a pseudo-terminal; its exit code is its judge's verdict.
struct TSim {
  QProcess process;
  std::string pty;
  explicit TSim(QStringList args) {
    process.start(VANTLEBLD_SIM_PATH, args);
    while (!process.canReadLine() && process.waitForReadyRead(kChildGuardMs)) {
    }
    pty = QString::fromUtf8(process.readLine()).trimmed().mid(4).toStdString();  // "PTY /dev/..."
  }
  int Verdict() {
    if (!process.waitForFinished(kChildGuardMs)) process.kill();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
};

struct TRun {
  int exitCode = -1;
  std::string out, err;
};

TRun Cli(const std::vector<std::string>& args) {
  QProcess p;
  QStringList list;
  for (const auto& a : args)
    list << QString::fromStdString(a);
  p.start(VANTLEBLD_CLI_PATH, list);
  TRun r;
  if (p.waitForFinished(kChildGuardMs) && p.exitStatus() == QProcess::NormalExit)
    r.exitCode = p.exitCode();
  else
    p.kill();
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

// Every family written through ser2net; the virtual PIC's judge finds its
// program starting through the bootloader, and the file in its memory.
TEST(NetworkPort, EachFamilyIsWrittenThroughSer2Net) {
  const std::pair<const char*, const char*> boards[] = {{"32h", "pic16f877a_blink.hex"},
                                                        {"41h", "pic18f252_blink.hex"},
                                                        {"73h", "dspic30f4013_blink.hex"}};
  for (const auto& [code, hex] : boards) {
    SCOPED_TRACE(hex);
    TempDir dir;
    TSim sim({"--code", code});
    TSer2Net server(dir, {sim.pty});
    const TRun r = Cli({"write", kExamples + hex, "--port", server.Port(0)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("WRITE OK"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Connected to " + server.Port(0) + " at 115200"), std::string::npos);
    server.Stop();
    EXPECT_EQ(sim.Verdict(), 0) << sim.process.readAllStandardError().toStdString();
  }
}

// Two boards behind ser2net and one on a local port, written at once.
TEST(NetworkPort, TwoRemoteBoardsAndALocalOneAtOnce) {
  TempDir dir;
  TSim a({"--code", "41h"}), b({"--code", "41h"}), local({"--code", "41h"});
  TSer2Net server(dir, {a.pty, b.pty});
  const TRun r = Cli({"write", kExamples + "pic18f252_blink.hex", "--port", server.Port(0),
                      "--port", server.Port(1), "--port", local.pty});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  server.Stop();
  for (TSim* sim : {&a, &b, &local})
    EXPECT_EQ(sim->Verdict(), 0) << sim->process.readAllStandardError().toStdString();
}

// A Telnet server of the test's own: it agrees to the COM-port control or
// refuses it, answers the baud rate as a server must, and records every
// COM-port command (RFC 2217: IAC SB 44 command value IAC SE).
class TRecordingServer {
 public:
  explicit TRecordingServer(bool agree) : agree_(agree) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 4);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TRecordingServer() {
    Finish();
    ::close(listener_);
  }
  // Ends the session; what it recorded may be read from then on.
  void Finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int Port() const { return port_; }
  // The values of the SET-CONTROL commands (5) received, in order.
  std::vector<int> Controls() const {
    std::vector<int> values;
    for (const auto& c : commands_)
      if (c.size() == 2 && c[0] == 5) values.push_back(c[1]);
    return values;
  }
  std::vector<std::vector<int>> commands_;

 private:
  void Serve() {
    pollfd p{listener_, POLLIN, 0};
    while (!stop_ && ::poll(&p, 1, 50) == 0) {
    }
    if (stop_) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    std::vector<int> in;
    for (;;) {
      pollfd q{fd, POLLIN, 0};
      if (::poll(&q, 1, 50) == 0) {
        if (stop_) break;
        continue;
      }
      unsigned char buffer[512];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      in.insert(in.end(), buffer, buffer + n);
      Answer(fd, in);
    }
    ::close(fd);
  }
  // Takes the complete Telnet commands from the front of in.
  void Answer(int fd, std::vector<int>& in) {
    size_t i = 0;
    while (i < in.size()) {
      if (in[i] != 255) {
        ++i;  // data
        continue;
      }
      if (i + 2 < in.size() && in[i + 1] == 251 && in[i + 2] == 44) {  // WILL COM-PORT
        const unsigned char reply[] = {255, static_cast<unsigned char>(agree_ ? 253 : 254), 44};
        ::send(fd, reply, sizeof reply, MSG_NOSIGNAL);
        i += 3;
        continue;
      }
      if (i + 1 < in.size() && in[i + 1] == 250) {  // SB ... IAC SE
        size_t end = i + 2;
        while (end + 1 < in.size() && !(in[end] == 255 && in[end + 1] == 240))
          ++end;
        if (end + 1 >= in.size()) break;  // not complete yet
        if (in[i + 2] == 44) {
          const std::vector<int> command(in.begin() + static_cast<long>(i) + 3,
                                         in.begin() + static_cast<long>(end));
          commands_.push_back(command);
          if (!command.empty() && command[0] == 1) {  // SET-BAUDRATE: the answer, 101
            std::vector<unsigned char> reply = {255, 250, 44, 101};
            reply.insert(reply.end(), command.begin() + 1, command.end());
            reply.insert(reply.end(), {255, 240});
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
          }
        }
        i = end + 2;
        continue;
      }
      if (i + 2 >= in.size()) break;
      i += 3;  // another option
    }
    in.erase(in.begin(), in.begin() + static_cast<long>(std::min(i, in.size())));
  }
  bool agree_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

// What a job sends of the control lines reaches the server as RFC 2217's
// SET-CONTROL values: 8/9 DTR on/off, 11/12 RTS on/off (1: no flow
// control, with the line settings), and the baud rate as four bytes.
TEST(NetworkPort, LineSettingsAndResetSignalsTravelAsComPortCommands) {
  TRecordingServer server(true);
  const TRun r = Cli({"check", "--port", Url(server.Port()), "--search-seconds", "1", "--rts-dtr",
                      "on", "--reset-signals", "dRrD"});
  EXPECT_EQ(r.exitCode, 3) << r.out << r.err;  // nothing answers the probes
  server.Finish();
  ASSERT_FALSE(server.commands_.empty());
  // 115200 = 0001C200h.
  EXPECT_EQ(server.commands_.front(), (std::vector<int>{1, 0x00, 0x01, 0xC2, 0x00}));
  EXPECT_EQ(server.Controls(), (std::vector<int>{1, 11, 8, 9, 11, 12, 8}));
}

// Failures end the job with the reason and exit code 3, never a hang.
TEST(NetworkPort, AServerThatRefusesVanishesOrIsNotThereEndsTheJobWithTheReason) {
  TRecordingServer refusing(false);
  const struct {
    std::string port, says;
  } cases[] = {
      {Url(refusing.Port()), "refuses the COM-port control"},
      {Url(FreePort()), "Connection refused"},
      {"rfc2217://127.0.0.1:99999", "a port from 1 to 65535"},
  };
  for (const auto& c : cases) {
    const TRun r = Cli({"check", "--port", c.port, "--search-seconds", "1"});
    EXPECT_NE(r.exitCode, 0) << c.port;
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.port << "\n" << r.out << r.err;
  }
  // ser2net ends in the middle of a write: blocks that take 200 ms each.
  TempDir dir;
  TSim sim({"--code", "41h", "--write-ms", "200"});
  TSer2Net server(dir, {sim.pty});
  QProcess cli;
  cli.start(VANTLEBLD_CLI_PATH, {"write", QString::fromStdString(kExamples + "pic18f252_blink.hex"),
                                 "--port", QString::fromStdString(server.Port(0))});
  while (cli.waitForReadyRead(kChildGuardMs) && !cli.peek(1 << 16).contains("Writing flash")) {
  }
  server.Stop();
  ASSERT_TRUE(cli.waitForFinished(kChildGuardMs)) << "the write hangs after the server went";
  const std::string out = cli.readAll().toStdString() + cli.readAllStandardError().toStdString();
  EXPECT_EQ(cli.exitCode(), 3) << out;
  EXPECT_NE(out.find("closed the connection"), std::string::npos) << out;
  sim.process.kill();
  sim.process.waitForFinished();
}

}  // namespace
}  // namespace vantlebld::test

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
