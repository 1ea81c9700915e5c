// Naming a port by its adapter, the ports table, and the program's `ports`
// command and --port as a user runs them.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/port_selector.h"

namespace vantlebld {
namespace {

TSystemPort UsbPort(const std::string& name, uint16_t vid, uint16_t pid,
                    const std::string& serial) {
  TSystemPort p;
  p.PortName = name;
  p.SystemLocation = "/dev/" + name;
  p.HasUsbIds = true;
  p.VendorId = vid;
  p.ProductId = pid;
  p.SerialNumber = serial;
  return p;
}

// A single adapter (listed twice), a dual-port adapter, a CDC device and a
// built-in UART with no USB ids.
std::vector<TSystemPort> FakePorts() {
  TSystemPort uart = UsbPort("ttyS0", 0, 0, "");
  uart.HasUsbIds = false;
  return {UsbPort("ttyUSB0", 0x0403, 0x6001, "A1B2"),
          UsbPort("ttyUSB1", 0x0403, 0x6010, "DUAL1"),
          UsbPort("ttyUSB2", 0x0403, 0x6010, "DUAL1"),
          UsbPort("ttyACM0", 0x04D8, 0x000A, ""),
          uart,
          UsbPort("ttyUSB0", 0x0403, 0x6001, "A1B2")};
}

TEST(PortAdapterTest, AnAdapterNameOpensItsOnePort) {
  const std::pair<std::string, std::string> cases[] = {
      {"usb:0403:6001", "/dev/ttyUSB0"},
      {"usb:403:6001", "/dev/ttyUSB0"},
      {"usb:04D8:000a", "/dev/ttyACM0"},
      {"serial:A1B2", "/dev/ttyUSB0"},
      {"ttyUSB1", "ttyUSB1"},
      {"/dev/pts/3", "/dev/pts/3"},
  };
  for (const auto& [portText, port] : cases)
    EXPECT_EQ(ResolvePortText(portText, FakePorts()), port) << portText;
}

TEST(PortAdapterTest, NoneOrSeveralMatchingPortsAreRefusedWithTheReason) {
  const std::pair<std::string, std::string> cases[] = {
      {"usb:0403:60ab", "no serial port with USB id 0403:60AB"},
      {"usb:0:0", "no serial port with USB id 0000:0000"},  // the UART has no ids
      {"serial:a1b2", "no serial port with serial number a1b2"},
      {"usb:0403:6010", "2 serial ports match usb:0403:6010; name one with --port"},
      {"serial:DUAL1", "2 serial ports match serial:DUAL1; name one with --port"},
  };
  for (const auto& [portText, message] : cases) {
    try {
      ResolvePortText(portText, FakePorts());
      ADD_FAILURE() << portText << " was accepted";
    } catch (const EVantleError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
  for (const char* malformed : {"usb:0403", "usb:12345:0001", "usb:xyz:0001",
                                "usb:0403:", "usb:", "usb:0403:6001:1", "serial:"}) {
    EXPECT_THROW(ResolvePortText(malformed, FakePorts()), CliUsageError) << malformed;
  }
}

TEST(PortAdapterTest, TheTableAlignsItsColumnsAndMarksBusyPorts) {
  const std::vector<TComPortData> list = {{"ttyS0", "ttyS0", "serial", ""},
                                          {"ttyUSB0", "ttyusb0", "ftdi_sio", "FT232R USB UART"}};
  EXPECT_EQ(PortTableLines(list, {"ttyUSB0"}),
            (std::vector<std::string>{"PORT     DESCRIPTION      DRIVER",
                                      "ttyS0    -                serial",
                                      "ttyUSB0  FT232R USB UART  ftdi_sio  busy"}));
  EXPECT_TRUE(PortTableLines({}, {}).empty());
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
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.ExitCode = p.exitCode();
  r.Out = p.readAllStandardOutput().toStdString();
  r.Err = p.readAllStandardError().toStdString();
  return r;
}

// The program lists what the system lists; the machine decides how many.
TEST(PortsCommandTest, ListsEverySystemPortOnceUnderAHeader) {
  const TRunResult r = RunCli({"ports"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const auto expected = BuildPortList(EnumerateSystemPorts(), false, {});
  std::vector<std::string> firstWords;
  std::istringstream lines(r.Out);
  for (std::string line; std::getline(lines, line);)
    firstWords.push_back(line.substr(0, line.find(' ')));
  if (expected.empty()) {
    EXPECT_TRUE(firstWords.empty()) << r.Out;
    EXPECT_NE(r.Err.find("no serial ports"), std::string::npos) << r.Err;
    return;
  }
  ASSERT_EQ(firstWords.size(), expected.size() + 1) << r.Out;
  EXPECT_EQ(firstWords[0], "PORT");
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(firstWords[i + 1], expected[i].PortName);
}

TEST(PortsCommandTest, PortOptionResolvesAdapterNamesBeforeTheLinkOpens) {
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
