// The device table: reading piccodes.ini, the lines it refuses, lookup, the
// code list and the bootloader zone derived from a model's geometry.
#include <filesystem>
#include <set>

#include "engine/format.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

// Every number different, so a field read into the wrong place shows.
const std::string kPic18F252 = "$41, C, PIC18F252, 32768, 256, 32, 16, 2, 6, 4, 1";
const LogLine kTableError{LogIndent3, "Error: piccodes.ini  not found"};
const LogLine kFamilyError{LogIndent3, "error in piccodes.ini"};

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
    int n = 0;
    for (const auto& e : PicTable())
      n += e.Name == name ? 1 : 0;
    return n;
  }
  std::string path;
};

TEST_F(DeviceTableTest, ReadsModelLinesAndSkipsCommentsAndBlankLines) {
  // Mixed line endings, lines of blanks and control characters, a
  // commented-out model, and no ending after the last line.
  ASSERT_TRUE(
      Load("; models\r\n\r\n   \n\t\r;$42, C, X, 32768, 256, 32, 16, 2, 6, 4, 1\n" + kPic18F252));
  EXPECT_TRUE(PicTableLoaded());
  EXPECT_TRUE(log.empty());
  // Derived fields stay 0 until identification.
  EXPECT_EQ(Fields(PicTable()[0x41]), "65 4 PIC18F252 32768 256 32 16 2 6 4 1 | 0 0 0 0 0");
  EXPECT_EQ(Named("X"), 0);
}

TEST_F(DeviceTableTest, LaterLineWithTheSameCodeWins) {
  ASSERT_TRUE(
      Load(JoinLines({kPic18F252, "0x41, K, PIC18F46K22, 65536, 1024, 64, 32, 1, 8, 5, 3"})));
  EXPECT_EQ(Fields(PicTable()[0x41]), "65 6 PIC18F46K22 65536 1024 64 32 1 8 5 3 | 0 0 0 0 0");
}

TEST_F(DeviceTableTest, UnknownFamilyLetterIsReportedAndTheLineKept) {
  ASSERT_TRUE(Load(JoinLines({"$42, c, LOWER, 32768, 256, 32, 16, 2, 6, 4, 1", kPic18F252,
                              "$41, x, AGAIN, 32768, 256, 32, 16, 2, 6, 4, 1"})));
  EXPECT_TRUE(PicTableLoaded());
  EXPECT_EQ(std::count(log.begin(), log.end(), kFamilyError), 2);
  EXPECT_EQ(PicTable()[0x42].Code, 0x42);
  EXPECT_EQ(PicTable()[0x42].Name, "LOWER");
  EXPECT_EQ(PicTable()[0x42].Family, 0);
  // A repeated code keeps the family it had.
  EXPECT_EQ(PicTable()[0x41].Name, "AGAIN");
  EXPECT_EQ(PicTable()[0x41].Family, kFamily18F);
}

TEST_F(DeviceTableTest, NumberNotations) {
  const struct {
    std::string code, options;
    int wantCode, wantOptions;
  } cases[] = {
      {"$41", "0", 0x41, 0},     {"$4b", "0", 0x4B, 0},  {"0x41", "0", 0x41, 0},
      {"0X41", "0", 0x41, 0},    {"x41", "0", 0x41, 0},  {"X41", "0", 0x41, 0},
      {"65", "0", 0x41, 0},      {"+65", "0", 0x41, 0},  {"\t$41 ", "0", 0x41, 0},
      {"$41", "-2", 0x41, 0xFE}, {"$41", "+5", 0x41, 5}, {"$41", "$1FF", 0x41, 0xFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code + " / " + c.options);
    ResetPicTable();
    EXPECT_TRUE(Load(c.code + ", C, N, 32768, 256, 32, 16, 2, 6, 4, " + c.options));
    EXPECT_EQ(PicTable()[static_cast<size_t>(c.wantCode)].Code, c.wantCode);
    EXPECT_EQ(PicTable()[static_cast<size_t>(c.wantCode)].Options, c.wantOptions);
  }
}

TEST_F(DeviceTableTest, ByteFieldsKeepTheLowEightBitsAndExtraFieldsAreIgnored) {
  ASSERT_TRUE(Load("$41, C, N, 32768, 256, 32, 16, 257, 6, 260, 0x103, junk, 7"));
  EXPECT_EQ(Fields(PicTable()[0x41]), "65 4 N 32768 256 32 16 1 6 4 3 | 0 0 0 0 0");
}

