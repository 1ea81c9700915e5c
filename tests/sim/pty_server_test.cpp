// The virtual PIC on a real pseudo-terminal: the test plays the host with
// plain POSIX calls on the slave side, against the server in a thread and
// against the vantlebld-sim program. What the PIC answers is the state
// machine's business (virtual_pic_test); here: the line and its ends.
#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "sim/user_program.h"
#include "tests/sim/sim_test_support.h"

namespace vantlebld::test {
namespace {

using namespace std::chrono_literals;

// Bound for bytes to arrive; reached only when something is broken.
constexpr int kGuardMs = 3000;

// Up to n bytes from fd; fewer when it stays quiet or hangs up.
std::string Read(int fd, size_t n) {
  std::string got;
  pollfd p{fd, POLLIN, 0};
  char buf[4096];
  for (ssize_t r = 0; got.size() < n && ::poll(&p, 1, kGuardMs) > 0 &&
                      (r = ::read(fd, buf, std::min(sizeof buf, n - got.size()))) > 0;)
    got.append(buf, static_cast<size_t>(r));
  return got;
}

// The host's end of the line: the slave opened as a serial port. The host
// sets nothing: the server has made the line raw.
struct THost {
  explicit THost(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    EXPECT_GE(fd, 0) << path;
  }
  ~THost() { ::close(fd); }
  // Sends the bytes; returns up to n bytes of answer.
  std::string Ask(const Bytes& b, size_t n) {
    EXPECT_EQ(::write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    return Read(fd, n);
  }
  int fd;
};

// On a line paced like a UART at 115200 baud.
TEST(PtyServer, ServesAJobUntilTheHostClosesThePortOrThePicHangsUp) {
  for (const bool hangUp : {false, true}) {
    SCOPED_TRACE(hangUp ? "hang-up at block 1" : "no fault");
    TVirtualPic pic(0x41, TablePic(0x41), {.Faults = {.HangupAt = hangUp ? 1 : 0}});
    TPtyServer server(pic, 115200);
    const std::string path = server.Open();
    server.Start();
    // A port probe opens and closes the line without a byte; the hung-up
    // line it leaves behind for a while does not end the serving.
    THost{path};
    std::this_thread::sleep_for(30ms);
    {
      THost host(path);
      EXPECT_EQ(host.Ask({0xC1}, 2), "AK");
      EXPECT_EQ(host.Ask(FlashBlock(pic.Pic(), 0x40, Bytes(64, 0xA5)), 1), hangUp ? "" : "K");
    }
    server.WaitFinished();
    EXPECT_EQ(server.End(), hangUp ? TPtyServer::TEnd::HungUp : TPtyServer::TEnd::HostClosed);
    EXPECT_EQ(pic.Flash()[0x40], 0xA5);
  }
}

// vantlebld-sim under a time limit, as the child of a shell that first
// prints its process id; stdout through a pipe, stderr into a file.
class SimProgramTest : public ::testing::Test {
 protected:
  // Returns the program's first line.
  std::string Start(const std::string& args) {
    const std::string sim = VANTLEBLD_SIM_PATH " --piccodes " + kTable;
    out = ::popen(("echo $$; exec timeout -s KILL 10 " + sim + " " + args + " 2>" + err).c_str(),
                  "r");
    pid = std::atoi(Line().c_str());
    return Line();
  }
  std::string Line() {
    char line[256] = "";
    return std::fgets(line, sizeof line, out) ? std::string(line, std::strcspn(line, "\n")) : "";
  }
  // The exit code; -1 when the time limit killed the program.
  int Wait() {
    const int status = ::pclose(std::exchange(out, nullptr));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~SimProgramTest() override {
    if (!out) return;
    ::kill(pid, SIGTERM);
    Wait();
  }

  TempDir dir;
  const std::string err = (dir.Path() / "stderr.txt").string();
  const std::string link = (dir.Path() / "ttyPIC").string();
  FILE* out = nullptr;
  pid_t pid = -1;
};

// The program's stream: what falls due while the port is held arrives
// whole; what falls due while nobody holds it is lost, and nothing sent
// before a close is kept for the next opening.
TEST_F(SimProgramTest, ServesAJobThenStreamsAndOnSigtermWritesTheExportAndTheSummary) {
  const std::string hex = (dir.Path() / "out.hex").string();
  const std::string first = Start("--code 31h --nak 1 --run-after-write --stream 2000000 --link " +
                                  link + " --export-hex " + hex);
  ASSERT_EQ(first.rfind("PTY /dev/pts/", 0), 0u) << first;
  {
    const TPICInfo info = TablePic(0x31);
    THost host(link);
    EXPECT_EQ(host.Ask({0xC1}, 2), "1K");
    EXPECT_EQ(host.Ask(FlashBlock(info, 0x100, Bytes(64, 0x3C)), 1), "N");
    EXPECT_EQ(host.Ask(FlashBlock(info, 0x100, Bytes(64, 0x3C)), 1), "K");
    EXPECT_EQ(host.Ask(FlashBlock(info, 0x3E40, Bytes(64, 0x00)), 1), "K");  // the firmware
  }
  // Closing the port ended the job: the program echoes and streams. What
  // falls due while nobody holds the port is lost (50 ms of it, 100000
  // bytes), and nothing sent before a close is kept for the next opening.
  uint64_t end = 0;
  for (int session = 0; session < 2; ++session) {
    std::this_thread::sleep_for(50ms);
    THost host(link);
    host.Ask({0xC1}, 0);                // no stream byte reads C1h
    std::this_thread::sleep_for(50ms);  // far more falls due than the pseudo-terminal holds
    std::string got = Read(host.fd, 100'001);
    const size_t echo = got.find('\xC1');
    ASSERT_NE(echo, std::string::npos) << "no echo in " << got.size() << " bytes";
    got.erase(echo, 1);
    // One unbroken piece of the stream, placed by its first whole line's number.
    const size_t lineStart = got.find("\r\n") + 2;
    ASSERT_GT(lineStart, 1u);
    const uint64_t offset =
        std::stoull(got.substr(lineStart, kStreamNumberDigits)) * kStreamLineLength - lineStart;
    EXPECT_EQ(got, StreamBytes(offset, got.size()));
    EXPECT_TRUE(session == 0 || offset > end + 50'000) << offset << " after " << end;
    end = offset + got.size();
  }
  ::kill(pid, SIGTERM);
  EXPECT_EQ(Wait(), 2) << ReadText(err);
  for (const char* said : {"blocks accepted: 2, N answers: 1", "bootloader's code at 003E40h",
                           "user program: ran, bytes echoed: 2"})
    EXPECT_NE(ReadText(err).find(said), std::string::npos) << ReadText(err);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  const auto bytes = ParseHex(ReadText(hex));
  EXPECT_EQ(bytes.at(0x13F), 0x3C);
  EXPECT_EQ(bytes.at(0x140), 0xFF);
}

TEST(UserStream, TakesWhatIsDueSkipsWhatIsDroppedAndCatchesUpOnlyALittle) {
  const TUserStream::TClock::time_point t0{1000s};
  TUserStream stream(10'000);  // ten bytes a millisecond
  stream.Start(t0);
  EXPECT_EQ(stream.Take(t0 + 25ms, 1000), StreamBytes(0, 250));
  EXPECT_EQ(stream.Take(t0 + 25ms, 1000), "");
  EXPECT_EQ(stream.NextDue(), t0 + 25'100us);
  EXPECT_EQ(stream.Take(t0 + 30ms, 20), StreamBytes(250, 20));
  EXPECT_EQ(stream.Take(t0 + 30ms, 1000), StreamBytes(270, 30));
  stream.Drop(t0 + 90ms);
  EXPECT_EQ(stream.Take(t0 + 91ms, 1000), StreamBytes(900, 10));
  // After a long stall the stream stays behind the clock, keeping its rate.
  const auto late = t0 + 10s;
  const auto catchUp = static_cast<size_t>(TUserStream::kMaxCatchUp.count()) * 10;
  EXPECT_EQ(stream.Take(late, 100'000), StreamBytes(910, catchUp));
  EXPECT_EQ(stream.Take(late + 4ms, 100'000), StreamBytes(910 + catchUp, 40));
}

}  // namespace
}  // namespace vantlebld::test
