// SerialPort over QSerialPort, used without a running event loop.
//
// QSerialPort is built for signal-driven use; here every call blocks and
// drives the port itself through waitForReadyRead()/waitForBytesWritten().
// Two things the Qt calls do not tell us on their own are handled here:
//
//  * A line that has gone away (USB adapter pulled, pseudo-terminal master
//    closed) is hung up by the kernel: reads return 0 bytes and poll() flags
//    POLLHUP. QSerialPort does not recognise that: its wait calls just come
//    back empty, much as after a time-out. So the port's descriptor is
//    polled here as well, and a hang-up is reported as a lost device at
//    once instead of looking like a quiet line.
//  * QSerialPort only pulls bytes from the driver inside its wait calls, so
//    BytesWaiting() and ReceivePacket() poll the driver before they look at
//    Qt's buffer.
#include "platform/serial_port.h"

#include "platform/line_timing.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtSerialPort/QSerialPort>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace vantlebld {

namespace {

using Clock = std::chrono::steady_clock;

// How many empty read-ready reports in a row, each with a read error from
// Qt, count as a failing read rather than a spurious wake-up.
constexpr int kEmptyReadLimit = 3;

// Qt marks a port in use with a lock file named after the device. The lock
// of a port that its previous user is just closing can still be there for a
// moment (and pseudo-terminal numbers are handed out again at once), so a
// refused lock is retried briefly before the port counts as in use.
constexpr int kLockRetryMs = 200;
constexpr int kLockRetryStepMs = 10;

constexpr const char* kPermissionHint =
    " (add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again)";

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || \
                           defined(__arm__) || defined(__riscv))
// The kernel's termios2, which carries the line rate as a number; glibc's
// termios only knows the B* codes, so an arbitrary rate cannot be read back
// through it. <asm/termbits.h> cannot be included next to <termios.h>, hence
// this copy of the layout used on these architectures.
struct LinuxTermios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
#define VANTLEBLD_HAVE_TERMIOS2 1
const unsigned long kGetTermios2 = _IOR('T', 0x2A, LinuxTermios2);
#endif

std::string ToStd(const QString& s) {
  return s.toStdString();
}

// Where QSerialPort will look for a port given by name: a path is used as
// given, a bare name lives in /dev.
std::string SystemLocation(const std::string& name) {
  if (name.starts_with('/') || name.starts_with("./") || name.starts_with("../")) return name;
  return "/dev/" + name;
}

int Remaining(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(left);
}

}  // namespace

static_assert(SerialPort::kErrDeviceGone == QSerialPort::ResourceError);

struct SerialPort::Impl {
  // What the driver side of the line looks like right now.
  enum class Line { kQuiet, kData, kGone, kFailed };

  QSerialPort port;
  int lastError = kErrNone;
  std::string lastErrorDesc = "OK";
  std::string deviceName;
  int32_t actualBaud = 0;
  // Set with Line::kGone / kFailed: what went wrong, for the caller's error.
  int lineErrorCode = 0;
  std::string lineErrorDesc;

  void Succeed() {
    lastError = kErrNone;
    lastErrorDesc = "OK";
  }

  void Fail(int code, const std::string& desc) {
    lastError = code;
    lastErrorDesc = desc;
  }

  // The error Qt recorded for the last call, with the system's reason.
  void FailFromQt(int savedErrno, const std::string& context = {}) {
    int code = static_cast<int>(port.error());
    if (code == QSerialPort::NoError) code = QSerialPort::UnknownError;
    std::string desc = ToStd(port.errorString());
    if ((desc.empty() || desc == "Unknown error") && savedErrno != 0)
      desc = std::strerror(savedErrno);
    Fail(code, context + desc);
  }

  void FailLine() { Fail(lineErrorCode, lineErrorDesc); }

  bool CheckOpen() {
    if (port.isOpen()) return true;
    Fail(kErrNotOpen, "Port not open");
    return false;
  }

  Line Gone() {
    lineErrorCode = QSerialPort::ResourceError;
    lineErrorDesc = "Device disconnected: the line was hung up";
    return Line::kGone;
  }

