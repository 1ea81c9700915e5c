// The device table: reading piccodes.ini, the lines it refuses, lookup, the
// code list, and where the table is found.
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

// Every number different, so a field read into the wrong place shows.
const std::string kPic18F252 = "$41, C, PIC18F252, 32768, 256, 32, 16, 2, 6, 4, 1";
const LogLine kTableError = Step("Error: piccodes.ini  not found");
const LogLine kFamilyError = Step("error in piccodes.ini");

class DeviceTableTest : public EngineFixture {
 protected:
  bool Load(const std::string& text) {
    path = dir.Write("table.ini", text);
    return engine.LoadPicCodesFile(path);
  }
  // The table fields of an entry, then after "|" the derived ones.
  static std::string Fields(const TPICInfo& e) {
    return Format("%d %d %s %d %d %d %d %d %d %d %d | %d %d %d %d %d", e.Code, e.Family,
                  e.Name.c_str(), e.FlashSize, e.EESize, e.ErasePageInstr, e.RowInstr,
                  e.RowsPerBlock, e.BldPages, e.BldSlotInstr, e.Options, e.BytesPerInstrPC,
                  e.BytesPerInstrPIC, e.AddrIncrementPIC, e.SizeOfBLDBytesPC, e.StartBldZone);
  }
  static int Named(const std::string& name) {
    return int(std::count_if(PicTable().begin(), PicTable().end(),
                             [&](const TPICInfo& e) { return e.Name == name; }));
  }
  std::string path;
};

TEST_F(DeviceTableTest, ReadsModelLinesInAnyNumberFormAndSkipsCommentsAndBlankLines) {
  // Mixed line endings, lines of blanks and control characters, a
  // commented-out model, and no ending after the last line; a later line
  // with the same code wins but an unknown family letter keeps the old one.
  ASSERT_TRUE(Load(
      "; models\r\n\r\n   \n\t\r;$42, C, X, 32768, 256, 32, 16, 2, 6, 4, 1\n" + kPic18F252 +
      "\n$4B, c, LOWER, 32768, 256, 32, 16, 2, 6, 4, 1\r\n" +
      "$FF, C, TOP, 32768, 256, 32, 16, 2, 6, 4, 1\n1, B, ONE, 16384, 0, 4, 4, 8, 56, 32, 0\n" +
      "$FE, C, HIGH, 32768, 256, 32, 16, 2, 6, 4, 1\n" +
      "0x41, x, AGAIN, 65536, 1024, 64, 32, 1, 8, 5, 3"));
  EXPECT_TRUE(PicTableLoaded());
  EXPECT_EQ(log, (LogLines{kFamilyError, kFamilyError}));
  // Derived fields stay 0 until identification.
  EXPECT_EQ(Fields(PicTable()[0x41]), "65 4 AGAIN 65536 1024 64 32 1 8 5 3 | 0 0 0 0 0");
  EXPECT_EQ(Fields(PicTable()[0x4B]), "75 0 LOWER 32768 256 32 16 2 6 4 1 | 0 0 0 0 0");
  EXPECT_EQ(Named("X"), 0);
  // The code list is ascending and leaves out FFh, which can still be
  // looked up.
  EXPECT_EQ(engine.PicCodeList(),
            (std::vector<std::string>{"$01  ONE", "$41  AGAIN", "$4B  LOWER", "$FE  HIGH"}));
  EXPECT_TRUE(engine.LookupPic(0xFF));
  // A second table replaces the first. Fields are numbers in any of the
  // users' forms, with blanks and tabs around them; byte fields keep their
  // low eight bits; fields past the eleventh are ignored.
  ASSERT_TRUE(Load(JoinLines({"\t0x41 , C, N, 32768, 256, 32, 16, 257, 6, 260, -2, junk, 7",
                              "x43, C, L, 32768, 256, 32, 16, 2, 6, 4, 41h"})));
  EXPECT_EQ(engine.PicCodeList(), (std::vector<std::string>{"$41  N", "$43  L"}));
  EXPECT_EQ(Fields(PicTable()[0x41]), "65 4 N 32768 256 32 16 1 6 4 254 | 0 0 0 0 0");
  EXPECT_EQ(PicTable()[0x43].Options, 0x41);
}

