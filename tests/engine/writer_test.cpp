// Writing the PIC: the reset relocation, the flash blocks of each family
// (as a link without answers records them), the EEPROM and configuration
// writes, the clear-all fill, and the block exchange with a virtual PIC
// under line faults.
#include <regex>

#include "sim/boot_path.h"
#include "sim/in_process_link.h"
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
  // The PIC identified, its image erased as after loading an empty file.
  void Identify(uint8_t code) {
    engine.OfflineCode = code;
    ASSERT_TRUE(engine.IdentifyPIC(code));
    for (auto* area : {&engine.FlashData, &engine.EEData})
      std::fill(area->begin(), area->end(), 0xFF);
    for (auto* area : {&engine.FlashFlag, &engine.EEFlag})
      std::fill(area->begin(), area->end(), 0);
    engine.Hex18FCode = Is18F(engine.pic.Family);
    engine.HexDsPIC = IsDsPIC(engine.pic.Family);
    log.clear();
    progress.clear();
  }
  // Blocks go to a link without answers, which records them.
  void Offline(uint8_t code) {
    recorder = &Install<TFakeLink>();
    recorder->Caps = {};
    Identify(code);
  }
  const std::vector<std::string>& Blocks() const { return recorder->Sends; }
  // Bytes as the HEX file would set them: data and present mark.
  void Put(int32_t address, const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      engine.SetByte(address + int32_t(i), kData, static_cast<uint8_t>(bytes[i]));
      engine.MarkPresent(address + int32_t(i));
    }
  }
  // A recognisable byte for every address.
  void PutPattern(int32_t address, int32_t length) {
    for (int32_t a = address; a < address + length; ++a)
      Put(a, B({Pattern(a)}));
  }
  static int Pattern(int32_t a) { return (a * 7 + 1) & 0xFF; }
  std::string Image(int32_t address, int32_t length) const {
    return std::string(engine.FlashData.begin() + address,
                       engine.FlashData.begin() + address + length);
  }
  // The closing line, with the clock and the time the write took.
  bool LoggedWriteOk() const {
    const std::regex done(R"(WRITE OK  at \d{1,2}:\d\d,   time:\d+\.\d{3} sec)");
    return std::any_of(log.begin(), log.end(), [&](const LogLine& l) {
      return l.flags == LogIndent3 && std::regex_match(l.text, done);
    });
  }
  void SetEEPROM(int32_t offset, uint8_t value) {
    engine.EEData[size_t(offset)] = value;
    engine.EEFlag[size_t(offset)] = kPresent;
  }
  TFakeLink* recorder = nullptr;
};

// --- Reset relocation ---

