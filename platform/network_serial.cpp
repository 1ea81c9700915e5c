#include "platform/network_serial.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "engine/user_text.h"
#include "platform/line_timing.h"

namespace vantlebld {

namespace {

using TClock = std::chrono::steady_clock;

// Telnet (RFC 854) and its COM-port control (RFC 2217).
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240;
constexpr uint8_t kOptBinary = 0, kOptSuppressGoAhead = 3, kOptComPort = 44;
constexpr uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                  kPurgeData = 12;
constexpr uint8_t kServerAnswer = 100;  // the server answers command C with C + 100
constexpr uint8_t kParityNone = 1, kNoFlowControl = 1, kDtrOn = 8, kDtrOff = 9, kRtsOn = 11,
                  kRtsOff = 12, kPurgeBoth = 3;

// Waits of the connection itself, apart from the job's own time-outs.
constexpr int32_t kConnectMs = 5000;
constexpr int32_t kAnswerMs = 3000;  // the COM-port option, the baud rate's answer

int32_t MsLeft(TClock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - TClock::now());
  return static_cast<int32_t>(std::max<int64_t>(0, left.count()));
}

std::string SystemReason(int error) {
  return std::strerror(error);
}

}  // namespace

std::optional<TNetworkAddress> ParseNetworkPortName(const std::string& name) {
  if (!name.starts_with(kNetworkPortScheme)) return std::nullopt;
  const std::string rest = name.substr(std::strlen(kNetworkPortScheme));
  size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  std::string host = rest.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return std::nullopt;
    host = host.substr(1, host.size() - 2);
  }
  const auto port = ParseNumber(rest.substr(colon + 1), TNumberForms::Decimal);
  if (!port || *port < 1 || *port > 65535) return std::nullopt;
  return TNetworkAddress{host, static_cast<int32_t>(*port)};
}

TNetworkSerialLink::~TNetworkSerialLink() {
  if (fd_ >= 0) ::close(fd_);
}

void TNetworkSerialLink::Open(const std::string& name, const TLineSettings& line) {
  Close();
  const auto address = ParseNetworkPortName(name);
  if (!address) {
    throw std::runtime_error("Communication error: \"" + name +
                             "\" is not a network port name; write rfc2217://HOST:PORT with a "
                             "port from 1 to 65535");
  }
  const std::string where = name;
  const auto fail = [&](const std::string& what) {
    throw std::runtime_error("Communication error: cannot connect to " + where + ": " + what);
  };
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address->Port);
  if (const int rc = ::getaddrinfo(address->Host.c_str(), port.c_str(), &hints, &found); rc != 0)
    fail(std::string(gai_strerror(rc)) + " (is the host name right?)");
  std::string reason = "no address";
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      reason = SystemReason(errno);
      continue;
    }
    int error = 0;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, kConnectMs);
        socklen_t size = sizeof error;
        error = ready == 0 ? ETIMEDOUT : 0;
        if (ready > 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      }
    }
    if (error != 0) {
      reason = SystemReason(error);
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) fail(reason + " (is the serial server running there, on this port?)");
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // blocks go out at once
  fd_ = fd;
  name_ = name;
  data_.clear();
  failure_.clear();
  closedByServer_ = false;
  state_ = 0;
  comPortAgreed_ = comPortRefused_ = false;
  try {
    SendOption(kWill, kOptComPort);
    SendOption(kWill, kOptBinary);
    SendOption(kDo, kOptBinary);
    SendOption(kWill, kOptSuppressGoAhead);
    SendOption(kDo, kOptSuppressGoAhead);
    const bool answered = WaitFor(
        [this] { return comPortAgreed_ || comPortRefused_ || !failure_.empty(); }, kAnswerMs);
    if (!failure_.empty()) fail(failure_);
    if (comPortRefused_) {
      fail(
          "the server refuses the COM-port control (RFC 2217); serve the port with a "
          "telnet(rfc2217) accepter");
    }
    if (!answered) {
      fail(
          "no answer to the COM-port control (RFC 2217) within 3 s; is it an RFC 2217 "
          "server?");
    }
    Configure(line);
  } catch (...) {
    Close();
    throw;
  }
}

