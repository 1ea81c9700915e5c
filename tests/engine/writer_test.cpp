// The image before and around the flash blocks: the reset relocation and
// the bootloader zone's protection, the EEPROM pass (as a link without
// answers records its blocks) and the clear-all fill. Whole writes into a
// virtual PIC: jobs_test.cpp.
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

constexpr int kData = 0;

// 16F words as the bytes of a HEX file.
std::string W(std::initializer_list<int> words) {
  std::string s;
  for (int w : words)
    s += B({w & 0xFF, w >> 8});
  return s;
}

class WriterTest : public EngineFixture {
 protected:
  void SetUp() override {
    LoadTable();
    engine.WaitMs = 10;
  }
  // The PIC identified, its image erased as after loading an empty file;
  // blocks go to a link without answers, which records them.
  void Offline(uint8_t code) {
    recorder = &Install<TFakeLink>();
    recorder->Caps = {};
    engine.OfflineCode = code;
    ASSERT_TRUE(engine.IdentifyPIC(code));
    for (auto* area : {&engine.FlashData, &engine.EEData})
      std::fill(area->begin(), area->end(), 0xFF);
    for (auto* area : {&engine.FlashFlag, &engine.EEFlag})
      std::fill(area->begin(), area->end(), 0);
    engine.Hex18FCode = Is18F(engine.pic.Family);
    engine.HexDsPIC = IsDsPIC(engine.pic.Family);
    log.clear();
    events.clear();
  }
  // Bytes as the HEX file would set them: data and present mark.
  void Put(int32_t address, const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      engine.SetByte(address + int32_t(i), kData, static_cast<uint8_t>(bytes[i]));
      engine.MarkPresent(address + int32_t(i));
    }
  }
  std::string Image(int32_t address, int32_t length) const {
    return std::string(engine.FlashData.begin() + address,
                       engine.FlashData.begin() + address + length);
  }
  TFakeLink* recorder = nullptr;
};

// --- Reset relocation ---

