// The port list that the window's port box and `vantlebld-cli ports` offer:
// which ports, in which order, how a busy port is shown, and what is kept
// per entry. The system's ports come in as TSystemPort records
// (platform/port_enumerator.h, a plain header); nothing here touches the
// system, so a fake list serves as well as the real one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/port_enumerator.h"

namespace vantlebld {

// One entry of the port list.
struct TComPortData {
  std::string PortName;     // the system's name: ttyUSB0
  std::string DisplayName;  // the text shown: PortName, in lower case when found busy
  std::string DeviceName;   // the serving driver (ftdi_sio); empty when none
  std::string Description;  // the device's description; empty when none
};

// The list's order, as a less-than: the shorter name first, so ttyS2 comes
// before ttyS10 and COM2 before COM10 (names end in a number that is not
// zero-padded). Names of equal length go by the current locale's collation
// (strcoll), case-sensitive; where the locale calls two different names
// equal, byte order decides, so only identical names are ever equivalent.
bool ComparePortNames(const std::string& a, const std::string& b);

// Builds the list from the system's ports: names sorted with
// ComparePortNames, a name listed twice kept once. With detectBusy each
// port is probed with isBusy (opening every port makes this slower) and a
// busy one shows in lower case; an empty isBusy probes nothing. DeviceName
// and Description come from the first record with that name.
std::vector<TComPortData> BuildPortList(const std::vector<TSystemPort>& ports, bool detectBusy,
                                        const std::function<bool(const std::string&)>& isBusy);

// One line "PortName=Description" per port, in the order given.
std::vector<std::string> EnumPortDevices(const std::vector<TSystemPort>& ports);

// The status-bar text of a picked entry: "%s  =  %s  =  %s " with
// PortName, Description and DeviceName.
std::string PortStatusText(const TComPortData& entry);

// The entry to select after a rebuild: the one whose DisplayName equals the
// text the box held before, ignoring case (a port shown as com4 while busy
// is found again as COM4); else the first; -1 for an empty list.
int SelectAfterRebuild(const std::vector<TComPortData>& list, const std::string& previousText);

// The port name to open for the box's text. A picked entry shows its
// DisplayName, which is lower case when the port was busy, and system port
// names are case-sensitive: so a text equal to an entry's DisplayName opens
// that entry's PortName; failing an exact match, one equal ignoring case
// (the match SelectAfterRebuild uses). Anything else (a path, a port the
// list does not know) is opened as typed.
std::string ResolvePortName(const std::vector<TComPortData>& list, const std::string& shown);

}  // namespace vantlebld
