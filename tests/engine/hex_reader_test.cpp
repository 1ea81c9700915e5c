// The Intel HEX reader: syntax errors and their line numbers, record types,
// the analysis summary, and where the loading pass puts each byte for every
// family.
#include <map>

#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

const std::string kOneByte = ":0100000041BE";  // 41h at address 0
// 14-bit words: no high byte uses bits 6-7; the fourth byte is not 0.
const std::string k16FCode = HexRecord(0x0000, 0, {0x8A, 0x01, 0x00, 0x28});
// A PIC18 GOTO: its high bytes use bits 6-7.
const std::string k18FCode = HexRecord(0x0000, 0, {0x00, 0xEF, 0x04, 0xF0});
const LogLine kNotUnderstood{LogIndent6, "could not understand HEX file"};

class HexReaderTest : public EngineFixture {
 protected:
  std::string WriteHex(const std::string& text) { return dir.Write("prog.hex", text); }
  bool Analyze(const std::vector<std::string>& lines) {
    return engine.ReadHex(WriteHex(JoinLines(lines)), false);
  }
};

// Unsupported records fail an internal assertion ("*": the text goes on
// with the source line).
TEST_F(HexReaderTest, SyntaxErrorsNameTheLineCountingEmptyLines) {
  const std::string kUnsupported = "Incomplete implemetation of extended intel hex files (*";
  const struct {
    std::string line, message;
  } cases[] = {
      {":00000001F", "line 3 not formatted properly"},  // ten characters
      {"0100000041BE", "line 3 not formatted properly"},
      {"              ", "line 3 not formatted properly"},
      {":01000000G1BE", "not a hex symbol on line 3"},
      {kOneByte + " ", "not a hex symbol on line 3"},
      {kOneByte + "00", "Line 3 wrong length"},
      {":0200000041BD", "Line 3 wrong length"},
      {HexRecord(0, 2, {0x10, 0x00}), kUnsupported},        // extended segment address
      {HexRecord(0, 4, {0x30}), kUnsupported},              // extended linear, one byte
      {HexRecord(0, 4, {0x00, 0x30, 0x00}), kUnsupported},  // three bytes
      {HexRecord(0x0010, 4, {0x00, 0x30}), kUnsupported},   // address not 0
      {HexRecord(0, 3, {0, 0, 0, 0}), kUnsupported},        // start segment address
      {HexRecord(0, 5, {0, 0, 0, 0}), kUnsupported},        // start linear address
  };
  for (const auto& c : cases) {
    for (const std::string ending : {"\n", "\r\n", "\r"}) {
      SCOPED_TRACE(testing::PrintToString(c.line + ending));
      log.clear();
      const std::string path =
          WriteHex(kOneByte + ending + ending + c.line + ending + kHexEnd + ending);
      const Raised r = CatchVantle([&] { engine.ReadHex(path, false); });
      EXPECT_TRUE(LogLine({0, c.message}).Matches({0, r.message})) << r.message;
      EXPECT_EQ(r.kind == EVantleError::Kind::Assertion, c.message == kUnsupported);
      EXPECT_EQ(log, std::vector<LogLine>{kNotUnderstood});
    }
  }
}

TEST_F(HexReaderTest, BadChecksumOnlyWarnsAndTheEndRecordStopsReading) {
  engine.pic.Family = kFamily18F;
  engine.pic.FlashSize = 0x100;
  engine.ResizeFlashImage(0x100);
  std::string bad = HexRecord(0x0010, 0, {0x11, 0x22});
  bad.replace(bad.size() - 2, 2, "00");
  // Lower-case digits are hex digits too; after the end record (its own
  // checksum FEh is wrong) nothing is read.
  ASSERT_TRUE(engine.ReadHex(
      WriteHex(JoinLines({bad, ":0100000041be", ":00000001FE", "garbage", kOneByte})), true));
  EXPECT_EQ(log, (std::vector<LogLine>{{LogIndent3, "Reading HEX file... "},
                                       {LogIndent3, "Warning! CRC failed on line 1"}}));
  EXPECT_EQ(engine.HexByteCount, 3);
  EXPECT_EQ(engine.FlashData[0], 0x41);
  EXPECT_EQ(engine.FlashData[0x11], 0x22);
  EXPECT_TRUE(engine.IsPresent(0x11));
}

