// vantlebld-cli check as a user runs it: the program and the virtual PIC
// program vantlebld-sim as child processes, talking over a pseudo-terminal.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "tests/engine/sim_link_fixture.h"
#include "tests/engine/test_support.h"

namespace vantlebld::test {
namespace {

// Bound for a child to start, answer or end; only reached when broken.
constexpr int kChildGuardMs = 30000;

struct RunResult {
  int exitCode = -1;  // -1: did not start or did not end normally
  std::string out, err;
};

QStringList ToList(const std::vector<std::string>& args) {
  QStringList list;
  for (const auto& a : args)
    list << QString::fromStdString(a);
  return list;
}

class CheckCommandTest : public ::testing::Test {
 protected:
  ~CheckCommandTest() override {
    if (sim_.state() != QProcess::NotRunning) {
      sim_.terminate();
      if (!sim_.waitForFinished(2000)) sim_.kill();
      sim_.waitForFinished();
    }
  }

  // Starts vantlebld-sim with the project's device table (a later
  // --piccodes in args wins) and returns the line it serves, "" when it
  // did not come up.
  std::string StartSim(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--piccodes", table};
    all.insert(all.end(), args.begin(), args.end());
    sim_.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    sim_.start(QStringLiteral(VANTLEBLD_SIM_PATH), ToList(all));
    if (!sim_.waitForStarted(kChildGuardMs)) return "";
    while (!sim_.canReadLine() && sim_.waitForReadyRead(kChildGuardMs)) {
    }
    const std::string line = sim_.readLine().trimmed().toStdString();
    if (line.rfind("PTY ", 0) != 0) {
      ADD_FAILURE() << "first line: " << line << "\n" << sim_.readAllStandardError().toStdString();
      return "";
    }
    return line.substr(4);
  }

  // Waits for the sim to end once the host has closed the line; its exit
  // code and summary.
  RunResult FinishSim() {
    RunResult r;
    if (!sim_.waitForFinished(kChildGuardMs) || sim_.exitStatus() != QProcess::NormalExit) {
      sim_.kill();
      sim_.waitForFinished();
      return r;
    }
    r.exitCode = sim_.exitCode();
    r.out = sim_.readAllStandardOutput().toStdString();
    r.err = sim_.readAllStandardError().toStdString();
    return r;
  }

  // The activation bytes the sim's summary reports, -1 when missing.
  static int ActivationBytes(const RunResult& sim) {
    std::smatch m;
    if (!std::regex_search(sim.err, m, std::regex("activation bytes: (\\d+)"))) return -1;
    return std::stoi(m[1]);
  }

  RunResult Cli(const std::vector<std::string>& args) {
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    p.start(QStringLiteral(VANTLEBLD_CLI_PATH), ToList(args));
    RunResult r;
    if (!p.waitForFinished(kChildGuardMs) || p.exitStatus() != QProcess::NormalExit) {
      p.kill();
      p.waitForFinished();
      return r;
    }
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
  }

  // check on the port with a short search, plus extra options.
  RunResult Check(const std::string& port, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"check",      "--port",       port,
                                     "--piccodes", table,          "--search-seconds",
                                     "1",          "--timeout-ms", "50"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args);
  }

  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  TempDir dir;
  const std::string table = std::string(VANTLEBLD_SOURCE_DIR) + "/data/piccodes.ini";

 private:
  QProcess sim_;
};

TEST_F(CheckCommandTest, FindsThePicOnTheSimulatorsLine) {
  const std::string port = StartSim({"--code", "41h"});
  ASSERT_FALSE(port.empty());
  const RunResult r = Cli({"check", "--port", port, "--search-seconds", "2", "--timeout-ms", "50",
                           "--piccodes", table});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, " \nConnected to " + port +
                       " at 115200\n  Searching for PIC ...\n   Found:PIC18F252\n");
  const RunResult sim = FinishSim();
  EXPECT_EQ(sim.exitCode, 0) << sim.err;
  EXPECT_EQ(ActivationBytes(sim), 1) << sim.err;
}

// 1 s at 50 ms: N = 20, so 21 activation bytes reach the PIC.
TEST_F(CheckCommandTest, SilentPicIsNotFound) {
  const std::string port = StartSim({"--code", "41h", "--no-answer"});
  ASSERT_FALSE(port.empty());
  const RunResult r = Check(port);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_TRUE(Has(r.out, "  Searching for PIC ..., Not found\n")) << r.out;
  EXPECT_FALSE(Has(r.out, "Found:")) << r.out;
  EXPECT_TRUE(Has(r.err, "Not found!")) << r.err;
  const RunResult sim = FinishSim();
  EXPECT_EQ(ActivationBytes(sim), 21) << sim.err;
}

// The sim's options that shape its answer, each through the whole chain.
struct SimCase {
  const char* name;
  std::vector<std::string> simArgs;
  std::vector<std::string> checkArgs;
  int exitCode;
  std::string shown;  // a line of the output, with its line end
};
void PrintTo(const SimCase& c, std::ostream* os) {
  *os << c.name;
}

class CheckSimOptionTest : public CheckCommandTest,
                           public ::testing::WithParamInterface<SimCase> {};

TEST_P(CheckSimOptionTest, AnswerShapesTheResult) {
  const SimCase& c = GetParam();
  std::vector<std::string> simArgs = {"--code", "41h"};
  simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
  const std::string port = StartSim(simArgs);
  ASSERT_FALSE(port.empty());
  const RunResult r = Check(port, c.checkArgs);
  EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, c.shown)) << r.out;
  EXPECT_EQ(Has(r.out, "   Found:PIC18F252\n"), c.exitCode == 0) << r.out;
  EXPECT_NE(FinishSim().exitCode, -1);
}

