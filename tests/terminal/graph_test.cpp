// The graph views drawn pixel by pixel. Column 0 carries only the grid, so
// it serves as the reference for every row a sample does not touch.
#include "terminal/graph.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace vantlebld {
namespace {

using namespace std::string_literals;
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

}  // namespace
}  // namespace vantlebld
