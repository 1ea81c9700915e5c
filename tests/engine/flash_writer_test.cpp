// The flash writer's blocks, read back from an offline write's log: layout
// per family, which units go out and in what order, the erase pass and the
// progress reports.
#include <regex>

#include "tests/engine/writer_fixture.h"

namespace vantlebld::test {
namespace {

class FlashWriterTest : public WriterFixture {
 protected:
  // A recognisable byte for every address.
  static char Pattern(int32_t a) { return static_cast<char>((a * 7 + 1) & 0xFF); }
  void PutPattern(int32_t address, int32_t length) {
    std::string s;
    for (int32_t a = address; a < address + length; ++a)
      s += Pattern(a);
    Put(address, s);
  }
};

struct UnitCase {
  uint8_t code;
  int32_t address, unit;
  std::string header;
  const char* line;
};

const UnitCase kUnits[] = {
    {0x31, 0x1FC0, 64, B({0x0F, 0xE0, 0x40}), " Addr(words)=000FE0h,  3+64+1 bytes:"},
    {0x41, 0x1000, 64, B({0x20, 0x10, 0x00, 0x40}), " Addr(bytes)=001000h,  4+64+1 bytes:"},
    {0x52, 0x10040, 64, B({0x21, 0x00, 0x40, 0x40}), " Addr(bytes)=010040h,  4+64+1 bytes:"},
    {0x71, 0x400, 128, B({0x00, 0x02, 0x00, 0x60}), " Addr(bytes)=000400h,  4+96+1 bytes:"},
    {0x82, 0x800, 512, B({0x00, 0x04, 0x00, 0x00, 0x80, 0x01}),
     " Addr(bytes)=000800h,  6+384+1 bytes:"},
};

TEST_F(FlashWriterTest, OneUnitPerFamily) {
  for (const auto& c : kUnits) {
    SCOPED_TRACE(c.line);
    Offline(c.code);
    engine.pic.Options = 0;
    PutPattern(c.address + 1, c.unit - 2);  // the unit's ends stay unset: FFh
    ASSERT_TRUE(engine.WriteFlash(false));
    std::string data;
    for (int32_t a = c.address; a < c.address + c.unit; ++a) {
      if (IsDsPIC(engine.pic.Family) && a % 4 == 3) continue;  // phantom byte
      data += a == c.address || a == c.address + c.unit - 1 ? '\xFF' : Pattern(a);
    }
    EXPECT_EQ(Blocks(), std::vector<std::string>{Checked(c.header + data)});
    EXPECT_TRUE(Logged({LogDetail, c.line}));
    EXPECT_EQ(progress.back(), 100);
  }
}

TEST_F(FlashWriterTest, PIC16FSendsUnitsInOrderWithTheSlotUnitLast) {
  Offline(0x31);
  PutWords(0, {0x018A, 0x2900, 0x0000, 0x0000});
  PutPattern(0x100, 0x40);
  engine.ReallocateReset();
  log.clear();
  ASSERT_TRUE(engine.WriteFlash(false));
  const auto blocks = Blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0], Checked(B({0, 0, 0x40, 0x1F, 0x30, 0x8A, 0, 0x20, 0x2F, 0, 0}) +
                               std::string(56, '\xFF')));
  EXPECT_EQ(blocks[1], Checked(B({0, 0x80, 0x40}) + Image(0x100, 64)));
  EXPECT_EQ(blocks[2], Checked(B({0x1F, 0, 0x40, 0x8A, 0x01, 0x00, 0x29, 0, 0, 0, 0}) +
                               std::string(56, '\xFF')));
  EXPECT_EQ(engine.BlocksToWrite, 3);
  EXPECT_EQ(progress, (std::vector<int32_t>{33, 67, 100}));
  const std::regex ok(R"(WRITE OK  at \d{1,2}:\d\d,   time:\d+\.\d{3} sec)");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().flags, LogIndent3);
  EXPECT_TRUE(std::regex_match(log.back().text, ok)) << log.back().text;
  EXPECT_EQ(log.end()[-2], (LogLine{LogDetail, " Flashwrite ok"}));
  EXPECT_EQ(log.front(), (LogLine{LogAppend, " Writing flash..."}));
}

