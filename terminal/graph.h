// The terminal's two graph views of the receive buffer: every received byte
// is one sample (0..255) drawn left to right with the newest at the right
// end. Gra1 is a dot trace, Gra2 a bar graph measured from an adjustable
// reference level. Drawing is a plain function into an image, so the
// window only shows the result and the tests can check it pixel by pixel.
#pragma once

#include <QImage>
#include <QRgb>
#include <QSize>
#include <cstdint>
#include <string>

namespace vantlebld {

struct TGraphSettings {
  int32_t XAxisCompress = 1;   // 1..10000, samples per pixel column
  int32_t Gr2Reference = 128;  // 0..256, the value Gra2's bars start from
};

enum class TGraphKind { Gra1 = 0, Gra2 = 1 };

// The colours of the graph (Format_RGB32 pixels, alpha always FFh).
constexpr QRgb kGraphBackgroundColour = qRgb(0xFF, 0xFF, 0xFF);
constexpr QRgb kGraphMinorGridColour = qRgb(0xDD, 0xDD, 0xDD);
constexpr QRgb kGraphMajorGridColour = qRgb(0xAA, 0xAA, 0xAA);
constexpr QRgb kGra1StrokeColour = qRgb(0xE0, 0xE0, 0xFF);  // joins one dot to the next
constexpr QRgb kGra1DotColour = qRgb(0x00, 0x00, 0xFF);
constexpr QRgb kGra2BarColour = qRgb(0x80, 0xFF, 0x80);
constexpr QRgb kGra2DotColour = qRgb(0x00, 0xFF, 0x00);  // one sample per column
// With several samples in a column the dots would hide the bars they end,
// so they take the bar's colour.
constexpr QRgb kGra2CompressedDotColour = kGra2BarColour;

// Draws the newest bytes of data that fit into an image of the given size
// (XAxisCompress samples per column, starting at column 1). On a graph
// lower than 256 pixels every value is halved. graphData receives the
// samples drawn, which the window keeps for the position read-out.
QImage DrawGraph(const std::string& data, TGraphKind kind, QSize size,
                 const TGraphSettings& settings, std::string& graphData);

// The read-out for the pixel column x: its sample braced and two samples
// either side, in hex ("pos:[5]:           03h 04h {05h}  06h 07h"), with
// "   ?   " where there is no sample. Empty when columns hold several
// samples, as a column then has no single value to show.
std::string ShowGraphPosition(int32_t x, int32_t xAxisCompress, const std::string& graphData);

}  // namespace vantlebld