  // Waits up to timeoutMs for the descriptor to become readable and moves
  // what the driver holds into Qt's buffer. kData means new bytes arrived.
  Line PollDriver(int timeoutMs, int& emptyReads) {
    pollfd pfd{};
    pfd.fd = port.handle();
    pfd.events = POLLIN;
    const int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) return Line::kQuiet;
      lineErrorCode = QSerialPort::ResourceError;
      lineErrorDesc = std::strerror(errno);
      return Line::kFailed;
    }
    if (ready == 0) return Line::kQuiet;
    if (pfd.revents & POLLNVAL) {
      lineErrorCode = QSerialPort::ResourceError;
      lineErrorDesc = std::strerror(EBADF);
      return Line::kFailed;
    }
    if (pfd.revents & POLLIN) {
      const qint64 before = port.bytesAvailable();
      port.clearError();
      port.waitForReadyRead(0);
      if (port.bytesAvailable() > before) {
        emptyReads = 0;
        return Line::kData;
      }
      if (!(pfd.revents & (POLLHUP | POLLERR))) {
        // Readable but nothing came: a spurious wake-up, unless it keeps
        // happening with Qt reporting a read error.
        const auto err = port.error();
        if (err != QSerialPort::NoError && err != QSerialPort::TimeoutError &&
            ++emptyReads >= kEmptyReadLimit) {
          lineErrorCode = static_cast<int>(err);
          lineErrorDesc = ToStd(port.errorString());
          return Line::kFailed;
        }
        return Line::kQuiet;
      }
    }
    if (pfd.revents & (POLLHUP | POLLERR)) return Gone();
    return Line::kQuiet;
  }

  // Moves everything the driver already holds into Qt's buffer.
  Line Drain() {
    int emptyReads = 0;
    Line seen = Line::kQuiet;
    for (;;) {
      const Line line = PollDriver(0, emptyReads);
      if (line == Line::kGone || line == Line::kFailed) return line;
      if (line == Line::kQuiet) return seen;
      seen = Line::kData;
    }
  }

  // Waits until at least one byte is in Qt's buffer, the deadline passes
  // (kQuiet) or the line fails.
  Line WaitForInput(Clock::time_point deadline) {
    int emptyReads = 0;
    for (;;) {
      if (port.bytesAvailable() > 0) return Line::kData;
      const Line line = PollDriver(Remaining(deadline), emptyReads);
      if (line == Line::kGone || line == Line::kFailed) return line;
      if (line == Line::kData) return Line::kData;
      if (Clock::now() >= deadline) return Line::kQuiet;
    }
  }

  // True when the descriptor reports a hang-up right now.
  bool HungUp() {
    pollfd pfd{};
    pfd.fd = port.handle();
    pfd.events = POLLIN | POLLOUT;
    if (::poll(&pfd, 1, 0) <= 0) return false;
    return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
};

SerialPort::SerialPort() : d_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
  if (d_->port.isOpen()) d_->port.close();
}

int SerialPort::LastError() const {
  return d_->lastError;
}
const std::string& SerialPort::LastErrorDesc() const {
  return d_->lastErrorDesc;
}
bool SerialPort::Active() const {
  return d_->port.isOpen();
}
const std::string& SerialPort::DeviceName() const {
  return d_->deviceName;
}
int32_t SerialPort::ActualBaud() const {
  return d_->actualBaud;
}

void SerialPort::Open(const std::string& name) {
  if (d_->port.isOpen()) d_->port.close();
  d_->deviceName = name;
  d_->actualBaud = 0;
  const std::string path = SystemLocation(name);

  // A missing or forbidden device is reported from the system's own answer.
  // Qt would take its lock file first, and two programs probing the same
  // missing name at once would then see "in use" instead of the reason.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int savedErrno = errno;
    int code = QSerialPort::OpenError;
    if (savedErrno == ENOENT || savedErrno == ENOTDIR || savedErrno == ENODEV)
      code = QSerialPort::DeviceNotFoundError;
    else if (savedErrno == EACCES || savedErrno == EPERM)
      code = QSerialPort::PermissionError;
    std::string desc = "Cannot open " + path + ": " + std::strerror(savedErrno);
    if (savedErrno == EACCES) desc += kPermissionHint;
    return d_->Fail(code, desc);
  }

  d_->port.setPortName(QString::fromStdString(name));
  const auto lockRetryUntil = Clock::now() + std::chrono::milliseconds(kLockRetryMs);
  for (;;) {
    d_->port.clearError();
    errno = 0;
    if (d_->port.open(QIODevice::ReadWrite)) break;
    const int savedErrno = errno;
    int code = static_cast<int>(d_->port.error());
    if (code == QSerialPort::NoError) code = QSerialPort::OpenError;
    std::string reason = ToStd(d_->port.errorString());
    const bool lockRefused =
        code == QSerialPort::PermissionError && reason.find("lock") != std::string::npos;
    if (lockRefused && Clock::now() < lockRetryUntil) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kLockRetryStepMs));
      continue;
    }
    if ((reason.empty() || reason == "Unknown error") && savedErrno != 0)
      reason = std::strerror(savedErrno);
    std::string desc = "Cannot open " + path + ": " + reason;
    if (reason.find(std::strerror(EACCES)) != std::string::npos)
      desc += kPermissionHint;
    else if (lockRefused || reason.find(std::strerror(EBUSY)) != std::string::npos)
      desc += " (the port is in use by another program)";
    return d_->Fail(code, desc);
  }
  // Qt may record a soft failure (e.g. exclusive mode refused) while the
  // open itself succeeded; the port is usable, so it does not count.
  d_->port.clearError();
  // Qt's buffer stays unbounded: a capped one stops reading from the
  // driver once it is full, and replies are lost.
  d_->port.setReadBufferSize(0);
  d_->Succeed();
}

