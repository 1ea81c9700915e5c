// The port list built from fake system ports (order, duplicates, busy
// ports, what each entry carries, what the port box does with it), ports
// named by their USB adapter, and the ports table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/port_selector.h"
#include "engine/port_discovery.h"

namespace vantlebld {
namespace {

TSystemPort Port(const std::string& name, const std::string& driver = {},
                 const std::string& description = {}) {
  TSystemPort p;
  p.PortName = name;
  p.DeviceName = driver;
  p.Description = description;
  return p;
}

std::vector<TSystemPort> Ports(const std::vector<std::string>& names) {
  std::vector<TSystemPort> ports;
  for (const auto& n : names)
    ports.push_back(Port(n));
  return ports;
}

std::vector<std::string> Field(const std::vector<TComPortData>& list,
                               std::string TComPortData::*field) {
  std::vector<std::string> out;
  for (const auto& e : list)
    out.push_back(e.*field);
  return out;
}

TEST(PortListTest, ShortNamesComeFirstAndDuplicatesAreDropped) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"ttyS10", "ttyS2", "ttyS1", "ttyS2"}, {"ttyS1", "ttyS2", "ttyS10"}},
      {{"COM11", "COM10", "COM10", "COM10"}, {"COM10", "COM11"}},
      {{"ttyUSB0", "ttyACM0", "ttyS0"}, {"ttyS0", "ttyACM0", "ttyUSB0"}},
      {{}, {}},
  };
  for (const auto& [given, expected] : cases) {
    const auto list = BuildPortList(Ports(given), false, {});
    EXPECT_EQ(Field(list, &TComPortData::PortName), expected) << testing::PrintToString(given);
    EXPECT_EQ(Field(list, &TComPortData::DisplayName), expected);
  }
}

// Each port is probed once; a busy one shows in lower case.
TEST(PortListTest, BusyPortsShowInLowerCaseOnlyWhenProbing) {
  const auto ports = Ports({"ttyUSB1", "ttyUSB0", "COM3", "ttyUSB0"});
  std::vector<std::string> probed;
  const auto isBusy = [&probed](const std::string& name) {
    probed.push_back(name);
    return name == "ttyUSB0" || name == "COM3";
  };
  const auto list = BuildPortList(ports, true, isBusy);
  EXPECT_EQ(Field(list, &TComPortData::DisplayName),
            (std::vector<std::string>{"com3", "ttyusb0", "ttyUSB1"}));
  EXPECT_EQ(Field(list, &TComPortData::PortName), probed);
  EXPECT_EQ(probed, (std::vector<std::string>{"COM3", "ttyUSB0", "ttyUSB1"}));
  probed.clear();
  EXPECT_EQ(Field(BuildPortList(ports, false, isBusy), &TComPortData::DisplayName),
            (std::vector<std::string>{"COM3", "ttyUSB0", "ttyUSB1"}));
  EXPECT_TRUE(probed.empty());
}

TEST(PortListTest, EntriesCarryTheFirstRecordsDriverAndDescription) {
  const auto list =
      BuildPortList({Port("ttyUSB0", "ftdi_sio", "FT232R USB UART"), Port("ttyS0", "serial"),
                     Port("ttyUSB0", "cdc_acm", "a later record")},
                    false, {});
  ASSERT_EQ(list.size(), 2u);
  // The status line: name, description and driver, each "  =  " apart.
  EXPECT_EQ(PortStatusText(list[0]), "ttyS0  =    =  serial ");
  EXPECT_EQ(PortStatusText(list[1]), "ttyUSB0  =  FT232R USB UART  =  ftdi_sio ");
}

TEST(PortListTest, TheBoxSelectsAndOpensByTheShownName) {
  const std::vector<TComPortData> list = {{"ttyAB", "ttyAB", "", ""},
                                          {"ttyab", "ttyab", "", ""},
                                          {"COM4", "COM4", "", ""},
                                          {"ttyUSB0", "ttyusb0", "", ""}};
  // After a rebuild: the previous text ignoring case, else the first.
  const std::pair<std::string, int> selected[] = {
      {"com4", 2}, {"TTYUSB0", 3}, {"ttyUSB0", 3}, {"COM9", 0}, {"", 0}, {"COM", 0},
  };
  for (const auto& [previous, index] : selected)
    EXPECT_EQ(SelectAfterRebuild(list, previous), index) << previous;
  EXPECT_EQ(SelectAfterRebuild({}, "COM1"), -1);
  const std::pair<std::string, std::string> opened[] = {
      {"ttyusb0", "ttyUSB0"},  // picked while busy: the real name opens
      {"com4", "COM4"},        // typed in another case
      {"ttyab", "ttyab"},      // an exact match wins over an earlier near one
      {"ttyS9", "ttyS9"},      // not listed: as typed
  };
  for (const auto& [shown, port] : opened)
    EXPECT_EQ(ResolvePortName(list, shown), port) << shown;
  EXPECT_EQ(ResolvePortName({}, "ttyUSB0"), "ttyUSB0");
}

TSystemPort UsbPort(const std::string& name, uint16_t vid, uint16_t pid,
                    const std::string& serial) {
  TSystemPort p = Port(name);
  p.SystemLocation = "/dev/" + name;
  p.HasUsbIds = true;
  p.VendorId = vid;
  p.ProductId = pid;
  p.SerialNumber = serial;
  return p;
}

// What --port text opens among a single adapter (listed twice), a
// dual-port adapter, a CDC device and a UART without USB ids: the port,
// "!" and the reason when none or several match, "usage" when malformed.
std::string Resolved(const std::string& text) {
  const std::vector<TSystemPort> ports = {UsbPort("ttyUSB0", 0x0403, 0x6001, "A1B2"),
                                          UsbPort("ttyUSB1", 0x0403, 0x6010, "DUAL1"),
                                          UsbPort("ttyUSB2", 0x0403, 0x6010, "DUAL1"),
                                          UsbPort("ttyACM0", 0x04D8, 0x000A, ""),
                                          Port("ttyS0"),
                                          UsbPort("ttyUSB0", 0x0403, 0x6001, "A1B2")};
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
      // clang-format off
      {"usb:0403:6001", "/dev/ttyUSB0"}, {"usb:403:6001", "/dev/ttyUSB0"},
      {"usb:04D8:000a", "/dev/ttyACM0"}, {"serial:A1B2", "/dev/ttyUSB0"},
      {"ttyUSB1", "ttyUSB1"},            {"/dev/pts/3", "/dev/pts/3"},
      {"usb:0403:60ab", "!no serial port with USB id 0403:60AB"},
      {"usb:0:0", "!no serial port with USB id 0000:0000"},  // the UART has no ids
      {"serial:a1b2", "!no serial port with serial number a1b2"},
      {"usb:0403:6010", "!2 serial ports match usb:0403:6010; name one with --port"},
      {"serial:DUAL1", "!2 serial ports match serial:DUAL1; name one with --port"},
      {"usb:0403", "usage"},     {"usb:12345:0001", "usage"}, {"usb:xyz:0001", "usage"},
      {"usb:0403:", "usage"},    {"usb:", "usage"},           {"usb:0403:6001:1", "usage"},
      {"serial:", "usage"},
      // clang-format on
  };
  for (const auto& [text, port] : cases)
    EXPECT_EQ(Resolved(text), port) << text;
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

}  // namespace
}  // namespace vantlebld
