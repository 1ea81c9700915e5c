// The virtual PIC driven in-process: what each family's firmware does with
// the host's blocks, and vantlebld-sim's command line.
#include "sim/virtual_pic.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/format.h"
#include "sim/sim_options.h"
#include "tests/sim/sim_test_support.h"

namespace vantlebld::test {
namespace {

constexpr uint8_t kId = 0xC1;

// One model per family: B, C, J, K, D, E.
class FamilyTest : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FamilyTest, WritesGoodBlocksOutsideItsOwnCodeAndExportsAllOfItsMemory) {
  const TPICInfo info = TablePic(GetParam());
  TVirtualPic pic(GetParam(), info);
  const uint32_t unit = UnitBytes(info), at = 2 * unit, code = pic.Memory().CodeStart();
  const std::vector<uint8_t> erased = pic.Flash();
  Bytes hex(unit);  // counting up from 10h; dsPIC phantom bytes 00h
  for (size_t i = 0; i < unit; ++i)
    hex[i] = IsDsPIC(info.Family) && i % 4 == 3 ? 0x00 : static_cast<uint8_t>(0x10 + i);
  ASSERT_EQ(Send(pic, {kId}, 0), std::string({static_cast<char>(GetParam()), 'K'}));
  Bytes block = FlashBlock(info, at, hex);
  block.back() ^= 0x01;
  EXPECT_EQ(Send(pic, block, 5), "N");
  EXPECT_EQ(pic.Flash(), erased);
  block.back() ^= 0x01;
  EXPECT_EQ(Send(pic, block, 5), "K");
  EXPECT_TRUE(std::equal(hex.begin(), hex.end(), pic.Flash().begin() + at));
  EXPECT_TRUE(std::equal(&erased[at - 4], &erased[at], &pic.Flash()[at - 4]));
  // A block into the firmware is answered 'K' like any other, but leaves
  // the code alone: the host is at fault and is told so.
  EXPECT_EQ(Send(pic, FlashBlock(info, code, Bytes(unit, 0x00)), 5), "K");
  EXPECT_TRUE(std::equal(erased.begin() + code, erased.end(), pic.Flash().begin() + code));
  EXPECT_EQ(pic.Stats().HostErrors,
            std::vector{Format("host wrote into the bootloader's code at %06Xh (block 3)", code)});

