// vantlebld-cli as a user runs it: a child process, its output and exit
// code.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/engine/test_support.h"
#include "vantlebld_version.h"

namespace vantlebld::test {
namespace {

struct RunResult {
  int exitCode = -1;  // -1: did not start or did not end normally
  std::string out, err;
};

class CliProgramTest : public ::testing::Test {
 protected:
  // Runs the program in the scratch directory, so no piccodes.ini of the
  // caller's directory takes part.
  RunResult Cli(const std::vector<std::string>& args) {
    QStringList list;
    for (const auto& a : args)
      list << QString::fromStdString(a);
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    p.start(QStringLiteral(VANTLEBLD_CLI_PATH), list);
    RunResult r;
    // A guard against a hung child only; no result depends on the time.
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
      p.kill();
      p.waitForFinished();
      return r;
    }
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
  }

  TempDir dir;
};

TEST_F(CliProgramTest, AnalyzePrintsTheSummaryLine) {
  const std::string hex =
      dir.Write("app.hex", JoinLines({HexBase(0), HexRecord(0, 0, {0x00, 0xEF, 0x04, 0xF0}),
                                      HexBase(0x0030), HexRecord(0, 0, {0x00, 0x22}), kHexEnd}));
  std::filesystem::last_write_time(
      hex, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(210));
  const RunResult r = Cli({"analyze", hex});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "   HEX: 3 hours old, INHX32,18Fcode+cfg, total=6 bytes. \n");
}

TEST_F(CliProgramTest, BrokenHexFileFailsTheJob) {
  const std::string hex = dir.Write("bad.hex", JoinLines({":0100000041BE", ":01000000G1BE"}));
  const RunResult r = Cli({"analyze", hex});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.out,
            "      could not understand HEX file\n"
            "      ERROR!\n"
            "         not a hex symbol on line 2\n");
}

TEST_F(CliProgramTest, MissingHexFileFailsTheJob) {
  const std::string hex = (dir.Path() / "none.hex").string();
  const RunResult r = Cli({"analyze", hex});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.out, "      File not found: " + hex + "\n      ERROR!\n         File not found\n");
}

TEST_F(CliProgramTest, BadCommandLineExitsWithOne) {
  const std::vector<std::string> cases[] = {
      {}, {"frobnicate"}, {"analyze"}, {"--bogus", "devices"}, {"devices", "--piccodes"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const RunResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("Usage: vantlebld-cli"), std::string::npos) << r.err;
  }
}

TEST_F(CliProgramTest, DevicesListsTheGivenTableOnly) {
  const std::string table = dir.Write(
      "mine.ini", JoinLines({"; two models", "$4B, C, MY18F, 32768, 256, 32, 16, 2, 6, 4, 1",
                             "$31, B, MY16F, 16384, 256, 4, 4, 8, 56, 32, 0"}));
  const RunResult r = Cli({"devices", "--piccodes", table});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "$31  MY16F\n$4B  MY18F\n");
}

TEST_F(CliProgramTest, MissingTableFailsTheJob) {
  const std::string table = (dir.Path() / "missing.ini").string();
  const RunResult quiet = Cli({"--piccodes", table, "devices"});
  EXPECT_EQ(quiet.exitCode, 3);
  EXPECT_EQ(quiet.out, "   Error: piccodes.ini  not found\n");
  // With --verbose the detail line names the file.
  const RunResult verbose = Cli({"--verbose", "--piccodes", table, "devices"});
  EXPECT_EQ(verbose.exitCode, 3);
  EXPECT_NE(verbose.out.find(table), std::string::npos) << verbose.out;
}

TEST_F(CliProgramTest, VersionAndHelp) {
  const RunResult version = Cli({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, std::string("vantlebld-cli ") + VANTLEBLD_VERSION + "\n");
  const RunResult help = Cli({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: vantlebld-cli", 0), 0u) << help.out;
}

TEST_F(CliProgramTest, AnalyzesEveryExampleFile) {
  std::vector<std::string> files;
  const std::filesystem::path examples = std::filesystem::path(VANTLEBLD_SOURCE_DIR) / "examples";
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(examples, ec)) {
    if (e.path().extension() == ".hex") files.push_back(e.path().string());
  }
  if (files.empty()) GTEST_SKIP() << "no HEX files in " << examples;
  const std::regex summary(
      "   HEX: \\d+ (min|hours|days) old, INHX(8M|32),[^\n]*, total=\\d+ bytes\\. \n");
  for (const auto& file : files) {
    const RunResult r = Cli({"analyze", file});
    EXPECT_EQ(r.exitCode, 0) << file << "\n" << r.out;
    EXPECT_TRUE(std::regex_search(r.out, summary)) << file << "\n" << r.out;
  }
}

}  // namespace
}  // namespace vantlebld::test
