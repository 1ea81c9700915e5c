#include "app/settings.h"

#include <algorithm>
#include <limits>

namespace vantlebld {

namespace {

constexpr std::string_view kFiles = "FILES";
constexpr std::string_view kPic = "PIC";
constexpr std::string_view kWindow = "WINDOW";
constexpr std::string_view kOptions = "OPTIONS";
constexpr std::string_view kTerminal = "TERMINAL";
constexpr std::string_view kTranslate = "TRANSLATE RCV";
// The key of cbTerminalBaudSave, misspelt as every existing file has it.
constexpr std::string_view kTerminalBaudSaveKey = "TermianalBaudSave";
const std::array<std::string_view, 3> kMacroKeys = {"MacroString1", "MacroString2", "MacroString3"};

std::string HistoryKey(int32_t i) {
  return "LRU" + std::to_string(i);
}

// A value outside lo..hi is one the program cannot use: the default instead.
int32_t InRangeOr(int32_t value, int32_t lo, int32_t hi, int32_t def) {
  return (value < lo || value > hi) ? def : value;
}

bool IsBlankText(std::string_view s) {
  return s.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

TSettingsPlace SettingsPlace(std::string_view programDir, bool writable) {
  for (std::string_view system : {"/usr", "/opt"}) {
    if (programDir.starts_with(system) &&
        (programDir.size() == system.size() || programDir[system.size()] == '/'))
      return TSettingsPlace::UserConfig;
  }
  return writable ? TSettingsPlace::BesideProgram : TSettingsPlace::UserConfig;
}

int32_t BaudRateOf(std::string_view text) {
  const auto baud = ParseIniInteger(text);
  return (baud && *baud > 0) ? *baud : kDefaultBaudRate;
}

TSettings LoadSettings(const TIniFile& ini) {
  const TSettings d;  // the defaults
  TSettings s;
  s.HexFile = ini.ReadString(kFiles, "HexFile", s.HexFile);
  s.COMport = ini.ReadString(kPic, "COMport", s.COMport);
  s.COMspeed = ini.ReadString(kPic, "COMspeed", s.COMspeed);
  s.StopBits = ini.ReadInteger(kPic, "StopBits", s.StopBits);
  s.BaudAlert = s.StopBits != 1;
  // ComboBaudChange has run: the terminal baud box follows the bootloader's.
  s.TerminalBaud = s.COMspeed;

  const int32_t c = kMaxWindowCoordinate;
  s.Top = InRangeOr(ini.ReadInteger(kWindow, "Top", s.Top), -c, c, d.Top);
  s.Left = InRangeOr(ini.ReadInteger(kWindow, "Left", s.Left), -c, c, d.Left);
  s.Width = InRangeOr(ini.ReadInteger(kWindow, "Width", s.Width), 1, c, d.Width);
  s.Height = InRangeOr(ini.ReadInteger(kWindow, "Height", s.Height), 1, c, d.Height);

  s.PCDetectCode = ini.ReadString(kOptions, "PCDetectCode", s.PCDetectCode);
  s.PreCodes = ini.ReadString(kOptions, "PreCodes", s.PreCodes);
  s.RemoteResetSignals = ini.ReadString(kOptions, "RemoteResetSignals", s.RemoteResetSignals);
  // 0 and 1 are the two-state values; anything else is the grayed state.
  const int32_t rtsDtr = ini.ReadInteger(kOptions, "RTSDTRonConnect", s.RTSDTRonConnect);
  s.RTSDTRonConnect = (rtsDtr == kRtsDtrOff || rtsDtr == kRtsDtrOn) ? rtsDtr : kRtsDtrGrayed;
  s.SearchDelay = std::clamp(ini.ReadInteger(kOptions, "SearchDelay", s.SearchDelay),
                             kSearchDelayMin, kSearchDelayMax);
  s.Timeout = std::clamp(ini.ReadInteger(kOptions, "Timeout", s.Timeout), kTimeoutMin, kTimeoutMax);
  s.SearchForCOMs = ini.ReadBool(kOptions, "SearchForCOMs", s.SearchForCOMs);
  // No engine operation reads SizeOfBLD_W; it is only kept and written
  // back, but a negative size is no size.
  s.SizeOfBLD_W = InRangeOr(ini.ReadInteger(kOptions, "SizeOfBLD_W", s.SizeOfBLD_W), 0,
                            std::numeric_limits<int32_t>::max(), d.SizeOfBLD_W);
  s.UDP_DestAddr = ini.ReadString(kOptions, "UDP_DestAddr", s.UDP_DestAddr);
  // The socket takes a 16-bit port: a larger number would be cut to some
  // other port, and 0 is no destination.
  s.UDP_DestPort = InRangeOr(ini.ReadInteger(kOptions, "UDP_DestPort", s.UDP_DestPort), 1, 65535,
                             d.UDP_DestPort);

  // The history ends at the first missing or empty entry.
  for (int32_t i = 0; i < kHexHistoryMax; ++i) {
    std::string entry = ini.ReadString(kFiles, HistoryKey(i), "");
    if (entry.empty()) break;
    s.HexHistory.push_back(std::move(entry));
  }

  // A length of 0 would show nothing that arrives, and a negative one would
  // make the buffer cut take a negative count; see kMaxTerminalBufferLength
  // for the upper end.
  s.TerminalBufferLength =
      InRangeOr(ini.ReadInteger(kTerminal, "TerminalBufferLength", s.TerminalBufferLength), 1,
                kMaxTerminalBufferLength, d.TerminalBufferLength);
  s.SwitchToTerminal = ini.ReadBool(kTerminal, "SwitchToTerminal", s.SwitchToTerminal);
  s.WriteOnHexChange = ini.ReadBool(kTerminal, "WriteOnHexChange", s.WriteOnHexChange);
  s.TerminalBaudSave = ini.ReadBool(kTerminal, kTerminalBaudSaveKey, s.TerminalBaudSave);
  if (s.TerminalBaudSave)
    s.TerminalBaud = ini.ReadString(kTerminal, "TerminalBaud", s.TerminalBaud);

  if (ini.SectionExists(kTranslate)) {
    s.TranslateRows.clear();
    for (auto& [code, replacement] : ini.ReadSection(kTranslate))
      s.TranslateRows.push_back({code, replacement});
    s.TranslateRowsRead = true;
  }

  for (size_t i = 0; i < kMacroKeys.size(); ++i)
    s.MacroStrings[i] = ini.ReadString(kTerminal, kMacroKeys[i], s.MacroStrings[i]);
  s.SendLineEnd = InRangeOr(ini.ReadInteger(kTerminal, "SendLineEnd", s.SendLineEnd), 0,
                            static_cast<int32_t>(kLineEnds.size()) - 1, d.SendLineEnd);
  s.LocalEcho = ini.ReadBool(kTerminal, "LocalEcho", s.LocalEcho);

  s.FontName = ini.ReadString(kTerminal, "FontName", s.FontName);
  s.FontSize =
      InRangeOr(ini.ReadInteger(kTerminal, "FontSize", s.FontSize), 1, kMaxFontSize, d.FontSize);
  s.FontBold = ini.ReadBool(kTerminal, "FontBold", s.FontBold);
  return s;
}

std::vector<std::string> SaveSettings(const TSettings& s, TIniFile& ini) {
  std::vector<std::string> refused;
  const auto put = [&](std::string_view section, std::string_view key, std::string_view value) {
    if (!ini.WriteString(section, key, value))
      refused.push_back(std::string(section) + "/" + std::string(key));
  };
  const auto putInt = [&](std::string_view section, std::string_view key, int32_t value) {
    put(section, key, std::to_string(value));
  };
  const auto putBool = [&](std::string_view section, std::string_view key, bool value) {
    put(section, key, value ? "1" : "0");
  };

  put(kFiles, "HexFile", s.HexFile);
  put(kPic, "COMport", s.COMport);
  putInt(kPic, "COMspeed", BaudRateOf(s.COMspeed));
  putInt(kPic, "StopBits", s.StopBits);

  putInt(kWindow, "Top", s.Top);
  putInt(kWindow, "Left", s.Left);
  putInt(kWindow, "Width", s.Width);
  putInt(kWindow, "Height", s.Height);

  put(kOptions, "PCDetectCode", s.PCDetectCode);
  put(kOptions, "PreCodes", s.PreCodes);
  put(kOptions, "RemoteResetSignals", s.RemoteResetSignals);
  putInt(kOptions, "RTSDTRonConnect", s.RTSDTRonConnect);
  putInt(kOptions, "SearchDelay", s.SearchDelay);
  putInt(kOptions, "Timeout", s.Timeout);
  putBool(kOptions, "SearchForCOMs", s.SearchForCOMs);
  putInt(kOptions, "SizeOfBLD_W", s.SizeOfBLD_W);
  put(kOptions, "UDP_DestAddr", s.UDP_DestAddr);
  putInt(kOptions, "UDP_DestPort", s.UDP_DestPort);

  // The first 15 entries; keys beyond stay as the file has them. An empty
  // entry (CheckPIC run with an empty file name puts one at the top) would
  // end the history at the next start and lose every entry after it, so it
  // is left out, as is an entry that does not fit on one line.
  int32_t n = 0;
  for (const std::string& entry : s.HexHistory) {
    if (n == kHexHistoryMax) break;
    if (IsBlankText(entry) || entry.find_first_of("\r\n") != std::string::npos) continue;
    put(kFiles, HistoryKey(n++), entry);
  }

  putInt(kTerminal, "TerminalBufferLength", s.TerminalBufferLength);
  putBool(kTerminal, "SwitchToTerminal", s.SwitchToTerminal);
  putBool(kTerminal, "WriteOnHexChange", s.WriteOnHexChange);
  putBool(kTerminal, kTerminalBaudSaveKey, s.TerminalBaudSave);
  if (s.TerminalBaudSave) put(kTerminal, "TerminalBaud", s.TerminalBaud);

  // Rows no longer in the grid keep their keys, so they come back at the
  // next start. A row whose Code the grid emptied (after a bad entry) has
  // nothing to store.
  for (const TTranslateRow& row : s.TranslateRows)
    if (!IsBlankText(row.Code)) put(kTranslate, row.Code, row.New);

  for (size_t i = 0; i < kMacroKeys.size(); ++i)
    put(kTerminal, kMacroKeys[i], s.MacroStrings[i]);
  // The send box's line end and echo are newer than most files: a file
  // that never had them gets them only once they are set.
  const TSettings d;
  if (s.SendLineEnd != d.SendLineEnd || ini.ValueExists(kTerminal, "SendLineEnd"))
    putInt(kTerminal, "SendLineEnd", s.SendLineEnd);
  if (s.LocalEcho != d.LocalEcho || ini.ValueExists(kTerminal, "LocalEcho"))
    putBool(kTerminal, "LocalEcho", s.LocalEcho);
  put(kTerminal, "FontName", s.FontName);
  putInt(kTerminal, "FontSize", s.FontSize);
  putBool(kTerminal, "FontBold", s.FontBold);
  return refused;
}

TSettings LoadSettingsFile(const std::string& fileName, std::string* readError) {
  const TIniFile ini(fileName);
  if (readError != nullptr) *readError = ini.ReadError();
  return LoadSettings(ini);
}

bool SaveSettingsFile(const TSettings& settings, const std::string& fileName, std::string* reason) {
  TIniFile ini(fileName);
  SaveSettings(settings, ini);
  return ini.Save(reason);
}

}  // namespace vantlebld