TEST_F(WriterTest, ResetCodeMovesToTheSlotAndZeroJumpsToTheEntry) {
  const std::string kJ = B({0x1F, 0x30, 0x8A, 0, 0x20, 0x2F});  // MOVLW 1Fh, MOVWF, GOTO 1F20h
  const std::string kZero18F = B({0x00, 0xEF, 0x3F, 0xF0});     // GOTO 7E00h
  const LogLine kFixed = Joined("... successfully repaired.");
  const LogLine kNotFixed = Joined("... could not repair !!!");
  const struct {
    uint8_t code;
    std::string file;  // the file's bytes from address 0
    std::string slot;  // what the slot holds afterwards (16F: repaired)
    std::string jump;  // what address 0 holds afterwards
    int warnings;
    std::optional<LogLine> outcome;  // of the 16F repair, when one was needed
  } cases[] = {
      // clang-format off
      {0x31, W({0x158A, 0x120A, 0x2900, 0}), W({0x158A, 0x120A, 0x2900, 0}), kJ, 0, {}},
      // PCLATH unset: CLRF PCLATH goes first, in place of word 1 when that
      // is harmless (NOP in any form, or not in the file) and words 2..3
      // are not both so, else pushing words 0..2 over a harmless word 3.
      {0x31, W({0x2900, 0, 0x0020, 0x0040}), W({0x018A, 0x2900, 0, 0x0020}), kJ, 1, kFixed},
      {0x31, W({0x2900}), W({0x018A, 0x2900, 0xFFFF, 0xFFFF}), kJ, 1, kFixed},
      {0x31, W({0x3012, 0x00A0, 0x2100, 0x2900}), W({0x3012, 0x00A0, 0x2100, 0x2900}), kJ, 1,
       kNotFixed},
      {0x31, W({0x3012, 0x00A0, 0, 0}), W({0x018A, 0x3012, 0x00A0, 0}), kJ, 2, kFixed},
      // A relative reset branch would count from the slot: one that cannot
      // be made absolute is named; dsPIC BRA 200h becomes GOTO 200h. The
      // plain jumps of every family and PIC18 BRA: jobs_test.
      {0x41, W({0, 0, 0, 0xD1FF}), W({0, 0, 0, 0xD1FF}), kZero18F, 2, {}},
      {0x41, W({0xD9FF, 0xEF00, 0xF002}), W({0xD9FF, 0xEF00, 0xF002, 0xFFFF}), kZero18F, 1, {}},
      {0x71, B({0xFF, 0x00, 0x37, 0, 0, 0, 0, 0}), B({0x00, 0x02, 4, 0, 0, 0, 0, 0}),
       B({0x00, 0x1E, 4, 0, 0, 0, 0, 0}), 0, {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    Offline(c.code);
    Put(0, c.file);
    ASSERT_FALSE(CatchVantle([&] { engine.ReallocateReset(); }).thrown);
    const int32_t slot = engine.pic.StartBldZone;
    EXPECT_EQ(Image(slot, 8), c.slot);
    EXPECT_EQ(Image(0, int32_t(c.jump.size())), c.jump);
    // Only 16F marks the jump; elsewhere the first unit goes out only when
    // the file has more in it.
    for (int a = 0; a < 8; ++a) {
      EXPECT_TRUE(engine.IsPresent(slot + a));
      EXPECT_EQ(engine.IsPresent(a), c.code < 0x40 && a < 3) << a;
    }
    int warnings = 0;
    for (const TJobEvent& e : events)
      if (const auto* w = std::get_if<TRelocationWarningEvent>(&e.Value))
        warnings += w->Note.Kind != TRelocationNote::TKind::MadeAbsolute;
    EXPECT_EQ(warnings, c.warnings);
    if (c.outcome) EXPECT_TRUE(Logged(*c.outcome));
  }
}

// The zone is the bootloader's: the slot takes the moved reset code, the
// rest is the firmware's code. A file byte in either is refused before the
// copy, with or without relocation; on dsPIC the two instructions after
// the slot's first two may come from the file.
TEST_F(WriterTest, FileBytesInTheZoneAreRefused) {
  for (uint8_t code : {0x31, 0x41, 0x61, 0x71, 0x82}) {
    SCOPED_TRACE(int{code});
    Offline(code);
    const int32_t zone = engine.pic.StartBldZone, last = engine.pic.FlashSize - 1;
    if (IsDsPIC(engine.pic.Family)) {
      Put(zone + 8, B({0x5A}));
      engine.ReallocateReset();
      EXPECT_EQ(engine.FlashData[size_t(zone + 8)], 0x5A);
    }
    for (int32_t a : {zone, zone + 7, zone + 4 * engine.pic.BytesPerInstrPC, last}) {
      Offline(code);
      Put(a, B({0x5A}));
      Put(zone - 1, B({0x01}));  // just below the zone: the program's
      EXPECT_EQ(CatchVantle([&] { engine.ReallocateReset(); }).message,
                "Overwriting bootloader denied");
      EXPECT_EQ(LogLines(log.end() - 2, log.end()),
                (LogLines{Problem("Overwriting bootloader denied"),
                          Problem(Format("Address: %.5Xh. Protected=[%.5Xh..%.5Xh]", a, zone, last),
                                  kDetail)}));
    }
  }
  // A dsPIC entry off its 64-address boundary (the table refuses such a
  // line) fails an assertion.
  Offline(0x71);
  engine.pic.BldSlotInstr = 33;
  EXPECT_EQ(CatchVantle([&] { engine.ReallocateReset(); }).kind, EVantleError::Kind::Assertion);
}

// --- The EEPROM pass and clear-all ---

// The EEPROM pass carries what the firmware's 8-bit block address reaches
// within the PIC's EEPROM; a file with more is refused before any block
// with the offsets it would lose (past 256 bytes: jobs_test), and written
// whole without the pass.
TEST_F(WriterTest, EEPROMPassCarriesEveryByteOrTheWriteIsRefused) {
  const std::string kTail = " (write without EEPROM with --no-eeprom, or untick Write EEPROM)";
  const struct {
    uint8_t code;
    int32_t eeSize;
    bool pass;
    int32_t marked;   // offsets 0..marked-1 set by the file
    int32_t written;  // EEPROM blocks sent
    std::string refused;
  } cases[] = {
      {0x41, 1024, true, 256, 256, ""},
      {0x31, 128, true, 600, 0,
       "EEPROM data at 080h..257h cannot be written: the PIC16F876A has 128 bytes of EEPROM" +
           kTail},
      {0x31, 256, false, 600, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.code} << " EESize " << c.eeSize);
    Offline(c.code);
    engine.pic.EESize = c.eeSize;
    // A jump to 1000h (PIC18 GOTO 800h words; 16F page 1 through PCLATH) and code there.
    Put(0, c.code == 0x31 ? W({0x3008, 0x008A, 0x2800}) : B({0x00, 0xEF, 0x08, 0xF0}));
    Put(0x1000, B({0x12, 0x34}));
    for (size_t i = 0; i < size_t(c.marked); ++i) {
      engine.EEData[i] = static_cast<uint8_t>(i ^ 0x5A);
      engine.EEFlag[i] = kPresent;
    }
    engine.ReallocateReset();
    const Raised r = CatchVantle([&] { engine.WriteFlash(c.pass); });
    EXPECT_EQ(r.message, c.refused);
    const auto& blocks = recorder->Sends;
    EXPECT_EQ(blocks.empty(), !c.refused.empty());
    if (blocks.empty()) continue;
    ASSERT_GT(blocks.size(), size_t(c.written));
    const size_t flash = blocks.size() - size_t(c.written);  // the flash goes first
    EXPECT_NE(blocks[flash - 1][0], 0x40);
    for (int32_t i = 0; i < c.written; ++i) {
      const std::string want =
          c.code == 0x31 ? B({0x40, i, 1, i ^ 0x5A}) : B({0x40, i, i ^ 0x5A, 0});
      ASSERT_EQ(blocks[flash + size_t(i)], Checked(want)) << i;
    }
  }
}

// The preflight judges the blocks, not the relocation's word: an image
// whose address 0 jumps to the program instead of the bootloader (as a
// faulty relocation would leave it) is refused before any block.
TEST_F(WriterTest, APlanWhoseAddressZeroMissesTheBootloaderIsRefused) {
  Offline(0x41);
  const std::string kGoto1000 = B({0x00, 0xEF, 0x08, 0xF0});  // GOTO 1000h
  Put(0, kGoto1000);
  Put(0x7DF8, kGoto1000);  // the slot, as if relocated
  Put(0x1000, B({0x12, 0x34}));
  EXPECT_EQ(CatchVantle([&] { engine.WriteFlash(false); }).message,
            "Write refused: address 0 would not jump to the bootloader at 007E00h (check the "
            "device table's line for type 41h)");
  EXPECT_TRUE(recorder->Sends.empty());
}

TEST_F(WriterTest, FillUserFlashSparesTheVectorsAndTheZone) {
  const std::pair<uint8_t, int32_t> cases[] = {{0x31, 8}, {0x41, 8}, {0x71, 0x200}, {0x81, 0x400}};
  for (const auto& [code, first] : cases) {
    SCOPED_TRACE(int{code});
    Offline(code);
    Put(0, B({0x11, 0x22}));
    Put(first - 1, B({0x33}));
    const int32_t zone = engine.pic.StartBldZone;
    engine.SetByte(zone + 20, kData, 0x44);
    engine.FillUserFlash();
    EXPECT_EQ(Image(0, 2), B({0x11, 0x22}));
    EXPECT_EQ(engine.FlashData[size_t(first - 1)], 0x33);
    EXPECT_FALSE(engine.IsPresent(2));
    for (int32_t a = first; a < engine.pic.FlashSize; ++a) {
      ASSERT_EQ(engine.IsPresent(a), a < zone) << a;
      ASSERT_EQ(engine.FlashData[size_t(a)], a == zone + 20 ? 0x44 : 0xFF) << a;
    }
  }
  Offline(0x61);
  EXPECT_EQ(CatchVantle([&] { engine.FillUserFlash(); }).message, "unknown family");
  EXPECT_TRUE(engine.BlockIsEmpty(0, engine.pic.FlashSize));
}

}  // namespace
}  // namespace vantlebld::test
