// The serial ports this system knows, with what it can tell about the
// device behind each one (QSerialPortInfo and sysfs inside the .cpp).
//
// The port list of the window and of `vantlebld-cli ports` needs three facts
// per port. On this system they come from:
//
//  * port name: the kernel's name of the tty device as Qt lists it
//    (ttyUSB0, ttyACM0, ttyS0). This is the name a user types; the serial
//    port opens it as /dev/<name>, which is SystemLocation.
//  * device object name: the kernel driver that serves the port, the last
//    part of the link /sys/class/tty/<name>/device/driver ("ftdi_sio",
//    "cdc_acm", "pl2303", "serial8250"). Newer kernels put the generic
//    layers "port" and "ctrl" (bus serial-base) between a UART and its
//    controller; they say nothing about the hardware, so the first driver
//    above them is taken ("serial8250", or "serial" for a PnP UART). Empty
//    when the port has no device behind it.
//  * description: Qt's description of the device (for USB adapters the
//    product text the adapter reports, "FT232R USB UART"). When Qt has none,
//    the name of the /dev/serial/by-id link that points at the port
//    ("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"); empty when neither
//    exists, as for a built-in UART.
//
// /dev/ttyS0 to ttyS31 always exist, whether or not a UART answers behind
// them. Qt lists only those with real hardware, and that choice is kept:
// the rest could only ever fail to open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantlebld {

struct TSystemPort {
  std::string PortName;      // ttyUSB0
  std::string DeviceName;    // the serving driver: ftdi_sio; empty when none
  std::string Description;   // Qt's description, else the by-id link name; may be empty
  std::string Manufacturer;  // as the USB device reports it; may be empty
  bool HasUsbIds = false;    // VendorId and ProductId are known
  uint16_t VendorId = 0, ProductId = 0;
  std::string SerialNumber;    // the USB serial number; may be empty
  std::string SystemLocation;  // /dev/ttyUSB0
};

// The ports in the order Qt lists them. Needs a QCoreApplication.
std::vector<TSystemPort> EnumerateSystemPorts();

// The driver name for a port as described above, read below sysRoot
// ("/sys" on a running system; tests pass a tree of their own). Empty when
// the port has no device or no driver is bound.
std::string PortDriverName(const std::string& sysRoot, const std::string& portName);

// The name of the first (in name order) link in byIdDir that leads to the
// same device file as systemLocation; empty when none does or the directory
// is missing (no USB serial device plugged in).
std::string ByIdLinkName(const std::string& byIdDir, const std::string& systemLocation);

}  // namespace vantlebld
