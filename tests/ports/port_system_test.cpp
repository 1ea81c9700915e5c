// What port discovery reads from the system: the busy probe over
// pseudo-terminals, the driver and by-id lookups over fake sysfs and /dev
// trees laid out as the kernel and udev lay them out, and the program's
// `ports` command and --port as a user runs them.
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <filesystem>
#include <sstream>

#include "cli/port_selector.h"
#include "engine/vantlebld_comm.h"
#include "platform/port_enumerator.h"
#include "tests/engine/test_support.h"

namespace vantlebld {
namespace {

namespace fs = std::filesystem;

// A pseudo-terminal whose device end this object holds; `name` is the port.
struct TPty {
  TPty() {
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) ::close(slave);
  }
  ~TPty() { ::close(master); }
  int master = -1, slave = -1;
  char name[128] = {};
};

TEST(PortBusyTest, APortIsBusyWhileAnyoneHoldsItOrWhenItCannotBeOpened) {
  TPty held, idle;
  ASSERT_TRUE(*held.name && *idle.name);
  TVantleBootloader engine;
  SerialPort holder;
  holder.Open(held.name);
  EXPECT_TRUE(engine.IsPortBusy(held.name));
  EXPECT_FALSE(engine.IsPortBusy(idle.name));
  EXPECT_TRUE(engine.IsPortBusy("/dev/ttyVantleNoSuchPort"));
  EXPECT_TRUE(engine.IsPortBusy("ttyVantleNoSuchPort"));
  // The probe leaves no port open behind it; the engine's own link makes
  // its port busy as well.
  engine.Port->Open(idle.name);
  EXPECT_TRUE(engine.IsPortBusy(idle.name));
  engine.Port->Close();
  holder.Close();
  EXPECT_FALSE(engine.IsPortBusy(held.name));
  EXPECT_FALSE(engine.IsPortBusy(idle.name));
}

// Symbolic links in a scratch tree. A target starting with "/" is taken
// from the tree's root; any other is stored as given, relative to the link.
void Links(const fs::path& root, const std::vector<std::pair<std::string, std::string>>& links) {
  for (const auto& [link, target] : links) {
    fs::create_directories((root / link).parent_path());
    fs::create_symlink(target[0] == '/' ? root / target.substr(1) : fs::path(target), root / link);
  }
}

// A USB adapter (linked relatively, as sysfs does), a UART behind the serial
// core's "port" and "ctrl" layers of newer kernels, and one such UART whose
// controller has no driver.
TEST(PortDriverTest, TheDriverServingThePortNamesIt) {
  const test::TempDir t;
  Links(t.Path(),
        {
            {"class/tty/ttyUSB0/device", "../../../devices/usb1/1-1:1.0/ttyUSB0"},
            {"devices/usb1/1-1:1.0/ttyUSB0/subsystem", "/bus/usb-serial"},
            {"devices/usb1/1-1:1.0/ttyUSB0/driver", "/bus/usb-serial/drivers/ftdi_sio"},
            {"class/tty/ttyS0/device", "/devices/pnp0/00:00/00:00:0/00:00:0.0"},
            {"devices/pnp0/00:00/00:00:0/00:00:0.0/subsystem", "/bus/serial-base"},
            {"devices/pnp0/00:00/00:00:0/00:00:0.0/driver", "/bus/serial-base/drivers/port"},
            {"devices/pnp0/00:00/00:00:0/subsystem", "/bus/serial-base"},
            {"devices/pnp0/00:00/00:00:0/driver", "/bus/serial-base/drivers/ctrl"},
            {"devices/pnp0/00:00/subsystem", "/bus/pnp"},
            {"devices/pnp0/00:00/driver", "/bus/pnp/drivers/serial"},
            {"class/tty/ttyS5/device", "/devices/pnp0/00:05/00:05:0/00:05:0.0"},
            {"devices/pnp0/00:05/00:05:0/00:05:0.0/subsystem", "/bus/serial-base"},
            {"devices/pnp0/00:05/00:05:0/subsystem", "/bus/serial-base"},
            {"devices/pnp0/00:05/subsystem", "/bus/pnp"},
        });
  const std::pair<std::string, std::string> cases[] = {
      {"ttyUSB0", "ftdi_sio"}, {"ttyS0", "serial"}, {"ttyS5", ""}, {"ttyNoSuch", ""}};
  for (const auto& [port, driver] : cases)
    EXPECT_EQ(PortDriverName(t.Path().string(), port), driver) << port;
}

TEST(PortByIdTest, TheByIdLinkLeadingToThePortNamesIt) {
  const test::TempDir t;
  Links(t.Path(), {{"serial/by-id/usb-FTDI_B-if00-port0", "../../ttyUSB0"},
                   {"serial/by-id/usb-FTDI_A-if00-port0", "/ttyUSB0"},
                   {"serial/by-id/usb-Prolific_C-if00-port0", "../../ttyUSB1"},
                   {"serial/by-id/usb-Dangling-if00", "../../ttyGone"}});
  for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0"})
    t.Write(name, "\n");
  const std::string byId = (t.Path() / "serial/by-id").string();
  const std::pair<std::string, std::string> cases[] = {
      {"ttyUSB0", "usb-FTDI_A-if00-port0"},  // of two links, the first by name
      {"ttyUSB1", "usb-Prolific_C-if00-port0"},
      {"ttyACM0", ""},
      {"ttyGone", ""},
  };
  for (const auto& [port, link] : cases)
    EXPECT_EQ(ByIdLinkName(byId, (t.Path() / port).string()), link) << port;
  EXPECT_EQ(ByIdLinkName((t.Path() / "none").string(), (t.Path() / "ttyUSB0").string()), "");
}

struct TRunResult {
  int ExitCode = -1;  // -1: did not start or did not end normally
  std::string Out, Err;
};

TRunResult RunCli(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(VANTLEBLD_CLI_PATH), args);
  TRunResult r;
  // A guard against a hung child only; no result depends on the time.
  if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit) r.ExitCode = p.exitCode();
  r.Out = p.readAllStandardOutput().toStdString();
  r.Err = p.readAllStandardError().toStdString();
  return r;
}

// The program lists what the system lists (the machine decides how many),
// and resolves an adapter name before the link opens.
TEST(PortsCommandTest, ListsEverySystemPortAndResolvesAdapterNames) {
  const TRunResult r = RunCli({"ports"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  std::vector<std::string> firstWords, expected;
  std::istringstream lines(r.Out);
  for (std::string line; std::getline(lines, line);)
    firstWords.push_back(line.substr(0, line.find(' ')));
  for (const auto& port : BuildPortList(EnumerateSystemPorts(), false, {}))
    expected.push_back(port.PortName);
  if (!expected.empty()) expected.insert(expected.begin(), "PORT");
  EXPECT_EQ(firstWords, expected) << r.Out;
  EXPECT_EQ(r.Err.find("no serial ports") != std::string::npos, expected.empty()) << r.Err;
  const TRunResult missing = RunCli({"check", "--port", "usb:fffe:fffd"});
  EXPECT_EQ(missing.ExitCode, 3);
  EXPECT_NE(missing.Err.find("no serial port with USB id FFFE:FFFD"), std::string::npos)
      << missing.Err;
  const TRunResult malformed = RunCli({"check", "--port", "usb:fffe"});
  EXPECT_EQ(malformed.ExitCode, 1);
  EXPECT_NE(malformed.Err.find("usb:0403:6001"), std::string::npos) << malformed.Err;
}

}  // namespace
}  // namespace vantlebld
