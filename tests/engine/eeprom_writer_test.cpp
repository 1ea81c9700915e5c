// Single EEPROM and configuration writes, the EEPROM pass after the flash
// and the clear-all fill, with the blocks read back from an offline log.
#include "tests/engine/writer_fixture.h"

namespace vantlebld::test {
namespace {

class EEPROMWriterTest : public WriterFixture {};

enum class TWrite { EEPROM, Config };

struct SingleCase {
  uint8_t code;
  TWrite what;
  int32_t address, value;
  std::string block;  // empty: refused
  LogLine line;       // the error's text when refused
};

const SingleCase kSingles[] = {
    {0x31,
     TWrite::EEPROM,
     0,
     0xB6,
     B({0x40, 0x00, 0x01, 0xB6, 0x09}),
     {LogDetail, "EEPROM16F Location:[000h] <- B6h"}},
    {0x41,
     TWrite::EEPROM,
     0,
     0xB6,
     B({0x40, 0x00, 0xB6, 0x00, 0x0A}),
     {LogIndent3, "eeprom addr:000h <- B6h"}},
    {0x41,
     TWrite::Config,
     0x300003,
     0xFF,
     B({0xB0, 0x00, 0x03, 0x01, 0xFF, 0x4D}),
     {LogIndent3, "cfg addr:300003h <- FFh"}},
    {0x41, TWrite::Config, 0x2FFFFF, 0xFF, "", {0, "Address should be above 300000h"}},
    {0x71,
     TWrite::EEPROM,
     0x7FFC00,
     0x12,
     B({0x00, 0xFC, 0x7F, 0x02, 0x12, 0x00, 0x71}),
     {LogIndent3, "eeprom addr:7FFC00h <- 12h"}},
    // A dsPIC configuration word keeps all 16 bits.
    {0x71,
     TWrite::Config,
     0xF80000,
     0x1234,
     B({0x00, 0x00, 0xF8, 0x02, 0x34, 0x12, 0xC0}),
     {LogIndent3, "eeprom addr:F80000h <- 1234h"}},
    // 33h has 128 bytes: the size itself passes, one more does not.
    {0x33,
     TWrite::EEPROM,
     128,
     0x01,
     B({0x40, 0x80, 0x01, 0x01, 0x3E}),
     {LogDetail, "EEPROM16F Location:[080h] <- 01h"}},
    {0x33, TWrite::EEPROM, 129, 0x01, "", {0, "Address bigger than 255"}},
    {0x41, TWrite::EEPROM, 257, 0x01, "", {0, "Address bigger than 255"}},
    {0x51, TWrite::EEPROM, 0, 0x01, "", {0, "Impossible"}},
    {0x61, TWrite::EEPROM, 0, 0x01, "", {0, "Impossible"}},
    {0x81, TWrite::EEPROM, 0, 0x01, "", {0, "Impossible"}},
    {0x31, TWrite::Config, 0x300000, 0x01, "", {0, "Impossible"}},
    {0x61, TWrite::Config, 0x300000, 0x01, "", {0, "Impossible"}},
    {0x81, TWrite::Config, 0xF80000, 0x01, "", {0, "Impossible"}},
};

TEST_F(EEPROMWriterTest, SingleLocationBlocks) {
  for (const auto& c : kSingles) {
    SCOPED_TRACE(c.line.text);
    Offline(c.code);
    const Raised r = CatchVantle([&] {
      if (c.what == TWrite::EEPROM) {
        engine.WriteEEPROMByte(c.address, static_cast<uint8_t>(c.value));
      } else {
        engine.WriteConfigByte(c.address, c.value);
      }
    });
    if (c.block.empty()) {
      EXPECT_EQ(r.message, c.line.text);
      EXPECT_TRUE(log.empty()) << log.front();
    } else {
      EXPECT_FALSE(r.thrown) << r.message;
      EXPECT_EQ(Blocks(), std::vector<std::string>{c.block});
      EXPECT_EQ(log.front(), c.line);
    }
  }
}

struct PassCase {
  uint8_t code;
  int32_t eeSize, marked;  // offsets 0..marked-1 carry data
  int32_t written;
  const char* error;
};

TEST_F(EEPROMWriterTest, PassVisitsAnEightBitCounterOfLocations) {
  const PassCase cases[] = {
      {0x41, 256, 300, 256, nullptr}, {0x41, 1024, 600, 256, nullptr},
      {0x41, 300, 300, 44, nullptr},  {0x31, 100, 300, 100, nullptr},
      {0x31, 512, 300, 256, nullptr}, {0x31, 0, 2, 1, "Address bigger than 255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << int{c.code} << " EESize " << std::dec << c.eeSize);
    Offline(c.code);
    engine.pic.EESize = c.eeSize;
    for (int32_t i = 0; i < c.marked; ++i) {
      engine.EEData[i] = static_cast<uint8_t>(i ^ 0x5A);
      engine.EEFlag[i] = kPresent;
    }
    const Raised r = CatchVantle([&] {
      if (c.code == 0x31) {
        engine.WriteAllEEPROMReport();
      } else {
        engine.WriteAllEEPROM();
      }
    });
    EXPECT_EQ(r.message, c.error ? c.error : "");
    const auto blocks = Blocks();
    ASSERT_EQ(blocks.size(), static_cast<size_t>(c.written));
    for (int32_t i = 0; i < c.written; ++i) {
      const std::string want =
          c.code == 0x31 ? B({0x40, i, 1, i ^ 0x5A}) : B({0x40, i, i ^ 0x5A, 0});
      ASSERT_EQ(blocks[i], Checked(want)) << i;
    }
  }
}

struct WriteCase {
  uint8_t code;
  bool writeEEPROM;
  int eepromBlocks;
  LogLine line;  // logged after the flash; {0, message} for the error raised
};

TEST_F(EEPROMWriterTest, WriteFlashRunsThePassOfTheFamily) {
  const WriteCase cases[] = {
      {0x31, true, 2, {LogDetail, "  eeprom write ok"}},
      {0x31, false, 0, {LogDetail, " Flashwrite ok"}},
      {0x41, true, 2, {LogDetail, " Flashwrite ok"}},
      {0x51, true, 0, {LogDetail, " No EEPROM"}},
      {0x61, true, 0, {0, "Impossible"}},
      {0x71, true, 0, {LogIndent3, "WRITE OK*"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Offline(c.code);
    Put(0x1000, B({0x12, 0x34}));
    for (int i : {3, 0x7F}) {
      engine.EEData[i] = 0xC3;
      engine.EEFlag[i] = kPresent;
    }
    const Raised r = CatchVantle([&] { engine.WriteFlash(c.writeEEPROM); });
    const auto blocks = Blocks();
    const auto isEEPROM = [](const std::string& b) { return b[0] == 0x40; };
    ASSERT_FALSE(blocks.empty());
    EXPECT_FALSE(isEEPROM(blocks.front()));
    EXPECT_EQ(std::count_if(blocks.begin(), blocks.end(), isEEPROM), c.eepromBlocks);
    EXPECT_TRUE(std::is_partitioned(blocks.begin(), blocks.end(), std::not_fn(isEEPROM)));
    if (c.line.flags == 0) {
      EXPECT_EQ(r.message, c.line.text);
      EXPECT_FALSE(LoggedStarting(LogIndent3, "WRITE OK"));
    } else {
      EXPECT_FALSE(r.thrown) << r.message;
      EXPECT_TRUE(LoggedStarting(c.line.flags, c.line.text.substr(0, c.line.text.find('*'))));
      EXPECT_TRUE(LoggedStarting(LogIndent3, "WRITE OK"));
    }
  }
}

TEST_F(EEPROMWriterTest, FillUserFlashSparesTheVectorsAndTheZone) {
  const std::pair<uint8_t, int32_t> cases[] = {{0x31, 8}, {0x41, 8}, {0x71, 0x200}, {0x81, 0x400}};
  for (const auto& [code, first] : cases) {
    SCOPED_TRACE(code);
    Offline(code);
    Put(0, B({0x11, 0x22}));
    Put(first - 1, B({0x33}));
    const int32_t zone = engine.pic.StartBldZone;
    engine.SetByte(zone + 20, 0, 0x44);
    const std::string below = Image(0, first);
    engine.FillUserFlash();
    EXPECT_EQ(Image(0, first), below);
    EXPECT_FALSE(engine.IsPresent(2));
    for (int32_t a = first; a < engine.pic.FlashSize; ++a) {
      ASSERT_EQ(engine.IsPresent(a), a < zone) << a;
      ASSERT_EQ(engine.FlashData[a], a == zone + 20 ? 0x44 : 0xFF) << a;
    }
  }
  for (uint8_t code : {0x51, 0x61}) {
    Offline(code);
    EXPECT_EQ(CatchVantle([&] { engine.FillUserFlash(); }).message, "unknown family");
    EXPECT_TRUE(engine.BlockIsEmpty(0, engine.pic.FlashSize));
  }
}

}  // namespace
}  // namespace vantlebld::test