void SerialPort::Configure(int32_t baud, bool twoStopBits) {
  if (!d_->CheckOpen()) return;
  if (baud <= 0)
    return d_->Fail(QSerialPort::UnsupportedOperationError,
                    "Unsupported baud rate: " + std::to_string(baud));
  // Data bits, parity and flow control stay as the open set them. The rate
  // goes last: it may be set through termios2, and the stop-bit call keeps
  // whatever rate is in force.
  QSerialPort& port = d_->port;
  port.clearError();
  errno = 0;
  if (!port.setStopBits(twoStopBits ? QSerialPort::TwoStop : QSerialPort::OneStop))
    return d_->FailFromQt(errno, "Cannot set stop bits: ");
  port.clearError();
  errno = 0;
  if (!port.setBaudRate(baud)) return d_->FailFromQt(errno, "Cannot set baud rate: ");
  d_->Succeed();
}

void SerialPort::ReadState() {
  if (!d_->CheckOpen()) return;
  termios tio{};
  if (::tcgetattr(d_->port.handle(), &tio) != 0) {
    const int savedErrno = errno;
    return d_->Fail(savedErrno == EIO ? QSerialPort::ResourceError : QSerialPort::UnknownError,
                    std::strerror(savedErrno));
  }
  // Qt reports the rate it was asked for; the driver's own record is what
  // is really in force, so it is preferred where it can be read.
  int32_t baud = d_->port.baudRate();
#ifdef VANTLEBLD_HAVE_TERMIOS2
  LinuxTermios2 tio2{};
  if (::ioctl(d_->port.handle(), kGetTermios2, &tio2) == 0 && tio2.c_ospeed > 0)
    baud = static_cast<int32_t>(tio2.c_ospeed);
#endif
  d_->actualBaud = baud;
  d_->Succeed();
}

void SerialPort::Close() {
  if (d_->port.isOpen()) d_->port.close();
  d_->Succeed();
}

int32_t SerialPort::SendBuffer(const std::string& bytes) {
  if (!d_->CheckOpen()) return 0;
  QSerialPort& port = d_->port;
  const auto total = static_cast<qint64>(bytes.size());
  if (total == 0) {
    d_->Succeed();
    return 0;
  }
  if (d_->HungUp()) {
    d_->Gone();
    d_->FailLine();
    return 0;
  }
  port.clearError();
  errno = 0;
  if (port.write(bytes.data(), total) != total) {
    d_->FailFromQt(errno);
    return 0;
  }

  auto deadline = Clock::now() + std::chrono::milliseconds(kWriteStallMs);
  while (port.bytesToWrite() > 0) {
    const qint64 pending = port.bytesToWrite();
    port.clearError();
    errno = 0;
    const bool moved = port.waitForBytesWritten(Remaining(deadline));
    const int savedErrno = errno;
    if (port.bytesToWrite() < pending)
      deadline = Clock::now() + std::chrono::milliseconds(kWriteStallMs);
    if (moved) continue;

    const auto sent = static_cast<int32_t>(total - port.bytesToWrite());
    const auto err = port.error();
    if (d_->HungUp()) {
      port.clear(QSerialPort::Output);
      d_->Gone();
      d_->FailLine();
      return sent;
    }
    if (err != QSerialPort::NoError && err != QSerialPort::TimeoutError) {
      port.clear(QSerialPort::Output);
      d_->FailFromQt(savedErrno);
      return sent;
    }
    if (Clock::now() >= deadline) {
      // Drop the rest so it does not go out later, unasked.
      port.clear(QSerialPort::Output);
      d_->Fail(kErrTimeout,
               "Timeout: " + std::to_string(sent) + " of " + std::to_string(total) + " bytes sent");
      return sent;
    }
  }
  d_->Succeed();
  return static_cast<int32_t>(total);
}