void TNetworkSerialLink::Configure(const TLineSettings& line) {
  if (fd_ < 0) return;
  const auto b = static_cast<uint32_t>(line.Baud);
  baudAnswer_ = -1;
  SendComPort(kSetBaud, {static_cast<char>(b >> 24), static_cast<char>(b >> 16),
                         static_cast<char>(b >> 8), static_cast<char>(b)});
  SendComPort(kSetDataSize, {8});
  SendComPort(kSetParity, {static_cast<char>(kParityNone)});
  SendComPort(kSetStopSize, {static_cast<char>(line.StopBits == 2 ? 2 : 1)});
  SendComPort(kSetControl, {static_cast<char>(kNoFlowControl)});
  if (!WaitFor([this] { return baudAnswer_ >= 0 || !failure_.empty(); }, kAnswerMs)) {
    throw std::runtime_error("Communication error: " + Where() + " did not confirm " +
                             std::to_string(line.Baud) + " baud within 3 s");
  }
  if (!failure_.empty()) throw std::runtime_error("Communication error: " + failure_);
  baud_ = static_cast<int32_t>(baudAnswer_ > 0 ? baudAnswer_ : line.Baud);
}

void TNetworkSerialLink::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void TNetworkSerialLink::SendRaw(const std::string& bytes) {
  if (fd_ < 0) throw std::runtime_error("Communication error: " + Where() + " is not open");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, kWriteStallMs) > 0) continue;
      throw std::runtime_error("Communication error: " + Where() + " takes no data for 2 s");
    }
    throw std::runtime_error("Communication error: " + Where() + " closed the connection (" +
                             SystemReason(errno) + "; the serial server or its machine went away)");
  }
}

void TNetworkSerialLink::SendOption(uint8_t verb, uint8_t option) {
  SendRaw({static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)});
}

void TNetworkSerialLink::SendComPort(uint8_t command, const std::string& value) {
  std::string out = {static_cast<char>(kIac), static_cast<char>(kSb),
                     static_cast<char>(kOptComPort), static_cast<char>(command)};
  for (char c : value) {
    out += c;
    if (static_cast<uint8_t>(c) == kIac) out += c;
  }
  out += {static_cast<char>(kIac), static_cast<char>(kSe)};
  SendRaw(out);
}

void TNetworkSerialLink::Send(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  for (char c : bytes) {
    out += c;
    if (static_cast<uint8_t>(c) == kIac) out += c;  // a data byte FFh goes doubled
  }
  SendRaw(out);
}

void TNetworkSerialLink::Parse(uint8_t b) {
  enum { kData, kCommand, kOption, kSub, kSubIac };
  switch (state_) {
    case kData:
      if (b == kIac) {
        state_ = kCommand;
      } else {
        data_ += static_cast<char>(b);
      }
      return;
    case kCommand:
      state_ = kData;
      if (b == kIac) {
        data_ += static_cast<char>(b);
      } else if (b >= kWill && b <= kDont) {
        verb_ = b;
        state_ = kOption;
      } else if (b == kSb) {
        sub_.clear();
        state_ = kSub;
      }
      return;
    case kOption: {
      state_ = kData;
      const bool ours = b == kOptBinary || b == kOptSuppressGoAhead || b == kOptComPort;
      if (b == kOptComPort && verb_ == kDo) comPortAgreed_ = true;
      if (b == kOptComPort && verb_ == kDont) comPortRefused_ = true;
      // Requests for what we asked for already are the server's consent;
      // anything else is declined.
      if (!ours && verb_ == kDo) SendOption(kWont, b);
      if (!ours && verb_ == kWill) SendOption(kDont, b);
      return;
    }
    case kSub:
      if (b == kIac) {
        state_ = kSubIac;
      } else {
        sub_ += static_cast<char>(b);
      }
      return;
    default:  // kSubIac
      state_ = kSub;
      if (b == kIac) {
        sub_ += static_cast<char>(b);
        return;
      }
      state_ = kData;
      if (b == kSe && sub_.size() == 6 && static_cast<uint8_t>(sub_[0]) == kOptComPort &&
          static_cast<uint8_t>(sub_[1]) == kServerAnswer + kSetBaud) {
        baudAnswer_ = 0;
        for (size_t i = 2; i < 6; ++i)
          baudAnswer_ = baudAnswer_ << 8 | static_cast<uint8_t>(sub_[i]);
      }
      return;
  }
}

