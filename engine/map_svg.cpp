// The memory map drawn as SVG. The flash bar is not to scale: every range
// gets a minimum width, and empty stretches and the bootloader zone grow
// only slowly past a width, leaving the room to the program's own ranges;
// a shortened range is crossed by a break marker. Only shapes that the
// window's renderer (SVG Tiny) knows are used. Numbers are written without
// the locale (the window sets one), text is escaped for XML.
#include "engine/map_svg.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "engine/format.h"
#include "engine/user_text.h"

namespace vantlebld {

namespace {

constexpr double kWidth = 900;
constexpr double kBarLeft = 36;
constexpr double kBarRight = 848;  // room on the right for the end address
constexpr double kBarHeight = 46;
constexpr double kMinRange = 8;   // the narrowest range drawn
constexpr double kMinSlot = 16;   // the slot: its arrow must stand apart from the entry's
constexpr double kToScale = 110;  // the widest empty stretch or zone drawn to scale
constexpr double kTickLength = 7;
constexpr double kRowStep = 14;  // between rows of address labels
constexpr int kLabelRows = 4;
constexpr double kCharWidth = 6.8;  // a wide glyph at 11 px, for cutting text to fit
// A refusal's line, bold at 12 px, across the drawing.
constexpr double kRefusalChars = (kWidth - kBarLeft - 10) / (kCharWidth * 1.15);
constexpr double kSmallBarWidth = 150;

// How an area is filled: a base colour and lines over it. The lines are
// drawn as paths, not as SVG patterns, which the window's renderer lacks.
struct TPaint {
  enum TLines { None, Dots, Slash, Cross, Rows, Columns };
  const char* Base;
  TLines Lines;
  const char* LineColor;
};

struct TLook {
  const char* Class;
  TPaint Paint;
  const char* Ink;    // text over the range
  const char* Plate;  // under that text; nullptr: none needed
  const char* Legend;
};
// By TMapRange::TKind: light-to-dark grey levels and distinct lines, so
// the kinds stay apart in print.
constexpr TLook kLooks[] = {
    {"data", {"#4a90d9", TPaint::None, ""}, "#0b1f33", nullptr, "your program"},
    {"empty", {"#f4f4f4", TPaint::Dots, "#8c8c8c"}, "#333333", "#f4f4f4", "empty"},
    {"slot", {"#f5b942", TPaint::Slash, "#6b4500"}, "#3a2500", "#f5b942", "reset slot"},
    {"zone", {"#4b2e6e", TPaint::Cross, "#a893c8"}, "#ffffff", "#4b2e6e", "bootloader zone"},
};
constexpr TPaint kEEPROMPaint{"#62b86f", TPaint::Rows, "#1f5a2a"};
constexpr char kRed[] = "#c8001e";
constexpr char kInk[] = "#222222";
constexpr char kSlotInk[] = "#7a4d00";

// A coordinate or length, one decimal at most, whatever the locale.
std::string Num(double value) {
  char buf[32];
  const auto end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 1).ptr;
  std::string s(buf, end);
  if (s.size() > 2 && s.ends_with(".0")) s.resize(s.size() - 2);
  return s == "-0" ? "0" : s;
}

// The length of the UTF-8 sequence at text[at] of a character XML 1.0
// allows past ASCII; 0 when none starts there (Utf8Length's cases, and
// U+FFFE and U+FFFF).
size_t XmlCharLength(const std::string& text, size_t at) {
  const size_t length = Utf8Length(text, at);
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  if (length == 3 && byte(at) == 0xEF && byte(at + 1) == 0xBF && byte(at + 2) >= 0xBE) return 0;
  return length;
}

// Text for XML content and attribute values: valid UTF-8 of characters
// XML allows, U+FFFD for each byte that starts none, a blank for each
// control character.
std::string Xml(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    const size_t length = XmlCharLength(text, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
      continue;
    }
    if (length > 1) {
      out.append(text, at, length);
      at += length;
      continue;
    }
    ++at;
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += static_cast<uint8_t>(c) < 0x20 ? ' ' : c;  // no control characters in XML
    }
  }
  return out;
}

// Text cut to about maxChars characters, never inside a UTF-8 sequence.
std::string Clip(const std::string& text, double maxChars) {
  const size_t keep = maxChars < 4 ? 0 : static_cast<size_t>(maxChars);
  if (text.size() <= keep) return text;
  if (keep == 0) return {};
  size_t cut = keep - 1;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  return text.substr(0, cut) + "\xE2\x80\xA6";  // an ellipsis
}

