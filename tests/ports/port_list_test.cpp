// The port list built from a fake set of system ports: order, duplicates,
// busy ports, what each entry carries, and what the port box does with the
// list after a rebuild and when a link is opened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/port_discovery.h"

namespace vantlebld {
namespace {

TSystemPort SystemPort(const std::string& name, const std::string& driver = {},
                       const std::string& description = {}) {
  TSystemPort p;
  p.PortName = name;
  p.DeviceName = driver;
  p.Description = description;
  return p;
}

std::vector<TSystemPort> SystemPorts(const std::vector<std::string>& names) {
  std::vector<TSystemPort> ports;
  for (const auto& n : names)
    ports.push_back(SystemPort(n));
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
  struct TCase {
    std::vector<std::string> given, expected;
  };
  const TCase cases[] = {
      {{"ttyS10", "ttyS2", "ttyS1", "ttyS2"}, {"ttyS1", "ttyS2", "ttyS10"}},
      {{"ttyUSB10", "ttyUSB2"}, {"ttyUSB2", "ttyUSB10"}},
      {{"COM10", "COM2", "COM1", "COM2"}, {"COM1", "COM2", "COM10"}},
      {{"COM11", "COM10", "COM10", "COM10"}, {"COM10", "COM11"}},
      {{"ttyUSB0", "ttyACM0", "ttyS0"}, {"ttyS0", "ttyACM0", "ttyUSB0"}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    const auto list = BuildPortList(SystemPorts(c.given), false, {});
    EXPECT_EQ(Field(list, &TComPortData::PortName), c.expected)
        << ::testing::PrintToString(c.given);
    EXPECT_EQ(Field(list, &TComPortData::DisplayName), c.expected);
  }
}

TEST(PortListTest, BusyPortsShowInLowerCaseOnlyWhenProbing) {
  const auto ports = SystemPorts({"ttyUSB1", "ttyUSB0", "COM3", "ttyUSB0"});
  std::vector<std::string> probed;
  const auto isBusy = [&probed](const std::string& name) {
    probed.push_back(name);
    return name == "ttyUSB0" || name == "COM3";
  };

  const auto probedList = BuildPortList(ports, true, isBusy);
  EXPECT_EQ(Field(probedList, &TComPortData::DisplayName),
            (std::vector<std::string>{"com3", "ttyusb0", "ttyUSB1"}));
  EXPECT_EQ(Field(probedList, &TComPortData::PortName),
            (std::vector<std::string>{"COM3", "ttyUSB0", "ttyUSB1"}));
  EXPECT_EQ(probed, (std::vector<std::string>{"COM3", "ttyUSB0", "ttyUSB1"}));

  probed.clear();
  const auto plainList = BuildPortList(ports, false, isBusy);
  EXPECT_TRUE(probed.empty());
  EXPECT_EQ(Field(plainList, &TComPortData::DisplayName),
            (std::vector<std::string>{"COM3", "ttyUSB0", "ttyUSB1"}));
}

TEST(PortListTest, EntriesCarryTheFirstRecordsDriverAndDescription) {
  const std::vector<TSystemPort> ports = {SystemPort("ttyUSB0", "ftdi_sio", "FT232R USB UART"),
                                          SystemPort("ttyS0", "serial"),
                                          SystemPort("ttyUSB0", "cdc_acm", "a later record")};
  const auto list = BuildPortList(ports, false, {});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].DeviceName, "serial");
  EXPECT_EQ(list[0].Description, "");
  EXPECT_EQ(list[1].DeviceName, "ftdi_sio");
  EXPECT_EQ(list[1].Description, "FT232R USB UART");

  // Without a description: the name, two blanks, "=", four blanks, "=",
  // two blanks, the driver and a final blank.
  EXPECT_EQ(PortStatusText(list[0]), "ttyS0  =    =  serial ");
  EXPECT_EQ(PortStatusText(list[1]), "ttyUSB0  =  FT232R USB UART  =  ftdi_sio ");
}

TEST(PortListTest, RebuildSelectsThePreviousTextIgnoringCaseElseTheFirst) {
  const std::vector<TComPortData> list = {
      {"COM1", "COM1", "", ""}, {"COM4", "COM4", "", ""}, {"ttyUSB0", "ttyusb0", "", ""}};
  const std::pair<std::string, int> cases[] = {
      {"com4", 1}, {"TTYUSB0", 2}, {"ttyUSB0", 2}, {"COM9", 0}, {"", 0}, {"COM", 0},
  };
  for (const auto& [previous, index] : cases)
    EXPECT_EQ(SelectAfterRebuild(list, previous), index) << previous;
  EXPECT_EQ(SelectAfterRebuild({}, "COM1"), -1);
}

TEST(PortListTest, ShownNamesResolveToThePortToOpen) {
  const std::vector<TComPortData> list = {{"ttyAB", "ttyAB", "", ""},
                                          {"ttyab", "ttyab", "", ""},
                                          {"ttyS0", "ttyS0", "", ""},
                                          {"ttyUSB0", "ttyusb0", "", ""}};
  const std::pair<std::string, std::string> cases[] = {
      {"ttyusb0", "ttyUSB0"},  // picked while busy: the real name opens
      {"TTYS0", "ttyS0"},      // typed in another case
      {"ttyab", "ttyab"},      // an exact match wins over an earlier near one
      {"ttyS9", "ttyS9"},      // not listed: as typed
      {"/dev/pts/3", "/dev/pts/3"},
  };
  for (const auto& [shown, port] : cases)
    EXPECT_EQ(ResolvePortName(list, shown), port) << shown;
  EXPECT_EQ(ResolvePortName({}, "ttyUSB0"), "ttyUSB0");
}

}  // namespace
}  // namespace vantlebld