TEST_F(DeviceTableTest, MalformedLineFailsTheWholeTable) {
  const struct {
    const char* why;
    std::string line;
  } cases[] = {
      {"blank before the semicolon", " ; a comment"},
      {"ten fields", "$50, C, BAD, 32768, 256, 32, 16, 2, 6, 4"},
      {"empty number field", "$50, C, BAD, 32768, , 32, 16, 2, 6, 4, 0"},
      {"empty family field", "$50, , BAD, 32768, 256, 32, 16, 2, 6, 4, 0"},
      {"letters in a number", "$50, C, BAD, 32K, 256, 32, 16, 2, 6, 4, 0"},
      {"prefix without digits", "0x, C, BAD, 32768, 256, 32, 16, 2, 6, 4, 0"},
      {"code above 255", "256, C, BAD, 32768, 256, 32, 16, 2, 6, 4, 0"},
      {"negative code", "-1, C, BAD, 32768, 256, 32, 16, 2, 6, 4, 0"},
      {"no flash", "$50, C, BAD, 0, 256, 32, 16, 2, 6, 4, 0"},
      {"negative flash size", "$50, C, BAD, -64, 256, 32, 16, 2, 6, 4, 0"},
      {"odd flash size", "$50, C, BAD, 32767, 256, 32, 16, 2, 6, 4, 0"},
      {"flash above 16 MiB", "$50, E, BAD, 16777218, 0, 512, 64, 1, 1, 64, 0"},
      {"zone under 8 bytes", "$50, B, BAD, 16384, 256, 1, 1, 8, 1, 2, 0"},
      {"zone fills the flash", "$50, B, BAD, 512, 0, 4, 4, 8, 56, 32, 0"},
      {"zone larger than flash", "$50, D, BAD, 1024, 0, 32, 32, 1, 8, 32, 0"},
      {"zone size past 64 bits", "$50, D, BAD, 1024, 0, -2147483648, 32, 1, -2147483648, 2, 0"},
      {"C erase page 0", "$50, C, BAD, 32768, 256, 0, 16, 2, 6, 4, 0"},
      {"C negative write row", "$50, C, BAD, 32768, 256, 32, -16, 2, 6, 4, 0"},
      {"J write row 0", "$50, J, BAD, 65536, 0, 512, 0, 1, 1, 4, 2"},
      {"K no rows per block", "$50, K, BAD, 65536, 1024, 32, 32, 0, 8, 4, 1"},
      {"E rows per block 256", "$50, E, BAD, 45056, 0, 512, 64, 256, 1, 128, 0"},
      {"E negative erase page", "$50, E, BAD, 45056, 0, -512, 64, 1, -1, 128, 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    ResetPicTable();
    log.clear();
    EXPECT_FALSE(Load(JoinLines(
        {"; models", kPic18F252, c.line, "$43, C, AFTER, 32768, 256, 32, 16, 2, 6, 4, 1"})));
    EXPECT_FALSE(PicTableLoaded());
    EXPECT_EQ(Named("BAD"), 0);
    EXPECT_EQ(Named("AFTER"), 0);
    // Earlier lines stay in the table, but nothing can be looked up.
    EXPECT_EQ(PicTable()[0x41].Code, 0x41);
    EXPECT_FALSE(engine.LookupPic(0x41));
    if (log.size() < 2) {
      ADD_FAILURE() << "no error lines";
      continue;
    }
    EXPECT_EQ(log.back(), kTableError);
    const LogLine& detail = log[log.size() - 2];
    EXPECT_EQ(detail.flags, LogIndent3 | LogDetail);
    EXPECT_NE(detail.text.find(path + " line 3"), std::string::npos) << detail.text;
  }
}

TEST_F(DeviceTableTest, SecondTableReplacesTheFirst) {
  ASSERT_TRUE(Load(kPic18F252));
  ASSERT_TRUE(Load("$31, B, PIC16F876A, 16384, 256, 4, 4, 8, 56, 32, 0"));
  EXPECT_EQ(engine.PicCodeList(), std::vector<std::string>{"$31  PIC16F876A"});
  EXPECT_FALSE(engine.LookupPic(0x41));
}

TEST_F(DeviceTableTest, GeometryAtTheLimitsIsAccepted) {
  const std::string lines[] = {
      "$50, E, OK, 16777216, 0, 512, 64, 1, 1, 64, 0",  // 16 MiB flash
      "$50, B, OK, 16384, 0, 1, 1, 8, 1, 3, 0",         // zone of exactly 8 bytes
      "$50, B, OK, 514, 0, 4, 4, 8, 56, 32, 0",         // zone starting at 2
      "$50, B, OK, 16384, 256, 4, 0, 0, 56, 32, 0",     // 16F blocks are fixed
      "$50, D, OK, 16384, 1024, 32, 0, 0, 8, 32, 0",    // and so are dsPIC30 blocks
      "$FF, C, OK, 32768, 256, 32, 16, 2, 6, 4, 1",     // highest code
  };
  for (const auto& line : lines) {
    ResetPicTable();
    log.clear();
    EXPECT_TRUE(Load(line)) << line << "\n" << testing::PrintToString(log);
    EXPECT_EQ(Named("OK"), 1) << line;
  }
}

TEST_F(DeviceTableTest, LookupCopiesTheTableFieldsOnly) {
  ASSERT_TRUE(Load(kPic18F252));
  TPICInfo& entry = PicTable()[0x41];
  entry.BytesPerInstrPC = entry.BytesPerInstrPIC = entry.AddrIncrementPIC = 9;
  entry.SizeOfBLDBytesPC = entry.StartBldZone = 999;
  engine.pic.Code = 0x77;
  engine.pic.BytesPerInstrPC = engine.pic.BytesPerInstrPIC = engine.pic.AddrIncrementPIC = 1;
  engine.pic.SizeOfBLDBytesPC = 11;
  engine.pic.StartBldZone = 12;
  ASSERT_TRUE(engine.LookupPic(0x41));
  // Neither the code nor the derived fields come from the table.
  EXPECT_EQ(Fields(engine.pic), "119 4 PIC18F252 32768 256 32 16 2 6 4 1 | 1 1 1 11 12");
}

TEST_F(DeviceTableTest, LookupFailsWithoutADefinedEntry) {
  ASSERT_TRUE(Load(JoinLines({"0, C, ZERO, 32768, 256, 32, 16, 2, 6, 4, 1", kPic18F252})));
  engine.pic.Name = "before";
  for (int code : {0, 0x42, -1, 256})
    EXPECT_FALSE(engine.LookupPic(code)) << code;
  PicTableLoaded() = false;
  EXPECT_FALSE(engine.LookupPic(0x41));
  EXPECT_EQ(engine.pic.Name, "before");
}

TEST_F(DeviceTableTest, CodeListIsAscendingWithoutFF) {
  ASSERT_TRUE(Load(JoinLines({
      "$FF, C, TOP, 32768, 256, 32, 16, 2, 6, 4, 1",
      "$4B, C, PIC18F4B, 32768, 256, 32, 16, 2, 6, 4, 1",
      "$FE, C, HIGH, 32768, 256, 32, 16, 2, 6, 4, 1",
      "1, B, ONE, 16384, 256, 4, 4, 8, 56, 32, 0",
      "$31, B, PIC16F876A, 16384, 256, 4, 4, 8, 56, 32, 0",
  })));
  EXPECT_EQ(engine.PicCodeList(), (std::vector<std::string>{"$01  ONE", "$31  PIC16F876A",
                                                            "$4B  PIC18F4B", "$FE  HIGH"}));
  ASSERT_TRUE(engine.LookupPic(0xFF));
  EXPECT_EQ(engine.pic.Name, "TOP");
}

TEST_F(DeviceTableTest, CodeListOfTwoModels) {
  ASSERT_TRUE(Load(JoinLines({"$4B, C, PIC18F4B, 32768, 256, 32, 16, 2, 6, 4, 1",
                              "$31, B, PIC16F876A, 16384, 256, 4, 4, 8, 56, 32, 0"})));
  EXPECT_EQ(engine.PicCodeList(), (std::vector<std::string>{"$31  PIC16F876A", "$4B  PIC18F4B"}));
  PicTableLoaded() = false;
  EXPECT_TRUE(engine.PicCodeList().empty());
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

TEST_F(DeviceTableTest, TableBesideTheProgramComesNext) {
  // The build puts a copy of the shipped table beside the programs.
  const auto beside =
      std::filesystem::read_symlink("/proc/self/exe").parent_path() / "piccodes.ini";
  if (!std::filesystem::exists(beside)) GTEST_SKIP() << "no table beside " << beside;
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  const std::string found = TVantleBootloader::FindPicCodes();
  std::filesystem::current_path(saved);
  EXPECT_EQ(found, beside.string());
}

TEST(DerivePicGeometry, ZoneByFamily) {
  const struct {
    uint8_t family;
    int32_t flash, erasePage, bldPages;
    uint8_t slot;
    int bytesPC, bytesPIC, increment;
    int32_t zone, start;
  } cases[] = {
      {kFamily16F, 16384, 4, 56, 32, 2, 2, 1, 512, 15872},
      {kFamily18F, 32768, 32, 6, 4, 2, 2, 2, 392, 32376},
      {kFamily18FJ, 65536, 512, 1, 4, 2, 2, 2, 1032, 64504},
      {kFamily18FK, 65536, 32, 8, 4, 2, 2, 2, 520, 65016},
      {kFamilyDsPIC30, 16384, 32, 8, 32, 4, 3, 2, 1152, 15232},
      {kFamilyDsPIC33, 45056, 512, 1, 128, 4, 3, 2, 2560, 42496},
  };
  for (const auto& c : cases) {
    TPICInfo info;
    info.Family = c.family;
    info.FlashSize = c.flash;
    info.ErasePageInstr = c.erasePage;
    info.BldPages = c.bldPages;
    info.BldSlotInstr = c.slot;
    EXPECT_TRUE(DerivePicGeometry(info)) << int{c.family};
    EXPECT_EQ(info.BytesPerInstrPC, c.bytesPC);
    EXPECT_EQ(info.BytesPerInstrPIC, c.bytesPIC);
    EXPECT_EQ(info.AddrIncrementPIC, c.increment);
    EXPECT_EQ(info.SizeOfBLDBytesPC, c.zone);
    EXPECT_EQ(info.StartBldZone, c.start);
  }
  for (uint8_t family : {0, 9}) {
    TPICInfo info;
    info.Family = family;
    info.BytesPerInstrPC = 7;
    EXPECT_FALSE(DerivePicGeometry(info));
    EXPECT_EQ(info.BytesPerInstrPC, 7);
  }
}

TEST_F(DeviceTableTest, ShippedTable) {
  const std::string shipped = std::string(VANTLEBLD_SOURCE_DIR) + "/data/piccodes.ini";
  if (!std::filesystem::exists(shipped)) GTEST_SKIP() << shipped << " is not there yet";
  ASSERT_TRUE(engine.LoadPicCodesFile(shipped)) << testing::PrintToString(log);
  EXPECT_FALSE(Logged(kFamilyError));
  std::set<int> families;
  for (const TPICInfo& e : PicTable()) {
    if (e.Code == 0) continue;
    SCOPED_TRACE(e.Name);
    families.insert(e.Family);
    TPICInfo d = e;
    if (!DerivePicGeometry(d)) {
      ADD_FAILURE() << "unknown family";
      continue;
    }
    EXPECT_GT(e.FlashSize, 0);
    EXPECT_LE(e.FlashSize, 16 * 1024 * 1024);
    EXPECT_EQ(e.FlashSize % d.BytesPerInstrPC, 0);
    EXPECT_GE(d.SizeOfBLDBytesPC, 8);
    EXPECT_GT(d.StartBldZone, 0);
    if (e.Family != kFamily16F && e.Family != kFamilyDsPIC30) {
      EXPECT_GT(e.ErasePageInstr, 0);
      EXPECT_GT(e.RowInstr, 0);
      EXPECT_GT(e.RowsPerBlock, 0);
    }
  }
  EXPECT_EQ(families, (std::set<int>{kFamily16F, kFamily18F, kFamily18FJ, kFamily18FK,
                                     kFamilyDsPIC30, kFamilyDsPIC33}));
  ASSERT_TRUE(engine.LookupPic(0x41));
  EXPECT_EQ(engine.pic.Name, "PIC18F252");
  EXPECT_EQ(engine.pic.Family, kFamily18F);
}

}  // namespace
}  // namespace vantlebld::test
