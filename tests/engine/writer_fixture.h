// The writer tests' engine: an identified PIC with an erased image built
// byte by byte, the blocks an offline write logged, and the comparison of
// a served virtual PIC's memory with the image after a serial write.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "engine/format.h"
#include "tests/engine/sim_link_fixture.h"

namespace vantlebld::test {

constexpr uint8_t kBlockLine = LogIndent3 | LogDetail;  // "Hex: ..   Str:.."

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

class WriterFixture : public SimLinkFixture {
 protected:
  WriterFixture() { engine.WaitMs = 20; }

  // The PIC identified, its image erased as after loading an empty file.
  void Identify(uint8_t code) {
    engine.OfflineCode = code;
    ASSERT_TRUE(engine.IdentifyPIC(code));
    std::fill(engine.FlashData.begin(), engine.FlashData.end(), 0xFF);
    std::fill(engine.FlashFlag.begin(), engine.FlashFlag.end(), 0);
    std::fill(engine.EEData.begin(), engine.EEData.end(), 0xFF);
    std::fill(engine.EEFlag.begin(), engine.EEFlag.end(), 0);
    engine.Hex18FCode = Is18F(engine.pic.Family);
    engine.HexDsPIC = IsDsPIC(engine.pic.Family);
    log.clear();
    progress.clear();
  }
  void Offline(uint8_t code) {
    engine.OperatingMode = 1;
    Identify(code);
  }
  // A virtual PIC with these faults on a pty, found by the search.
  void Serial(uint8_t code, const TSimFaults& faults = {}) {
    TSimOptions options;
    options.Faults = faults;
    ConnectTo(Serve(code, options).Path());
    ASSERT_TRUE(engine.SearchPIC(false));
    Identify(code);
  }

  // Bytes as the HEX file would set them: data and present mark.
  void Put(int32_t address, const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      engine.SetByte(address + static_cast<int32_t>(i), 0, static_cast<uint8_t>(bytes[i]));
      engine.MarkPresent(address + static_cast<int32_t>(i));
    }
  }
  void PutWords(int32_t word, const std::vector<uint16_t>& words) {
    for (size_t i = 0; i < words.size(); ++i)
      Put(2 * (word + static_cast<int32_t>(i)), B({words[i] & 0xFF, words[i] >> 8}));
  }
  std::string Image(int32_t address, int32_t length) const {
    return std::string(engine.FlashData.begin() + address,
                       engine.FlashData.begin() + address + length);
  }

  // The blocks SendBlock logged, in order, read back from their hex dump;
  // the text form after it must show the same bytes.
  std::vector<std::string> Blocks() const {
    std::vector<std::string> blocks;
    for (const auto& l : log) {
      if (l.flags != kBlockLine || l.text.rfind("Hex: ", 0) != 0) continue;
      std::string block;
      size_t i = 5;
      while (i + 2 < l.text.size() && std::isxdigit(l.text[i]) && std::isxdigit(l.text[i + 1]) &&
             l.text[i + 2] == ' ') {
        block += static_cast<char>(std::stoi(l.text.substr(i, 2), nullptr, 16));
        i += 3;
      }
      EXPECT_EQ(l.text.substr(i), "   Str:" + block);
      blocks.push_back(block);
    }
    return blocks;
  }

  bool LoggedStarting(uint8_t flags, const std::string& prefix) const {
    return std::any_of(log.begin(), log.end(), [&](const LogLine& l) {
      return l.flags == flags && l.text.rfind(prefix, 0) == 0;
    });
  }

  // Present image bytes below the firmware's own code (and present EEPROM
  // bytes of the families with an EEPROM pass) that the served PIC does not
  // hold. The hang-up ends the serving first.
  int32_t Differences() {
    HangUpAndFinish();
    const TVirtualPic& pic = sim->Pic();
    const TPICInfo& p = engine.pic;
    const int32_t codeStart = p.StartBldZone + p.BldSlotInstr * p.BytesPerInstrPC;
    int32_t differ = 0;
    for (int32_t a = 0; a < codeStart; ++a) {
      if (IsDsPIC(p.Family) && a % 4 == 3) continue;  // never sent
      differ += engine.IsPresent(a) && pic.Flash()[a] != engine.FlashData[a];
    }
    for (size_t i = 0; i < pic.EEPROM().size() && i < 256; ++i)
      differ += (engine.EEFlag[i] & kPresent) != 0 && pic.EEPROM()[i] != engine.EEData[i];
    return differ;
  }
};

}  // namespace vantlebld::test
