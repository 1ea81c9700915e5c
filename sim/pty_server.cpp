#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace vantlebld {

namespace {

using std::chrono::milliseconds;

// One start bit, eight data bits, one stop bit.
constexpr int64_t kBitsPerByte = 10;
// While no slave fd is open the master reports a hang-up at once; this is
// how often it looks again whether the host has opened the port.
constexpr int kSlaveRecheckMs = 10;
// A host that reads nothing fills the line's buffer; try again this much
// later.
constexpr auto kWriteRetry = milliseconds(10);
constexpr size_t kReadChunk = 512;
// The program's stream is taken off the clock in pieces of at most this
// many bytes, and at most once a tick: a fast stream goes out in chunks of
// what fell due since the last one, a slow one byte by byte as it falls due.
constexpr size_t kStreamChunk = 16384;
constexpr auto kStreamTick = milliseconds(1);

std::runtime_error SystemError(const char* what) {
  return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Waits for the descriptors with a time-out of nanosecond precision: a
// paced line hands bytes on every 87 us at 115200 baud, and poll()'s whole
// milliseconds would make every answer late. A negative time-out waits
// without end.
int PollFor(pollfd* fds, nfds_t count, std::chrono::steady_clock::duration timeout) {
  if (timeout < timeout.zero()) return ::ppoll(fds, count, nullptr, nullptr);
  const auto ns =
      std::min<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count(),
                        int64_t{60} * 1000 * 1000 * 1000);
  const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  return ::ppoll(fds, count, &ts, nullptr);
}

}  // namespace

TPtyServer::TPtyServer(TVirtualPic& pic, int32_t baudPace) : pic_(pic) {
  if (baudPace > 0) {
    byteTime_ = std::chrono::duration_cast<TClock::duration>(
        std::chrono::nanoseconds(kBitsPerByte * 1'000'000'000 / baudPace));
  }
  if (RunsProgram(pic.Options()) && pic.Options().StreamRate > 0)
    stream_.emplace(pic.Options().StreamRate);
}

TPtyServer::~TPtyServer() {
  Stop();
  CloseMaster();
  if (wake_ >= 0) ::close(wake_);
}

std::string TPtyServer::Open() {
  if (master_ >= 0) throw std::logic_error("the pseudo-terminal is already open");
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) throw SystemError("posix_openpt");
  char name[128] = {};
  termios raw{};
  const auto fail = [this](const char* what) {
    const auto error = SystemError(what);
    CloseMaster();
    return error;
  };
  if (::grantpt(master_) != 0) throw fail("grantpt");
  if (::unlockpt(master_) != 0) throw fail("unlockpt");
  if (::ptsname_r(master_, name, sizeof name) != 0) throw fail("ptsname");
  // The line settings of the pair live with the slave; setting them through
  // the master makes the line raw before the host ever opens it.
  if (::tcgetattr(master_, &raw) != 0) throw fail("tcgetattr");
  ::cfmakeraw(&raw);
  if (::tcsetattr(master_, TCSANOW, &raw) != 0) throw fail("tcsetattr");
  const int flags = ::fcntl(master_, F_GETFL);
  if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) throw fail("fcntl");
  if (RunsProgram(pic_.Options())) {
    // Until the host first opens the slave, the master does not look hung
    // up and keeps what is written for the host's first open. Opening and
    // closing the slave once makes a port nobody has opened yet look like
    // one the host has closed, so the program's bytes are lost until then.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) throw fail("open");
    ::close(slave);
  }
  if (wake_ < 0) wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) throw fail("eventfd");
  slavePath_ = name;
  reset_ = TClock::now();
  lastHandOver_ = reset_ - byteTime_;
  lineFreeAt_ = reset_;
  return slavePath_;
}

