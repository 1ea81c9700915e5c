// Ports named by USB id or serial number, and the ports table.
#include "cli/port_selector.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "cli/cli_options.h"
#include "cli/text_table.h"
#include "engine/format.h"

namespace vantlebld {

namespace {

constexpr const char* kUsbPrefix = "usb:";
constexpr const char* kSerialPrefix = "serial:";
constexpr size_t kMaxIdDigits = 4;  // USB ids are 16 bits
constexpr const char* kNoText = "-";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::optional<uint16_t> ParseUsbId(const std::string& text) {
  if (text.empty() || text.size() > kMaxIdDigits) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; }))
    return std::nullopt;
  return static_cast<uint16_t>(std::stoul(text, nullptr, 16));
}

// The locations of the ports that match, each once (a port may be listed
// twice), in list order.
template <class Match>
std::vector<std::string> MatchingLocations(const std::vector<TSystemPort>& ports, Match match) {
  std::vector<std::string> found;
  for (const auto& p : ports) {
    if (!match(p)) continue;
    const std::string location = p.SystemLocation.empty() ? p.PortName : p.SystemLocation;
    if (std::find(found.begin(), found.end(), location) == found.end()) found.push_back(location);
  }
  return found;
}

}  // namespace

std::vector<std::string> ResolvePortTexts(const std::string& portText,
                                          const std::vector<TSystemPort>& ports) {
  std::vector<std::string> found;
  std::string none;
  if (StartsWith(portText, kUsbPrefix)) {
    const std::string ids = portText.substr(std::string(kUsbPrefix).size());
    const size_t colon = ids.find(':');
    const auto vid = colon == std::string::npos ? std::nullopt : ParseUsbId(ids.substr(0, colon));
    const auto pid = colon == std::string::npos ? std::nullopt : ParseUsbId(ids.substr(colon + 1));
    if (!vid || !pid)
      throw CliUsageError("--port usb: takes two hex ids, as usb:0403:6001, not \"" + portText +
                          "\"");
    found = MatchingLocations(ports, [&](const TSystemPort& p) {
      return p.HasUsbIds && p.VendorId == *vid && p.ProductId == *pid;
    });
    none = Format("no serial port with USB id %04X:%04X", *vid, *pid);
  } else if (StartsWith(portText, kSerialPrefix)) {
    const std::string number = portText.substr(std::string(kSerialPrefix).size());
    if (number.empty()) throw CliUsageError("--port serial: takes a serial number");
    found =
        MatchingLocations(ports, [&](const TSystemPort& p) { return p.SerialNumber == number; });
    none = "no serial port with serial number " + number;
  } else {
    return {portText};
  }
  if (found.empty()) throw EVantleError(none);
  return found;
}

std::string ResolvePortText(const std::string& portText, const std::vector<TSystemPort>& ports) {
  const std::vector<std::string> found = ResolvePortTexts(portText, ports);
  if (found.size() > 1) {
    throw EVantleError(
        Format("%zu serial ports match %s; name one with --port", found.size(), portText.c_str()));
  }
  return found.front();
}

std::vector<std::string> ResolvePortOptions(const std::vector<std::string>& portTexts) {
  std::vector<TSystemPort> system;
  bool enumerated = false;
  std::vector<std::string> ports;
  for (const std::string& text : portTexts) {
    const bool adapter = StartsWith(text, kUsbPrefix) || StartsWith(text, kSerialPrefix);
    if (adapter && !enumerated) {
      system = EnumerateSystemPorts();
      enumerated = true;
    }
    for (const std::string& port : ResolvePortTexts(text, system)) {
      // Two jobs on one line would mix their blocks: a device named twice
      // is refused before any job starts.
      const auto same = [&port](const std::string& kept) { return SamePort(kept, port); };
      const auto twice = std::find_if(ports.begin(), ports.end(), same);
      if (twice != ports.end()) {
        throw CliUsageError(*twice + " and " + port +
                            " are the same port; name each board once with --port");
      }
      ports.push_back(port);
    }
  }
  return ports;
}

std::vector<std::string> PortTableLines(const std::vector<TComPortData>& list,
                                        const std::set<std::string>& busyPorts) {
  if (list.empty()) return {};
  std::vector<std::vector<std::string>> rows = {{"PORT", "DESCRIPTION", "DRIVER", ""}};
  for (const auto& e : list) {
    rows.push_back({e.PortName, e.Description.empty() ? kNoText : e.Description,
                    e.DeviceName.empty() ? kNoText : e.DeviceName,
                    busyPorts.count(e.PortName) != 0 ? "busy" : ""});
  }
  return AlignColumns(rows);
}

std::vector<std::string> ListPorts(const TVantleBootloader& engine) {
  std::set<std::string> busy;
  const auto list =
      BuildPortList(EnumerateSystemPorts(), true, [&engine, &busy](const std::string& name) {
        const bool isBusy = engine.IsPortBusy(name);
        if (isBusy) busy.insert(name);
        return isBusy;
      });
  return PortTableLines(list, busy);
}

}  // namespace vantlebld
