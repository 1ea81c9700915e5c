// The graph views drawn pixel by pixel. Column 0 carries only the grid, so
// it serves as the reference for every row a sample does not touch.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "terminal/graph.h"

namespace vantlebld {
namespace {

constexpr QRgb kWhite = kGraphBackgroundColour;

// Rows y1..y2 (inclusive) of a column in one colour; later runs win.
struct TRun {
  int Y1, Y2;
  QRgb Colour;
};

void ExpectColumn(const QImage& image, int x, const std::vector<TRun>& runs) {
  for (int y = 0; y < image.height(); ++y) {
    QRgb want = image.pixel(0, y);
    for (const TRun& run : runs)
      if (y >= run.Y1 && y <= run.Y2) want = run.Colour;
    ASSERT_EQ(image.pixel(x, y), want) << "column " << x << " row " << y;
  }
}

std::string Bytes(std::initializer_list<uint8_t> values) {
  return std::string(values.begin(), values.end());
}

QImage Draw(const std::string& data, TGraphKind kind, QSize size, TGraphSettings settings = {}) {
  std::string graphData;
  return DrawGraph(data, kind, size, settings, graphData);
}

TEST(DrawGraph, NoSamplesLeaveTheImageWhite) {
  QImage white(40, 300, QImage::Format_RGB32);
  white.fill(kWhite);
  std::string graphData = "stale";
  EXPECT_EQ(DrawGraph("", TGraphKind::Gra2, white.size(), {}, graphData), white);
  EXPECT_TRUE(graphData.empty());
  EXPECT_TRUE(DrawGraph("abc", TGraphKind::Gra1, QSize(0, 300), {}, graphData).isNull());
  EXPECT_TRUE(graphData.empty());
}

TEST(DrawGraph, GridRunsFromColumnZeroToTheSampleCount) {
  // 50 samples of value 8 (y = 248) stay clear of the rows checked here.
  const QImage image = Draw(std::string(50, '\x08'), TGraphKind::Gra1, QSize(200, 300));
  const TRun rows[] = {{0, 0, kGraphMajorGridColour},     {16, 16, kGraphMinorGridColour},
                       {128, 128, kGraphMajorGridColour}, {240, 240, kGraphMinorGridColour},
                       {256, 256, kGraphMajorGridColour}, {100, 100, kWhite}};
  for (const TRun& row : rows) {
    for (int x = 0; x <= 50; ++x)
      ASSERT_EQ(image.pixel(x, row.Y1), row.Colour) << x << "," << row.Y1;
    EXPECT_EQ(image.pixel(51, row.Y1), kWhite) << row.Y1;
  }
}

// A byte's dot row depends on whether the graph can show 256 levels.
TEST(DrawGraph, LowGraphHalvesEveryValue) {
  const struct {
    int Height, Top, Bottom;  // Top, Bottom: rows of the bytes 255 and 0
  } cases[] = {{200, 1, 128}, {255, 1, 128}, {256, 1, 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Height);
    const QImage image = Draw(Bytes({255, 0}), TGraphKind::Gra1, QSize(10, c.Height));
    ExpectColumn(image, 1, {{c.Top, c.Top, kGra1DotColour}});
    // On a graph exactly 256 high the byte 0 lies just below the image.
    ExpectColumn(image, 2,
                 {{c.Top, c.Bottom - 1, kGra1StrokeColour}, {c.Bottom, c.Bottom, kGra1DotColour}});
  }
  const QImage low = Draw(Bytes({255}), TGraphKind::Gra1, QSize(10, 200));
  EXPECT_EQ(low.pixel(0, 8), kGraphMinorGridColour);
  EXPECT_EQ(low.pixel(0, 64), kGraphMajorGridColour);
}

TEST(DrawGraph, ConnectingStrokeRunsFromThePreviousDot) {
  const QImage image = Draw(Bytes({10, 50, 50, 20}), TGraphKind::Gra1, QSize(10, 300));
  ExpectColumn(image, 1, {{246, 246, kGra1DotColour}});
  ExpectColumn(image, 2, {{207, 246, kGra1StrokeColour}, {206, 206, kGra1DotColour}});
  ExpectColumn(image, 3, {{206, 206, kGra1DotColour}});
  ExpectColumn(image, 4, {{206, 235, kGra1StrokeColour}, {236, 236, kGra1DotColour}});
}

// A 300-wide graph and 1000 bytes (the byte i is i * 7 % 256): one sample
// a column shows the newest 300, the last of them in column 300 just
// outside; four a column show all of them in columns 1..250, as dots only.
TEST(DrawGraph, NewestSamplesFillTheColumns) {
  std::string data;
  for (int i = 0; i < 1000; ++i)
    data += static_cast<char>(i * 7 % 256);
  std::string graphData;
  QImage image = DrawGraph(data, TGraphKind::Gra1, QSize(300, 300), {1, 128}, graphData);
  EXPECT_EQ(graphData, data.substr(700));
  ExpectColumn(image, 299, {{183, 189, kGra1StrokeColour}, {182, 182, kGra1DotColour}});  // 67, 74
  image = DrawGraph(data, TGraphKind::Gra1, QSize(300, 300), {4, 128}, graphData);
  EXPECT_EQ(graphData, data);
  ExpectColumn(image, 250,
               {{175, 175, kGra1DotColour},
                {182, 182, kGra1DotColour},
                {189, 189, kGra1DotColour},
                {196, 196, kGra1DotColour}});
  ExpectColumn(image, 251, {});
}

TEST(DrawGraph, Gra2BarsStartAtTheReference) {
  const struct {
    int Height, Reference, Byte, BarFrom, BarTo, Dot;  // no bar when BarFrom is -1
  } cases[] = {{300, 256, 0, 0, 255, 256},    {300, 256, 255, 0, 0, 1},
               {200, 256, 0, 0, 127, 128},    {300, 128, 200, 57, 128, 56},
               {300, 128, 50, 128, 205, 206}, {300, 0, 250, 7, 256, 6},
               {300, 128, 128, -1, -1, 128}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Height << " " << c.Reference << " " << c.Byte);
    const QImage image =
        Draw(std::string(1, char(c.Byte)), TGraphKind::Gra2, QSize(5, c.Height), {1, c.Reference});
    ExpectColumn(image, 1, {{c.BarFrom, c.BarTo, kGra2BarColour}, {c.Dot, c.Dot, kGra2DotColour}});
  }
}

// With two samples a column the bars overlap and the dots take the bar's colour.
TEST(DrawGraph, CompressedGra2ShowsAllBarsInOneColumn) {
  const QImage image = Draw(Bytes({200, 50}), TGraphKind::Gra2, QSize(5, 300), {2, 128});
  ExpectColumn(image, 1, {{56, 206, kGra2BarColour}});
}

TEST(ShowGraphPosition, ShowsTwoSamplesEitherSide) {
  const std::string data = Bytes({0x01, 0x02, 0xAB, 0x04, 0x05});
  const std::string head = "pos:[", gap = "]:          ", none = "   ?   ";
  const std::pair<int, std::string> cases[] = {
      {1, head + "1" + gap + none + none + " {01h} " + " 02h" + " ABh"},
      {3, head + "3" + gap + " 01h" + " 02h" + " {ABh} " + " 04h" + " 05h"},
      {5, head + "5" + gap + " ABh" + " 04h" + " {05h} " + none + none},
      {0, head + "0" + gap + none + none + none + " 01h" + " 02h"},
  };
  for (const auto& [x, text] : cases)
    EXPECT_EQ(ShowGraphPosition(x, 1, data), text) << x;
  EXPECT_EQ(ShowGraphPosition(2, 0, ""), head + "2" + gap + none + none + none + none + none);
  EXPECT_EQ(ShowGraphPosition(3, 2, data), "");
}

}  // namespace
}  // namespace vantlebld