TEST_F(HexReaderTest, AnalysisSummaryText) {
  // One engine for all rows: the richest file comes first, so marks that
  // survive into the next analysis show up in the rows after it.
  const struct {
    std::vector<std::string> lines;
    std::string summary;
  } cases[] = {
      {{k18FCode, HexBase(0x0030), HexRecord(0, 0, {0x00, 0x22}), HexBase(0x00F0),
        HexRecord(0x03FE, 0, {1, 2}), kHexEnd},
       "INHX32,18Fcode+cfg+eeprom , total=8 bytes"},
      {{kHexEnd}, "INHX8M,dsPICcode, total=0 bytes"},
      {{k16FCode, HexRecord(0x400E, 0, {0x72, 0x3F}), HexRecord(0x4200, 0, {1, 0, 2, 0}), kHexEnd},
       "INHX8M,16Fcode+cfg+eeprom , total=10 bytes"},
      // 16F configuration is 4000h..41FFh only: code above 2007h is not.
      {{k16FCode, HexRecord(0x2008, 0, {0x8A, 0x01, 0x00, 0x28})}, "INHX8M,16Fcode, total=8 bytes"},
      {{k16FCode, HexRecord(0x41FE, 0, {0, 0})}, "INHX8M,16Fcode+cfg, total=6 bytes"},
      {{k16FCode, HexRecord(0x3FFE, 0, {0, 0})}, "INHX8M,16Fcode, total=6 bytes"},
      {{k18FCode, HexRecord(0x400E, 0, {0x72, 0x3F}), HexRecord(0x4200, 0, {1, 0})},
       "INHX8M,18Fcode, total=8 bytes"},
      // A high byte with bit 6 alone set is no 14-bit word either.
      {{HexRecord(0, 0, {0x12, 0x6E, 0x34, 0x6E})}, "INHX8M,18Fcode, total=4 bytes"},
      // 18F EEPROM records below 400h only.
      {{k18FCode, HexBase(0x00F0), HexRecord(0x0400, 0, {1, 2})}, "INHX32,18Fcode, total=6 bytes"},
      {{HexBase(0), HexRecord(0, 0, {0, 0, 4, 0, 0, 0, 0, 0}), HexBase(0x01F0),
        HexRecord(0, 0, {0x06, 0, 0, 0})},
       "INHX32,dsPICcode, total=12 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.summary);
    EXPECT_TRUE(Analyze(c.lines));
    EXPECT_EQ(engine.HexSummaryText(), c.summary);
  }
}

TEST_F(HexReaderTest, AnalyzeLogsTheSummaryOrWhyNot) {
  const std::string path =
      WriteHex(JoinLines({k18FCode, HexBase(0x0030), HexRecord(0, 0, {0x00, 0x22}), kHexEnd}));
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(150));
  EXPECT_TRUE(engine.AnalyzeHex(path));
  EXPECT_EQ(log, (std::vector<LogLine>{
                     {LogIndent3, "HEX: 2 hours old, INHX32,18Fcode+cfg, total=6 bytes. "}}));
  log.clear();
  const std::string missing = (dir.Path() / "missing.hex").string();
  const Raised r = CatchVantle([&] { engine.AnalyzeHex(missing); });
  EXPECT_EQ(r.message, "File not found");
  EXPECT_EQ(r.kind, EVantleError::Kind::FileIO);
  EXPECT_EQ(log, (std::vector<LogLine>{{LogIndent6, "File not found: " + missing}}));
  // A file that cannot be opened fails without the HEX message.
  EXPECT_EQ(CatchVantle([&] { engine.ReadHex(missing, true); }).kind, EVantleError::Kind::FileIO);
  EXPECT_FALSE(Logged(kNotUnderstood));
}