void TPtyServer::Run() {
  if (master_ < 0) throw std::logic_error("TPtyServer::Run without an open pseudo-terminal");
  const bool program = RunsProgram(pic_.Options());
  bool gotByte = false;
  bool slaveAbsent = false;
  while (!stopRequested_.load()) {
    const auto now = TClock::now();
    if (SendDue(now)) {
      end_ = TEnd::HungUp;
      return;
    }
    // Answers and echoes take the line first; the stream gets the rest.
    if (program) FeedProgram(now, slaveAbsent);
    if (!streamOut_.empty()) WriteStream();
    TClock::duration timeout =
        out_.empty() ? TClock::duration(-1) : std::max(NextSend() - now, TClock::duration::zero());
    if (program) {
      const TClock::duration wait = ProgramWait(now);
      if (wait >= wait.zero()) timeout = timeout < timeout.zero() ? wait : std::min(timeout, wait);
    }
    if (slaveAbsent) {
      const TClock::duration recheck = milliseconds(kSlaveRecheckMs);
      timeout = timeout < timeout.zero() ? recheck : std::min(timeout, recheck);
      pollfd wake{wake_, POLLIN, 0};
      if (PollFor(&wake, 1, timeout) < 0 && errno != EINTR) throw SystemError("poll");
      if (!program) {
        slaveAbsent = false;
        continue;
      }
      // The program sends on its own: look whether the host is back before
      // anything more goes to the line.
      timeout = TClock::duration::zero();
    }
    // A stream the master could not take waits for room there.
    const auto events = static_cast<short>(POLLIN | (streamOut_.empty() ? 0 : POLLOUT));
    pollfd fds[2] = {{master_, events, 0}, {wake_, POLLIN, 0}};
    if (PollFor(fds, 2, timeout) < 0) {
      if (errno == EINTR) continue;
      throw SystemError("poll");
    }
    bool closed = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
    if (fds[0].revents & POLLIN) {
      char buf[kReadChunk];
      for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
          gotByte = true;
          TakeBytes(buf, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
          continue;
        } else {
          // EIO: no slave fd open any more.
          if (n == 0 || errno != EAGAIN) closed = true;
          break;
        }
      }
    }
    if (program) {
      // The host may come back any time; serving ends only on Stop().
      if (closed) LoseLine(!slaveAbsent);
      slaveAbsent = closed;
    } else if (closed) {
      // Between a port probe (opened and closed without a byte) and the
      // job the line looks hung up too; only a line that carried bytes
      // ends the job.
      if (gotByte) {
        end_ = TEnd::HostClosed;
        return;
      }
      slaveAbsent = true;
    }
  }
  end_ = TEnd::Stopped;
}

void TPtyServer::TakeBytes(const char* data, size_t count) {
  const auto arrival = TClock::now();
  for (size_t i = 0; i < count; ++i) {
    auto handOver = arrival;
    if (byteTime_ > byteTime_.zero()) handOver = std::max(arrival, lastHandOver_ + byteTime_);
    lastHandOver_ = handOver;
    const int64_t nowMs = std::chrono::duration_cast<milliseconds>(handOver - reset_).count();
    for (const TSimAnswer& a : pic_.Receive(static_cast<uint8_t>(data[i]), nowMs))
      Schedule(a, handOver);
  }
}

void TPtyServer::Schedule(const TSimAnswer& answer, TClock::time_point from) {
  const auto due = from + milliseconds(answer.DelayMs);
  // Keep the queue in time order; answers due at the same time stay in the
  // order the PIC gave them.
  auto at = std::upper_bound(out_.begin(), out_.end(), due,
                             [](TClock::time_point t, const TOutByte& o) { return t < o.Due; });
  if (answer.HangUp) {
    out_.insert(at, TOutByte{due, 0, true});
    return;
  }
  for (char c : answer.Bytes) {
    at = out_.insert(at, TOutByte{due, c, false});
    ++at;
  }
}

TPtyServer::TClock::time_point TPtyServer::NextSend() const {
  const TOutByte& next = out_.front();
  auto at = next.Due;
  if (!next.HangUp) at = std::max({at, lineFreeAt_, retryAt_});
  return at;
}

int64_t TPtyServer::MsSinceReset(TClock::time_point t) const {
  return std::chrono::duration_cast<milliseconds>(t - reset_).count();
}

