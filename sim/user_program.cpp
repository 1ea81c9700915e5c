#include "sim/user_program.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace vantlebld {

namespace {

constexpr uint64_t kLineNumberWrap = 1'000'000;
constexpr uint64_t kNsPerSecond = 1'000'000'000;

// One sine period over the wave's characters, from its middle up first.
const std::array<char, kStreamWaveLength>& Wave() {
  static const auto wave = [] {
    std::array<char, kStreamWaveLength> w{};
    const double middle = (kStreamWaveLow + kStreamWaveHigh) / 2.0;
    const double amplitude = (kStreamWaveHigh - kStreamWaveLow) / 2.0;
    for (size_t i = 0; i < w.size(); ++i) {
      const double phase = 2.0 * std::numbers::pi * static_cast<double>(i) / kStreamWaveLength;
      w[i] = static_cast<char>(std::lround(middle + amplitude * std::sin(phase)));
    }
    return w;
  }();
  return wave;
}

void FillLine(uint64_t line, char* text) {
  uint64_t number = line % kLineNumberWrap;
  for (size_t i = kStreamNumberDigits; i > 0; --i) {
    text[i - 1] = static_cast<char>('0' + number % 10);
    number /= 10;
  }
  text[kStreamNumberDigits] = ' ';
  std::copy(Wave().begin(), Wave().end(), text + kStreamNumberDigits + 1);
  text[kStreamLineLength - 2] = '\r';
  text[kStreamLineLength - 1] = '\n';
}

}  // namespace

std::string StreamBytes(uint64_t offset, size_t count) {
  std::string out;
  out.reserve(count);
  uint64_t line = offset / kStreamLineLength;
  size_t pos = static_cast<size_t>(offset % kStreamLineLength);
  char text[kStreamLineLength];
  while (out.size() < count) {
    FillLine(line++, text);
    const size_t n = std::min(kStreamLineLength - pos, count - out.size());
    out.append(text + pos, n);
    pos = 0;
  }
  return out;
}

TUserStream::TUserStream(int32_t rate) : rate_(std::max(rate, 1)) {}

void TUserStream::Start(TClock::time_point now) {
  started_ = true;
  start_ = now;
  offset_ = 0;
  behind_ = 0;
}

// floor(rate * elapsed), split at whole seconds so that the product cannot
// overflow however long the stream runs.
uint64_t TUserStream::DueBy(TClock::time_point now) const {
  if (!started_ || now <= start_) return 0;
  const auto ns = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_).count());
  const auto rate = static_cast<uint64_t>(rate_);
  return ns / kNsPerSecond * rate + ns % kNsPerSecond * rate / kNsPerSecond;
}

uint64_t TUserStream::DueNotTaken(TClock::time_point now) {
  const uint64_t due = DueBy(now) - behind_;
  const uint64_t catchUp = std::max<uint64_t>(
      1, static_cast<uint64_t>(rate_) * static_cast<uint64_t>(kMaxCatchUp.count()) / 1000);
  if (due > offset_ + catchUp) {
    behind_ += due - offset_ - catchUp;
    return catchUp;
  }
  return due - offset_;
}

std::string TUserStream::Take(TClock::time_point now, size_t max) {
  const auto n = static_cast<size_t>(std::min<uint64_t>(DueNotTaken(now), max));
  std::string bytes = StreamBytes(offset_, n);
  offset_ += n;
  return bytes;
}

void TUserStream::Drop(TClock::time_point now) {
  // Lost bytes do not fall behind: the line runs on with the clock.
  offset_ = DueBy(now) - behind_;
}

TUserStream::TClock::time_point TUserStream::NextDue() const {
  // The first instant at which floor(rate * elapsed) reaches k.
  const uint64_t k = offset_ + behind_ + 1;
  const auto rate = static_cast<uint64_t>(rate_);
  const uint64_t ns = k / rate * kNsPerSecond + (k % rate * kNsPerSecond + rate - 1) / rate;
  return start_ + std::chrono::duration_cast<TClock::duration>(
                      std::chrono::nanoseconds(static_cast<int64_t>(ns)));
}

}  // namespace vantlebld
