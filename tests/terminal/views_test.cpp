// The terminal's views drawn offscreen: the graph views pixel by pixel,
// and the receive window (rows and wrapping, the kept tail of appended
// text, scrolling, typed keys, mouse selection and what is copied and
// painted).
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QTest>
#include <cmath>
#include <tuple>
#include <vector>

#include "terminal/graph.h"
#include "terminal/term_view.h"

namespace vantlebld {
namespace {

using namespace std::string_literals;

// --- The graph views ---
// Column 0 carries only the grid, so it serves as the reference for every
// row a sample does not touch.
constexpr QRgb kDot1 = kGra1DotColour, kBar = kGra2BarColour;

// Rows y1..y2 (inclusive) of a column in one colour; later runs win.
using TRun = std::tuple<int, int, QRgb>;

void ExpectColumn(const QImage& image, int x, const std::vector<TRun>& runs) {
  for (int y = 0; y < image.height(); ++y) {
    QRgb want = image.pixel(0, y);
    for (const auto& [y1, y2, colour] : runs)
      if (y >= y1 && y <= y2) want = colour;
    ASSERT_EQ(image.pixel(x, y), want) << "column " << x << " row " << y;
  }
}

QImage Draw(const std::string& data, TGraphKind kind, int height, TGraphSettings settings = {}) {
  std::string graphData;
  return DrawGraph(data, kind, QSize(10, height), settings, graphData);
}

// Dots of 255 and 0 (halved below 256 rows), then a stroke joins each dot
// to the one before.
TEST(DrawGraph, Gra1DotsAndTheirConnectingStrokes) {
  for (const auto& [height, bottom] : {std::pair{255, 128}, {256, 256}}) {
    const QImage image = Draw("\xFF\x00"s, TGraphKind::Gra1, height);
    ExpectColumn(image, 1, {{1, 1, kDot1}});
    // On a graph exactly 256 high the byte 0 lies just below the image.
    ExpectColumn(image, 2, {{1, bottom - 1, kGra1StrokeColour}, {bottom, bottom, kDot1}});
  }
}

// Bars from the reference to the dot (none when they meet); two samples a
// column (the last case) overlap and their dots take the bar's colour.
TEST(DrawGraph, Gra2BarsStartAtTheReference) {
  const struct {
    int Height, Reference;
    std::string Bytes;
    int BarFrom, BarTo, Dot;  // no bar when BarFrom is -1
  } cases[] = {{300, 256, "\x00"s, 0, 255, 256},
               {300, 128, "\x32", 128, 205, 206},
               {300, 128, "\x80", -1, -1, 128},
               {300, 128, "\xC8\x32", 56, 206, 56}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Height << " " << c.Reference << " " << c.Bytes.size());
    const int compress = int(c.Bytes.size());
    const QImage image = Draw(c.Bytes, TGraphKind::Gra2, c.Height, {compress, c.Reference});
    ExpectColumn(
        image, 1,
        {{c.BarFrom, c.BarTo, kBar}, {c.Dot, c.Dot, compress > 1 ? kBar : kGra2DotColour}});
  }
}

TEST(ShowGraphPosition, ShowsTwoSamplesEitherSide) {
  const std::string data = "\x01\x02\xAB\x04\x05", head = "pos:[",
                    gap = "]:          ", none = "   ?   ";
  const std::pair<int, std::string> cases[] = {
      {3, head + "3" + gap + " 01h" + " 02h" + " {ABh} " + " 04h" + " 05h"},
      {5, head + "5" + gap + " ABh" + " 04h" + " {05h} " + none + none},
  };
  for (const auto& [x, text] : cases)
    EXPECT_EQ(ShowGraphPosition(x, 1, data), text) << x;
  EXPECT_EQ(ShowGraphPosition(3, 2, data), "");
}

// --- The receive window ---

using TRows = std::vector<std::string>;

class TermViewTest : public testing::Test {
 protected:
  void SetUp() override {
    view_.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_.show();
    QObject::connect(&view_, &TTermView::KeyTyped, [this](uint8_t code) { typed_ += char(code); });
    ResizeTo(40, 10);
  }
  qreal Cell() const { return QFontMetricsF(view_.font()).horizontalAdvance(QLatin1Char('0')); }
  int Line() const { return QFontMetrics(view_.font()).lineSpacing(); }
  // Room for `columns` characters (and half a cell to spare) by `rows` lines.
  void ResizeTo(int columns, int rows) {
    const int frame = 2 * view_.frameWidth();
    view_.resize(int(std::ceil(Cell() * (columns + 0.5))) + frame, Line() * rows + frame);
    ASSERT_EQ(view_.ColumnCount(), columns);
  }
  TRows Rows() const {
    TRows rows;
    for (int row = 0; row < view_.RowCount(); ++row)
      rows.push_back(view_.RowText(row));
    return rows;
  }
  // A point in the left half of a character cell: a click there lands
  // just before that character.
  QPoint At(int row, int column) const {
    return QPoint(int((column + 0.25) * Cell()), row * Line() + Line() / 2);
  }
  void Drag(QPoint from, QPoint to) {
    QTest::mousePress(view_.viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(view_.viewport(), to);
    QTest::mouseRelease(view_.viewport(), Qt::LeftButton, {}, to);
  }

  TTermView view_;
  std::string typed_;
};

// Each text laid out whole, and appended in two pieces split at every
// point (also between a CR and its LF, and inside a wrapped row): the
// rows after the append are those of the whole.
TEST_F(TermViewTest, LineBreaksAndWrapping) {
  const struct {
    int Columns;
    std::string Text;
    TRows Rows;
  } cases[] = {
      {40, "ab\rcd\r", {"ab\rcd\r"}},  // a lone CR is a character
      {40, "a\n\rb", {"a", "\rb"}},
      {10, "abc defghijkl", {"abc ", "defghijkl"}},
      {10, "abcdefghij\r\nk", {"abcdefghij", "k"}},  // a full row, then its break
      // The CR before LF takes no column; a closing break leaves an empty last row.
      {10, "abcdefghi\r\r\n", {"abcdefghi\r", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Text));
    ResizeTo(c.Columns, 10);
    view_.SetText(c.Text);
    EXPECT_EQ(Rows(), c.Rows);
    for (size_t split = 0; split <= c.Text.size(); ++split) {
      view_.Clear();
      view_.AppendText(std::string_view(c.Text).substr(0, split), 1000);
      view_.AppendText(std::string_view(c.Text).substr(split), 1000);
      EXPECT_EQ(Rows(), c.Rows) << "split at " << split;
    }
  }
}

TEST_F(TermViewTest, AppendKeepsTheLastBytesAndTheSelectionOnThem) {
  view_.SetText("a\nb\n");
  view_.AppendText("c", 3);  // the rows are laid out again after a drop
  EXPECT_EQ(Rows(), (TRows{"b", "c"}));

  view_.SetText("0123456789");
  Drag(At(0, 4), At(0, 7));
  view_.AppendText("ab", 10);
  EXPECT_EQ(view_.SelectedText(), "456");
}

// Keys that type give one byte each (the event's own text byte for byte,
// nothing for characters past Latin-1); modifiers, function and scroll keys
// give none.
TEST_F(TermViewTest, KeysTypeBytesOrScroll) {
  const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
      {Qt::Key_A, {}},     {Qt::Key_Return, {}}, {Qt::Key_Backspace, {}},
      {Qt::Key_Tab, {}},   {Qt::Key_Escape, {}}, {Qt::Key_C, Qt::ControlModifier},
      {Qt::Key_Shift, {}}, {Qt::Key_F1, {}},     {Qt::Key_PageDown, {}}};
  for (const auto& [key, mods] : keys)
    QTest::keyClick(&view_, key, mods);
  QTest::sendKeyEvent(QTest::Click, &view_, Qt::Key_Eacute, QString(QChar(0xE9)), {});
  QTest::sendKeyEvent(QTest::Click, &view_, Qt::Key_unknown, QString(QChar(0x20AC)), {});
  EXPECT_EQ(typed_, "a\r\b\t\x1B\x03\xE9");

