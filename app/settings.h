// The program's settings file: every value it holds, with its default, and
// the rules for reading and writing it.
//
// The window reads the file once while it starts (before the command line
// is applied) and writes it once when it is destroyed. It copies TSettings
// into its controls and the engine after LoadSettings, and from them back
// into TSettings before SaveSettings; each field names the control or
// engine field it feeds. The functions here take the path or the opened
// file; SettingsPlace decides which folder the window puts it in.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/ini_file.h"
#include "engine/defaults.h"

namespace vantlebld {

inline constexpr char kSettingsFileName[] = "vantlebld.ini";

// The HEX file history keeps LRU0..LRU14; the drop-down shows as many rows.
constexpr int32_t kHexHistoryMax = 15;
// The baud rate used when a baud box does not hold a usable number.
// The main window's design size.
constexpr int32_t kDesignWidth = 586;
constexpr int32_t kDesignHeight = 372;
// Window coordinates and sizes beyond what the window systems accept (16
// bits, signed) are stored nonsense; a position off the screen within this
// range is still used as it is.
constexpr int32_t kMaxWindowCoordinate = 32767;
// The ranges of the number boxes "SearchDelay:" (seconds) and
// "Timeout(ms):"; a stored value outside is pulled to the nearer end, as
// the boxes do with what is typed into them.
constexpr int32_t kSearchDelayMin = 1;
constexpr int32_t kSearchDelayMax = 60;
constexpr int32_t kTimeoutMin = 1;
constexpr int32_t kTimeoutMax = 5000;
// The terminal re-renders its whole receive buffer every 100 ms in the Hex
// and Nr views (up to 24 characters per byte), so a buffer beyond a
// megabyte would stall the window; the Char view's character limit (buffer
// length times the translation's expansion) must also stay within 32 bits.
constexpr int32_t kMaxTerminalBufferLength = 1000000;
constexpr int32_t kMaxFontSize = 200;  // points

// States of the three-state box "RTS,DTR ON after open", numbered as the
// engine's RTSDTRonConnect takes them (0 both lines off, 1 both on, 2 leave
// them as the port opened). Qt::CheckState numbers them differently
// (partially checked is 1): map, do not cast.
constexpr int32_t kRtsDtrOff = 0;
constexpr int32_t kRtsDtrOn = 1;
constexpr int32_t kRtsDtrGrayed = 2;

// One data row of the receive translation grid (TranslateListEditor).
struct TTranslateRow {
  std::string Code;  // column "Code": the received byte, in Mix2 notation
  std::string New;   // column "New": what the Char view shows instead, in Mix2
  bool operator==(const TTranslateRow&) const = default;
};

struct TSettings {
  // [FILES]
  std::string HexFile;                  // edHexName's text
  std::vector<std::string> HexHistory;  // edHexName's list, newest first; LRU0..LRU14

  // [PIC]
  std::string COMport = "COM1";  // comboPortName's text
  // ComboBaud's text as stored. The engine's BaudRate is BaudRateOf(it), as
  // ComboBaudChange sets it, and that number is what gets written back.
  std::string COMspeed = kDefaultBaudText;
  int32_t StopBits = 1;  // the engine's StopBits: 2 gives two stop bits
  // LabelBaudAlert ("!!", hint "COM has additional setting in ini file")
  // shown: the file asked for StopBits other than 1. Only LoadSettings sets
  // it; nothing hides the label again during the run.
  bool BaudAlert = false;

  // [WINDOW] the main window's bounds in pixels, used as read
  int32_t Top = 100;
  int32_t Left = 100;
  int32_t Width = kDesignWidth;
  int32_t Height = kDesignHeight;

  // [OPTIONS]
  std::string PCDetectCode = "C1h";  // edPCDetect's text
  std::string PreCodes;              // edPreCodes's text
  // edRtsDtrPulse's text. It always replaces the edit's design text, so
  // without a stored value the remote-reset script is empty.
  std::string RemoteResetSignals;
  int32_t RTSDTRonConnect = kRtsDtrOn;  // cbRTSDTRonConnect's state; the engine's RTSDTRonConnect
  // seSearchDelay's and seTimeout's values. The engine's SearchSeconds and
  // WaitMs follow them only through the boxes' change handlers, so a stored
  // value equal to the shown one (7, 300) leaves the engine at its start
  // values 3 s and 200 ms.
  int32_t SearchDelay = 7;
  int32_t Timeout = 300;
  bool SearchForCOMs = true;               // cbSearchForCOMs
  int32_t SizeOfBLD_W = 100;               // kept for the file's sake; nothing reads it
  std::string UDP_DestAddr = "127.0.0.1";  // the engine's UDP_DestAddr
  int32_t UDP_DestPort = 8090;             // the engine's UDP_DestPort