const std::string kFound = "   Found:PIC18F252\n";

INSTANTIATE_TEST_SUITE_P(
    Faults, CheckSimOptionTest,
    ::testing::Values(SimCase{"Echo",
                              {"--echo"},
                              {},
                              3,
                              "    Unexpected chars found: \"\xC1"
                              "AK\"\n"},
                      SimCase{"EchoIgnored",
                              {"--echo"},
                              {"--ignore-until-k", "--verbose"},
                              0,
                              " Ignoring some garbage: \"\xC1\"\n"},
                      SimCase{"Garbage",
                              {"--garbage-before-id", "XY"},
                              {},
                              3,
                              "    Unexpected chars found: \"XYAK\"\n"},
                      SimCase{"GarbageIgnored",
                              {"--garbage-before-id", "XY"},
                              {"--ignore-until-k", "--verbose"},
                              0,
                              " Ignoring some garbage: \"XY\"\n"},
                      SimCase{"AnswerDelay", {"--answer-delay", "200"}, {}, 0, kFound},
                      SimCase{"ListenAfter", {"--listen-after", "300"}, {}, 0, kFound},
                      SimCase{"OwnActivationByte", {"--id", "55h"}, {"--id", "55h"}, 0, kFound},
                      SimCase{"OtherActivationByte", {"--id", "55h"}, {}, 3, ", Not found\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// The firmware answers with a code that only its own table knows.
TEST_F(CheckCommandTest, CodeMissingFromTheHostsTableFails) {
  const std::string own =
      dir.Write("own.ini", "$7E, C, PIC18FOWN, 32768, 256, 32, 4, 8, 8, 4, 0\n");
  const std::string port = StartSim({"--code", "7Eh", "--piccodes", own});
  ASSERT_FALSE(port.empty());
  const RunResult r = Check(port);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_TRUE(Has(r.out, "  Searching for PIC ..., unknown pic type: 7Eh\n")) << r.out;
  EXPECT_FALSE(Has(r.out, "Not found")) << r.out;
}

// Activation byte 00h: once the PIC has answered (too late for this
// search), the next four probes complete a 16F block, at which it hangs
// up. The check must stop at once with the reason, not probe on.
TEST_F(CheckCommandTest, LineHungUpMidSearchFailsWithTheReason) {
  const std::string port =
      StartSim({"--code", "31h", "--id", "0", "--answer-delay", "600000", "--hangup-at", "1"});
  ASSERT_FALSE(port.empty());
  const RunResult r = Check(port, {"--id", "0", "--search-seconds", "30"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_TRUE(Has(r.out, "\n   Communication error ")) << r.out;
  EXPECT_FALSE(Has(r.out, "Not found")) << r.out;
  EXPECT_NE(FinishSim().exitCode, -1);
}

TEST_F(CheckCommandTest, SimulateRunsAVirtualPicInProcess) {
  const RunResult r =
      Cli({"check", "--simulate", "41h", "--piccodes", table, "--baud", "57600", "--stop-bits", "2",
           "--search-seconds", "1", "--timeout-ms", "50", "--verbose"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "\nCom parameters: 8 N 2 False False\n")) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\nConnected to /dev/pts/\\d+ at 57600\n")))
      << r.out;
  EXPECT_TRUE(Has(r.out, kFound)) << r.out;
}

TEST_F(CheckCommandTest, OfflineTakesTheGivenCode) {
  const RunResult found = Cli({"check", "--offline", "41h", "--piccodes", table});
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_TRUE(Has(found.out, kFound)) << found.out;
  EXPECT_FALSE(Has(found.out, "Connected")) << found.out;

  const RunResult unknown = Cli({"check", "--offline", "7Eh", "--piccodes", table});
  EXPECT_EQ(unknown.exitCode, 3);
  EXPECT_TRUE(Has(unknown.out, "unknown pic type: 7Eh")) << unknown.out;
  EXPECT_TRUE(Has(unknown.err, "unsupported pic type")) << unknown.err;
}

TEST_F(CheckCommandTest, UdpSendsTheResetDatagram) {
  TUdpReceiver receiver;
  ASSERT_NE(receiver.Port(), 0);
  const RunResult r = Cli({"check", "--udp", "127.0.0.1:" + std::to_string(receiver.Port()),
                           "--offline", "41h", "--piccodes", table});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, kFound)) << r.out;
  EXPECT_EQ(receiver.Next(), std::optional<std::string>("R"));
  EXPECT_EQ(receiver.Next(50), std::nullopt);
}

TEST_F(CheckCommandTest, MissingPortFailsWithTheSystemsReason) {
  const std::string missing = (dir.Path() / "ttyNONE").string();
  const RunResult r = Check(missing);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_TRUE(Has(r.out, "      Could not connect to " + missing + " at 115200\n")) << r.out;
  EXPECT_TRUE(Has(r.err, std::strerror(ENOENT))) << r.err;
}

TEST_F(CheckCommandTest, BadLinkOptionsAreUsageErrors) {
  const std::vector<std::string> cases[] = {
      {"check"},
      {"check", "--port", "ttyS0", "--rts-dtr", "maybe"},
      {"check", "--udp", "127.0.0.1", "--offline", "41h"},
      {"check", "--udp", "127.0.0.1:9", "--port", "ttyS0"},
      {"check", "--port", "ttyS0", "--simulate", "41h"},
      {"check", "--port", "ttyS0", "--stop-bits", "3"},
      {"check", "--port", "ttyS0", "--timeout-ms", "0"},
      {"check", "--port", "ttyS0", "--ignore-until-k=yes"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const RunResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.err, "Usage: vantlebld-cli")) << r.err;
  }
}

}  // namespace
}  // namespace vantlebld::test
