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

// Where the serial port looks for a port given by name: a path ("/", "./",
// "../") as given, a bare name (ttyUSB0) inside devDir.
std::string PortPath(const std::string& name, const std::string& devDir = "/dev");

// Whether a port name leads to a file that is there now (links followed).
bool PortExists(const std::string& name, const std::string& devDir = "/dev");

// Whether two port names open one device: the same path, or both there
// and, links and "." followed, one real path or one file (device and inode
// numbers). So ttyUSB0,
// /dev/ttyUSB0 and a /dev/serial/by-id or udev link to it are one port;
// two missing ports are one only when their paths are. The window's port
// box and --port both decide "same port" here.
bool SamePort(const std::string& a, const std::string& b, const std::string& devDir = "/dev");

// The port box after a rebuild of the list.
struct TPortChoice {
  int Index = -1;    // the entry to select; -1: none
  std::string Text;  // the box's text
  std::string Note;  // the log line when the named port was replaced; else empty
};

// What the box holds after a rebuild, given the text it held before:
//  * an entry whose DisplayName equals it ignoring case: that entry, as
//    shown (a port shown as com4 while busy is found again as COM4);
//  * a port that is there: the text as the user wrote it (a path, a by-id
//    link), with the entry of the same device selected when one is listed;
//  * a port that is gone: the first entry, and Note says
//    "Port OLD is gone; using NEW instead"; an empty text takes the first
//    entry without a note;
//  * an empty list: the text stays, as nothing can replace it.
TPortChoice ChoosePortAfterRebuild(const std::vector<TComPortData>& list,
                                   const std::string& previousText,
                                   const std::string& devDir = "/dev");

// The port name to open for the box's text. A picked entry shows its
// DisplayName, which is lower case when the port was busy, and system port
// names are case-sensitive: so a text equal to an entry's DisplayName opens
// that entry's PortName; failing an exact match, one equal ignoring case
// (the match ChoosePortAfterRebuild makes first). Anything else (a path, a
// port the list does not know) is opened as typed.
std::string ResolvePortName(const std::vector<TComPortData>& list, const std::string& shown);

}  // namespace vantlebld
