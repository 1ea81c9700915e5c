// vantlebld-cli write, clear-all, eeprom and config as a user runs them:
// child processes against the in-process virtual PIC of --simulate or a
// separate vantlebld-sim, checked by exit code, output and the memory the
// virtual PIC ends up with.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/engine/test_support.h"

namespace vantlebld::test {
namespace {

// Bound for a child to end; only reached when something is broken.
constexpr int kChildGuardMs = 60000;
const std::string kSource = VANTLEBLD_SOURCE_DIR;
const std::string kTable = kSource + "/data/piccodes.ini";

struct RunResult {
  int exitCode = -1;  // -1: did not start or did not end normally
  std::string out, err;
  bool Says(const std::string& text) const { return out.find(text) != std::string::npos; }
};

std::string Example(const std::string& name) {
  return kSource + "/examples/" + name + ".hex";
}

// The data bytes of an Intel HEX text by address (types 00, 01, 04).
std::map<uint32_t, uint8_t> ParseHex(const std::string& text) {
  std::map<uint32_t, uint8_t> bytes;
  std::istringstream in(text);
  uint32_t base = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 11 || line[0] != ':') continue;
    const auto at = [&](size_t i) { return std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16); };
    const uint32_t count = at(0), address = at(1) << 8 | at(2), type = at(3);
    if (type == 1) break;
    if (type == 4) base = static_cast<uint32_t>(at(4) << 24 | at(5) << 16);
    for (uint32_t k = 0; type == 0 && k < count; ++k)
      bytes[base + address + k] = static_cast<uint8_t>(at(4 + k));
  }
  return bytes;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

QStringList ToList(const std::vector<std::string>& args) {
  QStringList list;
  for (const auto& a : args)
    list << QString::fromStdString(a);
  return list;
}

class CliWriteTest : public ::testing::Test {
 protected:
  ~CliWriteTest() override {
    if (sim_.state() != QProcess::NotRunning) {
      sim_.kill();
      sim_.waitForFinished();
    }
  }

  // The device table and a short time-out come first; args may name others.
  RunResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), {"--piccodes", kTable, "--timeout-ms", "20"});
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

  // Starts vantlebld-sim; returns the pty it serves, "" when it did not
  // come up.
  std::string StartSim(const std::vector<std::string>& args) {
    sim_.start(QStringLiteral(VANTLEBLD_SIM_PATH), ToList(args));
    std::string out;
    while (out.find('\n') == std::string::npos && sim_.waitForReadyRead(kChildGuardMs))
      out += sim_.readAllStandardOutput().toStdString();
    if (out.rfind("PTY ", 0) != 0) return {};
    return out.substr(4, out.find('\n') - 4);
  }
  int SimExitCode() {
    if (!sim_.waitForFinished(kChildGuardMs) || sim_.exitStatus() != QProcess::NormalExit)
      return -1;
    return sim_.exitCode();
  }

  TempDir dir;
  QProcess sim_;
};

TEST_F(CliWriteTest, WritesAnExampleOfEveryFamilyIntoTheVirtualPic) {
  // One example per family, with its model's code in the device table;
  // without EEPROM the comparison must leave the EEPROM out too.
  const std::vector<std::string> examples[] = {{"pic16f877a_blink", "32h"},
                                               {"pic18f252_blink", "41h"},
                                               {"pic18f46j50_blink", "51h"},
                                               {"pic18f46k22_blink", "61h"},
                                               {"dspic30f4013_blink", "73h"},
                                               {"dspic33fj128gp706_blink", "81h"},
                                               {"pic18f252_blink", "41h", "--no-eeprom"}};
  for (const auto& e : examples) {
    SCOPED_TRACE(testing::PrintToString(e));
    std::vector<std::string> args = {"write", Example(e[0]), "--simulate", e[1]};
    args.insert(args.end(), e.begin() + 2, e.end());
    const RunResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(r.Says("\n   WRITE OK  at ")) << r.out;
    EXPECT_TRUE(r.Says(" blocks sent, 0 N answers, 0 catch-ups, 0 rubbish, slowest answer "));
    EXPECT_TRUE(r.Says("\nvirtual PIC: memory equals the image sent\n")) << r.out;
    EXPECT_EQ(r.Says("\n   eeprom addr:"), e[1] == "41h" && e.size() == 2) << r.out;
  }
}

