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
  ImageTest() { engine.ResizeFlashImage(16); }
};

// Data words are pinned by the relocation tests; here the flags.
TEST_F(ImageTest, FlagAccessorsAndPresenceKeepToTheirBytes) {
  for (int32_t a : {4, 5}) {
    engine.SetByte(a, kFlag, kPresent);
    EXPECT_EQ(engine.GetWord(2, kFlag), kPresent) << a;  // either byte alone
    engine.SetByte(a, kFlag, 0);
  }
  engine.SetWord(3, kFlag, 0x1280);  // both flag bytes take the low byte
  EXPECT_EQ(engine.GetByte(6, kFlag), 0x80);
  EXPECT_EQ(engine.GetByte(7, kFlag), 0x80);
  EXPECT_EQ(engine.GetByte(6, kData), 0);
  EXPECT_EQ(CatchVantle([&] { engine.GetWord(0, 2); }).message, "dataorflag");
  EXPECT_EQ(CatchVantle([&] { engine.SetByte(0, -1, 1); }).message, "dataorflag");
  engine.SetByte(3, kFlag, 0x01);
  engine.MarkPresent(3);
  EXPECT_EQ(engine.GetByte(3, kFlag), 0x81);
  EXPECT_FALSE(engine.IsPresent(2) || engine.IsPresent(4));
  engine.ClearPresent(3);
  EXPECT_EQ(engine.GetByte(3, kFlag), 0x01);
  engine.SetByte(15, kData, 0x5A);
  engine.ResizeFlashImage(32);
  EXPECT_EQ(engine.GetByte(15, kData), 0x5A);
  EXPECT_EQ(engine.GetByte(31, kData), 0);
  EXPECT_EQ(engine.FlashFlag.size(), 32u);
}

TEST_F(ImageTest, ClassifyAddressAreaBoundaries) {
  using A = TArea;
  const uint8_t P16 = kFamily16F, C18 = kFamily18F, J18 = kFamily18FJ, K18 = kFamily18FK,
                D30 = kFamilyDsPIC30, E33 = kFamilyDsPIC33;
  const struct {
    uint8_t family;
    int32_t eeSize;
    int64_t hex;
    TArea area;
    int64_t offset;
  } cases[] = {
      // clang-format off
      // 16F: HEX byte address = 2 x word address; EEPROM in the even bytes.
      {P16, 256, 0x3FFF, A::Flash, 0},             {P16, 256, 0x4000, A::Config, 0},
      {P16, 256, 0x41FF, A::Config, 0},            {P16, 256, 0x4200, A::EEPROM, 0},
      {P16, 256, 0x4201, A::None, 0},              {P16, 256, 0x43FE, A::EEPROM, 0xFF},
      {P16, 256, 0x4400, A::None, 0},
      // PIC18, same map for C, J and K.
      {C18, 256, 0x1FFFFF, A::Flash, 0},           {J18, 0, 0x200000, A::None, 0},
      {C18, 256, 0x300000, A::Config, 0},          {J18, 0, 0x3FFFFF, A::Config, 0},
      {K18, 256, 0x400000, A::None, 0},            {K18, 256, 0xF00000, A::EEPROM, 0},
      {C18, 256, 0xF0FFFF, A::EEPROM, 0xFFFF},     {C18, 256, 0xF10000, A::None, 0},
      // dsPIC30 with the whole 4 KB EEPROM window from 7FF000h; phantom
      // bytes (the third and fourth of each group) have no place.
      {D30, 4096, 0xFFDFFF, A::Flash, 0},          {D30, 4096, 0xFFE000, A::EEPROM, 0},
      {D30, 4096, 0xFFE001, A::EEPROM, 1},         {D30, 4096, 0xFFE002, A::None, 0},
      {D30, 4096, 0xFFE004, A::EEPROM, 2},         {D30, 4096, 0xFFFFFD, A::EEPROM, 4095},
      {D30, 4096, 0x1000000, A::None, 0},          {D30, 4096, 0x1F00000, A::Config, 0},
      {D30, 4096, 0x1F0001F, A::Config, 0},        {D30, 4096, 0x1F00020, A::None, 0},
      // dsPIC30 with 1 KB: EEPROM from 7FFC00h; below it nothing.
      {D30, 1024, 0xFFF7FD, A::None, 0},           {D30, 1024, 0xFFF805, A::EEPROM, 3},
      // dsPIC33: flash up to 800000h, no EEPROM.
      {E33, 0, 0xFFE000, A::Flash, 0},             {E33, 0, 0xFFFFFF, A::Flash, 0},
      {E33, 0, 0x1000000, A::None, 0},             {E33, 0, 0x1F00000, A::Config, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    engine.pic.Family = c.family;
    engine.pic.EESize = c.eeSize;
    SCOPED_TRACE(testing::Message() << "family " << int{c.family} << " EESize " << c.eeSize
                                    << " address " << std::hex << c.hex);
    const TAddressClass got = engine.ClassifyAddress(c.hex);
    EXPECT_EQ(got.Area, c.area);
    if (c.area == A::EEPROM) EXPECT_EQ(got.EEOffset, c.offset);
  }
  for (uint8_t family : {0, 2, 9}) {
    engine.pic.Family = family;
    EXPECT_EQ(CatchVantle([&] { engine.ClassifyAddress(0); }).message, "unknown family");
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
  engine.EEFlag[256] = kPresent;  // past the report
  engine.CfgData[15] = 0xC3;
  engine.CfgFlag[15] = kPresent;
  engine.CfgFlag[16] = kPresent;
  EXPECT_EQ(engine.ImageReport(),
            "Also found:\r\nEEprom: AB " + Blanks(254) + "0F \r\nConfig: " + Blanks(15) + "C3 ");
}

}  // namespace
}  // namespace vantlebld::test