TEST_F(WriterTest, ResetCodeMovesToTheSlotAndZeroJumpsToTheEntry) {
  const std::string kJ = B({0x1F, 0x30, 0x8A, 0, 0x20, 0x2F});  // MOVLW 1Fh, MOVWF, GOTO 1F20h
  const std::string k18FGoto = B({0x80, 0xEF, 0, 0xF0, 0, 0, 0, 0});
  const std::string kZero18F = B({0x00, 0xEF, 0x3F, 0xF0});  // GOTO 7E00h
  const LogLine kFixed{LogAppend, "... sucessfully repaired."};
  const LogLine kNotFixed{LogAppend, "... could not repair !!!"};
  const struct {
    uint8_t code;
    std::string file;  // the file's bytes from address 0
    std::string slot;  // what the slot holds afterwards (16F: repaired)
    std::string jump;  // what address 0 holds afterwards
    int warnings;
    std::optional<LogLine> outcome;  // of the 16F repair, when one was needed
  } cases[] = {
      // clang-format off
      {0x33, W({0x018A, 0x2900, 0, 0}), W({0x018A, 0x2900, 0, 0}),
       B({0x0F, 0x30, 0x8A, 0, 0x20, 0x2F}), 0, {}},
      {0x31, W({0x158A, 0x120A, 0x2900, 0}), W({0x158A, 0x120A, 0x2900, 0}), kJ, 0, {}},
      // PCLATH unset: CLRF PCLATH goes first, in place of word 1 when that
      // is harmless (NOP in any form, or not in the file) and words 2..3
      // are not both so, else pushing words 0..2 over a harmless word 3.
      {0x31, W({0x2900, 0, 0x0020, 0x0040}), W({0x018A, 0x2900, 0, 0x0020}), kJ, 1, kFixed},
      {0x31, W({0x2900, 0, 0x3012, 0x00A0}), W({0x018A, 0x2900, 0x3012, 0x00A0}), kJ, 1, kFixed},
      {0x31, W({0x2900}), W({0x018A, 0x2900, 0xFFFF, 0xFFFF}), kJ, 1, kFixed},
      {0x31, W({0x158A, 0x2900, 0, 0x0020}), W({0x018A, 0x158A, 0x2900, 0}), kJ, 1, kFixed},
      {0x31, W({0x3012, 0x00A0, 0x2100, 0x2900}), W({0x3012, 0x00A0, 0x2100, 0x2900}), kJ, 1,
       kNotFixed},
      {0x31, W({0x3012, 0x00A0, 0, 0}), W({0x018A, 0x3012, 0x00A0, 0}), kJ, 2, kFixed},
      {0x41, k18FGoto, k18FGoto, B({0x00, 0xEF, 0x3F, 0xF0}), 0, {}},  // GOTO 7E00h
      {0x71, B({0x00, 0x01, 4, 0, 0, 0, 0, 0}), B({0x00, 0x01, 4, 0, 0, 0, 0, 0}),
       B({0x00, 0x1E, 4, 0, 0, 0, 0, 0}), 0, {}},
      {0x81, B({0x00, 0x02, 4, 0, 0, 0, 0, 0}), B({0x00, 0x02, 4, 0, 0, 0, 0, 0}),
       B({0x00, 0x54, 4, 0, 0x01, 0, 0, 0}), 0, {}},  // GOTO 15400h
      // A relative reset branch would count from the slot: BRA 400h becomes
      // GOTO 400h (EF00h F002h; dsPIC 000200h); what cannot be made
      // absolute is named.
      {0x41, W({0xD1FF, 0x1234}), W({0xEF00, 0xF002, 0xFFFF, 0xFFFF}), kZero18F, 0, {}},
      {0x41, W({0, 0, 0, 0xD1FF}), W({0, 0, 0, 0xD1FF}), kZero18F, 2, {}},
      {0x41, W({0xD9FF, 0xEF00, 0xF002}), W({0xD9FF, 0xEF00, 0xF002, 0xFFFF}), kZero18F, 1, {}},
      {0x71, B({0xFF, 0x00, 0x37, 0, 0, 0, 0, 0}), B({0x00, 0x02, 4, 0, 0, 0, 0, 0}),
       B({0x00, 0x1E, 4, 0, 0, 0, 0, 0}), 0, {}},
      // A file without flash data: no GOTO, and the slot gets erased bytes.
      {0x41, "", std::string(8, '\xFF'), B({0x00, 0xEF, 0x3F, 0xF0}), 1, {}},
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
    EXPECT_EQ(Count({LogIndent6, "WARNING*"}) + Count({LogIndent6, "GOTO not*"}), c.warnings);
    if (c.outcome) EXPECT_TRUE(Logged(*c.outcome));
  }
}

// The zone is the bootloader's: the slot takes the moved reset code, the
// rest is the firmware's code. A file byte in either is refused before the
// copy, with or without relocation; on dsPIC the two instructions after
// the slot's first two may come from the file.
TEST_F(WriterTest, FileBytesInTheZoneAreRefused) {
  for (uint8_t code : {0x31, 0x35, 0x41, 0x51, 0x61, 0x71, 0x82}) {
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
      EXPECT_EQ(log.end()[-2], (LogLine{LogIndent6, "Overwriting bootloader denied"}));
      EXPECT_EQ(log.back(),
                (LogLine{LogIndent6 | LogDetail,
                         Format("Address: %.5Xh. Protected=[%.5Xh..%.5Xh]", a, zone, last)}));
    }
  }
  // A dsPIC entry off its 64-address boundary (the table refuses such a
  // line) fails an assertion.
  Offline(0x71);
  engine.pic.BldSlotInstr = 33;
  EXPECT_EQ(CatchVantle([&] { engine.ReallocateReset(); }).kind, EVantleError::Kind::Assertion);
}

