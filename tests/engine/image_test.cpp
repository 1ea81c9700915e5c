// The firmware image: flash accessors, address conversion and
// classification by family, and the report of the EEPROM and configuration
// areas.
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

constexpr int kData = 0;
constexpr int kFlag = 1;

class ImageTest : public EngineFixture {
 protected:
  ImageTest() {
    engine.pic.Family = kFamily18F;
    engine.pic.FlashSize = 16;
    engine.ResizeFlashImage(16);
  }
};

TEST_F(ImageTest, WordsAreLittleEndian) {
  engine.SetByte(4, kData, 0x34);
  engine.SetByte(5, kData, 0x12);
  EXPECT_EQ(engine.GetWord(2, kData), 0x1234);
  engine.SetWord(3, kData, 0xABCD);
  EXPECT_EQ(engine.GetByte(6, kData), 0xCD);
  EXPECT_EQ(engine.GetByte(7, kData), 0xAB);
  EXPECT_EQ(engine.GetByte(6, kFlag), 0);  // data writes leave the flags alone
}

TEST_F(ImageTest, WordFlagsJoinBothBytes) {
  engine.SetByte(5, kFlag, kPresent);
  EXPECT_EQ(engine.GetWord(2, kFlag), kPresent);  // high byte alone
  engine.SetByte(5, kFlag, 0);
  engine.SetByte(4, kFlag, kPresent);
  EXPECT_EQ(engine.GetWord(2, kFlag), kPresent);  // low byte alone
  engine.SetByte(4, kFlag, 0);
  EXPECT_EQ(engine.GetWord(2, kFlag), 0);
  // Both flag bytes take the low byte of the value.
  engine.SetWord(3, kFlag, 0x1280);
  EXPECT_EQ(engine.GetByte(6, kFlag), 0x80);
  EXPECT_EQ(engine.GetByte(7, kFlag), 0x80);
  EXPECT_EQ(engine.GetByte(6, kData), 0);
}

TEST_F(ImageTest, PresenceTouchesBit7Only) {
  engine.SetByte(3, kData, 0x5A);
  engine.MarkPresent(3);
  EXPECT_EQ(engine.GetByte(3, kFlag), kPresent);
  EXPECT_TRUE(engine.IsPresent(3));
  EXPECT_FALSE(engine.IsPresent(2));
  EXPECT_FALSE(engine.IsPresent(4));
  engine.ClearPresent(3);
  EXPECT_EQ(engine.GetByte(3, kFlag), 0);
  EXPECT_EQ(engine.GetByte(3, kData), 0x5A);
}

TEST_F(ImageTest, OtherSelectorsFail) {
  for (int sel : {-1, 2}) {
    SCOPED_TRACE(sel);
    EXPECT_EQ(CatchVantle([&] { engine.GetByte(0, sel); }).message, "dataorflag");
    EXPECT_EQ(CatchVantle([&] { engine.SetByte(0, sel, 1); }).message, "dataorflag");
    EXPECT_EQ(CatchVantle([&] { engine.GetWord(0, sel); }).message, "dataorflag");
    EXPECT_EQ(CatchVantle([&] { engine.SetWord(0, sel, 1); }).message, "dataorflag");
  }
}

TEST_F(ImageTest, ResizeKeepsBytesAndZeroesNewOnes) {
  engine.SetByte(15, kData, 0xAA);
  engine.MarkPresent(15);
  engine.ResizeFlashImage(32);
  ASSERT_EQ(engine.FlashData.size(), 32u);
  ASSERT_EQ(engine.FlashFlag.size(), 32u);
  EXPECT_EQ(engine.GetByte(15, kData), 0xAA);
  EXPECT_TRUE(engine.IsPresent(15));
  EXPECT_EQ(engine.GetByte(16, kData), 0);
  EXPECT_EQ(engine.GetByte(31, kFlag), 0);
}

TEST_F(ImageTest, HexToPicAddrByFamily) {
  const struct {
    uint8_t family;
    int64_t hex;
    int64_t pic;
  } cases[] = {
      {kFamily16F, 0x4201, 0x2100},
      {kFamilyDsPIC30, 0x1F00021, 0xF80010},
      {kFamilyDsPIC33, 3, 1},
      {kFamily18F, 0x300001, 0x300001},
      {kFamily18FJ, 0xF00001, 0xF00001},
      {kFamily18FK, 0x1FFFFF, 0x1FFFFF},
  };
  for (const auto& c : cases) {
    engine.pic.Family = c.family;
    EXPECT_EQ(engine.HexToPicAddr(c.hex), c.pic) << int{c.family};
  }
  for (uint8_t family : {0, 2, 9}) {
    engine.pic.Family = family;
    EXPECT_EQ(CatchVantle([&] { engine.HexToPicAddr(0); }).message, "unknown family");
    EXPECT_EQ(CatchVantle([&] { engine.ClassifyAddress(0); }).message, "unknown family");
  }
}

