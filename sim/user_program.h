// The program the virtual PIC runs once the bootloader has handed over: it
// echoes what it receives and may send an endless stream, so the terminal
// page can be tried and measured without hardware.
//
// The stream is numbered text lines whose characters also trace a sine, so
// it reads as text in a text view and as a wave in a graph view:
//   "000042 " + 48 characters, one sine period between 20h and 7Eh, + CR LF
// Line numbers count from 0 and wrap after 999999. The content is a pure
// function of the byte offset, so whoever received some of the stream can
// check it byte for byte.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vantlebld {

constexpr size_t kStreamNumberDigits = 6;
constexpr size_t kStreamWaveLength = 48;
// Digits, a blank, the wave, CR LF.
constexpr size_t kStreamLineLength = kStreamNumberDigits + 1 + kStreamWaveLength + 2;
constexpr uint8_t kStreamWaveLow = 0x20;
constexpr uint8_t kStreamWaveHigh = 0x7E;

// The count bytes of the stream from byte offset on.
std::string StreamBytes(uint64_t offset, size_t count);

// The stream on the clock: Rate bytes per second on average from Start().
// It does no I/O; the server takes the bytes that have fallen due and hands
// them to the line.
class TUserStream {
 public:
  using TClock = std::chrono::steady_clock;

  // A line that could not take the stream for a while catches up at most
  // this much of it; beyond that the stream stays behind the clock rather
  // than flood the host the moment it reads again.
  static constexpr auto kMaxCatchUp = std::chrono::milliseconds(50);

  explicit TUserStream(int32_t rate);

  int32_t Rate() const { return rate_; }
  bool Started() const { return started_; }
  void Start(TClock::time_point now);

  // The bytes due by now that have not been taken or dropped, at most max.
  std::string Take(TClock::time_point now, size_t max);
  // Nobody listens: the bytes due by now are lost on the line.
  void Drop(TClock::time_point now);
  // When the byte after the last one taken or dropped falls due.
  TClock::time_point NextDue() const;
  // Bytes taken or dropped since Start(): the offset of the next byte.
  uint64_t Offset() const { return offset_; }

 private:
  // Bytes due by now on the clock alone.
  uint64_t DueBy(TClock::time_point now) const;
  uint64_t DueNotTaken(TClock::time_point now);

  int32_t rate_;
  bool started_ = false;
  TClock::time_point start_;
  uint64_t offset_ = 0;
  uint64_t behind_ = 0;  // bytes the stream has fallen behind the clock
};

}  // namespace vantlebld
