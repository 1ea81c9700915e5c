// How the window reads the texts of its controls: plain functions, so they
// are tested without a window.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantlebld {

// The offline code list: its first three characters as a number ("$41
// PIC18F252" gives 41h), 0 when they are none; the low 8 bits.
uint8_t OfflineCodeFromText(const std::string& text);
// The ID code box: one number in any notation the window accepts; an empty
// text gives fallback; anything else throws the notation's error.
uint8_t IDCodeFromText(const std::string& text, uint8_t fallback);
std::vector<std::string> ToStdList(const QStringList& list);
// Text for and from the PIC's program: one character one byte (Latin-1),
// as the terminal takes what the user types.
QString BytesToText(const std::string& bytes);
std::string TextToBytes(const QString& text);
// A log line as the message pane shows it: the bytes after "Str:" that
// are no printable character (control codes, 7Fh and above) read ".".
std::string PaneText(const std::string& line);

}  // namespace vantlebld
