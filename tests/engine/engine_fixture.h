// A fixture with one engine whose log lines are captured, a scratch
// directory, and a device table that starts empty for every test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"
#include "tests/engine/test_support.h"

namespace vantlebld::test {

struct LogLine {
  int flags;
  std::string text;
  bool operator==(const LogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const LogLine& l) {
  return os << "{" << l.flags << ", \"" << l.text << "\"}";
}

// What an engine operation raised, if anything. Other exception types pass
// through and fail the test.
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

inline void ResetPicTable() {
  PicTable().fill(TPICInfo{});
  PicTableLoaded() = false;
}

class EngineFixture : public ::testing::Test {
 protected:
  // The engine's construction reads whatever table it finds; each test
  // starts from an empty one instead.
  EngineFixture() {
    ResetPicTable();
    engine.OnLog = [this](TVantleBootloader&, uint8_t flags, const std::string& text) {
      log.push_back({flags, text});
    };
  }
  ~EngineFixture() override { ResetPicTable(); }

  bool Logged(const LogLine& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  TempDir dir;
  TVantleBootloader engine;
  std::vector<LogLine> log;
};

}  // namespace vantlebld::test
