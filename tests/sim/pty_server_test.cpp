// The virtual PIC on a real pseudo-terminal: the test plays the host with
// plain POSIX calls on the slave side, against the server in a thread and
// against the vantlebld-sim program.
#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "sim/user_program.h"
#include "tests/engine/test_support.h"
#include "tests/sim/sim_test_support.h"

extern char** environ;

namespace vantlebld::test {
namespace {

// Bound for bytes to arrive; reached only when something is broken.
constexpr int kGuardMs = 3000;

// The host's end of the line: the slave opened as a serial port, raw.
class THostLine {
 public:
  explicit THostLine(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios t{};
    EXPECT_GE(fd_, 0) << path;
    if (fd_ >= 0 && ::tcgetattr(fd_, &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~THostLine() { Close(); }
  void Close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }
  void Write(const Bytes& b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), ssize_t(b.size())); }
  // Up to n bytes; fewer when the line stays quiet or hangs up.
  std::string Read(size_t n) {
    std::string got;
    pollfd p{fd_, POLLIN, 0};
    char buf[256];
    ssize_t r = 0;
    while (got.size() < n && ::poll(&p, 1, kGuardMs) > 0 &&
           (r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()))) > 0)
      got.append(buf, static_cast<size_t>(r));
    return got;
  }
  bool HungUp() {
    pollfd p{fd_, POLLIN, 0};
    char c;
    return ::poll(&p, 1, kGuardMs) > 0 && ::read(fd_, &c, 1) <= 0;
  }

 private:
  int fd_;
};

// Checks that got is one unbroken piece of the program's stream and returns
// where in the stream it starts, found from the first whole line number.
uint64_t StreamOffset(const std::string& got) {
  const size_t lineStart = got.find("\r\n") + 2;
  if (lineStart == 1 || lineStart + kStreamNumberDigits > got.size()) {
    ADD_FAILURE() << "no line number in \"" << got << '"';
    return 0;
  }
  const uint64_t line = std::stoull(got.substr(lineStart, kStreamNumberDigits));
  const uint64_t offset = line * kStreamLineLength - lineStart;
  EXPECT_EQ(got, StreamBytes(offset, got.size()));
  return offset;
}

// On a line paced like a UART at 115200 baud.
TEST(PtyServer, ServesAJobUntilTheHostClosesThePortOrThePicHangsUp) {
  for (const bool hangUp : {false, true}) {
    SCOPED_TRACE(hangUp ? "hang-up at block 1" : "no fault");
    TSimOptions o;
    o.Faults.HangupAt = hangUp ? 1 : 0;
    TVirtualPic pic(0x41, TablePic(0x41), o);
    TPtyServer server(pic, 115200);
    const std::string path = server.Open();
    server.Start();
    // A port probe opens and closes the line without a byte; the hung-up
    // line it leaves behind for a while does not end the serving.
    { THostLine probe(path); }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    THostLine host(path);
    host.Write({0xC1});
    EXPECT_EQ(host.Read(2), "AK");
    host.Write(FlashBlock(pic.Pic(), 0x40, Bytes(64, 0xA5)));
    if (hangUp) {
      EXPECT_TRUE(host.HungUp());
    } else {
      EXPECT_EQ(host.Read(1), "K");
      host.Close();
    }
    server.WaitFinished();
    EXPECT_EQ(server.End(), hangUp ? TPtyServer::TEnd::HungUp : TPtyServer::TEnd::HostClosed);
    EXPECT_EQ(pic.Flash()[0x40], 0xA5);
  }
}

