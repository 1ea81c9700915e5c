// The Intel HEX reader (syntax errors and their line numbers, record
// types, the analysis summary, what the loading pass stores) and the area
// of each address by family.
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

const std::string kOneByte = ":0100000041BE";  // 41h at address 0
// 14-bit words: no high byte uses bits 6-7; the fourth byte is not 0.
const std::string k16FCode = HexRecord(0x0000, 0, {0x8A, 0x01, 0x00, 0x28});
// A PIC18 GOTO: its high bytes use bits 6-7.
const std::string k18FCode = HexRecord(0x0000, 0, {0x00, 0xEF, 0x04, 0xF0});
const LogLine kNotUnderstood = Problem("could not understand HEX file");
const LogLine kReading = Step("Reading HEX file... ");

class HexReaderTest : public EngineFixture {
 protected:
  std::string WriteHex(const std::string& text) { return dir.Write("prog.hex", text); }
};

// Unsupported records are the file's fault, named by line and type ("*":
// the text goes on with what to do).
TEST_F(HexReaderTest, SyntaxErrorsNameTheLineCountingEmptyLines) {
  const std::pair<std::string, std::string> cases[] = {
      {":00000001F", "line 3 not formatted properly"},  // ten characters
      {"0100000041BE", "line 3 not formatted properly"},
      {":01000000G1BE", "not a hex symbol on line 3"},
      {kOneByte + " ", "not a hex symbol on line 3"},
      {kOneByte + "00", "Line 3 wrong length"},
      {HexRecord(0, 2, {0x10, 0x00}), "line 3: record type 02 is not supported; *"},
      {HexRecord(0x0010, 4, {0x00, 0x30}),
       "line 3: an extended linear address record carries 2 bytes at address 0000, this one 2 "
       "at 0010"},
      {HexRecord(0, 4, {0x00}), "*this one 1 at 0000"},
  };
  for (const auto& [line, message] : cases) {
    for (const std::string ending : {"\n", "\r\n", "\r"}) {
      SCOPED_TRACE(testing::PrintToString(line + ending));
      log.clear();
      const std::string path = WriteHex(kOneByte + ending + ending + line + ending + kHexEnd);
      const Raised r = CatchVantle([&] { engine.ReadHex(path, false); });
      EXPECT_TRUE(LogLine(Plain(message)).Matches(Plain(r.message))) << r.message;
      EXPECT_EQ(r.kind, EVantleError::Kind::General);
      EXPECT_EQ(log, LogLines{kNotUnderstood});
    }
  }
  // A file that cannot be opened has no syntax to blame. The analysis of a
  // missing file prints as the CLI's analyze shows it.
  log.clear();
  const Raised r = CatchVantle([&] { engine.ReadHex((dir.Path() / "missing").string(), true); });
  EXPECT_EQ(r.kind, EVantleError::Kind::FileIO);
  EXPECT_EQ(log, LogLines{kReading});
}

// A file past 64 MiB, or a pipe that never ends, is refused before it
// fills the memory; nothing of it is parsed.
TEST_F(HexReaderTest, FilesPast64MiBAreRefused) {
  const std::string big = WriteHex(kOneByte + "\n");
  std::filesystem::resize_file(big, 64 * 1024 * 1024 + 1);  // sparse: no disk used
  EXPECT_EQ(CatchVantle([&] { engine.ReadHex(big, false); }).message,
            "HEX file too large: 67108865 bytes");
  const std::string fifo = (dir.Path() / "endless").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);  // the writer learns of the reader's end by EPIPE
  std::thread writer([&] {
    std::ofstream out(fifo, std::ios::binary);
    const std::string record = kOneByte + "\n";
    while (out << record) {
    }
  });
  EXPECT_EQ(CatchVantle([&] { engine.ReadHex(fifo, false); }).message,
            "HEX file too large: more than 67108864 bytes");
  writer.join();
  EXPECT_EQ(engine.HexByteCount, 0);
}

TEST_F(HexReaderTest, AnalysisSummaryText) {
  // One engine for all rows: the richest file comes first, so marks that
  // survive into the next analysis show up in the rows after it.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{k18FCode, HexBase(0x0030), HexRecord(0, 0, {0x00, 0x22}), HexBase(0x00F0),
        HexRecord(0x03FE, 0, {1, 2}), kHexEnd},
       "INHX32,18Fcode+cfg+eeprom , total=8 bytes"},
      // No byte says dsPIC: without a fourth byte of a group it is not dsPIC code.
      {{kHexEnd}, "INHX8M,16Fcode, total=0 bytes"},
      // 16F configuration is 4000h..41FFh only: neither code above 2007h
      // nor the EEPROM image from 4200h.
      {{k16FCode, HexRecord(0x2008, 0, {0x8A, 0x01, 0x00, 0x28}), HexRecord(0x4200, 0, {1, 0})},
       "INHX8M,16Fcode+eeprom , total=10 bytes"},
      {{k16FCode, HexRecord(0x41FE, 0, {0, 0})}, "INHX8M,16Fcode+cfg, total=6 bytes"},
      {{k18FCode, HexRecord(0x400E, 0, {0x72, 0x3F}), HexRecord(0x4200, 0, {1, 0})},
       "INHX8M,18Fcode, total=8 bytes"},
      {{HexBase(0), HexRecord(0, 0, {0, 0, 4, 0, 0, 0, 0, 0}), HexBase(0x01F0),
        HexRecord(0, 0, {0x06, 0, 0, 0})},
       "INHX32,dsPICcode, total=12 bytes"},
  };
  for (const auto& [lines, summary] : cases) {
    EXPECT_TRUE(engine.ReadHex(WriteHex(JoinLines(lines)), false));
    EXPECT_EQ(engine.HexSummaryText(), summary);
  }
}

