// The text notations in which the user writes bytes: what the terminal's
// send box, the macros, the translation table, the clear code, the
// pre-codes, the ID code and the console commands accept. Plain C++ with
// no window code, so every user of a notation reads it the same way. The
// numbers and the integer list come from engine/user_text.h.
//
// Byte strings are std::string, one char per byte; typed text is taken
// byte for byte, and bytes from 80h up are ordinary characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/user_text.h"

namespace vantlebld {

// Char\ (Mix1): the text as it stands, except that "\x" or "\X" and two
// hex digits give the byte of that value ("Message\x0D\x0A"). A backslash
// with anything else after it, or too little, throws "Invalid input
// string"; a backslash itself is written \x5C.
std::string CharEscToBytes(const std::string& text);

// Mix2: items separated by blanks and commas ("71 47h,0x47 $47 , "ood"").
// An item is a number (a trailing "h" or a leading "0x" reads it as hex)
// that must be a byte value, or a word in double quotes, which goes out
// without its quotes (it cannot hold a blank or a comma, as those end the
// item). Throws "<item> is not an int value" or "<value> is not a byte
// value". An item left empty (a text starting with a comma, a lone control
// character between separators) is skipped.
std::string Mix2ToBytes(const std::string& text);

// Nr: numbers as ReadNextInt (strict) reads them, each a byte
// ("254 $fe FEh"). A number outside 0..255 throws "<n> is not a byte
// value"; a text that is not a number throws "\"<text>\" is not a number".
std::string NrToBytes(const std::string& text);

// --- Send modes of the terminal's send box ---

// In the order of the send-mode list.
enum class TSendMode : int {
  Char = 0,     // the text byte for byte
  CharEsc = 1,  // Char\ (Mix1)
  Mix2 = 2,
  Nr = 3,
  Type = 4,     // every typed key goes out at once
  TypEcho = 5,  // as Type, and the key is echoed into the receive window
  File = 6,     // the whole content of the file the text names
};
constexpr int kSendModeCount = 7;
// The send-mode list's items, comma separated, and the mode chosen at start.
constexpr const char* kSendModeList = "Char,Char\\,Mix2,Nr,Type,TypEcho,aVantleFile";
constexpr TSendMode kDefaultSendMode = TSendMode::CharEsc;
// The send-mode list's hint: one line per notation, joined by CR LF.
constexpr const char* kSendModeHint =
    "CHAR=only string:     Hello\r\n"
    "Char\\ (Mix1)=string + escaped hex code:  Message\\x0D\\x0A\r\n"
    "Mix2=space or comma separated values (strings allowed in quotes):  "
    "71 47h,0x47 $47 , \"ood\"\r\n"
    "NR=only bytes values:  254 $fe FEh\r\n"
    "TYPE=send each char as you type it\r\n"
    "file=type the file name";

// The mode of a list index; empty for an index outside the list (as when
// nothing is selected).
std::optional<TSendMode> SendModeFromIndex(int index);

// How the send box looks in a mode.
enum class TSendBoxShade { Window, ButtonFace, Tooltip };
// When the Send button is enabled in a mode.
enum class TSendButton { Enabled, Disabled, WhileFileExists };

// What choosing a mode does to the send box and the Send button.
struct TSendModeTraits {
  const char* Name;     // as in the send-mode list
  TSendBoxShade Shade;  // the send box's background
  TSendButton Button;
  bool FocusesSendBox;  // choosing the mode moves the focus to the send box
  bool SendsEachKey;    // every typed key goes out at once
  bool EchoesEachKey;   // ...and is echoed into the receive window
};
const TSendModeTraits& SendModeTraits(TSendMode mode);

// Whether Send is enabled in a mode; fileExists: a file named by the send
// box's text exists (asked only in the File mode).
bool SendButtonEnabled(TSendMode mode, bool fileExists);

// The bytes the Send action sends for the send box's text in the modes
// that convert the text (Char, Char\, Mix2, Nr); throws the notation's
// error. Empty optional for Type and TypEcho, which send per key, and for
// File, whose bytes are the named file's content.
std::optional<std::string> SendBytesForText(TSendMode mode, const std::string& text);

// A key typed into the receive window switches a mode that does not send
// keys to Type.
TSendMode ModeAfterReceiveWindowKey(TSendMode mode);
// Entering the send box leaves Type for Char\ (TypEcho stays).
TSendMode ModeOnSendBoxEnter(TSendMode mode);
// The status panel's text for a key typed into the receive window: "> 0D <".
std::string KeyPanelText(char key);

// The send history, newest first: a sent text that is not empty goes to
// the top and its older copies are dropped. Returns false, leaving the
// list alone, for an empty text. The list has no bound.
bool AddSendHistory(std::vector<std::string>& history, const std::string& text);

}  // namespace vantlebld