// The PIC18F252 example through a separate vantlebld-sim: afterwards its
// memory holds the file with the first 8 bytes in the slot at 7DF8h, a
// GOTO 7E00h at 0, and the file's EEPROM bytes unless told otherwise.
TEST_F(CliWriteTest, SeparateSimulatorHoldsTheRelocatedProgram) {
  const auto file = ParseHex(ReadText(Example("pic18f252_blink")));
  for (const bool eeprom : {true, false}) {
    SCOPED_TRACE(eeprom);
    const std::string exported = (dir.Path() / "pic.hex").string();
    const std::string pty =
        StartSim({"--piccodes", kTable, "--code", "41h", "--export-hex", exported});
    ASSERT_FALSE(pty.empty());
    std::vector<std::string> args = {"write", Example("pic18f252_blink"), "--port", pty};
    if (!eeprom) args.push_back("--no-eeprom");
    const RunResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_EQ(SimExitCode(), 0) << sim_.readAllStandardError().toStdString();
    const auto pic = ParseHex(ReadText(exported));
    int flash = 0, ee = 0;
    for (const auto& [a, v] : file) {
      if (a < 0x7DF8) {
        ++flash;
        EXPECT_EQ(pic.at(a < 8 ? 0x7DF8 + a : a), v) << std::hex << a;
      } else if (a >= 0xF00000 && a < 0xF00100) {
        ++ee;
        EXPECT_EQ(pic.at(a), eeprom ? v : 0xFF) << std::hex << a;
      }
    }
    EXPECT_GT(flash, 50);
    EXPECT_EQ(ee, 8);
    EXPECT_EQ(pic.at(0), 0x00);
    EXPECT_EQ(pic.at(1), 0xEF);
    EXPECT_EQ(pic.at(2), 0x3F);
    EXPECT_EQ(pic.at(3), 0xF0);
  }
}

TEST_F(CliWriteTest, ClearAllFillsTheUserFlash) {
  const RunResult r = Cli({"clear-all", Example("pic16f877a_blink"), "--simulate", "32h"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  // 248 units below the zone, the slot's unit, 8 EEPROM bytes.
  EXPECT_TRUE(r.Says("\nlink: 257 blocks sent,")) << r.out;
  EXPECT_TRUE(r.Says("\nvirtual PIC: memory equals the image sent\n")) << r.out;
}

struct Job {
  std::vector<std::string> args;
  int exitCode;
  std::string out, err;  // expected somewhere in them
};

TEST_F(CliWriteTest, SingleWritesAndRefusedJobs) {
  const std::string zone =
      dir.Write("zone.hex", JoinLines({HexRecord(0, 0, {0x80, 0xEF, 0x00, 0xF0}),
                                       HexRecord(0x7E00, 0, {0x12}), kHexEnd}));
  const Job cases[] = {
      {{"eeprom", "0", "b6h", "--simulate", "31h"}, 0, "   Hex: 40 00 01 B6 09    Str:@", ""},
      {{"config", "300003h", "FFh", "--simulate", "41h"},
       0,
       "   Hex: B0 00 03 01 FF 4D    Str:",
       ""},
      {{"clear-all", Example("pic18f46k22_blink"), "--simulate", "61h"},
       3,
       "      ERROR!\n         unknown family\n",
       ""},
      {{"write", zone, "--simulate", "41h"},
       3,
       "\n      Overwriting bootloader denied\n"
       "      Address: 07E00h. Protected=[07E00h..07FFFh]\n      ERROR!\n",
       ""},
      {{"config", "2FFFFFh", "1", "--simulate", "41h"},
       3,
       "      ERROR!\n",
       "vantlebld-cli: Address should be above 300000h\n"},
      {{"eeprom", "zz", "1", "--simulate", "31h"}, 1, "", "ADDR and VALUE must be numbers"},
      {{"eeprom", "1000000h", "1", "--simulate", "31h"}, 1, "", "ADDR and VALUE must be numbers"},
      {{"config", "300000h", "10000h", "--simulate", "41h"}, 1, "", "ADDR and VALUE must be"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<std::string> args = c.args;
    args.push_back("--verbose");
    const RunResult r = Cli(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_TRUE(r.Says(c.out)) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.exitCode != 0) EXPECT_FALSE(r.Says("\n   Hex: ") || r.Says("\nlink: ")) << r.out;
  }
}

}  // namespace
}  // namespace vantlebld::test