int32_t SerialPort::BytesWaiting() {
  if (!d_->CheckOpen()) return 0;
  const Impl::Line line = d_->Drain();
  if (line == Impl::Line::kGone || line == Impl::Line::kFailed) {
    d_->FailLine();
    return static_cast<int32_t>(d_->port.bytesAvailable());
  }
  d_->Succeed();
  return static_cast<int32_t>(d_->port.bytesAvailable());
}

uint8_t SerialPort::ReceiveByte(int32_t timeoutMs) {
  if (!d_->CheckOpen()) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  const Impl::Line line = d_->WaitForInput(deadline);
  if (line == Impl::Line::kGone || line == Impl::Line::kFailed) {
    d_->FailLine();
    return 0;
  }
  char c = 0;
  if (line != Impl::Line::kData || !d_->port.getChar(&c)) {
    d_->Fail(kErrTimeout, "Timeout");
    return 0;
  }
  d_->Succeed();
  return static_cast<uint8_t>(c);
}

std::string SerialPort::ReceivePacket(int32_t timeoutMs) {
  return Receive(timeoutMs, true);
}

std::string SerialPort::ReceiveWaiting(int32_t timeoutMs) {
  return Receive(timeoutMs, false);
}

std::string SerialPort::Receive(int32_t timeoutMs, bool wholeBurst) {
  if (!d_->CheckOpen()) return {};
  QSerialPort& port = d_->port;
  Impl::Line line = d_->Drain();
  if (line == Impl::Line::kGone || line == Impl::Line::kFailed) {
    d_->FailLine();
    return {};
  }
  if (port.bytesAvailable() == 0) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    line = d_->WaitForInput(deadline);
    if (line == Impl::Line::kGone || line == Impl::Line::kFailed) {
      d_->FailLine();
      return {};
    }
    if (line != Impl::Line::kData) {
      // Nothing arrived: a quiet line, not a broken one.
      d_->Fail(kErrTimeout, "Timeout");
      return {};
    }
    // Collect the rest of the burst, or only what the driver holds by now.
    // A failure here is left for the next call to report; the bytes that
    // did arrive are returned.
    if (!wholeBurst) {
      d_->Drain();
      const QByteArray data = port.readAll();
      d_->Succeed();
      return std::string(data.constData(), static_cast<size_t>(data.size()));
    }
    const auto stop = Clock::now() + std::chrono::milliseconds(kPacketMaxCollectMs);
    int emptyReads = 0;
    while (Clock::now() < stop) {
      const int wait = std::min(kPacketQuietGapMs, Remaining(stop));
      if (d_->PollDriver(wait, emptyReads) != Impl::Line::kData) break;
    }
  }
  const QByteArray data = port.readAll();
  d_->Succeed();
  return std::string(data.constData(), static_cast<size_t>(data.size()));
}

void SerialPort::Purge() {
  if (!d_->CheckOpen()) return;
  QSerialPort& port = d_->port;
  port.clearError();
  errno = 0;
  if (!port.clear(QSerialPort::AllDirections)) {
    const int savedErrno = errno;
    if (d_->HungUp()) {
      d_->Gone();
      return d_->FailLine();
    }
    return d_->FailFromQt(savedErrno);
  }
  // Qt empties its own buffers in clear(); anything it still holds, or that
  // the driver handed over meanwhile, goes too.
  port.readAll();
  d_->Succeed();
}

namespace {

// A modem line the device does not have (a pseudo-terminal, some adapters)
// is refused with ENOTTY/EINVAL, which Qt reports as an unsupported
// operation. That is no fault of the link, so it does not count as one.
bool ModemLineRefused(const QSerialPort& port) {
  return port.error() == QSerialPort::UnsupportedOperationError;
}

}  // namespace

void SerialPort::SetDTR(bool on) {
  if (!d_->CheckOpen()) return;
  d_->port.clearError();
  errno = 0;
  if (!d_->port.setDataTerminalReady(on) && !ModemLineRefused(d_->port))
    return d_->FailFromQt(errno);
  d_->port.clearError();
  d_->Succeed();
}

void SerialPort::SetRTS(bool on) {
  if (!d_->CheckOpen()) return;
  d_->port.clearError();
  errno = 0;
  if (!d_->port.setRequestToSend(on) && !ModemLineRefused(d_->port)) return d_->FailFromQt(errno);
  d_->port.clearError();
  d_->Succeed();
}

}  // namespace vantlebld
