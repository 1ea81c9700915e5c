// The Intel HEX reader: syntax errors and their line numbers, record types,
// the analysis summary, and where the loading pass puts each byte for every
// family.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

const std::string kOneByte = ":0100000041BE";  // 41h at address 0
// 14-bit words: no high byte uses bits 6-7; the fourth byte is not 0.
const std::string k16FCode = HexRecord(0x0000, 0, {0x8A, 0x01, 0x00, 0x28});
// A PIC18 GOTO: its high bytes use bits 6-7.
const std::string k18FCode = HexRecord(0x0000, 0, {0x00, 0xEF, 0x04, 0xF0});
// Two dsPIC instructions: every fourth byte is 0.
const std::string kDsPICCode =
    HexRecord(0x0000, 0, {0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00});
const LogLine kNotUnderstood{LogIndent6, "could not understand HEX file"};

class HexReaderTest : public EngineFixture {
 protected:
  std::string WriteHex(const std::string& text) { return dir.Write("prog.hex", text); }
  bool Analyze(const std::vector<std::string>& lines) {
    return engine.ReadHex(WriteHex(JoinLines(lines)), false);
  }
};

TEST_F(HexReaderTest, SyntaxErrorsNameTheLineCountingEmptyLines) {
  const struct {
    const char* name;
    std::string line;
    std::string message;
  } cases[] = {
      {"ten characters", ":00000001F", "line 3 not formatted properly"},
      {"no colon", "0100000041BE", "line 3 not formatted properly"},
      {"only blanks", "              ", "line 3 not formatted properly"},
      {"letter G", ":01000000G1BE", "not a hex symbol on line 3"},
      {"trailing blank", kOneByte + " ", "not a hex symbol on line 3"},
      {"one byte too many", kOneByte + "00", "Line 3 wrong length"},
      {"one byte too few", ":0200000041BD", "Line 3 wrong length"},
  };
  for (const auto& c : cases) {
    for (const std::string ending : {"\n", "\r\n", "\r"}) {
      SCOPED_TRACE(std::string(c.name) + (ending == "\n"   ? ", LF"
                                          : ending == "\r" ? ", CR"
                                                           : ", CR LF"));
      log.clear();
      const std::string path =
          WriteHex(kOneByte + ending + ending + c.line + ending + kHexEnd + ending);
      const Raised r = CatchVantle([&] { engine.ReadHex(path, false); });
      EXPECT_TRUE(r.thrown);
      EXPECT_EQ(r.message, c.message);
      EXPECT_EQ(log, std::vector<LogLine>{kNotUnderstood});
    }
  }
}

TEST_F(HexReaderTest, OpenErrorPassesOnWithoutTheHexMessage) {
  for (bool load : {false, true}) {
    const Raised r = CatchVantle([&] { engine.ReadHex((dir.Path() / "none.hex").string(), load); });
    EXPECT_TRUE(r.thrown);
    EXPECT_EQ(r.kind, EVantleError::Kind::FileIO);
    EXPECT_FALSE(Logged(kNotUnderstood));
  }
}

TEST_F(HexReaderTest, UnsupportedRecordsFailWithTheAssertionText) {
  const std::string records[] = {
      HexRecord(0, 2, {0x10, 0x00}),              // extended segment address
      HexRecord(0, 4, {0x30}),                    // extended linear, one byte
      HexRecord(0, 4, {0x00, 0x30, 0x00}),        // extended linear, three bytes
      HexRecord(0x0010, 4, {0x00, 0x30}),         // extended linear, address not 0
      HexRecord(0, 3, {0x00, 0x00, 0x00, 0x00}),  // start segment address
      HexRecord(0, 5, {0x00, 0x00, 0x00, 0x00}),  // start linear address
  };
  for (const auto& record : records) {
    SCOPED_TRACE(record);
    log.clear();
    const Raised r = CatchVantle([&] { Analyze({kOneByte, record, kHexEnd}); });
    EXPECT_EQ(r.kind, EVantleError::Kind::Assertion);
    EXPECT_EQ(r.message.rfind(
                  "Incomplete implemetation of extended intel hex files (vantlebldComm, line ", 0),
              0u)
        << r.message;
    EXPECT_EQ(log, std::vector<LogLine>{kNotUnderstood});
  }
}