TEST(HexAgeText, WholeUnitsEitherSideOfNow) {
  const std::time_t now = 1'700'000'000;
  const std::pair<long long, const char*> cases[] = {
      {0, "0 min"},           {59 * 60 + 59, "59 min"},    {-59 * 60, "59 min"},
      {3600, "1 hours"},      {24 * 3600 - 1, "23 hours"}, {25 * 3600, "1 days"},
      {-25 * 3600, "1 days"}, {49 * 86400 + 5, "49 days"},
  };
  for (const auto& [ago, text] : cases)
    EXPECT_EQ(TVantleBootloader::HexAgeText(static_cast<std::time_t>(now - ago), now), text) << ago;
}

// --- Loading pass ---

struct LoadCase {
  const char* name;
  uint8_t family;
  int32_t flashSize, eeSize;
  std::vector<std::string> lines;
  std::map<int64_t, uint8_t> flash;  // every flash byte expected present
  std::map<int64_t, uint8_t> ee;     // every EEPROM byte expected present
};

class HexLoadTest : public HexReaderTest {
 protected:
  // Loads into an image full of stale bytes, as a second write would find it.
  bool Load(const LoadCase& c, const std::string& text) {
    engine.pic = TPICInfo{};
    engine.pic.Family = c.family;
    engine.pic.FlashSize = c.flashSize;
    engine.pic.EESize = c.eeSize;
    engine.ResizeFlashImage(c.flashSize);
    for (auto* area : {&engine.FlashData, &engine.EEData, &engine.CfgData})
      std::fill(area->begin(), area->end(), 0x12);
    for (auto* area : {&engine.FlashFlag, &engine.EEFlag, &engine.CfgFlag})
      std::fill(area->begin(), area->end(), kPresent);
    log.clear();
    return engine.ReadHex(WriteHex(text), true);
  }
  // Present bytes hold their value with flag exactly 80h; all others FFh, 0.
  static void ExpectArea(const char* area, const std::vector<uint8_t>& data,
                         const std::vector<uint8_t>& flag,
                         const std::map<int64_t, uint8_t>& present) {
    std::vector<uint8_t> wantData(data.size(), 0xFF), wantFlag(flag.size(), 0);
    for (const auto& [a, v] : present) {
      ASSERT_LT(a, int64_t(data.size())) << area;
      wantData[size_t(a)] = v;
      wantFlag[size_t(a)] = kPresent;
    }
    EXPECT_TRUE(data == wantData && flag == wantFlag) << area;
  }
  void ExpectImage(const LoadCase& c) {
    ExpectArea("flash", engine.FlashData, engine.FlashFlag, c.flash);
    ExpectArea("EEPROM", engine.EEData, engine.EEFlag, c.ee);
    ExpectArea("config", engine.CfgData, engine.CfgFlag, {});
  }
};