// --- Loading pass ---

class HexLoadTest : public HexReaderTest {
 protected:
  // Loads into an image full of stale bytes, as a second write would find it.
  bool Load(uint8_t family, int32_t flashSize, const std::string& text) {
    engine.pic = TPICInfo{};
    engine.pic.Family = family;
    engine.pic.FlashSize = flashSize;
    engine.pic.EESize = 1024;
    engine.ResizeFlashImage(flashSize);
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
      wantData.at(size_t(a)) = v;
      wantFlag.at(size_t(a)) = kPresent;
    }
    EXPECT_TRUE(data == wantData && flag == wantFlag) << area;
  }
  void ExpectImage(const std::map<int64_t, uint8_t>& flash, const std::map<int64_t, uint8_t>& ee) {
    ExpectArea("flash", engine.FlashData, engine.FlashFlag, flash);
    ExpectArea("EEPROM", engine.EEData, engine.EEFlag, ee);
    ExpectArea("config", engine.CfgData, engine.CfgFlag, {});
  }
};

TEST_F(HexLoadTest, BytesLandInTheirAreaAndNothingStaleStays) {
  // Flash up to its size, EEPROM up to the end of its area (16384 is the
  // last offset), configuration nowhere.
  EXPECT_TRUE(Load(
      kFamily18F, 0x100,
      JoinLines({HexRecord(0x0010, 0, {0x00, 0xEF}), HexRecord(0x00FF, 0, {1, 2}), HexBase(0x0030),
                 HexRecord(0, 0, {0x00, 0x22}), HexBase(0x00F0), HexRecord(0, 0, {0x5A, 0xA5}),
                 HexRecord(0x4000, 0, {0x77, 0x88}), kHexEnd})));
  ExpectImage({{0x10, 0x00}, {0x11, 0xEF}, {0xFF, 0x01}}, {{0, 0x5A}, {1, 0xA5}, {16384, 0x77}});
  EXPECT_EQ(log, LogLines{kReading});
  EXPECT_TRUE(Load(kFamily18F, 0,
                   JoinLines({HexRecord(0, 0, {1, 2}), HexBase(0x00F0), HexRecord(2, 0, {3})})));
  ExpectImage({}, {{2, 3}});
  // Addresses past 32 bits store nothing: FFFFFFFFh and the three bytes
  // after it, which wrap to 0 in 32 bits.
  EXPECT_TRUE(Load(kFamilyDsPIC30, 0x100,
                   JoinLines({HexBase(0xFFFF), HexRecord(0xFFFF, 0, {1, 2, 3, 4})})));
  EXPECT_EQ(engine.HexByteCount, 4);
  ExpectImage({}, {});
}

// A bad checksum only warns; lower-case digits are hex digits too; after
// the end record (its own checksum FEh is wrong) nothing is read.
TEST_F(HexLoadTest, BadChecksumOnlyWarnsAndTheEndRecordStopsReading) {
  std::string bad = HexRecord(0x0010, 0, {0x11, 0x22});
  bad.replace(bad.size() - 2, 2, "00");
  ASSERT_TRUE(Load(kFamily18F, 0x100,
                   JoinLines({bad, ":0100000041be", ":00000001FE", "garbage", kOneByte})));
  EXPECT_EQ(log, (LogLines{kReading, Step("Warning! CRC failed on line 1")}));
  EXPECT_EQ(engine.HexByteCount, 3);
  ExpectImage({{0, 0x41}, {0x10, 0x11}, {0x11, 0x22}}, {});
}

// A file rewritten between the analysis and the load (a build finishing
// during the search) is loaded as it was analysed; the next job reads it
// anew.
TEST_F(HexLoadTest, TheLoadTakesTheBytesTheAnalysisRead) {
  const std::string file = WriteHex(JoinLines({HexRecord(0x10, 0, {0xAA}), kHexEnd}));
  ASSERT_TRUE(engine.AnalyzeHex(file));
  WriteHex(JoinLines({HexRecord(0x20, 0, {0xBB}), kHexEnd}));
  ASSERT_TRUE(Load(kFamily18F, 0x100, JoinLines({HexRecord(0x20, 0, {0xBB}), kHexEnd})));
  ExpectImage({{0x10, 0xAA}}, {});
  ASSERT_TRUE(engine.ReadHex(file, true));
  ExpectImage({{0x20, 0xBB}}, {});
}

// --- The image ---

using ImageTest = EngineFixture;

TEST_F(ImageTest, ClassifyAddressAreaBoundaries) {
  using A = TArea;
  const uint8_t P16 = kFamily16F, C18 = kFamily18F, D30 = kFamilyDsPIC30, E33 = kFamilyDsPIC33;
  const struct {
    uint8_t family;
    int32_t eeSize;
    int64_t hex;
    TArea area;
    int64_t offset;
  } cases[] = {
      // clang-format off
      // 16F: HEX byte address = 2 x word address; EEPROM in the even bytes.
      {P16, 256, 0x4201, A::None, 0},        {P16, 256, 0x43FE, A::EEPROM, 0xFF},
      {P16, 256, 0x4400, A::None, 0},        {C18, 256, 0xF10000, A::None, 0},
      // dsPIC30 EEPROM at the top of 800000h; phantom bytes have no place.
      {D30, 4096, 0xFFE002, A::None, 0},     {D30, 1024, 0xFFF7FD, A::None, 0},
      {D30, 1024, 0xFFF805, A::EEPROM, 3},   {E33, 0, 0xFFFFFF, A::Flash, 0},
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
  engine.pic.Family = 9;
  EXPECT_EQ(CatchVantle([&] { engine.ClassifyAddress(0); }).message, "unknown family");
}

}  // namespace
}  // namespace vantlebld::test
