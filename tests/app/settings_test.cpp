// The settings file: first start, the key layout of a new file, the round
// trip, values that fall back or are pulled into range, the HEX file
// history, the terminal baud and the receive translation table.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "tests/support/files.h"

namespace vantlebld {
namespace {

std::string Saved(const TSettings& s, std::string_view before = "") {
  TIniFile ini = TIniFile::FromText(before);
  SaveSettings(s, ini);
  return ini.Text();
}

TSettings Loaded(std::string_view text) {
  return LoadSettings(TIniFile::FromText(text));
}

const char kFreshFile[] =
    "[FILES]\nHexFile=\n\n[PIC]\nCOMport=COM1\nCOMspeed=115200\nStopBits=1\n\n[WINDOW]\nTop=100\n"
    "Left=100\nWidth=586\nHeight=372\n\n[OPTIONS]\nPCDetectCode=C1h\nPreCodes=\n"
    "RemoteResetSignals=\nRTSDTRonConnect=1\nSearchDelay=7\nTimeout=300\nSearchForCOMs=1\n"
    "SizeOfBLD_W=100\nUDP_DestAddr=127.0.0.1\nUDP_DestPort=8090\n\n[TERMINAL]\n"
    "TerminalBufferLength=10000\nSwitchToTerminal=0\nWriteOnHexChange=0\nTermianalBaudSave=0\n"
    "MacroString1=\\x0d\\x0a\nMacroString2=\nMacroString3=\nFontName=Courier New\nFontSize=10\n"
    "FontBold=0\n\n[TRANSLATE RCV]\n00=250\n";

TEST(Settings, FirstStartWithoutAFileAndTheFileItWrites) {
  test::TempDir dir;
  const std::string path = (dir.Path() / kSettingsFileName).string();
  // Port COM1, baud 115200, ID code C1h, 7 s, 300 ms, no reset script:
  // the fresh file below shows them.
  const TSettings s = LoadSettingsFile(path);
  EXPECT_EQ(s, TSettings{});
  EXPECT_FALSE(s.TranslateRowsRead);

  std::string reason;
  ASSERT_TRUE(SaveSettingsFile(s, path, &reason)) << reason;
  EXPECT_EQ(test::ReadText(path), kFreshFile);
}

// Every key away from its default: what is read is written back unchanged.
TEST(Settings, EveryKeyReadIsWrittenBack) {
  const char custom[] =
      "[FILES]\nHexFile=/home/u/b.hex\nLRU0=/home/u/b.hex\nLRU1=C:\\old dir\\a.hex\n\n[PIC]\n"
      "COMport=/dev/ttyUSB0\nCOMspeed=57600\nStopBits=2\n\n[WINDOW]\nTop=-20\nLeft=3000\n"
      "Width=800\nHeight=600\n\n[OPTIONS]\nPCDetectCode=$C1\nPreCodes=128 80h\n"
      "RemoteResetSignals=DRRrrrR\nRTSDTRonConnect=2\nSearchDelay=9\nTimeout=1200\n"
      "SearchForCOMs=0\nSizeOfBLD_W=0\nUDP_DestAddr=192.168.1.7\nUDP_DestPort=9000\n\n[TERMINAL]\n"
      "TerminalBufferLength=50\nSwitchToTerminal=1\nWriteOnHexChange=1\nTermianalBaudSave=1\n"
      "TerminalBaud=9600\nMacroString1=AT\\x0d\nMacroString2=\nMacroString3=x=y; z\n"
      "FontName=DejaVu Sans Mono\nFontSize=12\nFontBold=1\n\n[TRANSLATE RCV]\n0Dh=\"<CR>\"\n1=2\n";
  EXPECT_EQ(Saved(Loaded(custom)), custom);
}

// Defaults for what is not an integer or cannot be used; the number boxes'
// ranges; the three box states.
TEST(Settings, StoredNumbersThatFallBackOrArePulledIntoRange) {
  const struct {
    const char* text;
    int32_t TSettings::*field;
    int32_t expected;
  } cases[] = {
      {"[PIC]\nStopBits=two", &TSettings::StopBits, 1},
      {"[OPTIONS]\nSearchDelay=61", &TSettings::SearchDelay, 60},
      {"[OPTIONS]\nRTSDTRonConnect=0", &TSettings::RTSDTRonConnect, kRtsDtrOff},
      {"[OPTIONS]\nRTSDTRonConnect=-1", &TSettings::RTSDTRonConnect, kRtsDtrGrayed},
      {"[TERMINAL]\nTerminalBufferLength=1000001", &TSettings::TerminalBufferLength, 10000},
      {"[WINDOW]\nHeight=-372", &TSettings::Height, kDesignHeight},
      {"[OPTIONS]\nUDP_DestPort=65536", &TSettings::UDP_DestPort, 8090},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Loaded(c.text).*c.field, c.expected) << c.text;
}

// At most 15 files. Keys beyond the list stay; an empty entry is left out rather than written as an
// end mark that would lose the rest.
TEST(Settings, HexFileHistory) {
  TSettings twenty;
  for (int i = 0; i < 20; ++i)
    twenty.HexHistory.push_back("f" + std::to_string(i) + ".hex");
  EXPECT_EQ(Loaded(Saved(twenty)).HexHistory.size(), 15u);
  TSettings s;
  s.HexHistory = {"", "new.hex", " ", "a"};
  EXPECT_EQ(Loaded(Saved(s, "[FILES]\nLRU0=a\nLRU1=b\nLRU2=c\nLRU3=d\n")).HexHistory,
            (std::vector<std::string>{"new.hex", "a", "c", "d"}));
}

// The terminal's baud rate is read and written only when asked to save it,
// else it is the PIC's (the round trip above holds a saved one, the fresh
// file none).
TEST(Settings, TerminalBaudOnlyWhenAskedToSaveIt) {
  EXPECT_EQ(Loaded("[PIC]\nCOMspeed=19200\n[TERMINAL]\nTerminalBaud=9600").TerminalBaud, "19200");
}

// An emptied table stays empty; a deleted row comes back, an emptied Code
// is skipped, a Code the file cannot hold is reported.
TEST(Settings, TranslationTable) {
  EXPECT_TRUE(Loaded("[translate rcv]\n").TranslateRows.empty());
  TIniFile ini = TIniFile::FromText("[TRANSLATE RCV]\n41=\"a\"\n0Dh=32\n");
  TSettings s = LoadSettings(ini);
  s.TranslateRows = {{"0Dh", "13"}, {"", "7"}, {"\"=\"", "61"}};
  EXPECT_EQ(SaveSettings(s, ini), std::vector<std::string>{"TRANSLATE RCV/\"=\""});
  EXPECT_EQ(LoadSettings(ini).TranslateRows,
            (std::vector<TTranslateRow>{{"41", "\"a\""}, {"0Dh", "13"}}));
}

}  // namespace
}  // namespace vantlebld
