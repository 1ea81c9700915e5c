#include "terminal/term_view.h"

#include "terminal/char_set.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace vantlebld {
namespace {

constexpr char kLf = '\n';
constexpr char kCr = '\r';
constexpr char kBlank = ' ';

// The bytes that typing keys without text of their own give.
constexpr uint8_t kReturnCode = 0x0D;
constexpr uint8_t kBackspaceCode = 0x08;
constexpr uint8_t kTabCode = 0x09;
constexpr uint8_t kEscapeCode = 0x1B;
// Ctrl with a key from @ to _ gives that key's control code (Ctrl+A 01h).
constexpr int kControlMask = 0x1F;

QChar Glyph(char byte) {
  return QChar(Cp437Glyph(static_cast<uint8_t>(byte)));
}

// Printable ASCII comes from the fixed-pitch font itself, so a run of it
// can be drawn as one string; other glyphs may come from a fallback font
// of another width and are placed cell by cell.
bool InFontRun(char byte) {
  return byte >= 0x20 && byte < 0x7F;
}

// Only LF ends a line. A lone CR is a character like any other, so a view
// with fixed columns (the Nr view shows 0Dh as itself) keeps its layout.
bool IsBreak(char byte) {
  return byte == kLf;
}

}  // namespace

TTermView::TTermView(QWidget* parent) : QAbstractScrollArea(parent) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setCursor(Qt::IBeamCursor);
  Relayout();
}

void TTermView::SetText(std::string text) {
  text_ = std::move(text);
  anchor_ = std::min(anchor_, text_.size());
  caret_ = std::min(caret_, text_.size());
  Relayout();
}

void TTermView::AppendText(std::string_view text, size_t keepLast) {
  const size_t oldSize = text_.size();
  text_.append(text);
  if (text_.size() > keepLast) {
    const size_t dropped = text_.size() - keepLast;
    text_.erase(0, dropped);
    anchor_ = anchor_ > dropped ? anchor_ - dropped : 0;
    caret_ = caret_ > dropped ? caret_ - dropped : 0;
    Relayout();
    return;
  }
  // Nothing dropped: the rows before the end stay as they are.
  BuildRows(oldSize);
  if (!narrowed_ && RowCount() > VisibleRows())
    Relayout();  // the scroll bar now takes its width from the text
  else
    UpdateScrollRange();
}

void TTermView::Clear() {
  text_.clear();
  anchor_ = caret_ = 0;
  selecting_ = false;
  Relayout();
}

void TTermView::ScrollToEnd() {
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TTermView::SetPaperColor(QColor color) {
  paper_ = color;
  viewport()->update();
}

void TTermView::SelectAll() {
  anchor_ = 0;
  caret_ = text_.size();
  viewport()->update();
}

QString TTermView::ToGlyphs(std::string_view bytes) {
  QString out(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* dst = out.data();
  // Line breaks stay breaks (CR LF as it is); every other byte, a lone CR
  // too, is the glyph the window shows.
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char byte = bytes[i];
    const bool crlf = byte == kCr && i + 1 < bytes.size() && bytes[i + 1] == kLf;
    *dst++ = IsBreak(byte) || crlf ? QChar(QLatin1Char(byte)) : Glyph(byte);
  }
  return out;
}

void TTermView::CopySelection() const {
  if (anchor_ == caret_) return;
  QApplication::clipboard()->setText(ToGlyphs(SelectedText()));
}

std::string TTermView::RowText(int row) const {
  if (row < 0 || row >= RowCount()) return {};
  const size_t start = rowStarts_[static_cast<size_t>(row)];
  return text_.substr(start, RowContentEnd(row) - start);
}

int TTermView::FirstVisibleRow() const {
  return verticalScrollBar()->value();
}

std::string TTermView::SelectedText() const {
  const auto [from, to] = std::minmax(anchor_, caret_);
  return text_.substr(from, to - from);
}

// --- Layout ---

void TTermView::Relayout() {
  const QFontMetricsF metrics(font());
  cellWidth_ = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('0')));
  const QFontMetrics intMetrics(font());
  lineHeight_ = std::max(1, intMetrics.lineSpacing());
  ascent_ = intMetrics.ascent();
  layoutSize_ = maximumViewportSize();

  const auto columnsFor = [this](int width) {
    return std::max(1, static_cast<int>(static_cast<qreal>(width) / cellWidth_));
  };
  // Try the whole width first; only when the rows overflow the box does
  // the scroll bar appear and take its width from the text.
  columns_ = columnsFor(layoutSize_.width());
  const int visible = VisibleRows();
  BuildRows(0, static_cast<size_t>(visible));
  narrowed_ = RowCount() > visible;
  if (narrowed_) {
    columns_ = columnsFor(layoutSize_.width() - verticalScrollBar()->sizeHint().width());
    BuildRows(0);
  }
  UpdateScrollRange();
}

