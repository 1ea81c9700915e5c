// The serial port behind the serial link (platform/links.h).
//
// A plain C++ face over the system's serial driver (QSerialPort inside the
// .cpp), so that the engine never sees Qt. It never throws: every operation
// records its outcome in LastError()/LastErrorDesc() (kErrNone and "OK" on
// success, otherwise a code and the system's reason) and the caller decides
// what a failure means. A receive that runs out of time is a time-out, not
// a broken line: it records kErrTimeout and returns no bytes.
//
// The line carries 8 data bits, no parity and no flow control, as every
// open leaves it; only the rate and the stop bits are set.
//
// A QCoreApplication must exist while a port is used (the program's main()
// creates it); no event loop needs to run, every call blocks on its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantlebld {

class SerialPort {
 public:
  // Error codes recorded in LastError(). The first ones follow the driver's
  // error kinds; the time-out has a code of its own so callers can tell a
  // quiet line from a broken one.
  static constexpr int kErrNone = 0;
  static constexpr int kErrTimeout = 9997;
  static constexpr int kErrNotOpen = 9998;
  // The driver's own code for a device that went away (hung up, unplugged).
  static constexpr int kErrDeviceGone = 6;

  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  int LastError() const;
  const std::string& LastErrorDesc() const;
  bool Active() const;
  // The name the port was opened with ("" when never opened).
  const std::string& DeviceName() const;

  // Opens a port for exclusive use, by bare name ("ttyUSB0") or full path
  // ("/dev/ttyUSB0", "/dev/pts/3"), at 8 data bits, no parity and no flow
  // control, whatever its previous user left set.
  void Open(const std::string& name);
  void Configure(int32_t baud, bool twoStopBits);
  // Reads the line settings now in force; ActualBaud() then holds the rate.
  void ReadState();
  int32_t ActualBaud() const;
  void Close();

  // Writes all bytes; returns how many were written.
  int32_t SendBuffer(const std::string& bytes);
  int32_t BytesWaiting();
  // The next byte, waiting at most timeoutMs; on time-out returns 0 and
  // LastError() is kErrTimeout.
  uint8_t ReceiveByte(int32_t timeoutMs);
  // Everything already received or, when nothing is waiting, whatever
  // arrives within timeoutMs (empty on time-out).
  std::string ReceivePacket(int32_t timeoutMs);
  // The same without collecting the rest of a burst: what has arrived by
  // the moment the first byte is there. A terminal shows a continuous
  // stream as it comes.
  std::string ReceiveWaiting(int32_t timeoutMs);
  // Discards unsent output and unread input.
  void Purge();
  void SetDTR(bool on);
  void SetRTS(bool on);

 private:
  std::string Receive(int32_t timeoutMs, bool wholeBurst);
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace vantlebld