// Text in at most two lines of about maxChars characters, broken at a
// blank; the second is clipped.
std::pair<std::string, std::string> Wrap(const std::string& text, double maxChars) {
  const auto keep = static_cast<size_t>(std::max(maxChars, 4.0));
  if (text.size() <= keep) return {text, {}};
  size_t cut = text.rfind(' ', keep);
  if (cut == std::string::npos || cut < keep / 2) cut = keep;
  const size_t next = text[cut] == ' ' ? cut + 1 : cut;
  return {text.substr(0, cut), Clip(text.substr(next), maxChars)};
}

// About the width of text in the drawing's font.
double TextWidth(const std::string& text, double fontSize = 11) {
  double em = 0;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u & 0xC0) == 0x80) continue;  // inside a UTF-8 sequence
    em += std::isupper(u) || std::isdigit(u) ? 0.68 : std::islower(u) ? 0.58 : 0.36;
  }
  return em * fontSize;
}

// The paint's lines inside a rectangle, as one path; empty when it has none.
std::string Lines(const TPaint& paint, double x, double y, double w, double h) {
  std::string d;
  const auto segment = [&d](double x0, double y0, double x1, double y1) {
    d += "M" + Num(x0) + " " + Num(y0) + "L" + Num(x1) + " " + Num(y1);
  };
  double width = 1.4;
  const char* dashes = "";
  switch (paint.Lines) {
    case TPaint::None:
      return {};
    case TPaint::Dots:  // rows of short dashes
      for (double v = y + 3; v < y + h - 1; v += 6)
        segment(x + 1, v, x + w, v);
      dashes = " stroke-dasharray=\"1.4 4.6\"";
      break;
    case TPaint::Rows:
      for (double v = y + 2; v < y + h - 0.5; v += 4)
        segment(x, v, x + w, v);
      break;
    case TPaint::Columns:
      for (double u = x + 2; u < x + w - 0.5; u += 4)
        segment(u, y, u, y + h);
      break;
    case TPaint::Slash:
    case TPaint::Cross: {
      const double step = paint.Lines == TPaint::Slash ? 5 : 7;
      width = paint.Lines == TPaint::Slash ? 1.6 : 1.1;
      // Rising lines x + y = c, on a grid that neighbouring areas share.
      for (double c = std::ceil((x + y) / step) * step; c < x + w + y + h; c += step) {
        const double x0 = std::max(x, c - y - h), x1 = std::min(x + w, c - y);
        if (x0 < x1) segment(x0, c - x0, x1, c - x1);
      }
      if (paint.Lines == TPaint::Slash) break;
      // Falling lines x - y = c.
      for (double c = std::ceil((x - y - h) / step) * step; c < x + w - y; c += step) {
        const double x0 = std::max(x, c + y), x1 = std::min(x + w, c + y + h);
        if (x0 < x1) segment(x0, x0 - c, x1, x1 - c);
      }
      break;
    }
  }
  if (d.empty()) return {};
  return Format("<path d=\"%s\" stroke=\"%s\" stroke-width=\"%s\"%s fill=\"none\"/>", d.c_str(),
                paint.LineColor, Num(width).c_str(), dashes);
}

// A rectangle in paint: "<rect" lead, its place and base, trail, then inner
// (a title) if any, then the lines.
std::string Area(const TPaint& paint, double x, double y, double w, double h,
                 const std::string& lead, const std::string& trail, const std::string& inner = {}) {
  return Format("<rect%s x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"%s\"%s", lead.c_str(),
                Num(x).c_str(), Num(y).c_str(), Num(w).c_str(), Num(h).c_str(), paint.Base,
                trail.c_str()) +
         (inner.empty() ? "/>" : ">" + inner + "</rect>") + Lines(paint, x, y, w, h);
}

// A legend's swatch of paint.
std::string Swatch(const TPaint& paint) {
  return Area(paint, 0, 0, 14, 14, "", "") +
         Format(
             "<rect width=\"14\" height=\"14\" fill=\"none\" stroke=\"%s\" stroke-width=\"0.8\"/>",
             kInk);
}

std::string Hex(const TMemoryMap& map, int64_t hexAddress) {
  return Format("%.4llxh", static_cast<unsigned long long>(map.ProgramAddress(hexAddress)));
}