void TTermView::BuildRows(size_t from, size_t maxRows) {
  // Start one row before the one holding `from`: a CR that ended that row
  // on its own may now be followed by an LF and be part of one break.
  size_t row = static_cast<size_t>(std::upper_bound(rowStarts_.begin(), rowStarts_.end(), from) -
                                   rowStarts_.begin());
  row = row >= 2 ? row - 2 : 0;
  const size_t rowStart = rowStarts_[row];
  rowStarts_.resize(row);
  rowStarts_.push_back(static_cast<uint32_t>(rowStart));

  const char* bytes = text_.data();
  const size_t size = text_.size();
  const size_t columns = static_cast<size_t>(columns_);
  size_t column = 0;
  size_t afterBlank = 0;  // where a wrap may break in this row, 0 for none
  for (size_t i = rowStart; i < size; ++i) {
    const char byte = bytes[i];
    if (byte == kCr && i + 1 < size && bytes[i + 1] == kLf) continue;  // not shown
    if (IsBreak(byte)) {
      rowStarts_.push_back(static_cast<uint32_t>(i + 1));
      column = 0;
      afterBlank = 0;
      if (rowStarts_.size() > maxRows) return;
      continue;
    }
    if (column == columns) {
      // The row is full: break after its last blank (keeping a Hex group
      // whole), or right here when it has none.
      const size_t next = afterBlank != 0 ? afterBlank : i;
      rowStarts_.push_back(static_cast<uint32_t>(next));
      column = i - next;
      afterBlank = 0;
      if (rowStarts_.size() > maxRows) return;
    }
    ++column;
    if (byte == kBlank) afterBlank = i + 1;
  }
}

size_t TTermView::RowContentEnd(int row) const {
  const size_t index = static_cast<size_t>(row);
  const size_t start = rowStarts_[index];
  size_t end = index + 1 < rowStarts_.size() ? rowStarts_[index + 1] : text_.size();
  if (end > start && text_[end - 1] == kLf) {
    --end;
    if (end > start && text_[end - 1] == kCr) --end;
  }
  return end;
}

int TTermView::VisibleRows() const {
  return std::max(1, maximumViewportSize().height() / lineHeight_);
}

void TTermView::UpdateScrollRange() {
  QScrollBar* bar = verticalScrollBar();
  const int visible = VisibleRows();
  bar->setRange(0, std::max(0, RowCount() - visible));
  bar->setPageStep(visible);
  bar->setSingleStep(1);
  viewport()->update();
}

void TTermView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  // The viewport's own resize (the scroll bar coming or going) lands here
  // too; the layout depends only on the room without the bar.
  if (maximumViewportSize() != layoutSize_) Relayout();
}

void TTermView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Relayout();
}

// --- Painting ---

void TTermView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.fillRect(event->rect(), paper_);
  painter.setFont(font());
  const QColor ink(Qt::black);
  const QColor highlight = palette().color(QPalette::Highlight);
  const QColor highlightInk = palette().color(QPalette::HighlightedText);
  const auto [selFrom, selTo] = std::minmax(anchor_, caret_);

  const int first = FirstVisibleRow();
  const int last = std::min(RowCount(), first + viewport()->height() / lineHeight_ + 1);
  QString line;
  for (int row = first; row < last; ++row) {
    const int top = (row - first) * lineHeight_;
    const int baseline = top + ascent_;
    const size_t start = rowStarts_[static_cast<size_t>(row)];
    const size_t end = RowContentEnd(row);
    const auto cellX = [&](size_t offset) {
      return static_cast<qreal>(offset - start) * cellWidth_;
    };

    if (selFrom < selTo) {
      const size_t a = std::max(selFrom, start);
      const size_t b = std::min(selTo, end);
      if (a < b)
        painter.fillRect(QRectF(cellX(a), top, cellX(b) - cellX(a), lineHeight_), highlight);
      // A selected line break shows as one highlighted cell past the row.
      const size_t next = row + 1 < RowCount() ? rowStarts_[static_cast<size_t>(row) + 1] : end;
      if (next > end && selFrom <= end && selTo > end)
        painter.fillRect(QRectF(cellX(end), top, cellWidth_, lineHeight_), highlight);
    }

    line = ToGlyphs(std::string_view(text_).substr(start, end - start));
    size_t i = start;
    while (i < end) {
      const bool selected = i >= selFrom && i < selTo;
      size_t runEnd = i + 1;
      if (InFontRun(text_[i])) {
        while (runEnd < end && InFontRun(text_[runEnd]) &&
               (runEnd >= selFrom && runEnd < selTo) == selected)
          ++runEnd;
      }
      painter.setPen(selected ? highlightInk : ink);
      painter.drawText(QPointF(cellX(i), baseline), line.mid(static_cast<qsizetype>(i - start),
                                                             static_cast<qsizetype>(runEnd - i)));
      i = runEnd;
    }
  }
}