TEST_F(WriterTest, NoRelocationOptionChecksButMovesNothing) {
  Offline(0x35);  // Options 4
  Put(0, W({0x2900, 0, 0, 0}));
  engine.ReallocateReset();
  EXPECT_TRUE(Logged({LogDetail, "  NO Realloc "}));
  EXPECT_TRUE(Logged({LogAppend, "... sucessfully repaired."}));
  EXPECT_EQ(Image(0, 8), B({0x8A, 0x01, 0x00, 0x29, 0, 0, 0, 0}));
  EXPECT_TRUE(engine.BlockIsEmpty(engine.pic.StartBldZone, 8));
}

// --- Flash blocks ---

TEST_F(WriterTest, OneUnitPerFamily) {
  const struct {
    uint8_t code;
    int32_t address, unit;
    std::string header;
  } cases[] = {
      {0x31, 0x1FC0, 64, B({0x0F, 0xE0, 0x40})},                    // word address 0FE0h
      {0x41, 0x1000, 64, B({0x20, 0x10, 0x00, 0x40})},              // flash, byte address
      {0x52, 0x10040, 64, B({0x21, 0x00, 0x40, 0x40})},             // above 64 KB
      {0x71, 0x400, 128, B({0x00, 0x02, 0x00, 0x60})},              // 96 bytes sent
      {0x82, 0x800, 512, B({0x00, 0x04, 0x00, 0x00, 0x80, 0x01})},  // 384 bytes sent
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.code});
    Offline(c.code);
    engine.pic.Options = 0;
    PutPattern(c.address + 1, c.unit - 2);  // the unit's ends stay unset: FFh
    ASSERT_TRUE(engine.WriteFlash(false));
    std::string data;
    for (int32_t a = c.address; a < c.address + c.unit; ++a) {
      if (IsDsPIC(engine.pic.Family) && a % 4 == 3) continue;  // phantom byte
      data += a == c.address || a == c.address + c.unit - 1 ? '\xFF' : char(Pattern(a));
    }
    EXPECT_EQ(Blocks(), std::vector<std::string>{Checked(c.header + data)});
    EXPECT_EQ(progress.back(), 100);
  }
}

// The erase commands of the pages from below the bootloader down to 0: 18F
// with the byte address high byte first, dsPIC33 with the program address
// low byte first; then the data units upwards.
TEST_F(WriterTest, ErasePassGoesDownThenDataUp) {
  const struct {
    uint8_t code;
    int32_t firstErase, page, erases, unit;
    std::string zeroHeader, dataHeader;  // the units at 0 and at 1000h
  } cases[] = {
      {0x51, 0xF800, 0x400, 63, 64, B({0x20, 0x00, 0x00, 0x40}), B({0x20, 0x10, 0x00, 0x40})},
      {0x81, 0x2A000, 0x800, 85, 256, B({0x00, 0x00, 0x00, 0x00, 0xC0, 0x00}),
       B({0x00, 0x08, 0x00, 0x00, 0xC0, 0x00})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.code});
    Offline(c.code);
    PutPattern(0x1000, 4);
    Put(0x1400 + c.unit - 1, B({1}));  // a unit further up with its last byte alone
    ASSERT_TRUE(engine.WriteFlash(false));
    const auto& blocks = Blocks();
    // The erase took the jump at address 0 too: its unit goes out first,
    // empty as the file leaves it.
    ASSERT_EQ(blocks.size(), size_t(c.erases + 3));
    for (int i = 0; i < c.erases; ++i) {
      const int32_t a = c.firstErase - i * c.page, p = a / 2;
      ASSERT_EQ(blocks[size_t(i)],
                Checked(c.code < 0x80 ? B({0x20 | (a >> 16), (a >> 8) & 0xFF, a & 0xFF, 2, 0, 0})
                                      : B({p & 0xFF, (p >> 8) & 0xFF, p >> 16, 0, 2, 0, 0, 0})))
          << i;
    }
    EXPECT_EQ(blocks[size_t(c.erases)].substr(0, c.zeroHeader.size()), c.zeroHeader);
    EXPECT_EQ(blocks[size_t(c.erases) + 1].substr(0, c.dataHeader.size()), c.dataHeader);
    EXPECT_GT(blocks[size_t(c.erases) + 2].substr(0, 3), blocks[size_t(c.erases) + 1].substr(0, 3));
    EXPECT_EQ(engine.BlocksToWrite, 3 + engine.pic.FlashSize / c.page);
    ASSERT_EQ(progress.size(), size_t(c.erases + 4));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);
  }
}