TEST_F(HexReaderTest, BadChecksumOnlyWarns) {
  engine.pic.Family = kFamily18F;
  engine.pic.FlashSize = 0x100;
  engine.ResizeFlashImage(0x100);
  std::string bad = HexRecord(0x0010, 0, {0x11, 0x22});
  bad.replace(bad.size() - 2, 2, "00");
  // Lower-case digits are hex digits too.
  ASSERT_TRUE(engine.ReadHex(WriteHex(JoinLines({":0100000041be", bad, kHexEnd})), true));
  EXPECT_EQ(
      std::count(log.begin(), log.end(), LogLine{LogIndent3, "Warning! CRC failed on line 2"}), 1);
  EXPECT_EQ(log.size(), 2u);  // "Reading HEX file... " and the warning
  EXPECT_EQ(engine.FlashData[0], 0x41);
  EXPECT_EQ(engine.FlashData[0x10], 0x11);
  EXPECT_EQ(engine.FlashData[0x11], 0x22);
  EXPECT_TRUE(engine.IsPresent(0x11));
}

TEST_F(HexReaderTest, EndRecordStopsReading) {
  // Not even the end record's own checksum (FEh here is wrong) is read.
  EXPECT_TRUE(Analyze({kOneByte, ":00000001FE", "garbage", HexRecord(0x10, 0, {1, 2, 3})}));
  EXPECT_EQ(engine.HexByteCount, 1);
  EXPECT_TRUE(log.empty());
}

TEST_F(HexReaderTest, AnalysisSummaryText) {
  // One engine for all rows: the richest file comes first, so marks that
  // survive into the next analysis show up in the rows after it.
  const struct {
    const char* name;
    std::vector<std::string> lines;
    std::string summary;
  } cases[] = {
      {"18F with configuration and EEPROM",
       {k18FCode, ":020000040030CA", HexRecord(0, 0, {0x00, 0x22}), HexBase(0x00F0),
        HexRecord(0x03FE, 0, {1, 2}), kHexEnd},
       "INHX32,18Fcode+cfg+eeprom , total=8 bytes"},
      {"end record only", {kHexEnd}, "INHX8M,dsPICcode, total=0 bytes"},
      {"16F with configuration and EEPROM",
       {k16FCode, HexRecord(0x400E, 0, {0x72, 0x3F}), HexRecord(0x4200, 0, {1, 0, 2, 0}), kHexEnd},
       "INHX8M,16Fcode+cfg+eeprom , total=10 bytes"},
      {"16F code above 2007h is not configuration",
       {k16FCode, HexRecord(0x2008, 0, {0x8A, 0x01, 0x00, 0x28})},
       "INHX8M,16Fcode, total=8 bytes"},
      {"16F configuration up to 41FFh",
       {k16FCode, HexRecord(0x41FE, 0, {0, 0})},
       "INHX8M,16Fcode+cfg, total=6 bytes"},
      {"16F configuration from 4000h",
       {k16FCode, HexRecord(0x3FFE, 0, {0, 0})},
       "INHX8M,16Fcode, total=6 bytes"},
      {"16F ranges after 18F code",
       {k18FCode, HexRecord(0x400E, 0, {0x72, 0x3F}), HexRecord(0x4200, 0, {1, 0})},
       "INHX8M,18Fcode, total=8 bytes"},
      {"18F EEPROM records below 400h only",
       {k18FCode, HexBase(0x00F0), HexRecord(0x0400, 0, {1, 2})},
       "INHX32,18Fcode, total=6 bytes"},
      {"dsPIC",
       {HexBase(0), kDsPICCode, HexBase(0x01F0), HexRecord(0, 0, {0x06, 0, 0, 0})},
       "INHX32,dsPICcode, total=12 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Analyze(c.lines));
    EXPECT_EQ(engine.HexSummaryText(), c.summary);
  }
}

TEST_F(HexReaderTest, AnalyzeLogsTheSummaryLine) {
  const std::string path =
      WriteHex(JoinLines({k18FCode, ":020000040030CA", HexRecord(0, 0, {0x00, 0x22}), kHexEnd}));
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(150));
  EXPECT_TRUE(engine.AnalyzeHex(path));
  EXPECT_EQ(log, (std::vector<LogLine>{
                     {LogIndent3, "HEX: 2 hours old, INHX32,18Fcode+cfg, total=6 bytes. "}}));
}

