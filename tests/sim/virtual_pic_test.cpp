// The virtual PIC driven in-process: what each family's firmware does with
// the host's blocks, and what it holds before the host writes anything.
#include "sim/virtual_pic.h"

#include <gtest/gtest.h>

#include "engine/format.h"
#include "tests/sim/sim_test_support.h"

namespace vantlebld::test {
namespace {

constexpr uint8_t kId = 0xC1;

// One model per family: B, C, J, K, D, E.
class FamilyTest : public ::testing::TestWithParam<uint8_t> {
 protected:
  FamilyTest() : info(TablePic(GetParam())), pic(GetParam(), info) {}

  // A unit of HEX bytes counting up from first; dsPIC phantom bytes 00h.
  Bytes Pattern(uint8_t first) const {
    Bytes hex(UnitBytes(info));
    for (size_t i = 0; i < hex.size(); ++i)
      hex[i] = IsDs(info) && i % 4 == 3 ? 0x00 : static_cast<uint8_t>(first + i);
    return hex;
  }
  Bytes FlashAt(uint32_t a, size_t n) const {
    return {pic.Flash().begin() + a, pic.Flash().begin() + a + static_cast<std::ptrdiff_t>(n)};
  }
  void Identify() {
    const std::string answer = {static_cast<char>(GetParam()), 'K'};
    ASSERT_EQ(Send(pic, {kId}, 0), answer);
  }