// --- Keyboard ---

bool TTermView::focusNextPrevChild(bool) {
  return false;
}

bool TTermView::event(QEvent* event) {
  // Claim the keys a text box claims, so that a window shortcut on, say,
  // Ctrl+C does not take the byte away from the user's program.
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool editKey = key->matches(QKeySequence::Copy) ||
                         key->matches(QKeySequence::SelectAll) || key->matches(QKeySequence::Cut) ||
                         key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Undo) ||
                         key->matches(QKeySequence::Redo);
    const bool plain =
        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (editKey || (plain && !key->text().isEmpty())) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

void TTermView::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  if (event->key() == Qt::Key_C && (mods & Qt::ControlModifier) && (mods & Qt::ShiftModifier)) {
    CopySelection();
    event->accept();
    return;
  }
  if (Navigate(*event) || EmitTyped(*event)) {
    event->accept();
    return;
  }
  event->ignore();
}

bool TTermView::Navigate(const QKeyEvent& event) {
  QScrollBar* bar = verticalScrollBar();
  switch (event.key()) {
    case Qt::Key_Up:
      bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
      return true;
    case Qt::Key_Down:
      bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      return true;
    case Qt::Key_PageUp:
      bar->triggerAction(QAbstractSlider::SliderPageStepSub);
      return true;
    case Qt::Key_PageDown:
      bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
      return true;
    // With no caret and no sideways scrolling, Home and End (with or
    // without Ctrl) go to the top and the bottom.
    case Qt::Key_Home:
      bar->triggerAction(QAbstractSlider::SliderToMinimum);
      return true;
    case Qt::Key_End:
      bar->triggerAction(QAbstractSlider::SliderToMaximum);
      return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
      return true;
    default:
      return false;
  }
}

bool TTermView::EmitTyped(const QKeyEvent& event) {
  const int key = event.key();
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      emit KeyTyped(kReturnCode);
      return true;
    case Qt::Key_Backspace:
      emit KeyTyped(kBackspaceCode);
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      emit KeyTyped(kTabCode);
      return true;
    case Qt::Key_Escape:
      emit KeyTyped(kEscapeCode);
      return true;
    default:
      break;
  }
  // Ctrl+letter: the control code, whether the platform put it in the
  // event's text or left the letter there.
  const Qt::KeyboardModifiers mods = event.modifiers();
  if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && key >= Qt::Key_At &&
      key <= Qt::Key_Underscore) {
    emit KeyTyped(static_cast<uint8_t>(key & kControlMask));
    return true;
  }
  bool typed = false;
  for (QChar ch : event.text()) {
    if (ch.unicode() > 0xFF) continue;  // no byte for it
    emit KeyTyped(static_cast<uint8_t>(ch.unicode()));
    typed = true;
  }
  return typed;
}

// --- Mouse selection ---

size_t TTermView::OffsetAt(QPoint pos) const {
  const int row = FirstVisibleRow() + (pos.y() < 0 ? -1 : pos.y() / lineHeight_);
  // Above the first row is the start of the text, below the last its end.
  if (row < 0) return 0;
  if (row >= RowCount()) return text_.size();
  const size_t start = rowStarts_[static_cast<size_t>(row)];
  const size_t length = RowContentEnd(row) - start;
  // Between the two characters nearest the point, as text boxes do.
  const qreal column = std::max<qreal>(0, std::round(pos.x() / cellWidth_));
  return start + std::min(length, static_cast<size_t>(column));
}

void TTermView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const size_t offset = OffsetAt(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = offset;
  caret_ = offset;
  selecting_ = true;
  viewport()->update();
}

void TTermView::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_) return;
  const QPoint pos = event->position().toPoint();
  // Dragging past the top or bottom edge scrolls a row per move.
  if (pos.y() < 0)
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  else if (pos.y() >= viewport()->height())
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  caret_ = OffsetAt(pos);
  viewport()->update();
}

void TTermView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !selecting_) return;
  selecting_ = false;
  QClipboard* clipboard = QApplication::clipboard();
  if (anchor_ != caret_ && clipboard->supportsSelection())
    clipboard->setText(ToGlyphs(SelectedText()), QClipboard::Selection);
}

void TTermView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("Copy"), this, &TTermView::CopySelection);
  copy->setEnabled(anchor_ != caret_);
  menu.addAction(tr("Select All"), this, &TTermView::SelectAll);
  menu.exec(event->globalPos());
}

}  // namespace vantlebld
