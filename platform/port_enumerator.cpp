// The system's serial ports: Qt's list, completed from sysfs and udev's
// /dev/serial/by-id links where Qt has nothing to say.
#include "platform/port_enumerator.h"

#include <QtCore/QString>
#include <QtSerialPort/QSerialPortInfo>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vantlebld {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSysRoot = "/sys";
constexpr const char* kByIdDir = "/dev/serial/by-id";
// The bus of the serial core's generic "port" and "ctrl" devices, which
// newer kernels put between a tty and the UART's controller.
constexpr const char* kSerialBaseBus = "serial-base";
// tty -> port -> ctrl -> controller is the longest chain seen; one spare.
constexpr int kMaxDeviceHops = 4;

// The last part of a symbolic link's target; empty when path is no link.
std::string LinkTargetName(const fs::path& path) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(path, ec);
  return ec ? std::string() : target.filename().string();
}

std::string ToStd(const QString& text) {
  return text.toStdString();
}

}  // namespace

std::string PortDriverName(const std::string& sysRoot, const std::string& portName) {
  std::error_code ec;
  fs::path device = fs::canonical(fs::path(sysRoot) / "class" / "tty" / portName / "device", ec);
  if (ec) return {};
  for (int hop = 0; hop < kMaxDeviceHops; ++hop) {
    if (LinkTargetName(device / "subsystem") != kSerialBaseBus)
      return LinkTargetName(device / "driver");
    device = device.parent_path();
  }
  return {};
}

std::string ByIdLinkName(const std::string& byIdDir, const std::string& systemLocation) {
  std::error_code ec;
  const fs::path port = fs::canonical(systemLocation, ec);
  if (ec) return {};
  std::vector<std::string> names;
  for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkEc;
    if (fs::canonical(it->path(), linkEc) == port && !linkEc)
      names.push_back(it->path().filename().string());
  }
  // The directory's order is the file system's; name order keeps the
  // choice the same from run to run.
  return names.empty() ? std::string() : *std::min_element(names.begin(), names.end());
}

std::vector<TSystemPort> EnumerateSystemPorts() {
  std::vector<TSystemPort> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    TSystemPort p;
    p.PortName = ToStd(info.portName());
    p.SystemLocation = ToStd(info.systemLocation());
    p.DeviceName = PortDriverName(kSysRoot, p.PortName);
    p.Description = ToStd(info.description());
    if (p.Description.empty()) p.Description = ByIdLinkName(kByIdDir, p.SystemLocation);
    p.Manufacturer = ToStd(info.manufacturer());
    p.HasUsbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
    if (p.HasUsbIds) {
      p.VendorId = info.vendorIdentifier();
      p.ProductId = info.productIdentifier();
    }
    p.SerialNumber = ToStd(info.serialNumber());
    ports.push_back(std::move(p));
  }
  return ports;
}

}  // namespace vantlebld