  const auto exported = ParseHex(pic.ExportHex());
  for (uint32_t a = 0; a < pic.Flash().size(); ++a) {
    const auto it = exported.find(a);
    ASSERT_TRUE(it != exported.end() && it->second == pic.Flash()[a]) << Format("at %06Xh", a);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, FamilyTest,
                         ::testing::Values(0x31, 0x41, 0x51, 0x61, 0x71, 0x82));

TEST(VirtualPic, EraseCommandErasesOnePage) {
  for (const uint8_t code : {uint8_t{0x41}, uint8_t{0x51}, uint8_t{0x61}, uint8_t{0x81}}) {
    SCOPED_TRACE(Format("code %02Xh", code));
    const TPICInfo info = TablePic(code);
    TVirtualPic pic(code, info);
    const uint32_t page = static_cast<uint32_t>(info.ErasePageInstr) * info.BytesPerInstrPC;
    const uint32_t unit = UnitBytes(info);
    const std::vector<uint8_t> erased = pic.Flash();
    Send(pic, {kId}, 0);
    // The last block below the page and every block of it.
    for (uint32_t a = page - unit; a < 2 * page; a += unit)
      ASSERT_EQ(Send(pic, FlashBlock(info, a, Bytes(unit, 0x5A)), 1), "K");
    // The erase command: a block of two 00h bytes at the page.
    EXPECT_EQ(Send(pic, FlashBlock(info, page, Bytes(2, 0x00)), 2), "K");
    EXPECT_TRUE(std::equal(&erased[page], &erased[2 * page], &pic.Flash()[page]));
    EXPECT_EQ(pic.Flash()[page - 2], 0x5A);
    EXPECT_TRUE(pic.Stats().HostErrors.empty());
  }
}

// Each block lands in the EEPROM or the configuration, read back through
// the export at the address a HEX file gives it; or the firmware cannot
// carry it out, answers 'K' all the same, changes nothing and tells the host.
TEST(VirtualPic, BlocksLandWhereAHexFileHasThemOrAreHostErrors) {
  const struct {
    uint8_t code;
    Bytes block;
    uint32_t hexAddress;
    Bytes hexBytes;
    const char* error;
  } cases[] = {
      {0x31, {0x40, 0x00, 0x01, 0xB6, 0x09}, 0x4200, {0xB6, 0x00}, nullptr},
      {0x31, Sealed({0x40, 0x05, 0x01, 0x5A}), 0x420A, {0x5A, 0x00}, nullptr},
      {0x41, {0x40, 0x00, 0xB6, 0x00, 0x0A}, 0xF00000, {0xB6}, nullptr},
      {0x41, {0xB0, 0x00, 0x03, 0x01, 0xFF, 0x4D}, 0x300003, {0xFF}, nullptr},
      {0x71, {0x00, 0xFC, 0x7F, 0x02, 0x12, 0x00, 0x71}, 0xFFF800, {0x12, 0, 0, 0}, nullptr},
      {0x71, Sealed({0x02, 0x00, 0xF8, 0x02, 0x34, 0x12}), 0x1F00004, {0x34, 0x12, 0, 0}, nullptr},
      {0x31, FlashBlock(TablePic(0x31), 0x4000, Bytes(64, 0)), 0, {}, "past the end of flash"},
      {0x31, FlashBlock(TablePic(0x31), 0x100, Bytes(32, 0)), 0, {}, "flash block of 32 bytes"},
      {0x41, Sealed({0xAF, 0xFF, 0xFF, 0x01, 0x00}), 0, {}, "configuration write at 2FFFFFh"},
      {0x81, Sealed({0x40, 0, 0, 0, 0x02, 0, 0, 0}), 0, {}, "not start an erase page"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Format("code %02Xh, %06Xh, %s", c.code, c.hexAddress, c.error ? c.error : ""));
    TVirtualPic pic(c.code, TablePic(c.code));
    const std::string untouched = pic.ExportHex();
    Send(pic, {kId}, 0);
    EXPECT_EQ(Send(pic, c.block, 1), "K");
    const auto hex = ParseHex(pic.ExportHex());
    for (size_t i = 0; i < c.hexBytes.size(); ++i)
      EXPECT_EQ(hex.at(c.hexAddress + static_cast<uint32_t>(i)), c.hexBytes[i]);
    const auto& errors = pic.Stats().HostErrors;
    ASSERT_EQ(errors.size(), c.error ? 1u : 0u);
    if (c.error) {
      EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
      EXPECT_EQ(pic.ExportHex(), untouched);
    }
  }
}

// The program's remote reset: after a job the program echoes until the
// reset codes arrive in a row (a code alone is only echoed), then the
// bootloader answers the activation byte again. The host waits out its
// answer time-out before the first block: the blocks of the earlier job
// must not let that quiet start the program, the next job's blocks do.
// (Each start's boot-path line: the CLI's watch test reads them.)
TEST(VirtualPic, ResetCodesRestartTheBootloader) {
  TVirtualPic pic(0x41, TablePic(0x41),
                  {.Faults = {}, .RunAfterWrite = true, .ResetCodes = std::string("\x80\x12", 2)});
  const Bytes block = FlashBlock(pic.Pic(), 0x100, Bytes(UnitBytes(pic.Pic()), 0x11));
  EXPECT_EQ(Send(pic, {kId}, 0), "AK");
  EXPECT_EQ(Send(pic, block, 1), "K");
  pic.Advance(1 + TVirtualPic::kRunAfterIdleMs);
  ASSERT_TRUE(pic.ProgramRunning());
  EXPECT_EQ(Send(pic, {'a', 0x80, 'b', 0x12, 0x80, 0x12}, 400),
            (std::string{'a', '\x80', 'b', '\x12', '\x80'}));
  EXPECT_FALSE(pic.ProgramRunning());
  EXPECT_EQ(Send(pic, {kId}, 402), "AK");
  pic.Advance(402 + 10 * TVirtualPic::kRunAfterIdleMs);
  EXPECT_FALSE(pic.ProgramRunning());
  EXPECT_EQ(Send(pic, block, 4000), "K");
  pic.Advance(4000 + TVirtualPic::kRunAfterIdleMs);
  EXPECT_TRUE(pic.ProgramRunning());
  EXPECT_EQ(pic.Stats().RemoteResets, 1);
}

// vantlebld-sim's command line: both value forms, the number notations and
// what is refused. The line faults themselves are played against the
// host's recovery in tests/engine/jobs_test.cpp, the program's stream in
// pty_server_test.cpp.
TEST(SimCommandLine, ReadsValuesAfterASpaceOrAnEqualsSignInAnyNumberNotation) {
  const TSimCommandLine c = ParseSimCommandLine({"--code", "41h", "--piccodes=t.ini", "--baud-pace",
                                                 "0x1C200", "--drop", "3@0Ah", "--run-after-write",
                                                 "--stream=10000000", "--reset-codes", "128, 12h"});
  EXPECT_EQ(std::tuple(c.Code, c.PicCodes, c.BaudPace, c.Options.StreamRate),
            std::tuple(0x41, "t.ini", 115200, 10'000'000));
  EXPECT_EQ(std::pair(c.Options.Faults.DropBytes, c.Options.Faults.DropBlock), std::pair(3, 10));
  EXPECT_TRUE(c.Options.RunAfterWrite && !c.Options.RunProgramAtStart);
  EXPECT_EQ(c.Options.ResetCodes, std::string("\x80\x12", 2));
  EXPECT_EQ(ParseSimCommandLine({"--code", "41"}).Code, 41);  // plain digits are decimal
}

TEST(SimCommandLine, RefusesWhatCannotBeRun) {
  const std::vector<std::string> refused[] = {
      {},
      {"--code", "0"},
      {"--code", "100h"},
      {"--code", "41", "--stream", "100"},  // nothing runs the stream
      {"--code", "41", "--run-after-write", "--stream", "10000001"},
      {"--code", "41", "--reset-codes", "128"},  // no program to reset
      {"--code", "41", "--run-program", "--reset-codes", "256"},
      {"--code", "41", "--drop", "3"},
      {"--code", "41", "--drop", "0@1"},
      {"--code", "41", "--id", "256"},
      {"--code", "41", "--echo=1"},
      {"--code", "41", "--link"},
      {"--code", "41", "stray"}};
  for (const auto& args : refused)
    EXPECT_THROW(ParseSimCommandLine(args), TSimUsageError) << testing::PrintToString(args);
}

}  // namespace
}  // namespace vantlebld::test