TEST_F(WriterTest, EveryBlockOptionSendsEachUnitBelowTheZone) {
  Offline(0x61);  // K: Options 1, zone at FDF8h
  PutPattern(0x200, 2);
  ASSERT_TRUE(engine.WriteFlash(false));
  EXPECT_EQ(log[1], (LogLine{LogIndent3, "Not Implemented"}));
  const auto& blocks = Blocks();
  ASSERT_EQ(blocks.size(), 0xFE00u / 64);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const int32_t a = int32_t(i) * 64;
    std::string data(64, '\xFF');
    if (a == 0x200) data.replace(0, 2, B({Pattern(0x200), Pattern(0x201)}));
    ASSERT_EQ(blocks[i], Checked(B({0x20 | (a >> 16), (a >> 8) & 0xFF, a & 0xFF, 64}) + data));
  }
  EXPECT_EQ(engine.BlocksToWrite, 1024);
}

// --- EEPROM, configuration, clear-all ---

TEST_F(WriterTest, SingleLocationBlocks) {
  const struct {
    uint8_t code;
    bool config;
    int32_t address, value;
    std::string block;  // the bytes sent, checksum included; empty: refused
    std::string line;   // logged first (16F: a detail line), or the error
  } cases[] = {
      // clang-format off
      {0x31, false, 0, 0xB6, "40 00 01 B6 09 ", "EEPROM16F Location:[000h] <- B6h"},
      {0x41, false, 0, 0xB6, "40 00 B6 00 0A ", "eeprom addr:000h <- B6h"},
      {0x41, true, 0x300003, 0xFF, "B0 00 03 01 FF 4D ", "cfg addr:300003h <- FFh"},
      {0x41, true, 0x2FFFFF, 0xFF, "", "Address should be above 300000h"},
      {0x71, false, 0x7FFC00, 0x12, "00 FC 7F 02 12 00 71 ", "eeprom addr:7FFC00h <- 12h"},
      // A dsPIC configuration word keeps all 16 bits.
      {0x71, true, 0xF80000, 0x1234, "00 00 F8 02 34 12 C0 ", "eeprom addr:F80000h <- 1234h"},
      // 33h has 128 bytes: the last is 127, the size itself is refused.
      {0x33, false, 127, 0x01, "40 7F 01 01 3F ", "EEPROM16F Location:[07Fh] <- 01h"},
      {0x33, false, 128, 1, "", "Address bigger than 255"},
      {0x41, false, 256, 1, "", "Address bigger than 255"},
      // dsPIC30F2010: 1 KB of EEPROM at 7FFC00h..7FFFFFh; address 0 is flash.
      {0x71, false, 0, 1, "", "Address outside the EEPROM [7FFC00h..7FFFFFh]"},
      {0x71, false, 0x800000, 1, "", "Address outside the EEPROM [7FFC00h..7FFFFFh]"},
      {0x51, false, 0, 1, "", "Impossible"}, {0x61, false, 0, 1, "", "Impossible"},
      {0x81, false, 0, 1, "", "Impossible"}, {0x31, true, 0x300000, 1, "", "Impossible"},
      {0x61, true, 0x300000, 1, "", "Impossible"}, {0x81, true, 0xF80000, 1, "", "Impossible"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Offline(c.code);
    const Raised r = CatchVantle([&] {
      if (c.config) {
        engine.WriteConfigByte(c.address, c.value);
      } else {
        engine.WriteEEPROMByte(c.address, static_cast<uint8_t>(c.value));
      }
    });
    EXPECT_EQ(r.message, c.block.empty() ? c.line : "");
    ASSERT_EQ(Blocks().size(), c.block.empty() ? 0u : 1u);
    if (c.block.empty()) continue;
    EXPECT_EQ(HexDump(Blocks()[0]), c.block);
    EXPECT_EQ(log.front(), (LogLine{c.code < 0x40 ? LogDetail : LogIndent3, c.line}));
  }
}

// After the flash, the EEPROM pass of the family: its locations counted in
// 8 bits (16F and PIC18 layouts differ), dsPIC30 words, none for J and
// dsPIC33, a refusal for K.
TEST_F(WriterTest, EEPROMPassAfterTheFlash) {
  const struct {
    uint8_t code;
    int32_t eeSize;
    bool writeEEPROM;
    int32_t written;
    LogLine line;  // logged after the flash; {0, the error raised}
  } cases[] = {
      // clang-format off
      {0x41, 256, true, 256, {LogDetail, " Flashwrite ok"}},
      {0x41, 1024, true, 256, {LogDetail, " Flashwrite ok"}},
      {0x41, 300, true, 44, {LogDetail, " Flashwrite ok"}},
      {0x31, 100, true, 100, {LogDetail, "  eeprom write ok"}},
      {0x31, 512, true, 256, {LogDetail, "  eeprom write ok"}},
      {0x31, 256, false, 0, {LogDetail, " Flashwrite ok"}},
      {0x31, 0, true, 0, {0, "Address bigger than 255"}},
      {0x51, 0, true, 0, {LogDetail, " No EEPROM"}},
      {0x61, 1024, true, 0, {0, "Impossible"}},
      // dsPIC30: whole words at 7FFC00h + offset; 600 marked bytes, 300 words.
      {0x71, 1024, true, 300, {LogDetail, "  eeprom write ok"}},
      {0x71, 1024, false, 0, {LogIndent3, "WRITE OK*"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.code} << " EESize " << c.eeSize);
    Offline(c.code);
    engine.pic.EESize = c.eeSize;
    Put(0x1000, B({0x12, 0x34}));
    for (int32_t i = 0; i < 600; ++i)
      SetEEPROM(i, static_cast<uint8_t>(i ^ 0x5A));
    const Raised r = CatchVantle([&] { engine.WriteFlash(c.writeEEPROM); });
    EXPECT_EQ(r.message, c.line.flags == 0 ? c.line.text : "");
    EXPECT_EQ(LoggedWriteOk(), c.line.flags != 0);
    if (c.line.flags != 0) EXPECT_TRUE(Logged(c.line));
    const auto& blocks = Blocks();
    ASSERT_GT(blocks.size(), size_t(c.written));
    const size_t flash = blocks.size() - size_t(c.written);  // the flash goes first
    EXPECT_NE(blocks[flash - 1][0], 0x40);
    for (int32_t i = 0; i < c.written; ++i) {
      const int p = 0x7FFC00 + 2 * i;
      const std::string want =
          c.code == 0x31 ? B({0x40, i, 1, i ^ 0x5A})
          : c.code == 0x41
              ? B({0x40, i, i ^ 0x5A, 0})
              : B({p & 0xFF, (p >> 8) & 0xFF, p >> 16, 2, (2 * i) ^ 0x5A, (2 * i + 1) ^ 0x5A});
      ASSERT_EQ(blocks[flash + size_t(i)], Checked(want)) << i;
    }
  }
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
  for (uint8_t code : {0x51, 0x61}) {
    Offline(code);
    EXPECT_EQ(CatchVantle([&] { engine.FillUserFlash(); }).message, "unknown family");
    EXPECT_TRUE(engine.BlockIsEmpty(0, engine.pic.FlashSize));
  }
}

// --- The block exchange ---

constexpr uint8_t kBlockLine = LogIndent3 | LogDetail;
const LogLine kAck{kBlockLine, "Received \"K\": Ok"};
const LogLine kNak{kBlockLine, "Received \"N\": crc fail"};
const LogLine kFailed{LogIndent6, "Could not write"};
LogLine CatchUp(int attempt) {
  return {kBlockLine, Format("timeout %d, trying to catch up", attempt)};
}

// A 16F program (CLRF PCLATH, GOTO 100h), a unit at 100h and an EEPROM
// byte: three flash blocks, the slot's last, then the EEPROM block, against
// a virtual PIC that takes 100 ms to write a block and answers N, rubbish,
// nothing, or hangs up.
TEST_F(WriterTest, WriteUnderLineFaults) {
  const struct {
    const char* name;
    TSimFaults faults;
    int sends;       // blocks put on the line, resends included
    int accepted;    // by the virtual PIC; -1: not counted
    LogLines lines;  // in this order, others between them
  } cases[] = {
      // clang-format off
      {"Clean", {}, 4, 4, {kAck, kAck, kAck, kAck}},
      {"TwoNaksThenK", {.NakFirst = 2}, 6, 4, {kNak, kNak, kAck, kAck}},
      {"ThreeNaks", {.NakFirst = 3}, 3, 0, {kNak, kNak, kNak, kFailed}},
      {"Rubbish", {.RubbishAt = 1}, 1, 1,
       {{kBlockLine, "Received rubbish, Hex: 41 58 59   Str: AXY"}, kFailed}},
      {"CatchUp", {.DropBytes = 2, .DropBlock = 1}, 5, 4,
       {CatchUp(1), {kBlockLine, "caught up after 2 bytes"}, kAck}},
      {"Silent", {.SilentFrom = 1}, 3, -1, {CatchUp(1), CatchUp(2), CatchUp(3), kFailed}},
      {"HangUp", {.HangupAt = 2}, 2, 2, {kAck, {LogIndent6, "Communication error *"}, kFailed}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPICInfo info = PicTable()[0x31];
    ASSERT_TRUE(DerivePicGeometry(info));
    TVirtualPic pic(0x31, info, {.WriteMs = 100, .Faults = c.faults});
    Install<TInProcessLink>(pic);
    ASSERT_TRUE(engine.Connect("sim", 115200));
    ASSERT_TRUE(engine.SearchPIC(false));
    Identify(0x31);
    Put(0, W({0x018A, 0x2900, 0x0000, 0x0000}));
    for (int32_t a = 0x100; a < 0x140; ++a)
      Put(a, B({a & 0x3F}));
    SetEEPROM(5, 0xA5);
    engine.ReallocateReset();
    const Raised r = CatchVantle([&] { engine.WriteFlash(true); });
    engine.Link = std::make_unique<TOfflineLink>();  // before the PIC goes
    EXPECT_EQ(engine.LinkStats.BlocksSent, c.sends);
    EXPECT_EQ(engine.LinkStats.NAnswers, std::count(c.lines.begin(), c.lines.end(), kNak));
    EXPECT_TRUE(InOrder(log, c.lines)) << testing::PrintToString(log);
    // No catch-up beyond the ones expected.
    EXPECT_EQ(Count({kBlockLine, "timeout *"}),
              std::count_if(c.lines.begin(), c.lines.end(),
                            [](const LogLine& l) { return l.text.rfind("timeout ", 0) == 0; }));
    const bool ok = c.lines.back() != kFailed;
    EXPECT_EQ(LoggedWriteOk(), ok);
    EXPECT_EQ(r.message, ok ? "" : "Could not write");
    if (!ok) EXPECT_EQ(r.kind, EVantleError::Kind::SerialLink);
    if (c.accepted >= 0) EXPECT_EQ(pic.Stats().BlocksAccepted, c.accepted);
    if (!ok) continue;
    EXPECT_EQ(progress, (std::vector<int32_t>{33, 67, 100}));
    EXPECT_TRUE(pic.Stats().HostErrors.empty()) << testing::PrintToString(pic.Stats().HostErrors);
    for (int32_t a = 0x100; a < 0x140; ++a)
      ASSERT_EQ(pic.Flash()[size_t(a)], a & 0x3F) << a;
    const TBootPath path = JudgeBootPath(info, pic.Flash());
    EXPECT_TRUE(path.Ok) << path.Line;
    EXPECT_EQ(path.Target, 0x100);
    EXPECT_EQ(pic.EEPROM()[5], 0xA5);
  }
}

}  // namespace
}  // namespace vantlebld::test