std::string SizeText(int64_t bytes) {
  if (bytes >= 1024 && bytes % 1024 == 0)
    return Format("%lld KB", static_cast<long long>(bytes / 1024));
  if (bytes < 4096) return Format("%lld B", static_cast<long long>(bytes));
  return Num(static_cast<double>(bytes) / 1024) + " KB";
}

// The HEX address of a program address (ProgramAddress is a scaling).
int64_t HexAddressOf(const TMemoryMap& map, int64_t programAddress) {
  const int64_t probe = map.FlashBytes > 0 ? map.FlashBytes : 0x10000;
  const int64_t scaled = map.ProgramAddress(probe);
  return scaled > 0 ? programAddress * probe / scaled : programAddress;
}

// The target of a jump as a HEX address; -1 when it is no jump.
int64_t JumpTarget(const TMemoryMap& map, const TMapInstruction& jump) {
  return jump.Target < 0 ? -1 : HexAddressOf(map, jump.Target);
}

// The index of the jump that ends code: the instruction with note, or else
// the first with a note (only jumps have one), or else the first GOTO or
// BRA; code.size() when none.
size_t JumpOf(const std::vector<TMapInstruction>& code, const std::string& note) {
  const auto find = [&code](auto is) {
    return static_cast<size_t>(std::find_if(code.begin(), code.end(), is) - code.begin());
  };
  size_t jump = find([&note](const TMapInstruction& i) { return i.Note == note; });
  if (jump == code.size()) jump = find([](const TMapInstruction& i) { return !i.Note.empty(); });
  if (jump == code.size()) {
    jump = find([](const TMapInstruction& i) { return i.Target >= 0; });
  }
  return jump;
}

// The instructions up to and including the jump, for an arrow's label.
std::string PathText(const std::vector<TMapInstruction>& code, size_t jump) {
  std::string text;
  for (size_t i = 0; i < code.size() && i <= jump; ++i)
    text += (i ? "; " : "") + code[i].Text;
  return text;
}

// Where each range stands on the bar.
struct TBar {
  std::vector<double> Left, Width;
  std::vector<bool> Broken;  // shortened, drawn with a break marker
};

// Empty stretches and the bootloader zone are drawn to scale up to a
// width that leaves the program's own ranges most of the bar, and grow
// only slowly beyond it.
bool Shortens(TMapRange::TKind kind) {
  return kind == TMapRange::TKind::Empty || kind == TMapRange::TKind::Zone;
}
double Shortened(double width, double toScale) {
  return width <= toScale ? width : toScale * (1 + std::log(width / toScale) / 5);
}

TBar LayOut(const std::vector<TMapRange>& ranges) {
  const size_t n = ranges.size();
  TBar bar{std::vector<double>(n), std::vector<double>(n), std::vector<bool>(n)};
  const double span = kBarRight - kBarLeft;
  std::vector<double> bytes(n), floor(n);
  double floors = 0, shortening = 0;
  for (size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<double>(std::max<int64_t>(ranges[i].End - ranges[i].Start, 0));
    floor[i] = ranges[i].Kind == TMapRange::TKind::Slot ? kMinSlot : kMinRange;
    floors += floor[i];
    shortening += Shortens(ranges[i].Kind) ? 1 : 0;
  }
  const double toScale = std::min(kToScale, 0.3 * span / std::max(shortening, 1.0));
  if (n == 0) return bar;
  // Many small ranges share half the bar at most.
  if (floors > span / 2)
    for (double& f : floor)
      f *= span / 2 / floors;
  // The widths at scale pixels a byte; their sum grows with the scale.
  const auto widths = [&](double scale) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
      const double natural = bytes[i] * scale;
      bar.Width[i] =
          std::max(Shortens(ranges[i].Kind) ? Shortened(natural, toScale) : natural, floor[i]);
      bar.Broken[i] = bar.Width[i] < natural * 0.9;
      sum += bar.Width[i];
    }
    return sum;
  };
  double low = 0, high = 1;
  while (widths(high) < span && high < 1e12)
    high *= 2;
  for (int step = 0; step < 60; ++step)
    (widths((low + high) / 2) < span ? low : high) = (low + high) / 2;
  const double sum = widths(high);
  double left = kBarLeft;
  for (size_t i = 0; i < n; ++i) {
    bar.Width[i] *= span / sum;
    bar.Left[i] = left;
    left += bar.Width[i];
  }
  return bar;
}

class TPicture {
 public:
  explicit TPicture(const TMemoryMap& map) : map_(map), bar_(LayOut(map.Ranges)) {}
  std::string Draw();