TEST_F(HexReaderTest, AnalyzeBrokenFileLogsNoSummary) {
  const std::string path = WriteHex(JoinLines({kOneByte, ":01000000G1BE"}));
  EXPECT_TRUE(CatchVantle([&] { engine.AnalyzeHex(path); }).thrown);
  EXPECT_EQ(log, std::vector<LogLine>{kNotUnderstood});
}

TEST_F(HexReaderTest, AnalyzeMissingFile) {
  const std::string path = (dir.Path() / "missing.hex").string();
  const Raised r = CatchVantle([&] { engine.AnalyzeHex(path); });
  EXPECT_EQ(r.message, "File not found");
  EXPECT_EQ(r.kind, EVantleError::Kind::FileIO);
  EXPECT_EQ(log, (std::vector<LogLine>{{LogIndent6, "File not found: " + path}}));
}

TEST(HexAgeText, WholeUnitsEitherSideOfNow) {
  const std::time_t now = 1'700'000'000;
  const struct {
    long long secondsAgo;
    const char* text;
  } cases[] = {
      {0, "0 min"},          {59 * 60 + 59, "59 min"}, {-59 * 60, "59 min"},
      {3600, "1 hours"},     {2 * 3600, "2 hours"},    {24 * 3600 - 1, "23 hours"},
      {25 * 3600, "1 days"}, {-25 * 3600, "1 days"},   {49 * 86400 + 5, "49 days"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TVantleBootloader::HexAgeText(static_cast<std::time_t>(now - c.secondsAgo), now),
              c.text)
        << c.secondsAgo;
  }
}

// --- Loading pass ---

struct LoadCase {
  const char* name;
  uint8_t family;
  int32_t flashSize;
  int32_t eeSize;
  std::vector<std::string> lines;
  std::map<int64_t, uint8_t> flash;  // every flash byte expected present
  std::map<int64_t, uint8_t> ee;     // every EEPROM byte expected present
};

class HexLoadTest : public HexReaderTest {
 protected:
  // Loads into an image full of stale bytes, as a second write would find
  // it.
  bool LoadText(const LoadCase& c, const std::string& text) {
    engine.pic = TPICInfo{};
    engine.pic.Family = c.family;
    engine.pic.FlashSize = c.flashSize;
    engine.pic.EESize = c.eeSize;
    engine.ResizeFlashImage(c.flashSize);
    std::fill(engine.FlashData.begin(), engine.FlashData.end(), 0x12);
    std::fill(engine.FlashFlag.begin(), engine.FlashFlag.end(), kPresent);
    std::fill(engine.EEData.begin(), engine.EEData.end(), 0x34);
    std::fill(engine.EEFlag.begin(), engine.EEFlag.end(), kPresent);
    std::fill(engine.CfgData.begin(), engine.CfgData.end(), 0x56);
    std::fill(engine.CfgFlag.begin(), engine.CfgFlag.end(), kPresent);
    log.clear();
    return engine.ReadHex(WriteHex(text), true);
  }
  bool Load(const LoadCase& c) { return LoadText(c, JoinLines(c.lines)); }

