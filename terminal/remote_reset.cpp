#include "terminal/remote_reset.h"

#include <chrono>
#include <thread>
#include <vector>

#include "engine/format.h"
#include "terminal/notations.h"

namespace vantlebld {

namespace {
constexpr auto kPreCodePause = std::chrono::milliseconds(1);
constexpr auto kPreCodesSettle = std::chrono::milliseconds(100);
}  // namespace

void SendPreCodes(TVantleBootloader& engine, const std::string& text) {
  if (TrimControls(text).empty()) return;
  std::vector<uint8_t> codes;
  size_t ignored = 0;
  size_t pos = 1;
  for (int32_t value = 0; ReadNextInt(text, pos, value, false);) {
    if (codes.size() < kMaxPreCodes) {
      codes.push_back(static_cast<uint8_t>(value & 0xFF));
    } else {
      ++ignored;
    }
  }
  if (!codes.empty()) engine.Log(LogIndent6, "PreCodes: ");
  for (uint8_t code : codes) {
    engine.SendByte(code);
    std::this_thread::sleep_for(kPreCodePause);
    engine.Log(LogAppend, " Wait 1ms ");
  }
  if (ignored > 0) {
    engine.Log(LogIndent6, Format("PreCodes: only the first %d codes are sent, %d more ignored",
                                  static_cast<int>(kMaxPreCodes), static_cast<int>(ignored)));
  }
  std::this_thread::sleep_for(kPreCodesSettle);
  engine.Log(LogIndent6, "Wait 100ms");
}

}  // namespace vantlebld