 private:
  double X(int64_t address) const;
  void Header();
  void Ranges();
  void Units();
  void Entry();
  void ResetPath();
  void Collision();
  // "Refused: " and the reason, with the address it is about.
  std::string RefusalText() const {
    std::string why = "Refused: " + map_.Reason;
    if (map_.Collision >= 0) why += " (at " + Hex(map_, map_.Collision) + ")";
    return why;
  }
  void Addresses();
  double SmallBars(double top);
  double Legend(double top);
  // Opens the group of a reset-path arrow: from the bar's top at from, up
  // to y, across to x and down to its head at tip. The caller adds the
  // label and closes the group.
  void OpenArrow(const char* cls, double from, double y, double x, double tip, const char* ink,
                 bool dashed) {
    out_ += Format(
        "<g class=\"%s\"><circle cx=\"%s\" cy=\"%s\" r=\"2.5\" fill=\"%s\"/>"
        "<path d=\"M%s %sV%sH%sV%s\" stroke=\"%s\" stroke-width=\"1.5\" %s"
        "fill=\"none\"/><polygon points=\"%s,%s %s,%s %s,%s\" fill=\"%s\"/>\n",
        cls, Num(from).c_str(), Num(barTop_).c_str(), ink, Num(from).c_str(), Num(barTop_).c_str(),
        Num(y).c_str(), Num(x).c_str(), Num(tip - 6).c_str(), ink,
        dashed ? "stroke-dasharray=\"5 3\" " : "", Num(x - 4).c_str(), Num(tip - 7).c_str(),
        Num(x + 4).c_str(), Num(tip - 7).c_str(), Num(x).c_str(), Num(tip).c_str(), ink);
  }

  void Text(double x, double y, const std::string& text, const std::string& attributes = {}) {
    out_ += Format("<text x=\"%s\" y=\"%s\"%s%s>%s</text>\n", Num(x).c_str(), Num(y).c_str(),
                   attributes.empty() ? "" : " ", attributes.c_str(), Xml(text).c_str());
  }

  const TMemoryMap& map_;
  const TBar bar_;
  std::string out_;
  double resetY_ = 0, slotY_ = 0, barTop_ = 0, barBottom_ = 0, labelsBottom_ = 0;
  bool entryDrawn_ = false;
  std::vector<std::pair<std::string, std::string>> legend_;  // swatch, label
};

double TPicture::X(int64_t address) const {
  const auto& ranges = map_.Ranges;
  for (size_t i = 0; i < ranges.size(); ++i) {
    if (address >= ranges[i].End && i + 1 < ranges.size()) continue;
    const double length =
        static_cast<double>(std::max<int64_t>(ranges[i].End - ranges[i].Start, 1));
    const double t = std::clamp(static_cast<double>(address - ranges[i].Start) / length, 0.0, 1.0);
    return bar_.Left[i] + t * bar_.Width[i];
  }
  return kBarLeft;
}

std::string TPicture::Draw() {
  // The refusal has one or two lines under the header.
  const double header = !map_.Refused                                       ? 40
                        : Wrap(RefusalText(), kRefusalChars).second.empty() ? 58
                                                                            : 74;
  resetY_ = header + 26;
  slotY_ = header + 48;
  barTop_ = header + (map_.ResetCode.empty() && map_.SlotCode.empty() ? 40 : 66);
  barBottom_ = barTop_ + kBarHeight;
  Header();
  Ranges();
  Entry();
  Units();
  ResetPath();
  Collision();
  Addresses();
  const double smallBottom = SmallBars(labelsBottom_ + 16);
  const double height = std::ceil(Legend(smallBottom + 14) + 12);
  std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  head += Format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%s\" height=\"%s\" "
      "viewBox=\"0 0 %s %s\" font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\" "
      "font-size=\"11\">\n",
      Num(kWidth).c_str(), Num(height).c_str(), Num(kWidth).c_str(), Num(height).c_str());
  head += "<title>" + Xml("Memory map of the " + map_.Model) + "</title>\n";
  head += Format("<rect width=\"%s\" height=\"%s\" fill=\"#ffffff\"/>\n", Num(kWidth).c_str(),
                 Num(height).c_str());
  return head + out_ + "</svg>\n";
}