TNetworkSerialLink::TPump TNetworkSerialLink::Pump(int32_t timeoutMs) {
  if (fd_ < 0 || !failure_.empty()) return closedByServer_ ? TPump::Closed : TPump::Failed;
  pollfd p{fd_, POLLIN, 0};
  const int ready = ::poll(&p, 1, std::max(0, timeoutMs));
  if (ready < 0 && errno == EINTR) return TPump::Quiet;
  if (ready == 0) return TPump::Quiet;
  char buffer[4096];
  const ssize_t n = ready > 0 ? ::recv(fd_, buffer, sizeof buffer, 0) : -1;
  if (n == 0) {
    closedByServer_ = true;
    failure_ = Where() + " closed the connection (the serial server or its machine went away)";
    return TPump::Closed;
  }
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return TPump::Quiet;
    // A server that ends without closing in order resets the connection:
    // it has gone away all the same.
    closedByServer_ = errno == ECONNRESET || errno == EPIPE;
    failure_ = closedByServer_ ? Where() + " closed the connection (" + SystemReason(errno) +
                                     "; the serial server or its machine went away)"
                               : Where() + ": " + SystemReason(errno);
    return closedByServer_ ? TPump::Closed : TPump::Failed;
  }
  const size_t before = data_.size();
  for (ssize_t i = 0; i < n; ++i)
    Parse(static_cast<uint8_t>(buffer[i]));
  return data_.size() > before ? TPump::Data : TPump::Quiet;
}

template <class F>
bool TNetworkSerialLink::WaitFor(F check, int32_t timeoutMs) {
  // What has arrived is read even with no time to wait.
  const auto until = TClock::now() + std::chrono::milliseconds(timeoutMs);
  while (!check()) {
    const int32_t left = MsLeft(until);
    const TPump p = Pump(left);
    if (p == TPump::Closed || p == TPump::Failed) return check();
    if (left == 0 && p == TPump::Quiet) return check();
  }
  return true;
}

TReceiveResult TNetworkSerialLink::Take(size_t count) {
  TReceiveResult r;
  if (!data_.empty()) {
    const size_t n = std::min(count, data_.size());
    r.Status = TLinkStatus::Ok;
    r.Bytes = data_.substr(0, n);
    data_.erase(0, n);
  } else if (!failure_.empty()) {
    r.Status = closedByServer_ ? TLinkStatus::Vanished : TLinkStatus::Failed;
    r.Reason = "Communication error: " + failure_;
  }
  return r;
}

TReceiveResult TNetworkSerialLink::ReceiveByte(int32_t timeoutMs) {
  WaitFor([this] { return !data_.empty() || !failure_.empty(); }, timeoutMs);
  return Take(1);
}

TReceiveResult TNetworkSerialLink::Receive(int32_t timeoutMs, bool waitOutBurst) {
  if (!WaitFor([this] { return !data_.empty() || !failure_.empty(); }, timeoutMs)) return Take(0);
  if (waitOutBurst) {
    const auto until = TClock::now() + std::chrono::milliseconds(kPacketMaxCollectMs);
    while (MsLeft(until) > 0 && Pump(std::min(kPacketQuietGapMs, MsLeft(until))) == TPump::Data) {
    }
  } else {
    while (Pump(0) == TPump::Data) {
    }
  }
  return Take(data_.size());
}

TReceiveResult TNetworkSerialLink::ReceivePacket(int32_t timeoutMs) {
  return Receive(timeoutMs, true);
}

TReceiveResult TNetworkSerialLink::ReceiveWaiting(int32_t timeoutMs) {
  return Receive(timeoutMs, false);
}

std::string TNetworkSerialLink::Purge() {
  // As on a local port: only when something waits, so a clean line costs
  // no time; a broken line is left for the next receive to report.
  if (fd_ < 0 || !failure_.empty()) return {};
  while (Pump(0) == TPump::Data) {
  }
  if (data_.empty()) return {};
  SendComPort(kPurgeData, {static_cast<char>(kPurgeBoth)});
  const auto until = TClock::now() + std::chrono::milliseconds(kPurgeCollectMs);
  while (MsLeft(until) > 0) {
    const TPump p = Pump(MsLeft(until));
    if (p == TPump::Closed || p == TPump::Failed) break;
  }
  std::string discarded;
  discarded.swap(data_);
  return discarded;
}

void TNetworkSerialLink::SetControlLine(TControlLine line, bool on) {
  const uint8_t value =
      line == TControlLine::RTS ? (on ? kRtsOn : kRtsOff) : (on ? kDtrOn : kDtrOff);
  SendComPort(kSetControl, {static_cast<char>(value)});
}

void TNetworkSerialLink::Wait(int32_t ms) {
  WaitOnClock(ms);
}

}  // namespace vantlebld
