// Ports named by USB id or serial number, and the ports table.
#include "cli/port_selector.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "cli/cli_options.h"
#include "engine/format.h"

namespace vantlebld {

namespace {

constexpr const char* kUsbPrefix = "usb:";
constexpr const char* kSerialPrefix = "serial:";
constexpr size_t kMaxIdDigits = 4;  // USB ids are 16 bits
constexpr const char* kColumnGap = "  ";
constexpr const char* kNoText = "-";
// Port, description, driver; "busy" follows without a column of its own.
constexpr size_t kColumns = 3;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::optional<uint16_t> ParseUsbId(const std::string& text) {
  if (text.empty() || text.size() > kMaxIdDigits) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(c) != 0; }))
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

std::string TheOne(const std::vector<std::string>& found, const std::string& portText,
                   const std::string& noneMessage) {
  if (found.empty()) throw EVantleError(noneMessage);
  if (found.size() > 1) {
    throw EVantleError(
        Format("%zu serial ports match %s; name one with --port", found.size(), portText.c_str()));
  }
  return found.front();
}

}  // namespace

std::string ResolvePortText(const std::string& portText, const std::vector<TSystemPort>& ports) {
  if (StartsWith(portText, kUsbPrefix)) {
    const std::string ids = portText.substr(std::string(kUsbPrefix).size());
    const size_t colon = ids.find(':');
    const auto vid = colon == std::string::npos ? std::nullopt : ParseUsbId(ids.substr(0, colon));
    const auto pid = colon == std::string::npos ? std::nullopt : ParseUsbId(ids.substr(colon + 1));
    if (!vid || !pid)
      throw CliUsageError("--port usb: takes two hex ids, as usb:0403:6001, not \"" + portText +
                          "\"");
    const auto found = MatchingLocations(ports, [&](const TSystemPort& p) {
      return p.HasUsbIds && p.VendorId == *vid && p.ProductId == *pid;
    });
    return TheOne(found, portText, Format("no serial port with USB id %04X:%04X", *vid, *pid));
  }
  if (StartsWith(portText, kSerialPrefix)) {
    const std::string number = portText.substr(std::string(kSerialPrefix).size());
    if (number.empty()) throw CliUsageError("--port serial: takes a serial number");
    const auto found =
        MatchingLocations(ports, [&](const TSystemPort& p) { return p.SerialNumber == number; });
    return TheOne(found, portText, "no serial port with serial number " + number);
  }
  return portText;
}

std::string ResolvePortOption(const std::string& portText) {
  if (!StartsWith(portText, kUsbPrefix) && !StartsWith(portText, kSerialPrefix)) return portText;
  return ResolvePortText(portText, EnumerateSystemPorts());
}

std::vector<std::string> PortTableLines(const std::vector<TComPortData>& list,
                                        const std::set<std::string>& busyPorts) {
  if (list.empty()) return {};
  using TRow = std::array<std::string, kColumns>;
  std::vector<TRow> rows = {{"PORT", "DESCRIPTION", "DRIVER"}};
  for (const auto& e : list) {
    rows.push_back({e.PortName, e.Description.empty() ? kNoText : e.Description,
                    e.DeviceName.empty() ? kNoText : e.DeviceName});
  }
  std::array<size_t, kColumns> width{};
  for (const auto& row : rows) {
    for (size_t c = 0; c < kColumns; ++c)
      width[c] = std::max(width[c], row[c].size());
  }
  std::vector<std::string> lines;
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (size_t c = 0; c < kColumns; ++c) {
      line += rows[r][c];
      if (c + 1 < kColumns) line += std::string(width[c] - rows[r][c].size(), ' ') + kColumnGap;
    }
    // Row 0 is the header; entry r - 1 belongs to row r.
    if (r > 0 && busyPorts.count(list[r - 1].PortName) != 0)
      line += std::string(width[kColumns - 1] - rows[r][kColumns - 1].size(), ' ') + kColumnGap +
              "busy";
    lines.push_back(line);
  }
  return lines;
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
