// The map's picture: a well-formed document naming what the map holds, tiny
// ranges kept visible beside huge empty ones, text escaped.
#include "engine/map_svg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace vantlebld::test {
namespace {

using K = TMapRange::TKind;

// A device with a bootloader zone of zoneBytes at the top and its ranges
// from address 0, each given by its end.
TMemoryMap Map(const std::string& family, int64_t zoneBytes,
               std::vector<std::pair<K, int64_t>> ends) {
  TMemoryMap map;
  map.Model = family;
  map.Family = family;
  map.FamilyCode = family == "PIC16F"   ? kFamily16F
                   : family == "PIC18F" ? kFamily18F
                                        : kFamilyDsPIC30;
  map.FlashBytes = ends.back().second;
  map.ZoneStart = map.FlashBytes - zoneBytes;
  map.ZoneBytes = zoneBytes;
  map.Entry = map.ZoneStart + 0x40;
  for (const auto& [kind, end] : ends)
    map.Ranges.push_back({kind, map.Ranges.empty() ? 0 : map.Ranges.back().End, end});
  return map;
}
// 4 bytes of constants far from the code, EEPROM set.
TMemoryMap DsPic() {
  TMemoryMap map = Map("dsPIC30F", 0x1000,
                       {{K::Data, 0x1800},
                        {K::Empty, 0x8000},
                        {K::Data, 0x8004},
                        {K::Empty, 0xF000},
                        {K::Slot, 0xF008},
                        {K::Zone, 0x10000}});
  map.ResetCode = {{0, "GOTO 7820h", "bootloader entry", 0x7820}};
  map.SlotCode = {{0xF000, "GOTO 0100h", "your program", 0x100}};
  map.EEPROM = {{0, 0xA5}};
  map.Plan = {3, 200, 19200, 300, {0, 0x80, 0xF000}};
  return map;
}
// The file reaches into the bootloader zone; nothing is sent.
TMemoryMap Refused() {
  TMemoryMap map =
      Map("PIC18F", 0x400,
          {{K::Data, 0x1200}, {K::Empty, 0x7C00}, {K::Slot, 0x7C08}, {K::Zone, 0x8000}});
  map.Refused = true;
  map.Reason = "data & code <in> the \"zone\"";
  map.Collision = 0x7D40;
  return map;
}

// One svg root, every tag closed in order, attributes quoted, '<', '>'
// and '&' in text and attributes only as entities.
bool WellFormed(const std::string& svg) {
  static const std::regex kToken(
      R"re(<(/?)([\w-]+)(?:\s+[\w:-]+="(?:[^"<&]|&(?:amp|lt|gt|quot|apos);)*")*\s*(/?)>|&(?:amp|lt|gt|quot|apos);|[<>&])re");
  const size_t body = svg.find("?>");
  if (!svg.starts_with("<?xml ") || body == std::string::npos) return false;
  std::vector<std::string> open;
  int roots = 0;
  for (std::sregex_iterator it(svg.begin() + static_cast<long>(body) + 2, svg.end(), kToken), end;
       it != end; ++it) {
    const std::smatch& m = *it;
    if (m.length() == 1) return false;  // a bare '<', '>' or '&'
    if (!m[2].matched) continue;        // an entity
    if (m[1].length() && (open.empty() || open.back() != m[2])) return false;
    if (m[1].length()) open.pop_back();
    if (!m[1].length() && open.empty() && (roots++ || m[2] != "svg")) return false;
    if (!m[1].length() && !m[3].length()) open.push_back(m[2]);
  }
  return roots == 1 && open.empty();
}

// A 16F whose reset slot holds no jump: the PIC would run on into the
// bootloader instead of the program.
TMemoryMap SlotWithoutJump() {
  TMemoryMap map =
      Map("PIC16F", 0x200,
          {{K::Data, 0x800}, {K::Empty, 0x3E00}, {K::Slot, 0x3E08}, {K::Zone, 0x4000}});
  map.ResetCode = {{0, "GOTO 1F20h", "bootloader entry", 0x1F20}};  // the entry, 3E40h / 2
  map.SlotCode = {{0x3E00, "(erased)"}, {0x3E02, "(erased)"}};
  return map;
}

// A device-table name with a byte that is no UTF-8 and a control
// character.
TMemoryMap OddName() {
  TMemoryMap map = SlotWithoutJump();
  map.Model = "PIC\xff-16F\x01X";
  return map;
}

TEST(MapSvg, WellFormedNamesWhatTheMapHoldsAndKeepsTinyRangesVisible) {
  // Each map with the optional parts it alone has.
  const std::pair<TMemoryMap, std::vector<std::string>> cases[] = {
      {DsPic(), {"unit", "eeprom", "reset-arrow", "slot-arrow"}},
      {Refused(), {"collision"}},
      {SlotWithoutJump(), {"reset-arrow"}},
      {OddName(), {"reset-arrow"}}};
  for (const auto& [map, only] : cases) {
    const std::string svg = MapSvg(map);
    EXPECT_TRUE(WellFormed(svg)) << svg;
    for (std::string name : {"data", "empty", "slot", "zone", "entry", "legend"})
      EXPECT_NE(svg.find("class=\"" + name + "\""), std::string::npos) << map.Model << " " << name;
    for (std::string name : {"unit", "eeprom", "reset-arrow", "slot-arrow", "collision"})
      EXPECT_EQ(svg.find("class=\"" + name + "\"") != std::string::npos,
                std::ranges::count(only, name) == 1)
          << map.Model << " " << name;
  }
  // No arrow leaves the empty slot; the failure is said in red.
  EXPECT_NE(MapSvg(SlotWithoutJump())
                .find(">reset slot: no jump to your program \u2014 it runs into the bootloader<"),
            std::string::npos)
      << MapSvg(SlotWithoutJump());
  // The name as valid XML text: U+FFFD and a blank.
  const std::string odd = MapSvg(OddName());
  EXPECT_NE(odd.find(">PIC\uFFFD-16F X<"), std::string::npos) << odd;
  EXPECT_EQ(odd.find_first_of("\xff\x01"), std::string::npos);
  // The reason in full, escaped.
  EXPECT_NE(MapSvg(Refused()).find(">Refused: data &amp; code &lt;in&gt; the &quot;zone&quot;"),
            std::string::npos);
  // Four bytes beside huge empty stretches stay visible.
  const std::string svg = MapSvg(DsPic());
  static const std::regex kDataRect(R"re(<rect class="data"[^>]* width="([0-9.]+)")re");
  int count = 0;
  for (std::sregex_iterator it(svg.begin(), svg.end(), kDataRect), end; it != end; ++it, ++count)
    EXPECT_GE(std::stod((*it)[1]), 4.0) << it->str();
  EXPECT_EQ(count, 2);
}

}  // namespace
}  // namespace vantlebld::test
