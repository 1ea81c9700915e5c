#include "engine/remote_reset.h"

#include <vector>

#include "engine/format.h"
#include "engine/user_text.h"

namespace vantlebld {

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
  if (!codes.empty()) engine.Say(TLineRole::Step, "PreCodes: ");
  for (uint8_t code : codes) {
    engine.SendByte(code);
    engine.Link->Wait(kPreCodePauseMs);
    engine.Say(TLineRole::Continued, " Wait 1ms ");
  }
  if (ignored > 0) {
    engine.Say(TLineRole::Problem,
               Format("PreCodes: only the first %d codes are sent, %d more ignored",
                      static_cast<int>(kMaxPreCodes), static_cast<int>(ignored)));
  }
  engine.Link->Wait(kPreCodesSettleMs);
  engine.Say(TLineRole::Step, "Wait 100ms");
}

void RemoteReset(TVantleBootloader& engine, const std::string& preCodes,
                 const std::string& signalScript) {
  SendPreCodes(engine, preCodes);
  if (!signalScript.empty()) engine.SignalScript(signalScript);
}

}  // namespace vantlebld
