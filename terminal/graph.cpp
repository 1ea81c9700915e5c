#include "terminal/graph.h"

#include <algorithm>
#include <cstdio>

namespace vantlebld {
namespace {

// The value range of one sample: a byte, drawn upward from the zero line.
constexpr int32_t kFullScale = 256;
constexpr int32_t kHalfScale = 128;
// Minor grid lines every 16 values (256, 240, ..., 16).
constexpr int32_t kMinorGridStep = 16;
constexpr int32_t kMinorGridLines = 16;

// Writes pixels straight into the image's scan lines: QPainter would be
// far slower for thousands of one-pixel strokes every 100 ms, and its
// antialiasing could blur the exact pixels the read-out relies on.
class TPixelWriter {
 public:
  explicit TPixelWriter(QImage& image)
      : Bits(image.bits()),
        BytesPerLine(image.bytesPerLine()),
        Width(image.width()),
        Height(image.height()) {}

  void Pixel(int64_t x, int64_t y, QRgb colour) {
    if (x < 0 || x >= Width || y < 0 || y >= Height) return;
    Line(y)[x] = colour;
  }

  // Covers x1..x2 inclusive, cut off at the image's edge.
  void HorizontalLine(int64_t x1, int64_t x2, int64_t y, QRgb colour) {
    if (y < 0 || y >= Height) return;
    const int64_t from = std::max<int64_t>(x1, 0);
    const int64_t to = std::min<int64_t>(x2, Width - 1);
    QRgb* line = Line(y);
    for (int64_t x = from; x <= to; ++x)
      line[x] = colour;
  }

  // Covers y1 towards y2 without y2 itself (nothing when they are equal),
  // so the sample's dot drawn next lands on the stroke's open end.
  void VerticalStroke(int64_t x, int64_t y1, int64_t y2, QRgb colour) {
    if (x < 0 || x >= Width || y1 == y2) return;
    int64_t from = y1;
    int64_t to = y2 > y1 ? y2 - 1 : y2 + 1;
    if (from > to) std::swap(from, to);
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, Height - 1);
    for (int64_t y = from; y <= to; ++y)
      Line(y)[x] = colour;
  }

 private:
  QRgb* Line(int64_t y) { return reinterpret_cast<QRgb*>(Bits + y * BytesPerLine); }

  uchar* Bits;
  qsizetype BytesPerLine;
  int64_t Width;
  int64_t Height;
};

}  // namespace

QImage DrawGraph(const std::string& data, TGraphKind kind, QSize size,
                 const TGraphSettings& settings, std::string& graphData) {
  graphData.clear();
  const int64_t width = std::max(size.width(), 0);
  const int64_t height = std::max(size.height(), 0);
  const int64_t compress = std::max<int64_t>(settings.XAxisCompress, 1);
  // A low graph cannot show 256 levels, so it shows every value halved.
  const int32_t divisor = height < kFullScale ? 2 : 1;
  const int64_t base = kFullScale / divisor;  // the y of the value 0

  // The newest samples that fit: compress samples in each column.
  const int64_t fit = width * compress;
  const int64_t count = std::min<int64_t>(fit, static_cast<int64_t>(data.size()));
  graphData.assign(data, data.size() - static_cast<size_t>(count), static_cast<size_t>(count));

  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
  if (image.isNull()) return image;
  image.fill(kGraphBackgroundColour);
  if (count == 0) return image;  // the grid spans the samples, so there is none

  TPixelWriter pixels(image);
  for (int32_t i = 0; i < kMinorGridLines; ++i)
    pixels.HorizontalLine(0, count, kMinorGridStep * i / divisor, kGraphMinorGridColour);
  for (int64_t y : {int64_t{0}, int64_t{kHalfScale / divisor}, base})
    pixels.HorizontalLine(0, count, y, kGraphMajorGridColour);

  const int64_t reference =
      base - std::clamp<int32_t>(settings.Gr2Reference, 0, kFullScale) / divisor;
  const QRgb gra2Dot = compress == 1 ? kGra2DotColour : kGra2CompressedDotColour;
  // The trace starts at the first sample, so it has no stroke of its own.
  int64_t previous = static_cast<uint8_t>(graphData[0]) / divisor;
  for (int64_t k = 0; k < count; ++k) {
    // Column 0 keeps only the grid; the first samples go into column 1.
    const int64_t x = k / compress + 1;
    const int64_t value = static_cast<uint8_t>(graphData[static_cast<size_t>(k)]) / divisor;
    if (kind == TGraphKind::Gra1) {
      // Only one sample per column can be joined to its neighbour.
      if (compress == 1) pixels.VerticalStroke(x, base - previous, base - value, kGra1StrokeColour);
      pixels.Pixel(x, base - value, kGra1DotColour);
    } else {
      pixels.VerticalStroke(x, reference, base - value, kGra2BarColour);
      pixels.Pixel(x, base - value, gra2Dot);
    }
    previous = value;
  }
  return image;
}

std::string ShowGraphPosition(int32_t x, int32_t xAxisCompress, const std::string& graphData) {
  if (xAxisCompress > 1) return "";
  char item[32];
  std::snprintf(item, sizeof item, "pos:[%d]:          ", x);
  std::string text = item;
  const int64_t length = static_cast<int64_t>(graphData.size());
  for (int64_t i = int64_t{x} - 2; i <= int64_t{x} + 2; ++i) {
    if (i < 1 || i > length) {
      text += "   ?   ";
      continue;
    }
    const unsigned value = static_cast<uint8_t>(graphData[static_cast<size_t>(i - 1)]);
    std::snprintf(item, sizeof item, i == x ? " {%.2Xh} " : " %.2Xh", value);
    text += item;
  }
  return text;
}

}  // namespace vantlebld