void TPicture::Header() {
  out_ += "<g class=\"header\">\n";
  std::string flash;
  const int64_t perUnit = std::max(map_.BytesPerInstr, 1);
  if (Is16F(map_.FamilyCode))
    flash = Format(" (%lld words)", static_cast<long long>(map_.FlashBytes / perUnit));
  else if (IsDsPIC(map_.FamilyCode))
    flash = Format(" (%lld instructions)", static_cast<long long>(map_.FlashBytes / perUnit));
  out_ += Format("<text x=\"%s\" y=\"22\" font-size=\"15\"><tspan font-weight=\"bold\">%s</tspan>",
                 Num(kBarLeft).c_str(), Xml(map_.Model).c_str());
  out_ += Xml(Format("  \xC2\xB7  %s  \xC2\xB7  flash %s%s", map_.Family.c_str(),
                     SizeText(map_.FlashBytes).c_str(), flash.c_str())) +
          "</text>\n";
  std::string plan = Format("bootloader zone %s from %s  \xC2\xB7  ",
                            SizeText(map_.ZoneBytes).c_str(), Hex(map_, map_.ZoneStart).c_str());
  if (map_.Refused && map_.Plan.Blocks == 0) {
    plan += "nothing would be written";
  } else {
    plan += Format("write plan: %d blocks, %lld bytes, about %s s at %d baud", map_.Plan.Blocks,
                   static_cast<long long>(map_.Plan.WireBytes),
                   Num(static_cast<double>(map_.Plan.ModelMs) / 1000).c_str(), map_.Plan.Baud);
  }
  Text(kBarLeft, 40, plan, "font-size=\"12\" fill=\"#333333\"");
  out_ += "</g>\n";
}

void TPicture::Ranges() {
  const auto& ranges = map_.Ranges;
  bool drawn[4] = {}, broken = false;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const auto kind = static_cast<size_t>(ranges[i].Kind);
    const TLook& look = kLooks[kind];
    drawn[kind] = true;
    const int64_t bytes = ranges[i].End - ranges[i].Start;
    out_ += Area(look.Paint, bar_.Left[i], barTop_, bar_.Width[i], kBarHeight,
                 Format(" class=\"%s\"", look.Class),
                 Format(" stroke=\"%s\" stroke-width=\"0.6\"", kInk),
                 Format("<title>%s from %s, %s</title>", look.Legend,
                        Hex(map_, ranges[i].Start).c_str(), SizeText(bytes).c_str())) +
            "\n";
    double textRight = bar_.Left[i] + bar_.Width[i];
    if (bar_.Broken[i]) {
      broken = true;
      const double x = bar_.Left[i] + bar_.Width[i] * 0.8;
      const double top = barTop_ - 4, bottom = barBottom_ + 4;
      out_ += Format(
          "<g class=\"break\"><polygon points=\"%s,%s %s,%s %s,%s %s,%s\" fill=\"#ffffff\"/>"
          "<path d=\"M%s %sL%s %sM%s %sL%s %s\" stroke=\"%s\" stroke-width=\"1.3\"/></g>\n",
          Num(x - 7).c_str(), Num(bottom).c_str(), Num(x + 1).c_str(), Num(top).c_str(),
          Num(x + 7).c_str(), Num(top).c_str(), Num(x - 1).c_str(), Num(bottom).c_str(),
          Num(x - 7).c_str(), Num(bottom).c_str(), Num(x + 1).c_str(), Num(top).c_str(),
          Num(x - 1).c_str(), Num(bottom).c_str(), Num(x + 7).c_str(), Num(top).c_str(), kInk);
      textRight = x - 8;
    }
    // Clear of the entry's line.
    double textLeft = bar_.Left[i];
    if (map_.Entry > ranges[i].Start && map_.Entry < ranges[i].End) {
      const double entry = X(map_.Entry);
      if (entry - textLeft < textRight - entry)
        textLeft = entry + 2;
      else
        textRight = entry - 2;
    }
    const std::string size = SizeText(bytes);
    const double room = textRight - textLeft;
    if (room >= TextWidth(size) + 6) {
      const double middle = textLeft + room / 2;
      if (look.Plate) {
        out_ += Format("<rect x=\"%s\" y=\"%s\" width=\"%s\" height=\"15\" rx=\"2\" fill=\"%s\"/>",
                       Num(middle - TextWidth(size) / 2 - 3).c_str(),
                       Num(barTop_ + kBarHeight / 2 - 8).c_str(), Num(TextWidth(size) + 6).c_str(),
                       look.Plate);
      }
      Text(middle, barTop_ + kBarHeight / 2 + 4, size,
           Format("text-anchor=\"middle\" fill=\"%s\"", look.Ink));
    }
  }
  out_ += Format(
      "<rect x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"none\" stroke=\"%s\" "
      "stroke-width=\"1.2\"/>\n",
      Num(kBarLeft).c_str(), Num(barTop_).c_str(), Num(kBarRight - kBarLeft).c_str(),
      Num(kBarHeight).c_str(), kInk);
  for (size_t kind = 0; kind < 4; ++kind) {
    if (!drawn[kind]) continue;
    legend_.emplace_back(Swatch(kLooks[kind].Paint), kLooks[kind].Legend);
  }
  if (broken) {
    legend_.emplace_back(Format("<path d=\"M3 16L9 -2M7 16L13 -2\" stroke=\"%s\" "
                                "stroke-width=\"1.3\"/>",
                                kInk),
                         "shortened, not to scale");
  }
}