TEST_F(DeviceTableTest, OneBadLineFailsTheWholeTable) {
  const std::pair<const char*, bool> cases[] = {
      {" ; a comment after a blank", false},
      {"$50, C, X, 32768, 256, 32, 16, 2, 6, 4", false},  // ten fields
      {"$50, C, X, 32768, , 32, 16, 2, 6, 4, 0", false},
      {"$50, C, X, 32K, 256, 32, 16, 2, 6, 4, 0", false},
      {"256, C, X, 32768, 256, 32, 16, 2, 6, 4, 0", false},
      {"$50, C, X, 32767, 256, 32, 16, 2, 6, 4, 0", false},
      {"$50, E, X, 16777218, 0, 512, 64, 1, 1, 64, 0", false},  // flash above 16 MiB
      {"$50, E, X, 16777216, 0, 512, 64, 1, 1, 64, 0", true},
      {"$50, B, X, 512, 0, 4, 4, 8, 56, 32, 0", false},  // zone fills the flash
      {"$50, B, X, 576, 0, 4, 4, 8, 56, 32, 0", true},   // zone starting at 64
      // The block carrying the slot: the 16F unit of 64 bytes at 3E00h
      // would also carry code from 3E38h; a PIC18 zone on a block boundary
      // loses the slot; a dsPIC30 entry at (16320 - 1024) / 2 = 1DE0h is off
      // its 40h boundary.
      {"$50, B, X, 16384, 256, 4, 4, 8, 57, 4, 0", false},
      {"$50, C, X, 32768, 256, 32, 16, 2, 6, 32, 0", false},
      {"$50, D, X, 16320, 1024, 32, 32, 1, 8, 32, 0", false},
      {"$50, C, X, 32768, 256, 0, 16, 2, 6, 4, 0", false},      // erase page 0
      {"$50, E, X, 45056, 0, 512, 64, 256, 1, 128, 0", false},  // 256 rows: 0 as a byte
      {"$50, D, X, 16384, 1024, 32, 0, 0, 8, 32, 0", true},     // dsPIC30 blocks are fixed
      // Sizes the writers multiply: an erase page of 999999999 instructions
      // (4 GB), a dsPIC33 block of 255 rows of 9999 instructions (7.6 MB of
      // wire bytes, beyond its 16-bit count), a PIC18 erase page past the flash.
      {"$50, E, X, 176128, 0, 999999999, 64, 1, 0, 64, 2", false},
      {"$50, E, X, 16777216, 0, 512, 9999, 255, 1, 128, 0", false},
      {"$50, C, X, 32768, 256, 20000, 16, 2, 0, 4, 0", false},
      // Zone from 6: the slot over address 0's code.
      {"$50, B, X, 134, 0, 4, 4, 8, 8, 32, 0", false},
      {"$50, C, X, 8592, 256, 64, 4, 8, 7, 31, 3", false},     // not whole 128-byte erase pages
      {"$50, C, X, 4194304, 256, 32, 16, 2, 6, 4, 0", false},  // PIC18 flash past 200000h
      // 16F flash into the configuration words.
      {"$50, B, X, 32768, 256, 4, 4, 8, 56, 32, 0", false},
  };
  for (const auto& [line, accepted] : cases) {
    SCOPED_TRACE(line);
    ResetPicTable();
    log.clear();
    EXPECT_EQ(Load(JoinLines(
                  {"; models", kPic18F252, line, "$43, C, AFTER, 32768, 256, 32, 16, 2, 6, 4, 1"})),
              accepted);
    EXPECT_EQ(Named("AFTER"), accepted ? 1 : 0);
    // Earlier lines stay in the table, but nothing can be looked up.
    EXPECT_EQ(engine.LookupPic(0x41), accepted);
    // A refusal names the file and the line, then the table as not found.
    const LogLines refused = {Step(path + " line 3: *", kDetail), kTableError};
    EXPECT_TRUE(accepted ? log.empty() : log.size() == 2 && InOrder(log, refused))
        << testing::PrintToString(log);
  }
}

TEST_F(DeviceTableTest, TableInTheCurrentDirectoryComesFirst) {
  dir.Write("piccodes.ini", "$31, B, HERE, 16384, 256, 4, 4, 8, 56, 32, 0\n");
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  const std::string found = TVantleBootloader::FindPicCodes();
  const bool loaded = engine.LoadPicCodes();
  std::filesystem::current_path(saved);
  EXPECT_EQ(found, "piccodes.ini");
  EXPECT_TRUE(loaded);
  EXPECT_EQ(engine.PicCodeList(), std::vector<std::string>{"$31  HERE"});
}

}  // namespace
}  // namespace vantlebld::test
