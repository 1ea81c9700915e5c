// The receiving side of the terminal without the window: the bounded
// receive buffer with its clear code, the three text views of received
// bytes (Char, Hex, Nr), the translation table of the Char view and the
// hex form of a dump file.
//
// Byte strings are std::string, one char per byte. The texts the views
// produce are byte strings too (one character per byte in the terminal's
// 8-bit character set); the window decides how to paint them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantlebld {

// The receive views, in the order of the view list.
enum class TReceiveView : int { Char = 0, Hex = 1, Nr = 2, Gra1 = 3, Gra2 = 4 };
constexpr int kReceiveViewCount = 5;
constexpr const char* kReceiveViewList[kReceiveViewCount] = {"Char", "Hex", "Nr", "Gra1", "Gra2"};
constexpr bool IsGraphView(TReceiveView view) {
  return view == TReceiveView::Gra1 || view == TReceiveView::Gra2;
}

// How many received bytes the terminal keeps for its views when the
// setting is missing or unusable.
constexpr int32_t kDefaultTermBufferLength = 10000;

// The Nr view's stand-in for bytes that would break its line layout (00h,
// TAB, LF): the middle dot of the terminal's character set.
constexpr char kNrPlaceholder = char(0xFA);
// One Nr line: the character, its decimal, hex and binary forms, CR LF.
constexpr size_t kNrLineLength = 24;

// For each byte value the text shown in its place in the Char view; an
// empty entry shows the byte itself.
using TTranslateTable = std::array<std::string, 256>;

// The Char view: every byte replaced by its table entry when it has one;
// all other bytes (CR and LF too) as they are.
std::string TranslateReceived(std::string_view bytes, const TTranslateTable& table);

// The received bytes as text in a view: Char as TranslateReceived; Hex two
// upper-case digits and a blank per byte ("41 0D "), no line breaks; Nr one
// line of 24 characters per byte. The graph views and any other value give
// an empty text.
std::string FormatReceived(std::string_view bytes, int view, const TTranslateTable& table = {});

// One data row of the translation grid: the byte to replace (Code) and
// what to show instead (New), both in the Mix2 notation.
struct TTranslateRule {
  std::string Code;
  std::string New;
};

// The assertion a Code cell that is not exactly one byte raises.
constexpr const char* kTranslateAssertion = "Assertion failure (vantlebldMainWin, line 2094)";

// Why a rebuild stopped: the row at fault (0-based) and the message for the
// user.
struct TTranslateFault {
  size_t Row = 0;
  std::string Message;
};

// Rebuilds the table from the grid's rows in order, skipping rows whose
// Code is empty. A row whose Code is not one byte, or whose cells are not
// valid Mix2, stops the rebuild: the rows before it stay in force, the
// later ones are not applied, and the fault names the row so the window
// can empty its Code cell.
std::optional<TTranslateFault> RebuildTranslateTable(const std::vector<TTranslateRule>& rows,
                                                     TTranslateTable& table);

// The clear code as the user writes it: Mix2 with blanks and control
// characters around it ignored; an empty text switches it off. Throws the
// notation's error.
std::string ParseClearCode(const std::string& text);

// What one poll brings for the views.
struct TReceived {
  // A clear code came: the window was emptied before New.
  bool Cleared = false;
  // The new bytes to show: the chunk, or what followed the last clear code
  // in it (never the code itself).
  std::string New;
};

// The receive buffer: what arrived lately, at most Limit() bytes, emptied
// by a clear code that may arrive split over two polls.
class TReceiveBuffer {
 public:
  // A limit of 0 or less would empty every view: it gives the default.
  void SetLimit(int32_t limit);
  size_t Limit() const { return limit_; }
  // Empty switches the clear code off.
  void SetClearCode(std::string code) { clearCode_ = std::move(code); }
  const std::string& ClearCode() const { return clearCode_; }

  // Takes a chunk from the line: appends it, keeps the last Limit() bytes
  // and looks for the clear code in the chunk, including a code that began
  // at the end of the previous chunk. Each code found empties the buffer;
  // what follows the last one stays.
  TReceived Take(std::string_view chunk);
  void Clear() { buffer_.clear(); }
  const std::string& Buffer() const { return buffer_; }

 private:
  void Bound();

  std::string buffer_;
  std::string clearCode_;
  size_t limit_ = kDefaultTermBufferLength;
};

// The dump file shown as hex: the content read as text lines (ending at LF
// or CR LF, a lone CR dropped, a 1Ah at the start of a line ending the
// file), each line in the Hex view, the lines joined with no break.
std::string DumpToHexView(std::string_view dump);

}  // namespace vantlebld