void TPicture::Units() {
  if (map_.Plan.UnitStarts.empty()) return;
  std::string path;
  std::string last;
  for (int64_t start : map_.Plan.UnitStarts) {
    const std::string x = Num(X(start));
    if (x == last) continue;  // ticks closer than the drawing's resolution
    path += "M" + x + " " + Num(barBottom_) + "v" + Num(kTickLength);
    last = x;
  }
  out_ += Format(
      "<path class=\"unit\" d=\"%s\" stroke=\"%s\" stroke-width=\"2\" fill=\"none\">"
      "<title>%zu flash blocks sent</title></path>\n",
      path.c_str(), kInk, map_.Plan.UnitStarts.size());
  legend_.emplace_back(
      Format("<path d=\"M2 3v8M7 3v8M12 3v8\" stroke=\"%s\" stroke-width=\"2\"/>", kInk),
      "blocks sent");
}

std::string Diamond(double x, double y, const char* fill) {
  return Format(
      "<polygon points=\"%s,%s %s,%s %s,%s %s,%s\" fill=\"%s\" stroke=\"#ffffff\" "
      "stroke-width=\"0.8\"/>",
      Num(x).c_str(), Num(y - 5).c_str(), Num(x + 5).c_str(), Num(y).c_str(), Num(x).c_str(),
      Num(y + 5).c_str(), Num(x - 5).c_str(), Num(y).c_str(), fill);
}

void TPicture::Entry() {
  if (map_.Entry <= 0 || map_.Entry >= map_.FlashBytes || map_.Ranges.empty()) return;
  entryDrawn_ = true;
  const double x = X(map_.Entry);
  out_ += Format(
      "<g class=\"entry\"><title>bootloader entry %s</title>"
      "<line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\" stroke=\"#000000\" "
      "stroke-width=\"2\"/>%s</g>\n",
      Hex(map_, map_.Entry).c_str(), Num(x).c_str(), Num(barTop_ - 2).c_str(), Num(x).c_str(),
      Num(barBottom_).c_str(), Diamond(x, barTop_ - 6, "#000000").c_str());
  legend_.emplace_back(Diamond(7, 7, "#000000"), "bootloader entry");
}

