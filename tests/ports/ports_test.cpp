// Port discovery and choice: the port list built from fake system ports
// (order, duplicates, busy ports, what each entry carries, what the port
// box does with it), ports named by their USB adapter; what it reads from
// the system: the busy probe over pseudo-terminals, the driver lookup over
// a fake sysfs tree laid out as the kernel lays it out, the names of one
// device over a fake /dev; and the program's `ports` command and --port as
// a user runs them.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/cli_options.h"
#include "cli/port_selector.h"
#include "engine/port_discovery.h"
#include "engine/vantlebld_comm.h"
#include "platform/links.h"
#include "platform/port_enumerator.h"
#include "tests/support/files.h"
#include "tests/support/lines.h"

namespace vantlebld {
namespace {

namespace fs = std::filesystem;

TSystemPort Port(const std::string& name, const std::string& driver = {},
                 const std::string& description = {}) {
  return {name, driver, description, "", false, 0, 0, "", ""};
}

std::vector<std::string> Field(const std::vector<TComPortData>& list,
                               std::string TComPortData::*field) {
  std::vector<std::string> out;
  for (const auto& e : list)
    out.push_back(e.*field);
  return out;
}

// The shorter name first (numbers are not zero-padded), a name listed twice
// kept once. Each port is probed once; a busy one shows in lower case. An
// entry carries the first record's driver and description, which the
// status line shows with the name, each "  =  " apart.
TEST(PortListTest, ShortNamesFirstDuplicatesDroppedBusyPortsInLowerCaseWhenProbing) {
  const std::vector<TSystemPort> ports = {
      Port("ttyS10"),         Port("ttyUSB1"),
      Port("ttyS2"),          Port("ttyUSB0", "ftdi_sio", "FT232R USB UART"),
      Port("COM3", "serial"), Port("ttyUSB0", "cdc_acm", "later")};
  std::vector<std::string> probed;
  const auto isBusy = [&probed](const std::string& name) {
    probed.push_back(name);
    return name == "ttyUSB0" || name == "COM3";
  };
  const auto list = BuildPortList(ports, true, isBusy);
  EXPECT_EQ(Field(list, &TComPortData::DisplayName),
            (std::vector<std::string>{"com3", "ttyS2", "ttyS10", "ttyusb0", "ttyUSB1"}));
  EXPECT_EQ(Field(list, &TComPortData::PortName), probed);
  EXPECT_EQ(probed, (std::vector<std::string>{"COM3", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1"}));
  EXPECT_EQ(PortStatusText(list[0]), "COM3  =    =  serial ");
  EXPECT_EQ(PortStatusText(list[3]), "ttyUSB0  =  FT232R USB UART  =  ftdi_sio ");
  probed.clear();
  EXPECT_EQ(Field(BuildPortList(ports, false, isBusy), &TComPortData::DisplayName),
            (std::vector<std::string>{"COM3", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1"}));
  EXPECT_TRUE(probed.empty());
}

TEST(PortListTest, TheBoxSelectsAndOpensByTheShownName) {
  const std::vector<TComPortData> list = {{"ttyAB", "ttyAB", "", ""},
                                          {"ttyab", "ttyab", "", ""},
                                          {"COM4", "COM4", "", ""},
                                          {"ttyUSB0", "ttyusb0", "", ""}};
  // After a rebuild: the previous text ignoring case, as shown; nothing
  // named, the first (a port that is gone: PortAliasTest).
  const auto chosen = [&list](const std::string& previous) {
    const TPortChoice c = ChoosePortAfterRebuild(list, previous, "/nonexistent");
    return std::tuple(c.Index, c.Text, c.Note);
  };
  EXPECT_EQ(chosen("TTYUSB0"), std::tuple(3, "ttyusb0", ""));
  EXPECT_EQ(chosen(""), std::tuple(0, "ttyAB", ""));
  const std::pair<std::string, std::string> opened[] = {
      {"ttyusb0", "ttyUSB0"},  // picked while busy: the real name opens
      {"ttyab", "ttyab"},      // an exact match wins over an earlier near one
  };
  for (const auto& [shown, port] : opened)
    EXPECT_EQ(ResolvePortName(list, shown), port) << shown;
}

// What --port text opens among a single adapter (listed twice), a
// dual-port adapter, a CDC device and a UART without USB ids: the port,
// "!" and the reason when none or several match, "usage" when malformed.
std::string Resolved(const std::string& text) {
  // Name, vendor and product id, serial number; the location in /dev.
  const auto usb = [](const std::string& name, uint16_t vid, uint16_t pid, const char* serial) {
    return TSystemPort{name, "", "", "", true, vid, pid, serial, "/dev/" + name};
  };
  const std::vector<TSystemPort> ports = {usb("ttyUSB0", 0x0403, 0x6001, "A1B2"),
                                          usb("ttyUSB1", 0x0403, 0x6010, "DUAL1"),
                                          usb("ttyUSB2", 0x0403, 0x6010, "DUAL1"),
                                          usb("ttyACM0", 0x04D8, 0x000A, ""),
                                          Port("ttyS0"),
                                          usb("ttyUSB0", 0x0403, 0x6001, "A1B2")};
  try {
    return ResolvePortText(text, ports);
  } catch (const CliUsageError&) {
    return "usage";
  } catch (const EVantleError& e) {
    return std::string("!") + e.what();
  }
}

TEST(PortAdapterTest, AnAdapterNameOpensItsOnePort) {
  const std::pair<std::string, std::string> cases[] = {
      {"usb:403:6001", "/dev/ttyUSB0"},
      {"serial:A1B2", "/dev/ttyUSB0"},
      {"/dev/pts/3", "/dev/pts/3"},
      {"usb:0:0", "!no serial port with USB id 0000:0000"},  // the UART has no ids
      {"usb:0403:6010", "!2 serial ports match usb:0403:6010; name one with --port"},
      {"usb:0403", "usage"},
      {"usb:xyz:0001", "usage"},
  };
  for (const auto& [text, port] : cases)
    EXPECT_EQ(Resolved(text), port) << text;
}

// A port is busy while a link holds it (the engine's own as well: the probe
// leaves it alone) or when it cannot be opened.
TEST(PortBusyTest, APortIsBusyWhileHeldOrWhenItCannotBeOpened) {
  const test::TLine line;
  const std::string name = line.path;
  TVantleBootloader engine;
  EXPECT_FALSE(engine.IsPortBusy(name));
  EXPECT_TRUE(engine.IsPortBusy("ttyVantleNoSuchPort"));
  engine.Link = MakeLink(kModeSerial);
  engine.Connect(name, kDefaultBaudRate);
  EXPECT_TRUE(engine.IsPortBusy(name));
  EXPECT_TRUE(engine.Link->IsOpen());
}

// Symbolic links in a scratch tree. A target starting with "/" is taken
// from the tree's root; any other is stored as given, relative to the link.
void Links(const fs::path& root, const std::vector<std::pair<std::string, std::string>>& links) {
  for (const auto& [link, target] : links) {
    fs::create_directories((root / link).parent_path());
    fs::create_symlink(target[0] == '/' ? root / target.substr(1) : fs::path(target), root / link);
  }
}

// A USB adapter, linked relatively as sysfs does.
TEST(PortDriverTest, TheDriverServingThePortNamesIt) {
  const test::TempDir t;
  Links(t.Path(), {
                      {"class/tty/ttyUSB0/device", "../../../devices/usb1/1-1:1.0/ttyUSB0"},
                      {"devices/usb1/1-1:1.0/ttyUSB0/subsystem", "/bus/usb-serial"},
                      {"devices/usb1/1-1:1.0/ttyUSB0/driver", "/bus/usb-serial/drivers/ftdi_sio"},
                  });
  const std::pair<std::string, std::string> cases[] = {{"ttyUSB0", "ftdi_sio"}, {"ttyNoSuch", ""}};
  for (const auto& [port, driver] : cases)
    EXPECT_EQ(PortDriverName(t.Path().string(), port), driver) << port;
}

// Two boards' device files in a scratch /dev, tty0 and tty1, and names that
// lead to them as udev makes them: by-id links (relative) and an alias
// (absolute); by-id/usb-Board_2's board is unplugged in the tests that
// need it gone.
class PortAliasTest : public testing::Test {
 protected:
  void SetUp() override {
    dir.Write("tty0", "");
    dir.Write("tty1", "");
    Links(dir.Path(),
          {{"by-id/usb-Board_1", "../tty0"}, {"by-id/usb-Board_2", "../tty1"}, {"pic", "/tty0"}});
  }
  std::string At(const std::string& name) const { return (dir.Path() / name).string(); }
  std::string Dev() const { return dir.Path().string(); }

  const test::TempDir dir;
  const std::vector<TComPortData> list = {{"tty0", "tty0", "", ""}, {"tty1", "tty1", "", ""}};
};

TEST_F(PortAliasTest, NamesOfOneDeviceAreOnePort) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"tty0", At("tty0"), true},  // a bare name lives in the device folder
      {At("by-id/usb-Board_1"), "tty0", true},
      {"pic", At("by-id/usb-Board_1"), true},
      {"tty0", "tty1", false},
      {At("by-id/usb-Board_2"), "pic", false},
      {"tty3", "tty0", false},     // a missing port is no device
      {"tty3", At("tty3"), true},  // ... but its one path is one port
      {"tty3", "tty4", false},
      // Character devices, as real ports are: the system's own.
      {"/dev/./null", "/dev/null", true},
      {At("null-link"), "/dev/null", true},
      {"/dev/null", "/dev/zero", false},
  };
  fs::create_symlink("/dev/null", At("null-link"));
  for (const auto& [a, b, same] : cases)
    EXPECT_EQ(SamePort(a, b, Dev()), same) << a << " and " << b;
}

// After a rebuild a port that is there stays as written, with its listed
// device selected; one that is gone gives way to the first, with a line.
TEST_F(PortAliasTest, TheRebuiltListKeepsTheNamedPortAndReplacesOnlyAGoneOne) {
  const auto chosen = [this](const std::vector<TComPortData>& ports, const std::string& named) {
    const TPortChoice c = ChoosePortAfterRebuild(ports, named, Dev());
    return std::tuple(c.Index, c.Text, c.Note);
  };
  for (const auto& [named, index] : {std::pair(At("by-id/usb-Board_2"), 1),
                                     std::pair(At("tty1"), 1), std::pair(std::string("pic"), 0)})
    EXPECT_EQ(chosen(list, named), std::tuple(index, named, "")) << named;
  dir.Write("pts3", "");  // there, but not in the list
  EXPECT_EQ(chosen(list, At("pts3")), std::tuple(-1, At("pts3"), ""));

  fs::remove(At("tty1"));  // Board_2 unplugged
  const std::vector<TComPortData> left = {list[0]};
  EXPECT_EQ(
      chosen(left, At("by-id/usb-Board_2")),
      std::tuple(0, "tty0",
                 "Port " + At("by-id/usb-Board_2") + " is gone; using " + At("tty0") + " instead"));
  EXPECT_EQ(chosen({}, At("by-id/usb-Board_2")), std::tuple(-1, At("by-id/usb-Board_2"), ""));
}

// --port takes each board once: one device named twice is refused before
// any job, with both names.
TEST_F(PortAliasTest, APortNamedTwiceIsRefused) {
  EXPECT_EQ(ResolvePortOptions({At("by-id/usb-Board_1"), At("tty1")}),
            (std::vector<std::string>{At("by-id/usb-Board_1"), At("tty1")}));
  try {
    ResolvePortOptions({At("by-id/usb-Board_1"), At("tty1"), At("pic")});
    ADD_FAILURE() << "no refusal";
  } catch (const CliUsageError& e) {
    EXPECT_EQ(std::string(e.what()), At("by-id/usb-Board_1") + " and " + At("pic") +
                                         " are the same port; name each board once with --port");
  }
}

// The program's exit code (-1: it did not end normally; the wait guards
// against a hung child only), standard output and standard error.
std::tuple<int, std::string, std::string> RunCli(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(VANTLEBLD_CLI_PATH), args);
  const bool ended = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
  return {ended ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
          p.readAllStandardError().toStdString()};
}

// The program lists what the system lists (the machine decides how many),
// and resolves an adapter name before the link opens: none found is a
// failed job, a malformed one a usage error.
TEST(PortsCommandTest, ListsEverySystemPortAndResolvesAdapterNames) {
  const auto [exitCode, out, err] = RunCli({"ports"});
  ASSERT_EQ(exitCode, 0) << err;
  std::vector<std::string> firstWords, expected;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    firstWords.push_back(line.substr(0, line.find(' ')));
  for (const auto& port : BuildPortList(EnumerateSystemPorts(), false, {}))
    expected.push_back(port.PortName);
  if (!expected.empty()) expected.insert(expected.begin(), "PORT");
  EXPECT_EQ(firstWords, expected) << out;
  EXPECT_EQ(err.find("no serial ports") != std::string::npos, expected.empty()) << err;
  for (const auto& [port, code, says] :
       {std::tuple{"usb:fffe:fffd", 3, "no serial port with USB id FFFE:FFFD"},
        std::tuple{"usb:fffe", 1, "usb:0403:6001"}}) {
    const auto [checkCode, checkOut, checkErr] = RunCli({"check", "--port", port});
    EXPECT_EQ(checkCode, code) << port;
    EXPECT_NE(checkErr.find(says), std::string::npos) << checkErr;
  }
}

}  // namespace
}  // namespace vantlebld