TEST(PtyServer, StreamLosesNothingWhileThePortIsHeldAndAllWhileNot) {
  TSimOptions o;
  o.RunProgramAtStart = true;
  o.StreamRate = 2'000'000;
  TVirtualPic pic(0x41, TablePic(0x41), o);
  TPtyServer server(pic);
  const std::string path = server.Open();
  server.Start();
  uint64_t end = 0;
  for (int session = 0; session < 2; ++session) {
    THostLine host(path);
    // Far more falls due than the pseudo-terminal holds.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string got = host.Read(100'000);
    ASSERT_EQ(got.size(), 100'000u);
    const uint64_t offset = StreamOffset(got);
    // What fell due while nobody held the port is lost, and nothing sent
    // before the close is kept for the next opening.
    if (session > 0) {
      EXPECT_GT(offset, end);
    }
    end = offset + got.size();
    host.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// vantlebld-sim as a child: stdout through a pipe, stderr into a file.
class SimProgramTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> args) {
    args.insert(args.begin(), {VANTLEBLD_SIM_PATH, "--piccodes",
                               std::string(VANTLEBLD_SOURCE_DIR) + "/data/piccodes.ini"});
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    stdout_ = out[0];
  }
  std::string FirstLine() {
    std::string line;
    pollfd p{stdout_, POLLIN, 0};
    char c;
    while (::poll(&p, 1, kGuardMs) > 0 && ::read(stdout_, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }
  // The exit code; -1 when the program had to be killed after the guard time.
  int Wait() {
    int status = 0;
    for (int ms = 0; ::waitpid(pid, &status, WNOHANG) == 0; ms += 10) {
      if (ms >= kGuardMs) ::kill(pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid = -1;
    if (stdout_ >= 0) ::close(std::exchange(stdout_, -1));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Read(const std::string& path) const {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
  }
  ~SimProgramTest() override {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    Wait();
  }

  TempDir dir;
  std::string errPath = (dir.Path() / "stderr.txt").string();
  pid_t pid = -1;
  int stdout_ = -1;
};

TEST_F(SimProgramTest, ServesAJobRunsTheProgramAndOnSigtermWritesTheExportAndTheSummary) {
  const std::string link = (dir.Path() / "ttyPIC").string();
  const std::string hex = (dir.Path() / "out.hex").string();
  Start({"--code", "31h", "--nak", "1", "--run-after-write", "--link", link, "--export-hex", hex});
  const std::string first = FirstLine();
  ASSERT_EQ(first.rfind("PTY /dev/pts/", 0), 0u) << first;
  EXPECT_EQ(std::filesystem::read_symlink(link), first.substr(4));
  {
    const TPICInfo info = TablePic(0x31);
    THostLine host(link);
    host.Write({0xC1});
    EXPECT_EQ(host.Read(2), "1K");
    for (const char* answer : {"N", "K"}) {
      host.Write(FlashBlock(info, 0x100, Bytes(64, 0x3C)));
      EXPECT_EQ(host.Read(1), answer);
    }
    host.Write(FlashBlock(info, 0x3E40, Bytes(64, 0x00)));  // the firmware's own code
    EXPECT_EQ(host.Read(1), "K");
  }
  // Closing the port ended the job: every later opening gets the echo.
  for (int session = 0; session < 2; ++session) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the server sees the close
    THostLine host(link);
    host.Write({'a', 'b', 0xC1});
    EXPECT_EQ(host.Read(3), "ab\xC1") << "session " << session;
  }
  ::kill(pid, SIGTERM);
  EXPECT_EQ(Wait(), 2) << Read(errPath);
  EXPECT_NE(Read(errPath).find(
                "blocks accepted: 2, N answers: 1, filler bytes seen: 0, activation bytes: 1\n"
                "host error: host wrote into the bootloader's code at 003E40h (block 3)\n"
                "boot path broken: the reset slot is empty\n"
                "user program: ran, bytes echoed: 6"),
            std::string::npos)
      << Read(errPath);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  const auto bytes = ParseHex(Read(hex));
  EXPECT_EQ(bytes.at(0x13F), 0x3C);
  EXPECT_EQ(bytes.at(0x140), 0xFF);
  EXPECT_EQ(bytes.at(0x3E41), 0x30);  // MOVLW high(slot 1F00h): the stub is still there
}

TEST_F(SimProgramTest, UnknownCodeOrBadCommandLineExitsWithOne) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--code", "99h"}, {"--code", "41h", "--drop", "3"}}) {
    Start(args);
    EXPECT_EQ(FirstLine(), "");
    EXPECT_EQ(Wait(), 1) << Read(errPath);
  }
}

}  // namespace
}  // namespace vantlebld::test