struct EraseCase {
  uint8_t code;
  int32_t firstErase, page, erases;
  std::string dataHeader;  // the unit at 1000h
};

// The erase commands of the pages from top to bottom: 18F with the byte
// address high byte first, dsPIC33 with the program address low byte first.
std::string EraseCommand(uint8_t code, int32_t a) {
  if (code < 0x80) return Checked(B({0x20 | (a >> 16), (a >> 8) & 0xFF, a & 0xFF, 2, 0, 0}));
  const int32_t p = a / 2;
  return Checked(B({p & 0xFF, (p >> 8) & 0xFF, p >> 16, 0, 2, 0, 0, 0}));
}

TEST_F(FlashWriterTest, ErasePassGoesDownFromBelowTheBootloaderThenDataUp) {
  const EraseCase cases[] = {
      {0x51, 0xF800, 0x400, 63, B({0x20, 0x10, 0x00, 0x40})},
      {0x81, 0x2A000, 0x800, 85, B({0x00, 0x08, 0x00, 0x00, 0xC0, 0x00})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Offline(c.code);
    PutPattern(0x1000, 4);
    PutPattern(0x1400, 4);  // a second unit further up (one page on J)
    ASSERT_TRUE(engine.WriteFlash(false));
    const auto blocks = Blocks();
    ASSERT_EQ(blocks.size(), static_cast<size_t>(c.erases + 2));
    for (int i = 0; i < c.erases; ++i)
      ASSERT_EQ(blocks[i], EraseCommand(c.code, c.firstErase - i * c.page)) << i;
    EXPECT_EQ(blocks[c.erases].substr(0, c.dataHeader.size()), c.dataHeader);
    EXPECT_GT(blocks[c.erases + 1].substr(0, 3), blocks[c.erases].substr(0, 3));
    EXPECT_EQ(engine.BlocksToWrite, 2 + engine.pic.FlashSize / c.page);
    EXPECT_EQ(engine.BlocksWritten, c.erases + 2);
    ASSERT_EQ(progress.size(), static_cast<size_t>(c.erases + 3));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);
  }
}

TEST_F(FlashWriterTest, EveryBlockOptionSendsEachUnitBelowTheZone) {
  Offline(0x61);  // K: Options 1, zone at FDF8h
  PutPattern(0x200, 2);
  ASSERT_TRUE(engine.WriteFlash(false));
  EXPECT_EQ(log.front(), (LogLine{LogAppend, " Writing flash..."}));
  EXPECT_EQ(log[1], (LogLine{LogIndent3, "Not Implemented"}));
  const auto blocks = Blocks();
  ASSERT_EQ(blocks.size(), 0xFE00u / 64);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const int32_t a = static_cast<int32_t>(i) * 64;
    ASSERT_EQ(blocks[i],
              Checked(B({0x20 | (a >> 16), (a >> 8) & 0xFF, a & 0xFF, 64}) + Image(a, 64)));
  }
  EXPECT_EQ(blocks[0].substr(4, 64), std::string(64, '\xFF'));
  EXPECT_EQ(engine.BlocksToWrite, 1024);
}

TEST_F(FlashWriterTest, NothingToSendStillEndsWithWriteOk) {
  Offline(0x35);  // Options 4: no relocation, so nothing marks address 0
  const std::string hex = dir.Write("empty.hex", kHexEnd + "\n");
  engine.AnalyzeHex(hex);
  engine.ReadHex(hex, true);
  engine.ReallocateReset();
  log.clear();
  ASSERT_TRUE(engine.WriteFlash(false));
  EXPECT_TRUE(Blocks().empty());
  EXPECT_TRUE(progress.empty());
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], (LogLine{LogDetail, " Flashwrite ok"}));
  EXPECT_EQ(log[2].text.rfind("WRITE OK  at ", 0), 0u);
}

TEST_F(FlashWriterTest, UnknownFamilyIsImpossible) {
  Offline(0x41);
  engine.pic.Family = 2;
  EXPECT_EQ(CatchVantle([&] { engine.WriteFlash(true); }).message, "Impossible");
  EXPECT_TRUE(Blocks().empty());
}

}  // namespace
}  // namespace vantlebld::test
