// The engine tests' fixture: an engine with its events, log and progress captured,
// the project's device table, and a link whose far end the test plays.
// Plain helpers: tests/support/files.h.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/log_text.h"
#include "engine/vantlebld_comm.h"
#include "tests/support/files.h"

namespace vantlebld::test {

// Bytes as a block string.
inline std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes)
    s += static_cast<char>(b);
  return s;
}
// The block with its checksum, worked out here rather than by the engine.
inline std::string Checked(std::string block) {
  int sum = 0;
  for (char c : block)
    sum += static_cast<uint8_t>(c);
  return block + static_cast<char>((256 - sum % 256) % 256);
}

// A log line as the one renderer shows it with detailed logging on;
// detail: only a detailed log shows it. A text ending in '*' matches every
// text that starts with the rest, one starting with '*' every text that
// ends with the rest (Matches); == matches either way.
struct LogLine {
  bool detail;
  std::string text;
  bool Matches(const LogLine& l) const {
    if (detail != l.detail) return false;
    if (!text.empty() && text.back() == '*')
      return l.text.rfind(text.substr(0, text.size() - 1), 0) == 0;
    if (!text.empty() && text.front() == '*') return l.text.ends_with(text.substr(1));
    return text == l.text;
  }
  bool operator==(const LogLine& l) const { return Matches(l) || l.Matches(*this); }
};
using LogLines = std::vector<LogLine>;
inline std::ostream& operator<<(std::ostream& os, const LogLine& l) {
  return os << "{" << (l.detail ? "detail" : "shown") << ", \"" << l.text << "\"}";
}
// The lines as a person reads them, written out here: three blanks before
// a step, six before a problem, nine before the reason under ERROR!, and a
// continued line joined to the one before it after ", ".
constexpr bool kDetail = true;
inline LogLine Plain(const std::string& t, bool detail = false) {
  return {detail, t};
}
inline LogLine Step(const std::string& t, bool detail = false) {
  return {detail, "   " + t};
}
inline LogLine Problem(const std::string& t, bool detail = false) {
  return {detail, "      " + t};
}
inline LogLine Reason(const std::string& t) {
  return {false, "         " + t};
}
inline LogLine Joined(const std::string& t, bool detail = false) {
  return {detail, "*, " + t};
}
// Every wanted line matches a logged one, in this order, others between.
inline bool InOrder(const LogLines& log, const LogLines& wanted) {
  auto at = log.begin();
  for (const auto& w : wanted) {
    at = std::find_if(at, log.end(), [&](const LogLine& l) { return w.Matches(l); });
    if (at++ == log.end()) return false;
  }
  return true;
}

// What an engine operation raised; other exception types fail the test.
struct Raised {
  bool thrown = false;
  std::string message;
  EVantleError::Kind kind = EVantleError::Kind::General;
};
template <class F>
Raised CatchVantle(F&& f) {
  try {
    f();
  } catch (const EVantleError& e) {
    return {true, e.what(), e.ErrorKind()};
  }
  return {};
}

// The far end of the line, played by the test. Every Send is kept whole
// (the blocks of a write without answers, the probes of a search), and so
// are the settings, the control-line changes and the waits. Replies[n]
// arrives with the (n+1)-th send; from send VanishAt on the device has
// gone away.
struct TFakeLink : TLink {
  static constexpr char kGone[] = "Communication error 6: Device disconnected";
  TCapabilities Caps{true, true};
  bool Opens = true;      // false: nothing to open, as offline
  std::string OpenError;  // Open fails with it
  std::vector<std::string> Replies;
  int VanishAt = 0;
  std::string Input;  // arrived, not yet read
  bool Opened = false;
  std::string OpenedAs;
  std::vector<std::string> Sends;
  std::vector<TLineSettings> Settings;  // of every Open and Configure
  std::string Controls;                 // "R1 D0": RTS on, DTR off
  std::vector<int32_t> Waits;

  TCapabilities Capabilities() const override { return Caps; }
  void Open(const std::string& name, const TLineSettings& line) override {
    if (!OpenError.empty()) throw std::runtime_error(OpenError);
    Opened = Opens;
    OpenedAs = name;
    Settings.push_back(line);
  }
  void Configure(const TLineSettings& line) override { Settings.push_back(line); }
  void Close() override { Opened = false; }
  bool IsOpen() const override { return Opened; }
  std::string Name() const override { return OpenedAs; }
  int32_t ActualBaud() const override { return Settings.empty() ? 0 : Settings.back().Baud; }
  void Send(const std::string& bytes) override {
    Sends.push_back(bytes);
    if (Sends.size() <= Replies.size()) Input += Replies[Sends.size() - 1];
  }
  TReceiveResult ReceiveByte(int32_t) override { return Receive(1); }
  TReceiveResult ReceivePacket(int32_t) override { return Receive(std::string::npos); }
  std::string Purge() override { return std::exchange(Input, {}); }
  void SetControlLine(TControlLine line, bool on) override {
    Controls += std::string(Controls.empty() ? "" : " ") + (line == TControlLine::RTS ? 'R' : 'D') +
                (on ? '1' : '0');
  }
  void Wait(int32_t ms) override { Waits.push_back(ms); }
  void AnnounceSearch() override {}
  TReceiveResult Receive(size_t n) {
    if (VanishAt > 0 && int(Sends.size()) >= VanishAt) return {TLinkStatus::Vanished, {}, kGone};
    if (Input.empty()) return {};
    TReceiveResult r{TLinkStatus::Ok, Input.substr(0, n), {}};
    Input.erase(0, n);
    return r;
  }
};

inline void ResetPicTable() {
  PicTable().fill(TPICInfo{});
  PicTableLoaded() = false;
}

// An engine with its log and progress captured; the device table starts
// empty for every test.
class EngineFixture : public ::testing::Test {
 protected:
  EngineFixture() {
    ResetPicTable();
    engine.OnEvent = [this](const TJobEvent& event) {
      events.push_back(event);
      renderer.Add(event);
      if (const int32_t value = ProgressOf(event); value >= 0) progress.push_back(value);
    };
    engine.SearchSeconds = 1;
    engine.WaitMs = 30;
  }
  ~EngineFixture() override { ResetPicTable(); }

  bool Logged(const LogLine& line) const { return Count(line) > 0; }
  int Count(const LogLine& line) const {
    return int(std::count_if(log.begin(), log.end(), [&](auto& l) { return line.Matches(l); }));
  }
  // The project's device table, with the log of reading it forgotten.
  void LoadTable() {
    ASSERT_TRUE(engine.LoadPicCodesFile(kTable));
    log.clear();
  }
  // The engine's link from now on.
  template <class L, class... Args>
  L& Install(Args&&... args) {
    auto link = std::make_unique<L>(std::forward<Args>(args)...);
    L& l = *link;
    engine.Link = std::move(link);
    return l;
  }

  TempDir dir;
  TVantleBootloader engine;
  LogLines log;
  std::vector<TJobEvent> events;
  TLogRenderer renderer{[this](const TLogRenderer::TLine& line) {
                          log.push_back({!line.Shown, line.Text});
                        },
                        false};
  std::vector<int32_t> progress;
};

}  // namespace vantlebld::test