void TPtyServer::FeedProgram(TClock::time_point now, bool slaveAbsent) {
  if (!pic_.ProgramRunning()) pic_.Advance(MsSinceReset(now));
  if (!stream_) return;
  if (!pic_.ProgramRunning()) {
    // Reset into the bootloader: what the program had not sent yet is gone.
    streamOut_.clear();
    return;
  }
  if (streamRun_ != pic_.ProgramRuns()) {
    // A program started afresh sends its stream from the beginning.
    streamRun_ = pic_.ProgramRuns();
    stream_.emplace(pic_.Options().StreamRate);
  }
  if (!stream_->Started()) stream_->Start(now);
  if (slaveAbsent) {
    stream_->Drop(now);
    return;
  }
  // A host that does not read leaves the last bytes waiting for room in the
  // master. Nothing more is taken off the clock until they are gone: the
  // stream falls behind the clock rather than pile up here without bound.
  if (!streamOut_.empty()) return;
  size_t room = kStreamChunk;
  if (byteTime_ > byteTime_.zero()) {
    if (lineFreeAt_ > now) return;
    room = std::min(room, static_cast<size_t>((now - lineFreeAt_) / byteTime_) + 1);
  }
  streamOut_ = stream_->Take(now, room);
  if (byteTime_ > byteTime_.zero() && !streamOut_.empty()) {
    const auto onLine = byteTime_ * static_cast<int64_t>(streamOut_.size());
    lineFreeAt_ = std::max(lineFreeAt_, now - onLine) + onLine;
  }
}

void TPtyServer::WriteStream() {
  size_t sent = 0;
  while (sent < streamOut_.size()) {
    const ssize_t n = ::write(master_, streamOut_.data() + sent, streamOut_.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // EAGAIN: the host is not reading; the poll waits for room. Anything
      // else: the host has gone, and the poll sees its hang-up.
      break;
    }
  }
  streamed_ += sent;
  streamOut_.erase(0, sent);
}

TPtyServer::TClock::duration TPtyServer::ProgramWait(TClock::time_point now) const {
  constexpr TClock::duration kNoWait(-1);
  if (!pic_.ProgramRunning()) {
    const int64_t startMs = pic_.ProgramStartMs();
    if (startMs < 0) return kNoWait;
    return std::max(reset_ + milliseconds(startMs) - now, TClock::duration::zero());
  }
  if (!stream_ || !streamOut_.empty()) return kNoWait;
  if (!stream_->Started()) return TClock::duration::zero();
  auto at = stream_->NextDue();
  if (at > now) at = std::max(at, now + kStreamTick);
  if (byteTime_ > byteTime_.zero()) at = std::max(at, lineFreeAt_);
  return std::max(at - now, TClock::duration::zero());
}

void TPtyServer::LoseLine(bool hostJustLeft) {
  pic_.HostClosed();
  // Nothing is echoed or streamed to a port nobody holds.
  streamOut_.clear();
  std::erase_if(out_, [](const TOutByte& o) { return !o.HangUp; });
  if (!hostJustLeft) return;
  // What the host left unread is lost with the port, as on a real line;
  // the pseudo-terminal would keep it for the host's next open. Only a
  // flush on the slave clears what has already reached its line
  // discipline, so the slave is opened for a moment to flush it.
  const int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return;
  ::tcflush(slave, TCIFLUSH);
  ::close(slave);
}

bool TPtyServer::SendDue(TClock::time_point now) {
  std::string burst;
  bool hangUp = false;
  while (!out_.empty() && NextSend() <= now) {
    if (out_.front().HangUp) {
      hangUp = true;
      break;
    }
    if (byteTime_ > byteTime_.zero()) lineFreeAt_ = NextSend() + byteTime_;
    burst.push_back(out_.front().Byte);
    out_.pop_front();
  }
  size_t sent = 0;
  while (sent < burst.size()) {
    const ssize_t n = ::write(master_, burst.data() + sent, burst.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN && !hangUp) {
      // Put the rest back, still due, and come back shortly.
      for (size_t i = burst.size(); i > sent; --i)
        out_.push_front(TOutByte{now, burst[i - 1], false});
      retryAt_ = now + kWriteRetry;
      break;
    } else {
      break;  // the host has gone; its hang-up ends the serving
    }
  }
  if (hangUp) CloseMaster();
  return hangUp;
}

void TPtyServer::Start() {
  if (thread_.joinable()) throw std::logic_error("TPtyServer is already serving");
  thread_ = std::thread([this] {
    try {
      Run();
    } catch (...) {
      failure_ = std::current_exception();
    }
  });
}

void TPtyServer::RequestStop() noexcept {
  stopRequested_.store(true);
  if (wake_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
  }
}

void TPtyServer::Stop() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

void TPtyServer::WaitFinished() {
  if (thread_.joinable()) thread_.join();
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void TPtyServer::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

}  // namespace vantlebld