TEST_F(ImageTest, ClassifyAddressAreaBoundaries) {
  using A = TArea;
  const struct {
    uint8_t family;
    int32_t eeSize;
    int64_t hex;
    TArea area;
    int64_t offset;
  } cases[] = {
      // 16F: HEX byte address = 2 x word address; EEPROM in the even bytes.
      {kFamily16F, 256, 0x3FFF, A::Flash, 0},
      {kFamily16F, 256, 0x4000, A::Config, 0},
      {kFamily16F, 256, 0x41FF, A::Config, 0},
      {kFamily16F, 256, 0x4200, A::EEPROM, 0},
      {kFamily16F, 256, 0x4201, A::None, 0},
      {kFamily16F, 256, 0x43FE, A::EEPROM, 0xFF},
      {kFamily16F, 256, 0x43FF, A::None, 0},
      {kFamily16F, 256, 0x4400, A::None, 0},
      // PIC18, same map for C, J and K.
      {kFamily18F, 256, 0x1FFFFF, A::Flash, 0},
      {kFamily18FJ, 0, 0x200000, A::None, 0},
      {kFamily18F, 256, 0x300000, A::Config, 0},
      {kFamily18FJ, 0, 0x3FFFFF, A::Config, 0},
      {kFamily18FK, 256, 0x400000, A::None, 0},
      {kFamily18FK, 256, 0xF00000, A::EEPROM, 0},
      {kFamily18F, 256, 0xF0FFFF, A::EEPROM, 0xFFFF},
      {kFamily18F, 256, 0xF10000, A::None, 0},
      // dsPIC30 with the whole 4 KB EEPROM window from 7FF000h.
      {kFamilyDsPIC30, 4096, 0xFFDFFF, A::Flash, 0},
      {kFamilyDsPIC30, 4096, 0xFFE000, A::EEPROM, 0},
      {kFamilyDsPIC30, 4096, 0xFFE001, A::EEPROM, 1},
      {kFamilyDsPIC30, 4096, 0xFFE002, A::None, 0},  // phantom bytes
      {kFamilyDsPIC30, 4096, 0xFFE004, A::EEPROM, 2},
      {kFamilyDsPIC30, 4096, 0xFFFFFD, A::EEPROM, 4095},
      {kFamilyDsPIC30, 4096, 0x1000000, A::None, 0},
      {kFamilyDsPIC30, 4096, 0x1F00000, A::Config, 0},
      {kFamilyDsPIC30, 4096, 0x1F0001F, A::Config, 0},
      {kFamilyDsPIC30, 4096, 0x1F00020, A::None, 0},
      // dsPIC30 with 1 KB: EEPROM from 7FFC00h; below it nothing.
      {kFamilyDsPIC30, 1024, 0xFFF7FD, A::None, 0},
      {kFamilyDsPIC30, 1024, 0xFFF800, A::EEPROM, 0},
      {kFamilyDsPIC30, 1024, 0xFFF805, A::EEPROM, 3},
      // dsPIC33: flash up to 800000h, no EEPROM.
      {kFamilyDsPIC33, 0, 0xFFE000, A::Flash, 0},
      {kFamilyDsPIC33, 0, 0xFFFFFF, A::Flash, 0},
      {kFamilyDsPIC33, 0, 0x1000000, A::None, 0},
      {kFamilyDsPIC33, 0, 0x1F00000, A::Config, 0},
  };
  for (const auto& c : cases) {
    engine.pic.Family = c.family;
    engine.pic.EESize = c.eeSize;
    const TAddressClass got = engine.ClassifyAddress(c.hex);
    SCOPED_TRACE(testing::Message() << "family " << int{c.family} << " EESize " << c.eeSize
                                    << " address " << std::hex << c.hex);
    EXPECT_EQ(got.Area, c.area);
    if (c.area == A::EEPROM) EXPECT_EQ(got.EEOffset, c.offset);
  }
}

std::string Blanks(int n) {
  std::string s;
  for (int i = 0; i < n; ++i)
    s += "__ ";
  return s;
}

TEST_F(ImageTest, ReportShowsPresentBytesOnly) {
  EXPECT_EQ(engine.ImageReport(),
            "Also found:\r\nEEprom: " + Blanks(256) + "\r\nConfig: " + Blanks(16));
  engine.EEData[0] = 0xAB;
  engine.EEFlag[0] = kPresent;
  engine.EEData[1] = 0x55;  // not present
  engine.EEData[255] = 0x0F;
  engine.EEFlag[255] = kPresent;
  engine.EEData[256] = 0x77;  // past the report
  engine.EEFlag[256] = kPresent;
  engine.CfgData[15] = 0xC3;
  engine.CfgFlag[15] = kPresent;
  engine.CfgFlag[16] = kPresent;
  EXPECT_EQ(engine.ImageReport(),
            "Also found:\r\nEEprom: AB " + Blanks(254) + "0F \r\nConfig: " + Blanks(15) + "C3 ");
}

}  // namespace
}  // namespace vantlebld::test