TEST_F(HexLoadTest, BytesLandInTheAreaOfTheirFamily) {
  // dsPIC30 with 1 KB EEPROM: the EEPROM starts at 7FFC00h (HEX FFF800h);
  // each word is low byte, high byte and two phantom bytes.
  const std::vector<std::string> dsPIC = {
      HexRecord(0, 0, {0x11, 0x22, 0x33, 0x00}),
      HexBase(0x00FF),
      HexRecord(0xF7FC, 0, {0x99, 0x98, 0x00, 0x00}),  // word below the EEPROM
      HexRecord(0xF800, 0, {0xA0, 0xA1, 0xA2, 0x00, 0xB0, 0xB1, 0xB2, 0x00}),
      HexRecord(0xFFFC, 0, {0xC0, 0xC1, 0xC2, 0x00}),  // last word, 7FFFFEh
      HexBase(0x01F0),
      HexRecord(0, 0, {0x06, 0x00, 0x00, 0x00}),  // configuration
  };
  const std::vector<std::string> shortPic18 = {HexRecord(0, 0, {1, 2}), HexBase(0x00F0),
                                               HexRecord(2, 0, {3})};
  // clang-format off
  const LoadCase cases[] = {
      {"16F", kFamily16F, 0x100, 256,
       {k16FCode, HexRecord(0x00FE, 0, {0x11, 0x22, 0x33, 0x44}),  // 100h and up: past flash
        HexRecord(0x400E, 0, {0x72, 0x3F}),                         // configuration word
        HexRecord(0x4200, 0, {0xAB, 0xCD, 0xEF, 0x00}), kHexEnd},   // 4201h: high byte
       {{0, 0x8A}, {1, 0x01}, {2, 0x00}, {3, 0x28}, {0xFE, 0x11}, {0xFF, 0x22}},
       {{0, 0xAB}, {1, 0xEF}}},
      {"18F", kFamily18F, 0x100, 256,
       {HexRecord(0x0010, 0, {0x00, 0xEF}), HexRecord(0x00FF, 0, {0x01, 0x02}), HexBase(0x0030),
        HexRecord(0, 0, {0x00, 0x22}), HexBase(0x00F0), HexRecord(0, 0, {0x5A, 0xA5}),
        HexRecord(0x4000, 0, {0x77, 0x88}), kHexEnd},  // offsets 16384 and 16385
       {{0x10, 0x00}, {0x11, 0xEF}, {0xFF, 0x01}},
       {{0, 0x5A}, {1, 0xA5}, {16384, 0x77}}},
      {"dsPIC30", kFamilyDsPIC30, 0x100, 1024, dsPIC,
       {{0, 0x11}, {1, 0x22}, {2, 0x33}, {3, 0x00}},
       {{0, 0xA0}, {1, 0xA1}, {2, 0xB0}, {3, 0xB1}, {1022, 0xC0}, {1023, 0xC1}}},
      {"dsPIC33 has no EEPROM", kFamilyDsPIC33, 0x100, 0, dsPIC,
       {{0, 0x11}, {1, 0x22}, {2, 0x33}, {3, 0x00}}, {}},
      {"no flash image", kFamily18F, 0, 256, shortPic18, {}, {{2, 3}}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Load(c, JoinLines(c.lines)));
    ExpectImage(c);
    EXPECT_EQ(log, (std::vector<LogLine>{{LogIndent3, "Reading HEX file... "}}));
  }
  // Addresses past 32 bits store nothing: FFFFFFFFh and the three bytes
  // after it, which wrap to 0 in 32 bits.
  for (uint8_t family = kFamily16F; family <= kFamilyDsPIC33; ++family) {
    SCOPED_TRACE(int{family});
    const LoadCase c{"", family, 0x100, 1024, {HexBase(0xFFFF), HexRecord(0xFFFF, 0, {1, 2, 3, 4})},
                     {}, {}};
    EXPECT_TRUE(Load(c, JoinLines(c.lines)));
    EXPECT_EQ(engine.HexByteCount, 4);
    ExpectImage(c);
  }
}

TEST_F(HexLoadTest, LoadingUpdatesOnlyTheMarksItSees) {
  engine.HexHasEEPROM = engine.HexHasConfig = engine.HexDsPIC = true;
  engine.HexINHX32 = engine.Hex18FCode = false;
  ASSERT_TRUE(Load({"", kFamily18F, 0x100, 256, {}, {}, {}}, JoinLines({HexBase(0), k18FCode})));
  EXPECT_TRUE(engine.HexINHX32 && engine.Hex18FCode && engine.HexHasEEPROM && engine.HexHasConfig);
  EXPECT_FALSE(engine.HexDsPIC);
  EXPECT_EQ(CatchVantle([&] {
              Load({"", 0, 0x100, 0, {}, {}, {}}, kOneByte);
            }).message,
            "unknown family");
  EXPECT_EQ(log.back(), kNotUnderstood);
}

}  // namespace
}  // namespace vantlebld::test