  // Present bytes hold their value with flag exactly 80h; all others FFh, 0.
  static void ExpectArea(const char* area, const std::vector<uint8_t>& data,
                         const std::vector<uint8_t>& flag,
                         const std::map<int64_t, uint8_t>& present) {
    int wrong = 0;
    for (size_t i = 0; i < data.size(); ++i) {
      const auto it = present.find(static_cast<int64_t>(i));
      const int wantData = it == present.end() ? 0xFF : it->second;
      const int wantFlag = it == present.end() ? 0 : kPresent;
      if ((data[i] != wantData || flag[i] != wantFlag) && ++wrong <= 3) {
        ADD_FAILURE() << area << "[" << i << "] = " << int{data[i]} << "/" << int{flag[i]}
                      << ", expected " << wantData << "/" << wantFlag;
      }
    }
    EXPECT_EQ(wrong, 0) << area;
    if (!present.empty()) EXPECT_LT(present.rbegin()->first, static_cast<int64_t>(data.size()));
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
  const std::vector<std::string> dsPICLines = {
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
       {HexRecord(0x0010, 0, {0x00, 0xEF}), HexRecord(0x00FF, 0, {0x01, 0x02}), ":020000040030CA",
        HexRecord(0, 0, {0x00, 0x22}), HexBase(0x00F0), HexRecord(0, 0, {0x5A, 0xA5}),
        HexRecord(0x4000, 0, {0x77, 0x88}), kHexEnd},  // offsets 16384 and 16385
       {{0x10, 0x00}, {0x11, 0xEF}, {0xFF, 0x01}},
       {{0, 0x5A}, {1, 0xA5}, {16384, 0x77}}},
      {"18F J", kFamily18FJ, 0x40, 0, shortPic18, {{0, 1}, {1, 2}}, {{2, 3}}},
      {"18F K", kFamily18FK, 0x40, 256, shortPic18, {{0, 1}, {1, 2}}, {{2, 3}}},
      {"dsPIC30", kFamilyDsPIC30, 0x100, 1024, dsPICLines,
       {{0, 0x11}, {1, 0x22}, {2, 0x33}, {3, 0x00}},
       {{0, 0xA0}, {1, 0xA1}, {2, 0xB0}, {3, 0xB1}, {1022, 0xC0}, {1023, 0xC1}}},
      {"dsPIC33 has no EEPROM", kFamilyDsPIC33, 0x100, 0, dsPICLines,
       {{0, 0x11}, {1, 0x22}, {2, 0x33}, {3, 0x00}}, {}},
      {"no flash image", kFamily18F, 0, 256, shortPic18, {}, {{2, 3}}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Load(c));
    EXPECT_EQ(engine.FlashData.size(), static_cast<size_t>(c.flashSize));
    ExpectImage(c);
    EXPECT_EQ(log.empty() ? LogLine{} : log.front(), (LogLine{LogIndent3, "Reading HEX file... "}));
  }
}

TEST_F(HexLoadTest, AddressesPast32BitsStoreNothing) {
  for (uint8_t family = kFamily16F; family <= kFamilyDsPIC33; ++family) {
    SCOPED_TRACE(int{family});
    // FFFFFFFFh and the three bytes after it, which wrap to 0 in 32 bits.
    const LoadCase c{
        "", family, 0x100, 1024, {HexBase(0xFFFF), HexRecord(0xFFFF, 0, {1, 2, 3, 4}), kHexEnd},
        {}, {}};
    EXPECT_TRUE(Load(c));
    EXPECT_EQ(engine.HexByteCount, 4);
    ExpectImage(c);
  }
}

TEST_F(HexLoadTest, LoadingUpdatesOnlyTheMarksItSees) {
  engine.HexHasEEPROM = engine.HexHasConfig = true;
  engine.HexINHX32 = engine.Hex18FCode = false;
  engine.HexDsPIC = true;
  ASSERT_TRUE(Load({"", kFamily18F, 0x100, 256, {HexBase(0), k18FCode}, {}, {}}));
  EXPECT_TRUE(engine.HexINHX32);
  EXPECT_TRUE(engine.Hex18FCode);
  EXPECT_FALSE(engine.HexDsPIC);
  EXPECT_TRUE(engine.HexHasEEPROM);
  EXPECT_TRUE(engine.HexHasConfig);
  EXPECT_EQ(engine.HexByteCount, 4);
}

TEST_F(HexLoadTest, LoadingWithoutAFamilyFails) {
  const Raised r = CatchVantle([&] { Load({"", 0, 0x100, 0, {kOneByte}, {}, {}}); });
  EXPECT_EQ(r.message, "unknown family");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), kNotUnderstood);
}

TEST_F(HexLoadTest, EveryLineEndingGivesTheSameImage) {
  // No end record: the last line ends the file, with or without its ending.
  const std::vector<std::string> lines = {HexRecord(0, 0, {1, 2, 3, 4}), "", HexBase(0x00F0),
                                          HexRecord(0, 0, {5, 6})};
  const LoadCase c{
      "", kFamily18F, 0x40, 256, lines, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}, {{0, 5}, {1, 6}}};
  for (const std::string ending : {"\n", "\r\n", "\r"}) {
    const std::string text = JoinLines(lines, ending);
    for (const std::string& file : {text, text.substr(0, text.size() - ending.size())}) {
      SCOPED_TRACE(testing::PrintToString(file));
      EXPECT_TRUE(LoadText(c, file));
      EXPECT_EQ(engine.HexByteCount, 6);
      ExpectImage(c);
    }
  }
}

}  // namespace
}  // namespace vantlebld::test
