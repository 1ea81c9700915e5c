// The port list built from fake system ports (order, duplicates, busy
// ports, what each entry carries, what the port box does with it), ports
// named by their USB adapter, and the ports table.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "cli/cli_options.h"
#include "cli/port_selector.h"
#include "engine/port_discovery.h"

namespace vantlebld {
namespace {

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
  // After a rebuild: the previous text ignoring case, as shown; a port
  // that is gone gives way to the first, with a line; nothing named, none.
  const auto chosen = [&list](const std::string& previous) {
    const TPortChoice c = ChoosePortAfterRebuild(list, previous, "/nonexistent");
    return std::tuple(c.Index, c.Text, c.Note);
  };
  EXPECT_EQ(chosen("TTYUSB0"), std::tuple(3, "ttyusb0", ""));
  EXPECT_EQ(chosen("COM9"),
            std::tuple(0, "ttyAB", "Port COM9 is gone; using /nonexistent/ttyAB instead"));
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

}  // namespace
}  // namespace vantlebld