  TPICInfo info;
  TVirtualPic pic;
};

TEST_P(FamilyTest, AnswersOnlyTheActivationByteWithItsCodeAndK) {
  EXPECT_EQ(Send(pic, {0x55, 0x00}, 0), "");
  EXPECT_FALSE(pic.Identified());
  Identify();
  EXPECT_EQ(pic.Stats().ActivationBytes, 3);
}

TEST_P(FamilyTest, FlashBlockLandsAtItsHexAddress) {
  Identify();
  const uint32_t a = 2 * UnitBytes(info);
  const Bytes erasedBefore = FlashAt(a - 4, 4);
  EXPECT_EQ(Send(pic, FlashBlock(info, a, Pattern(0x10)), 5), "K");
  EXPECT_EQ(FlashAt(a, UnitBytes(info)), Pattern(0x10));
  EXPECT_EQ(FlashAt(a - 4, 4), erasedBefore);
  EXPECT_EQ(pic.Stats().BlocksAccepted, 1);
  EXPECT_TRUE(pic.Stats().HostErrors.empty());
}

TEST_P(FamilyTest, BadChecksumAnswersNAndWritesNothing) {
  Identify();
  const std::vector<uint8_t> before = pic.Flash();
  Bytes block = FlashBlock(info, 0, Pattern(0x20));
  block.back() ^= 0x01;
  EXPECT_EQ(Send(pic, block, 5), "N");
  EXPECT_EQ(pic.Flash(), before);
  EXPECT_EQ(pic.Stats().NAnswers, 1);
  EXPECT_EQ(pic.Stats().BlocksAccepted, 0);
}

// Decodes the family's jump at a HEX address into the program address it
// reaches, as the PIC would execute it; -1 when it is no such jump.
int64_t JumpTarget(const TPICInfo& info, const std::vector<uint8_t>& f, uint32_t a) {
  const auto word = [&](uint32_t i) { return f[a + 2 * i] | (f[a + 2 * i + 1] << 8); };
  if (info.Family == kFamily16F) {
    // MOVLW k; MOVWF PCLATH; GOTO: PCLATH<4:3> give the page.
    if ((word(0) & 0x3F00) != 0x3000 || word(1) != 0x008A || (word(2) & 0x3800) != 0x2800)
      return -1;
    return ((word(0) & 0x18) << 8) | (word(2) & 0x7FF);
  }
  if (!IsDs(info)) {
    if ((word(0) & 0xFF00) != 0xEF00 || (word(1) & 0xF000) != 0xF000) return -1;
    return ((word(1) & 0xFFF) << 8) | (word(0) & 0xFF);
  }
  if (f[a + 2] != 0x04 || f[a + 3] || f[a + 5] || f[a + 6] || f[a + 7]) return -1;
  return f[a] | (f[a + 1] << 8) | (f[a + 4] << 16);
}

TEST_P(FamilyTest, ResetJumpsToTheEntryWhoseStubJumpsToTheSlot) {
  const auto entry =
      static_cast<uint32_t>(info.StartBldZone + info.BldSlotInstr * info.BytesPerInstrPC) / 2;
  EXPECT_EQ(pic.Memory().EntryAddress(), entry);
  EXPECT_EQ(JumpTarget(info, pic.Flash(), 0), entry);
  EXPECT_EQ(JumpTarget(info, pic.Flash(), 2 * entry), info.StartBldZone / 2);
}

TEST_P(FamilyTest, WriteIntoTheFirmwareIsAHostErrorAndChangesNothing) {
  Identify();
  const uint32_t code = pic.Memory().CodeStart();
  const std::vector<uint8_t> before = pic.Flash();
  EXPECT_EQ(Send(pic, FlashBlock(info, code, Bytes(UnitBytes(info), 0x00)), 5), "K");
  EXPECT_EQ(pic.Flash(), before);
  ASSERT_EQ(pic.Stats().HostErrors.size(), 1u);
  EXPECT_EQ(pic.Stats().HostErrors[0],
            Format("host wrote into the bootloader's code at %06Xh (block 1)", code));
}

TEST_P(FamilyTest, ExportHexReadsBackAsTheWholeMemory) {
  Identify();
  Send(pic, FlashBlock(info, UnitBytes(info), Pattern(0x30)), 5);
  const auto hex = ParseHex(pic.ExportHex());
  for (uint32_t a = 0; a < pic.Flash().size(); ++a) {
    const auto it = hex.find(a);
    ASSERT_TRUE(it != hex.end() && it->second == pic.Flash()[a]) << Format("at %06Xh", a);
  }
  // Flash, then one HEX location per EEPROM byte (16F: a word; dsPIC30: two
  // bytes of a 4-byte group), nothing else.
  const size_t eeHexBytes = pic.EEPROM().size() * (IsDs(info) || info.Family == kFamily16F ? 2 : 1);
  EXPECT_EQ(hex.size(), pic.Flash().size() + eeHexBytes);
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, FamilyTest,
                         ::testing::Values(0x31, 0x41, 0x51, 0x61, 0x71, 0x82));

TEST(VirtualPic, EraseCommandErasesOnePage) {
  for (const uint8_t code : {uint8_t{0x41}, uint8_t{0x51}, uint8_t{0x61}, uint8_t{0x81}}) {
    SCOPED_TRACE(Format("code %02Xh", code));
    const TPICInfo info = TablePic(code);
    TVirtualPic pic(code, info);
    const uint32_t page = static_cast<uint32_t>(info.ErasePageInstr) * info.BytesPerInstrPC;
    const std::vector<uint8_t> erased = pic.Flash();
    Send(pic, {kId}, 0);
    for (uint32_t a = page - UnitBytes(info); a <= page; a += UnitBytes(info))
      ASSERT_EQ(Send(pic, FlashBlock(info, a, Bytes(UnitBytes(info), 0x5A)), 1), "K");
    EXPECT_EQ(Send(pic, EraseBlock(info, page), 2), "K");
    EXPECT_TRUE(
        std::equal(erased.begin() + page, erased.begin() + 2 * page, pic.Flash().begin() + page));
    EXPECT_EQ(pic.Flash()[page - 2], 0x5A);  // the page below stays
    EXPECT_TRUE(pic.Stats().HostErrors.empty());
  }
}

struct TValueCase {
  uint8_t code;
  Bytes block;
  bool config;
  uint32_t address;  // EEPROM offset, or the configuration's HEX address
  Bytes stored;
  uint32_t hexAddress;  // where the export puts it
  Bytes hexBytes;
};

TEST(VirtualPic, EEPROMAndConfigurationBlocksStoreTheirValues) {
  const TValueCase cases[] = {
      {0x31, {0x40, 0x00, 0x01, 0xB6, 0x09}, false, 0, {0xB6}, 0x4200, {0xB6, 0x00}},
      {0x31, Sealed({0x40, 0x05, 0x01, 0x5A}), false, 5, {0x5A}, 0x420A, {0x5A, 0x00}},
      {0x41, {0x40, 0x00, 0xB6, 0x00, 0x0A}, false, 0, {0xB6}, 0xF00000, {0xB6}},
      {0x41, {0xB0, 0x00, 0x03, 0x01, 0xFF, 0x4D}, true, 0x300003, {0xFF}, 0x300003, {0xFF}},
      {0x71,
       {0x00, 0xFC, 0x7F, 0x02, 0x12, 0x00, 0x71},
       false,
       0,
       {0x12, 0x00},
       0xFFF800,
       {0x12, 0x00, 0x00, 0x00}},
      {0x71,
       Sealed({0x02, 0x00, 0xF8, 0x02, 0x34, 0x12}),
       true,
       0x1F00004,
       {0x34, 0x12, 0x00, 0x00},
       0x1F00004,
       {0x34, 0x12, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Format("code %02Xh, address %06Xh", c.code, c.address));
    TVirtualPic pic(c.code, TablePic(c.code));
    Send(pic, {kId}, 0);
    EXPECT_EQ(Send(pic, c.block, 1), "K");
    for (size_t i = 0; i < c.stored.size(); ++i) {
      EXPECT_EQ(c.config ? pic.Config().at(c.address + static_cast<uint32_t>(i))
                         : pic.EEPROM().at(c.address + i),
                c.stored[i]);
    }
    const auto hex = ParseHex(pic.ExportHex());
    for (size_t i = 0; i < c.hexBytes.size(); ++i)
      EXPECT_EQ(hex.at(c.hexAddress + static_cast<uint32_t>(i)), c.hexBytes[i]);
    EXPECT_TRUE(pic.Stats().HostErrors.empty());
  }
}

TEST(VirtualPic, BlocksTheFirmwareCannotCarryOutAreHostErrors) {
  const struct {
    uint8_t code;
    Bytes block;
    const char* error;
  } cases[] = {
      {0x31, FlashBlock(TablePic(0x31), 0x4000, Bytes(64, 0)), "past the end of flash at 004000h"},
      {0x31, FlashBlock(TablePic(0x31), 0x100, Bytes(32, 0)), "flash block of 32 bytes"},
      {0x41, FlashBlock(TablePic(0x41), 0x120, Bytes(64, 0)), "not start on a 64-byte boundary"},
      {0x41, Sealed({0xAF, 0xFF, 0xFF, 0x01, 0x00}), "configuration write at 2FFFFFh"},
      {0x51, Sealed({0x40, 0x00, 0x12, 0x00}), "EEPROM offset 000h"},
      {0x71, Sealed({0x00, 0x01, 0x00, 0x02, 0x11, 0x22}), "neither EEPROM nor configuration"},
      {0x81, Sealed({0x40, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}), "not start an erase page"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    TVirtualPic pic(c.code, TablePic(c.code));
    const std::string untouched = pic.ExportHex();
    Send(pic, {kId}, 0);
    EXPECT_EQ(Send(pic, c.block, 1), "K");
    ASSERT_EQ(pic.Stats().HostErrors.size(), 1u);
    EXPECT_NE(pic.Stats().HostErrors[0].find(c.error), std::string::npos)
        << pic.Stats().HostErrors[0];
    EXPECT_EQ(pic.ExportHex(), untouched);
  }
}

TEST(VirtualPic, RefusesAModelWithoutDerivedGeometry) {
  TablePic(0x41);
  const TPICInfo raw = PicTable()[0x41];  // as the table holds it, nothing derived
  EXPECT_THROW(TVirtualPic(0x41, raw), std::invalid_argument);
}

}  // namespace
}  // namespace vantlebld::test