void TPicture::ResetPath() {
  if (map_.Ranges.empty()) return;
  const double x0 = kBarLeft + 3;
  if (!map_.ResetCode.empty()) {
    const size_t jump = JumpOf(map_.ResetCode, "bootloader entry");
    int64_t target = jump < map_.ResetCode.size() ? JumpTarget(map_, map_.ResetCode[jump]) : -1;
    if (target < 0 && map_.Relocates) target = map_.Entry;
    if (target > 0) {
      const double x = X(target);
      const bool onEntry = entryDrawn_ && target == map_.Entry;
      const double tip = onEntry ? barTop_ - 12 : barTop_ - 1;
      const std::string label = "address 0: " + PathText(map_.ResetCode, jump);
      OpenArrow("reset-arrow", x0, resetY_, x, tip, kInk, false);
      Text(x0 + 8, resetY_ - 5, Clip(label, (std::max(x, kBarRight / 2) - x0 - 16) / kCharWidth));
      out_ += "</g>\n";
    }
  }
  if (map_.SlotCode.empty()) return;
  double xs = X(map_.ZoneStart) + 4;
  for (size_t i = 0; i < map_.Ranges.size(); ++i)
    if (map_.Ranges[i].Kind == TMapRange::TKind::Slot) xs = bar_.Left[i] + bar_.Width[i] / 2;
  // The program's start: the slot's jump. A slot without one runs on into
  // the bootloader: no arrow, the failure in red.
  const size_t jump = JumpOf(map_.SlotCode, "your program");
  const int64_t target = jump < map_.SlotCode.size() ? JumpTarget(map_, map_.SlotCode[jump]) : -1;
  if (target < 0) {
    // Left of the slot, clear of the refusal's marker on it.
    double xl = xs - 6;
    for (size_t i = 0; i < map_.Ranges.size(); ++i)
      if (map_.Ranges[i].Kind == TMapRange::TKind::Slot) xl = bar_.Left[i] - 12;
    Text(xl, slotY_ - 5,
         Clip("reset slot: no jump to your program \u2014 it runs into the bootloader",
              (xl - x0 - 6) / kCharWidth),
         Format("text-anchor=\"end\" fill=\"%s\"", kRed));
    return;
  }
  const double x = std::max(X(target), x0 + 8);  // apart from address 0's arrow
  const std::string label = "reset slot: " + PathText(map_.SlotCode, jump);
  OpenArrow("slot-arrow", xs, slotY_, x, barTop_ - 1, kSlotInk, true);
  Text(xs - 6, slotY_ - 5, Clip(label, (xs - x0 - 12) / kCharWidth),
       Format("text-anchor=\"end\" fill=\"%s\"", kSlotInk));
  out_ += "</g>\n";
}

void TPicture::Collision() {
  if (!map_.Refused) return;
  out_ += "<g class=\"collision\">";
  const std::string why = RefusalText();
  if (map_.Collision >= 0) {
    const double x = std::clamp(X(map_.Collision), kBarLeft, kBarRight);
    // White under the red, so the marker stands out of any range, also in grey.
    out_ += Format(
        "<title>%s</title><path d=\"M%s %sV%s\" stroke=\"#ffffff\" stroke-width=\"6\"/>"
        "<path d=\"M%s %sV%s\" stroke=\"%s\" stroke-width=\"3\"/>"
        "<polygon points=\"%s,%s %s,%s %s,%s\" fill=\"%s\" stroke=\"#000000\" "
        "stroke-width=\"1\"/>",
        Xml(why).c_str(), Num(x).c_str(), Num(barTop_ - 14).c_str(), Num(barBottom_ + 8).c_str(),
        Num(x).c_str(), Num(barTop_ - 14).c_str(), Num(barBottom_ + 8).c_str(), kRed,
        Num(x - 7).c_str(), Num(barTop_ - 28).c_str(), Num(x + 7).c_str(),
        Num(barTop_ - 28).c_str(), Num(x).c_str(), Num(barTop_ - 14).c_str(), kRed);
    legend_.emplace_back(Format("<path d=\"M7 2V16\" stroke=\"%s\" stroke-width=\"2.5\"/>"
                                "<polygon points=\"2,0 12,0 7,7\" fill=\"%s\" stroke=\"#000000\" "
                                "stroke-width=\"0.8\"/>",
                                kRed, kRed),
                         "refused here");
  }
  out_ += "\n";
  const auto [first, second] = Wrap(why, kRefusalChars);
  const std::string look = Format("font-size=\"12\" font-weight=\"bold\" fill=\"%s\"", kRed);
  Text(kBarLeft, 60, first, look);
  if (!second.empty()) Text(kBarLeft, 76, second, look);
  out_ += "</g>\n";
}

