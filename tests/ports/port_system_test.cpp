// What port discovery reads from the system: the busy probe over
// pseudo-terminals, and the driver and by-id lookups over fake sysfs and
// /dev trees laid out as the kernel and udev lay them out.
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/vantlebld_comm.h"
#include "platform/port_enumerator.h"

namespace vantlebld {
namespace {

namespace fs = std::filesystem;

// A pseudo-terminal whose device end this object holds; `path` is the port.
struct TPty {
  TPty() {
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    ::close(slave);
    path = name;
  }
  ~TPty() {
    if (master >= 0) ::close(master);
  }
  int master = -1;
  std::string path;
};

// A scratch tree of links. A target starting with "/" is taken from the
// tree's root; any other target is stored as given, relative to the link.
struct TTree {
  TTree() {
    std::string pattern = (fs::temp_directory_path() / "ports_test_XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) root = pattern;
  }
  ~TTree() {
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }
  void Links(const std::vector<std::pair<std::string, std::string>>& links) const {
    for (const auto& [link, target] : links) {
      fs::create_directories((root / link).parent_path());
      fs::create_symlink(target[0] == '/' ? root / target.substr(1) : fs::path(target),
                         root / link);
    }
  }
  fs::path root;
};

TEST(PortBusyTest, APortIsBusyWhileAnyoneHoldsItOrWhenItCannotBeOpened) {
  TPty held, idle;
  ASSERT_FALSE(held.path.empty() || idle.path.empty());
  TVantleBootloader engine;
  SerialPort holder;
  holder.Open(held.path);
  EXPECT_TRUE(engine.IsPortBusy(held.path));
  EXPECT_FALSE(engine.IsPortBusy(idle.path));
  EXPECT_TRUE(engine.IsPortBusy("/dev/ttyVantleNoSuchPort"));
  EXPECT_TRUE(engine.IsPortBusy("ttyVantleNoSuchPort"));

  // The probe leaves no port open behind it; the engine's own link makes
  // its port busy as well.
  engine.Port->Open(idle.path);
  EXPECT_TRUE(engine.IsPortBusy(idle.path));
  engine.Port->Close();
  holder.Close();
  EXPECT_FALSE(engine.IsPortBusy(held.path));
  EXPECT_FALSE(engine.IsPortBusy(idle.path));
}

// A USB adapter (linked relatively, as sysfs does), a UART behind the serial
// core's "port" and "ctrl" layers of newer kernels, and one such UART whose
// controller has no driver.
TEST(PortDriverTest, TheDriverServingThePortNamesIt) {
  TTree t;
  ASSERT_FALSE(t.root.empty());
  t.Links({
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
      {"ttyUSB0", "ftdi_sio"},
      {"ttyS0", "serial"},
      {"ttyS5", ""},
      {"ttyNoSuch", ""},
  };
  for (const auto& [port, driver] : cases)
    EXPECT_EQ(PortDriverName(t.root.string(), port), driver) << port;
}

TEST(PortByIdTest, TheByIdLinkLeadingToThePortNamesIt) {
  TTree t;
  ASSERT_FALSE(t.root.empty());
  t.Links({{"serial/by-id/usb-FTDI_B-if00-port0", "../../ttyUSB0"},
           {"serial/by-id/usb-FTDI_A-if00-port0", "/ttyUSB0"},
           {"serial/by-id/usb-Prolific_C-if00-port0", "../../ttyUSB1"},
           {"serial/by-id/usb-Dangling-if00", "../../ttyGone"}});
  for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0"})
    std::ofstream(t.root / name).put('\n');
  const std::string byId = (t.root / "serial/by-id").string();
  const std::pair<std::string, std::string> cases[] = {
      {"ttyUSB0", "usb-FTDI_A-if00-port0"},  // of two links, the first by name
      {"ttyUSB1", "usb-Prolific_C-if00-port0"},
      {"ttyACM0", ""},
      {"ttyGone", ""},
  };
  for (const auto& [port, link] : cases)
    EXPECT_EQ(ByIdLinkName(byId, (t.root / port).string()), link) << port;
  EXPECT_EQ(ByIdLinkName((t.root / "none").string(), (t.root / "ttyUSB0").string()), "");
}

}  // namespace
}  // namespace vantlebld