  // [TERMINAL]
  int32_t TerminalBufferLength = 10000;  // the terminal's TermBufferLength, in bytes
  bool SwitchToTerminal = false;         // cbSwitchToTerminal
  bool WriteOnHexChange = false;         // cbWriteOnHexChange
  bool TerminalBaudSave = false;         // cbTerminalBaudSave ("Also Save Terminal BaudRate")
  // cbTerminalBaud's text: the stored TerminalBaud when TerminalBaudSave is
  // set, otherwise ComboBaud's text (the terminal follows the bootloader).
  std::string TerminalBaud = kDefaultBaudText;
  std::array<std::string, 3> MacroStrings = {"\\x0d\\x0a", "", ""};  // MacroStrings, Char\ notation
  // cbTermLineEnd: what follows each line the send box sends, a kLineEnds
  // index (none, CR, LF, CR LF).
  int32_t SendLineEnd = 0;
  bool LocalEcho = false;  // cbTermEcho: what is sent shows in the receive window
  // The terminal window's font. Always written; read here, but the terminal
  // keeps its own font unless the window chooses to apply these.
  std::string FontName = "Courier New";
  int32_t FontSize = 10;  // points
  bool FontBold = false;  // the style is exactly bold

  // [TRANSLATE RCV]
  std::vector<TTranslateRow> TranslateRows = {{"00", "250"}};  // the grid's design row
  // The file had the section, so its entries replaced the grid's rows and
  // the window runs TranslateListEditorExit to build the receive
  // translation. Without the section the grid keeps its rows and the
  // translation stays empty until the user leaves the grid.
  bool TranslateRowsRead = false;

  bool operator==(const TSettings&) const = default;
};

// The line ends the send box can put after a line, as SendLineEnd numbers
// them, and their names in the list.
inline constexpr std::array<std::string_view, 4> kLineEnds = {"", "\r", "\n", "\r\n"};
inline constexpr std::array<std::string_view, 4> kLineEndNames = {"no end", "CR", "LF", "CR LF"};

// Where the window keeps the settings file and the log dump: beside the
// program only in a copy of its own (a build tree, a portable folder the
// user can write to). An installed program (anywhere under /usr or /opt,
// even when the user can write there, as root can) or one in a folder the
// user cannot write keeps them in the user's configuration folder, so
// nothing is ever written into the system's folders. programDir: the
// program's folder, absolute, with links resolved.
enum class TSettingsPlace { BesideProgram, UserConfig };
TSettingsPlace SettingsPlace(std::string_view programDir, bool writable);

// A baud box's text as a baud rate: a positive decimal integer, otherwise
// kDefaultBaudRate. (ComboBaudChange, opening the terminal, and what is
// written as COMspeed.)
int32_t BaudRateOf(std::string_view text);

// Every value from the file, in the order the window applies them; missing
// keys and values that are not integers take their defaults.
TSettings LoadSettings(const TIniFile& ini);
// Writes every value into the file's copy in memory, in the file's order;
// keys the program does not know stay as they are. Returns "SECTION/key"
// of each entry the file could not hold as it stands (a translation Code
// holding "=" or starting with ";" or "[", a value with a line break):
// those keep what the file had.
std::vector<std::string> SaveSettings(const TSettings& settings, TIniFile& ini);

// Opens the file at fileName and reads it. An unreadable file gives the
// defaults and its reason in *readError.
TSettings LoadSettingsFile(const std::string& fileName, std::string* readError = nullptr);
// Opens the file at fileName afresh (so keys added meanwhile survive),
// writes the settings into it and saves it. False with the reason when the
// file could not be written; the old file is then unchanged.
bool SaveSettingsFile(const TSettings& settings, const std::string& fileName,
                      std::string* reason = nullptr);

}  // namespace vantlebld
