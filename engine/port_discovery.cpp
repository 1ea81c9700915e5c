// Building the port list, and the engine's probe for ports in use.
#include "engine/port_discovery.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/format.h"
#include "engine/vantlebld_comm.h"
#include "platform/serial_port.h"

namespace vantlebld {

namespace {

namespace fs = std::filesystem;

// Port names are ASCII; the lower case of a busy port and the comparison
// of the box's text change A-Z only.
char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), LowerAscii);
  return text;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

const TSystemPort* FirstNamed(const std::vector<TSystemPort>& ports, const std::string& name) {
  const auto it = std::find_if(ports.begin(), ports.end(),
                               [&name](const TSystemPort& p) { return p.PortName == name; });
  return it == ports.end() ? nullptr : &*it;
}

}  // namespace

bool ComparePortNames(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  const int collated = std::strcoll(a.c_str(), b.c_str());
  return collated != 0 ? collated < 0 : a < b;
}

std::vector<TComPortData> BuildPortList(const std::vector<TSystemPort>& ports, bool detectBusy,
                                        const std::function<bool(const std::string&)>& isBusy) {
  std::vector<std::string> names;
  names.reserve(ports.size());
  for (const auto& p : ports)
    names.push_back(p.PortName);
  std::sort(names.begin(), names.end(), ComparePortNames);
  names.erase(std::unique(names.begin(), names.end()), names.end());

  std::vector<TComPortData> list;
  list.reserve(names.size());
  for (const auto& name : names) {
    TComPortData entry;
    entry.PortName = name;
    entry.DisplayName = detectBusy && isBusy && isBusy(name) ? LowerCase(name) : name;
    const TSystemPort* source = FirstNamed(ports, name);
    entry.DeviceName = source->DeviceName;
    entry.Description = source->Description;
    list.push_back(std::move(entry));
  }
  return list;
}

std::vector<std::string> EnumPortDevices(const std::vector<TSystemPort>& ports) {
  std::vector<std::string> lines;
  lines.reserve(ports.size());
  for (const auto& p : ports)
    lines.push_back(p.PortName + "=" + p.Description);
  return lines;
}

std::string PortStatusText(const TComPortData& entry) {
  return Format("%s  =  %s  =  %s ", entry.PortName.c_str(), entry.Description.c_str(),
                entry.DeviceName.c_str());
}

std::string PortPath(const std::string& name, const std::string& devDir) {
  if (IsNetworkPortName(name)) return name;
  if (name.starts_with('/') || name.starts_with("./") || name.starts_with("../")) return name;
  return devDir + "/" + name;
}

bool PortExists(const std::string& name, const std::string& devDir) {
  if (IsNetworkPortName(name)) return true;  // whether it answers shows when it is opened
  std::error_code ec;
  return !name.empty() && fs::exists(PortPath(name, devDir), ec);
}

bool SamePort(const std::string& a, const std::string& b, const std::string& devDir) {
  const std::string pathA = PortPath(a, devDir), pathB = PortPath(b, devDir);
  if (pathA == pathB) return true;
  if (IsNetworkPortName(pathA) || IsNetworkPortName(pathB)) return false;
  // The real paths, links and "." followed: a by-id link and the tty it
  // leads to end in one path. equivalent() then compares device and inode
  // numbers, but the standard library reports two character devices as
  // "not supported" instead, so it only settles the other files.
  std::error_code ec;
  const fs::path realA = fs::canonical(pathA, ec);
  if (!ec) {
    const fs::path realB = fs::canonical(pathB, ec);
    if (!ec && realA == realB) return true;
  }
  return fs::equivalent(pathA, pathB, ec) && !ec;
}

TPortChoice ChoosePortAfterRebuild(const std::vector<TComPortData>& list,
                                   const std::string& previousText, const std::string& devDir) {
  TPortChoice choice;
  for (size_t i = 0; i < list.size(); ++i) {
    if (SameIgnoringCase(list[i].DisplayName, previousText))
      return {static_cast<int>(i), list[i].DisplayName, {}};
  }
  if (list.empty() || PortExists(previousText, devDir)) {
    choice.Text = previousText;
    for (size_t i = 0; i < list.size() && choice.Index < 0; ++i) {
      if (SamePort(list[i].PortName, previousText, devDir)) choice.Index = static_cast<int>(i);
    }
    return choice;
  }
  choice.Index = 0;
  choice.Text = list.front().DisplayName;
  if (!previousText.empty()) {
    choice.Note = "Port " + previousText + " is gone; using " +
                  PortPath(list.front().PortName, devDir) + " instead";
  }
  return choice;
}

std::string ResolvePortName(const std::vector<TComPortData>& list, const std::string& shown) {
  for (const auto& entry : list) {
    if (entry.DisplayName == shown) return entry.PortName;
  }
  for (const auto& entry : list) {
    if (SameIgnoringCase(entry.DisplayName, shown)) return entry.PortName;
  }
  return shown;
}

bool TVantleBootloader::IsPortBusy(const std::string& portName) const {
  // A probe of its own: the engine's Port (which may hold this very port,
  // and then makes it busy) is left alone. A network port shows only when
  // it is opened.
  if (IsNetworkPortName(portName)) return false;
  SerialPort probe;
  probe.Open(portName);
  if (!probe.Active()) return true;
  probe.Close();
  return false;
}

}  // namespace vantlebld