// The start address of each range, and the end of the flash, in rows
// under the bar, each on a leader from the bar: right of its leader in the
// first row with room whose leader crosses no text above, or else left of
// it. Placed the ends first, then from the right; a label without room is
// left out.
void TPicture::Addresses() {
  std::vector<std::pair<double, double>> rows[kLabelRows];
  const auto free = [&rows](int row, double left, double right) {
    for (const auto& [l, r] : rows[row])
      if (left < r + 4 && l < right + 4) return false;
    return true;
  };
  // The two ends first, so that a crowded bar loses labels in its middle,
  // never its first address or the end of the flash.
  std::vector<std::pair<double, std::string>> labels{{kBarRight, Hex(map_, map_.FlashBytes)}};
  if (!map_.Ranges.empty()) labels.emplace_back(bar_.Left[0], Hex(map_, map_.Ranges[0].Start));
  for (size_t i = map_.Ranges.size(); i-- > 1;)
    labels.emplace_back(bar_.Left[i], Hex(map_, map_.Ranges[i].Start));
  int used = 0;
  out_ += "<g class=\"addresses\" fill=\"#333333\">\n";
  for (const auto& [x, text] : labels) {
    const double width = TextWidth(text) + 2;
    bool placed = false;
    for (const double left : {x, x - width}) {
      for (int row = 0; row < kLabelRows && !placed; ++row) {
        if (left >= 2 && left + width <= kWidth - 2 && free(row, left, left + width)) {
          rows[row].emplace_back(left, left + width);
          for (int above = 0; above < row; ++above)
            rows[above].emplace_back(x, x);
          used = std::max(used, row + 1);
          const double baseline = barBottom_ + 20 + row * kRowStep;
          out_ += Format(
              "<line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\" stroke=\"#888888\" "
              "stroke-width=\"0.8\"/>",
              Num(x).c_str(), Num(barBottom_ + 1).c_str(), Num(x).c_str(),
              Num(baseline + 2).c_str());
          Text(left + (left < x ? 0 : 2), baseline, text);
          placed = true;
        }
        // The leader must not cross text in the rows above the next one.
        if (!free(row, x, x)) break;
      }
    }
  }
  out_ += "</g>\n";
  labelsBottom_ = barBottom_ + 20 + (std::max(used, 1) - 1) * kRowStep;
}

double TPicture::SmallBars(double top) {
  double x = kBarLeft;
  const auto bar = [&](const char* cls, const TPaint& paint,
                       const std::map<int64_t, uint8_t>& bytes, const std::string& label) {
    if (bytes.empty()) return;
    const int64_t first = bytes.begin()->first, last = bytes.rbegin()->first;
    const double span = static_cast<double>(last - first + 1);
    out_ += Format(
        "<g class=\"%s\"><title>%s</title><rect x=\"%s\" y=\"%s\" width=\"%s\" "
        "height=\"14\" fill=\"#f4f4f4\" stroke=\"%s\" stroke-width=\"0.8\"/>",
        cls, Xml(label).c_str(), Num(x).c_str(), Num(top).c_str(), Num(kSmallBarWidth).c_str(),
        kInk);
    // A rectangle for each run of bytes the file sets.
    for (auto run = bytes.begin(); run != bytes.end();) {
      auto next = run;
      int64_t end = run->first + 1;
      while (++next != bytes.end() && next->first == end)
        ++end;
      const double left = x + static_cast<double>(run->first - first) / span * kSmallBarWidth;
      const double width =
          std::max(2.0, static_cast<double>(end - run->first) / span * kSmallBarWidth);
      out_ += Area(paint, left, top, width, 14, "", "");
      run = next;
    }
    out_ += "\n";
    Text(x + kSmallBarWidth + 8, top + 11, label);
    out_ += "</g>\n";
    x += 420;
  };
  const auto count = [](const std::map<int64_t, uint8_t>& bytes) {
    return Format("%zu byte%s", bytes.size(), bytes.size() == 1 ? "" : "s");
  };
  if (!map_.EEPROM.empty()) {
    const auto offset = [](int64_t at) {
      return Format("%.4llxh", static_cast<unsigned long long>(at));
    };
    const std::string first = offset(map_.EEPROM.begin()->first);
    const std::string last = offset(map_.EEPROM.rbegin()->first);
    bar("eeprom", kEEPROMPaint, map_.EEPROM,
        "EEPROM: " + count(map_.EEPROM) +
            (first == last ? " at offset " + first
                           : " at offsets " + first + "\xE2\x80\x93" + last));
    legend_.emplace_back(Swatch(kEEPROMPaint), "EEPROM");
  }
  return x == kBarLeft ? top - 16 : top + 14;
}

// Returns the legend's bottom.
double TPicture::Legend(double top) {
  out_ += "<g class=\"legend\">\n";
  double x = kBarLeft, y = top;
  for (const auto& [swatch, label] : legend_) {
    const double width = 14 + 6 + TextWidth(label) + 20;
    if (x + width > kWidth - 10 && x > kBarLeft) {
      x = kBarLeft;
      y += 20;
    }
    out_ += Format("<g transform=\"translate(%s %s)\">%s</g>", Num(x).c_str(), Num(y).c_str(),
                   swatch.c_str());
    Text(x + 20, y + 11, label);
    x += width;
  }
  out_ += "</g>\n";
  return y + 14;
}

}  // namespace

std::string MapSvg(const TMemoryMap& map) {
  return TPicture(map).Draw();
}

}  // namespace vantlebld
