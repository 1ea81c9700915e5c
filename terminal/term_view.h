// The terminal's receive window: a read-only text box that holds the
// received text as bytes and paints only the rows in sight, so the Hex and
// Nr views (hundreds of KB rewritten ten times a second) stay cheap.
//
// Every byte is one character, drawn with the glyph of the IBM PC code page
// 437 (the classic OEM terminal character set). LF ends a line and a CR
// just before an LF is not shown; a lone CR is shown as its glyph, so the
// Nr view's fixed columns hold for every byte; 00h is a blank.
// Lines wrap at the width of the box in whole characters of its
// fixed-pitch font, after the last blank of the row when it has one.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QContextMenuEvent;
class QKeyEvent;
class QMouseEvent;
class QPaintEvent;
class QResizeEvent;

namespace vantlebld {

class TTermView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TTermView(QWidget* parent = nullptr);

  // Replaces the whole text. A selection stays on the same byte offsets
  // (cut to the new length): the Hex and Nr views are rewritten as data
  // grows at the end, and the bytes in front stay where they were.
  void SetText(std::string text);
  // Appends, then keeps only the last keepLast bytes (dropping from the
  // front); a selection moves with the bytes it covers.
  void AppendText(std::string_view text, size_t keepLast);
  const std::string& Text() const { return text_; }
  void Clear();

  // Scrolls so that the last row stands at the bottom of the box.
  void ScrollToEnd();
  // The background; the text is always black.
  void SetPaperColor(QColor color);

  void SelectAll();
  // Puts the selected characters on the clipboard as the box shows them
  // (line-break bytes kept as they are).
  void CopySelection() const;
  // Bytes as the box shows them: each through its glyph, except CR and LF,
  // which stay line breaks.
  static QString ToGlyphs(std::string_view bytes);

  // The layout, for the window and for tests. A text that ends with a line
  // break has an empty last row (where a caret would stand); an empty text
  // has one empty row.
  int RowCount() const { return static_cast<int>(rowStarts_.size()); }
  // The row's bytes as stored, without its line-break bytes.
  std::string RowText(int row) const;
  int ColumnCount() const { return columns_; }
  int FirstVisibleRow() const;
  // The selected bytes.
  std::string SelectedText() const;

 signals:
  // One byte per typed character (Latin-1); Enter gives 0Dh, Ctrl+letter
  // its control code.
  void KeyTyped(uint8_t code);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Tab is a byte for the user's program, not a focus move.
  bool focusNextPrevChild(bool next) override;

 private:
  // Recomputes the character cell from the font, the column count from the
  // width (leaving room for the scroll bar when the rows need it), the rows
  // and the scroll range.
  void Relayout();
  // Rebuilds the row starts from the row that holds byte `from` onwards
  // (from 0 for the whole text). Stops early once more than maxRows rows
  // are known, which is enough to tell whether the scroll bar is needed.
  void BuildRows(size_t from, size_t maxRows = SIZE_MAX);
  void UpdateScrollRange();
  int VisibleRows() const;
  // One past the last shown byte of a row (its line-break bytes excluded).
  size_t RowContentEnd(int row) const;
  // The byte offset nearest a point of the viewport.
  size_t OffsetAt(QPoint pos) const;
  // Emits KeyTyped for a key press that types; false when the key is not
  // one that types (navigation, pure modifiers).
  bool EmitTyped(const QKeyEvent& event);
  // Accepts keys that scroll; false for the others.
  bool Navigate(const QKeyEvent& event);

  std::string text_;
  std::vector<uint32_t> rowStarts_{0};
  int columns_ = 1;
  // The columns leave room for the scroll bar (the rows overflow the box).
  bool narrowed_ = false;
  // The room the layout was made for (the viewport without scroll bar).
  QSize layoutSize_;
  qreal cellWidth_ = 1;
  int lineHeight_ = 1;
  int ascent_ = 0;
  QColor paper_{Qt::white};
  // The selection runs between these byte offsets, in either order.
  size_t anchor_ = 0;
  size_t caret_ = 0;
  bool selecting_ = false;
};

}  // namespace vantlebld