  view_.SetText(std::string(100, '\n'));  // 101 rows, 10 in sight
  QTest::keyClick(&view_, Qt::Key_PageDown);
  QTest::keyClick(&view_, Qt::Key_Up);
  EXPECT_EQ(view_.FirstVisibleRow(), 9);
  QTest::keyClick(&view_, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(view_.FirstVisibleRow(), 91);
}

TEST_F(TermViewTest, MouseSelectionCopiesTheGlyphs) {
  view_.SetText("ab\0\xFA\r\ncd\x01\x7F\xB0\xFF|"s);
  const QString copied = QString::fromUtf16(u"b \u00B7\r\ncd\u263A\u2302\u2591\u00A0");
  Drag(At(1, 6), At(0, 1));  // backwards
  EXPECT_EQ(view_.SelectedText(), "b\0\xFA\r\ncd\x01\x7F\xB0\xFF"s);
  QApplication::clipboard()->clear();
  view_.CopySelection();
  EXPECT_EQ(QApplication::clipboard()->text(), copied);

  // Ctrl+Shift+C copies and types nothing.
  view_.SelectAll();
  QTest::keyClick(&view_, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "a" + copied + "|");
  EXPECT_EQ(typed_, "");
}

}  // namespace
}  // namespace vantlebld

// Qt draws offscreen, also when the build lists the tests.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
