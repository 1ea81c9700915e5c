// Moving the reset code into the slot, the jump at 0, the repair of 16F
// reset code that leaves PCLATH unset, and the refusal of files that reach
// into the bootloader.
#include "tests/engine/writer_fixture.h"

namespace vantlebld::test {
namespace {

class RelocationTest : public WriterFixture {
 protected:
  void SetUp() override {
    WriterFixture::SetUp();
    engine.OperatingMode = 1;
  }
};

constexpr int kUnset = -1;
constexpr const char* kRepaired = "... sucessfully repaired.";
constexpr const char* kNoRepair = "... could not repair !!!";

struct Reset16F {
  const char* name;
  std::vector<int> words;  // words 0..3 of the file; kUnset: not in it
  std::vector<uint16_t> slot;
  const char* outcome;  // nullptr: PCLATH is set, nothing to repair
  bool gotoMissing;
};

const Reset16F kReset16F[] = {
    {"ClrfPclathThenGoto", {0x018A, 0x2900, 0, 0}, {0x018A, 0x2900, 0, 0}, nullptr, false},
    {"BothPclathBits", {0x158A, 0x120A, 0x2900, 0}, {0x158A, 0x120A, 0x2900, 0}, nullptr, false},
    // NOP in three of its forms: the second rule, which keeps word 1.
    {"GotoNopNopNop", {0x2900, 0, 0x0020, 0x0040}, {0x018A, 0x2900, 0, 0x0020}, kRepaired, false},
    {"GotoNopMovlwMovwf",
     {0x2900, 0, 0x3012, 0x00A0},
     {0x018A, 0x2900, 0x3012, 0x00A0},
     kRepaired,
     false},
    // Words the file leaves out count as harmless whatever the image holds.
    {"GotoAlone",
     {0x2900, kUnset, kUnset, kUnset},
     {0x018A, 0x2900, 0xFFFF, 0xFFFF},
     kRepaired,
     false},
    {"OnePclathBitOnly",
     {0x158A, 0x2900, 0, 0x0020},
     {0x018A, 0x158A, 0x2900, 0},
     kRepaired,
     false},
    {"MovlwMovwfCallGoto",
     {0x3012, 0x00A0, 0x2100, 0x2900},
     {0x3012, 0x00A0, 0x2100, 0x2900},
     kNoRepair,
     false},
    {"NoGotoAtAll", {0x3012, 0x00A0, 0x0000, 0x0000}, {0x018A, 0x3012, 0x00A0, 0}, kRepaired, true},
};

TEST_F(RelocationTest, PIC16FResetCodeMovesToTheSlotRepairedWhereNeeded) {
  for (const auto& c : kReset16F) {
    SCOPED_TRACE(c.name);
    Identify(0x31);  // zone at 3E00h, entry 1F20h
    for (int w = 0; w < 4; ++w)
      if (c.words[w] != kUnset) PutWords(w, {static_cast<uint16_t>(c.words[w])});
    ASSERT_FALSE(CatchVantle([&] { engine.ReallocateReset(); }).thrown);
    for (int w = 0; w < 4; ++w) {
      EXPECT_EQ(engine.GetWord(0x1F00 + w, 0), c.slot[w]) << "slot word " << w;
      EXPECT_TRUE(engine.IsPresent(0x3E00 + 2 * w) && engine.IsPresent(0x3E01 + 2 * w));
    }
    EXPECT_EQ(Image(0, 6), B({0x1F, 0x30, 0x8A, 0x00, 0x20, 0x2F}));  // MOVLW 1Fh, MOVWF, GOTO
    EXPECT_EQ(engine.GetWord(3, 0), c.slot[3]);                       // never executed, kept
    for (int a = 0; a < 8; ++a)
      EXPECT_EQ(engine.IsPresent(a), a < 3) << a;
    const LogLine pclath{LogIndent6, "WARNING: PCLATH not fully initialised before GOTO! "};
    EXPECT_EQ(Logged(pclath), c.outcome != nullptr);
    if (c.outcome) EXPECT_TRUE(Logged({LogAppend, c.outcome}));
    EXPECT_EQ(Logged({LogIndent6, "WARNING: GOTO not found in first 4 words!"}), c.gotoMissing);
  }
}

struct JumpCase {
  uint8_t code;
  std::string reset;  // the file's first 8 bytes, if any
  std::string jump;   // what address 0 holds afterwards
  const char* line;
};

const JumpCase kJumps[] = {
    {0x33, B({0x8A, 1, 0, 0x29, 0, 0, 0, 0}), B({0x0F, 0x30, 0x8A, 0, 0x20, 0x2F}),
     "Prepare16FAfter - 0>+Goto 0F20"},
    {0x41, B({0x80, 0xEF, 0, 0xF0, 0, 0, 0, 0}), B({0x00, 0xEF, 0x3F, 0xF0}),
     "Prepare18FAfter - 0>Goto 7E00"},
    {0x51, B({0x80, 0xEF, 0, 0xF0, 0, 0, 0, 0}), B({0x00, 0xEF, 0x7E, 0xF0}),
     "Prepare18FAfter - 0>Goto FC00"},
    {0x71, B({0x00, 0x01, 4, 0, 0, 0, 0, 0}), B({0x00, 0x1E, 4, 0, 0, 0, 0, 0}),
     "PrepareDSAfter - 0>Goto 1E00"},
    {0x81, B({0x00, 0x02, 4, 0, 0, 0, 0, 0}), B({0x00, 0x54, 4, 0, 0x01, 0, 0, 0}),
     "PrepareDSAfter - 0>Goto 15400"},
    // A file without flash data: the slot gets eight erased bytes.
    {0x41, "", B({0x00, 0xEF, 0x3F, 0xF0}), "Prepare18FAfter - 0>Goto 7E00"},
};

TEST_F(RelocationTest, AddressZeroJumpsToTheBootloaderEntry) {
  for (const auto& c : kJumps) {
    SCOPED_TRACE(c.line);
    Identify(c.code);
    Put(0, c.reset);
    engine.ReallocateReset();
    const int32_t slot = engine.pic.StartBldZone;
    EXPECT_EQ(Image(slot, 8), c.reset.empty() ? std::string(8, '\xFF') : c.reset);
    EXPECT_EQ(Image(0, static_cast<int32_t>(c.jump.size())), c.jump);
    EXPECT_TRUE(Logged({LogDetail, c.line}));
    // Only 16F marks the jump; elsewhere the first unit goes out only when
    // the file has more in it.
    for (int a = 0; a < 8; ++a) {
      EXPECT_TRUE(engine.IsPresent(slot + a));
      EXPECT_EQ(engine.IsPresent(a), c.code < 0x40 && a < 3) << a;
    }
    const auto warnings = std::count_if(log.begin(), log.end(), [](const LogLine& l) {
      return l.text.find("WARNING") != std::string::npos || l.text.find("GOTO not") == 0;
    });
    EXPECT_EQ(warnings, c.reset.empty() ? 1 : 0);  // no GOTO in an empty file
  }
}

TEST_F(RelocationTest, BytesAboveTheSlotAreRefusedTheLastSlotInstructionIsNot) {
  for (uint8_t code : {0x31, 0x41, 0x51, 0x61, 0x71, 0x82}) {
    SCOPED_TRACE(testing::Message() << std::hex << int{code});
    Identify(code);
    const int32_t first = engine.pic.StartBldZone + 4 * engine.pic.BytesPerInstrPC;
    const int32_t last = engine.pic.FlashSize - 1;
    Put(first - 1, B({0x5A}));
    Put(0, B({1, 2, 3, 4, 5, 6, 7, 8}));
    engine.ReallocateReset();
    EXPECT_TRUE(engine.IsPresent(first - 1));
    // 16F and PIC18: inside the slot, overwritten by the copy; dsPIC:
    // beyond the eight bytes copied, kept.
    EXPECT_EQ(engine.FlashData[first - 1], engine.pic.BytesPerInstrPC == 2 ? 8 : 0x5A);

    Identify(code);
    Put(first, B({0x5A}));
    Put(last, B({0x5A}));
    const Raised r = CatchVantle([&] { engine.ReallocateReset(); });
    EXPECT_TRUE(r.thrown);
    EXPECT_EQ(r.message, "Overwriting bootloader denied");
    EXPECT_EQ(log.end()[-2], (LogLine{LogIndent6, "Overwriting bootloader denied"}));
    EXPECT_EQ(log.back(),
              (LogLine{LogIndent6 | LogDetail,
                       Format("Address: %.5Xh. Protected=[%.5Xh..%.5Xh]", first, first, last)}));
  }
}

TEST_F(RelocationTest, NoRelocationOptionRunsOnlyTheCheck) {
  Identify(0x35);  // Options 4
  PutWords(0, {0x2900, 0, 0, 0});
  engine.ReallocateReset();
  EXPECT_TRUE(Logged({LogDetail, "  NO Realloc "}));
  EXPECT_TRUE(Logged({LogAppend, kRepaired}));  // the check ran all the same
  EXPECT_EQ(Image(0, 8), B({0x8A, 0x01, 0x00, 0x29, 0, 0, 0, 0}));
  for (int a = 0; a < 8; ++a) {
    EXPECT_TRUE(engine.IsPresent(a));
    EXPECT_FALSE(engine.IsPresent(engine.pic.StartBldZone + a));
  }
}

TEST_F(RelocationTest, FailuresBeforeAnythingMoves) {
  Identify(0x31);
  engine.pic.Family = 9;
  EXPECT_EQ(CatchVantle([&] { engine.ReallocateReset(); }).message, "Impossible");
  EXPECT_FALSE(engine.IsPresent(engine.pic.StartBldZone));
  // An image smaller than the table says, or a dsPIC entry off its
  // 64-address boundary, is a fault of the program, not of the file.
  Identify(0x41);
  engine.ResizeFlashImage(0x100);
  EXPECT_EQ(CatchVantle([&] { engine.ReallocateReset(); }).kind, EVantleError::Kind::Assertion);
  Identify(0x71);
  engine.pic.BldSlotInstr = 33;
  EXPECT_EQ(CatchVantle([&] { engine.ReallocateReset(); }).kind, EVantleError::Kind::Assertion);
}

}  // namespace
}  // namespace vantlebld::test
