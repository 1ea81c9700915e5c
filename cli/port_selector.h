// Naming a port by the adapter behind it, and the `ports` command.
//
// USB serial adapters get their tty name in the order they are plugged in,
// so ttyUSB0 today may be ttyUSB1 tomorrow. A script can name the adapter
// instead: --port usb:0403:6001 (its USB vendor and product id) or
// --port serial:A1B2C3 (its USB serial number).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "engine/port_discovery.h"
#include "engine/vantlebld_comm.h"
#include "platform/port_enumerator.h"

namespace vantlebld {

// "usb:VID:PID" (1 to 4 hex digits each, either case) or "serial:NUMBER"
// (the serial number exactly): the system location (/dev/ttyUSB0) of the
// one listed port that matches. Throws EVantleError when no port or more
// than one matches, CliUsageError for a malformed usb: or serial: text.
// Anything else is a port name and comes back as given (a path or a link
// stays as written: it opens the device it leads to).
std::string ResolvePortText(const std::string& portText, const std::vector<TSystemPort>& ports);

// Every port that portText names: a port name as given, or each listed
// port that matches an adapter text (a usb: id may match several
// adapters). Throws as ResolvePortText when none matches.
std::vector<std::string> ResolvePortTexts(const std::string& portText,
                                          const std::vector<TSystemPort>& ports);

// The ports of every --port, in order and as written; the system's ports
// are only enumerated when a text names an adapter. Throws CliUsageError
// when two of them are one device (SamePort: a by-id link and the tty it
// leads to are one board).
std::vector<std::string> ResolvePortOptions(const std::vector<std::string>& portTexts);

// The table `vantlebld-cli ports` prints: a header, then one line per entry
// with its port name, description, driver ("-" when empty) and "busy" for
// the ports in busyPorts. Columns are as wide as their longest text. No
// lines at all for an empty list.
std::vector<std::string> PortTableLines(const std::vector<TComPortData>& list,
                                        const std::set<std::string>& busyPorts);

// The `ports` command: the system's ports, each probed with the engine's
// IsPortBusy, as PortTableLines.
std::vector<std::string> ListPorts(const TVantleBootloader& engine);

}  // namespace vantlebld
