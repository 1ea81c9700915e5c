// Message formatting (%x prints upper-case digits like %X) and the
// rendering of log lines (flags, text) into printed lines.
#include "engine/format.h"
#include "engine/log_text.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

TEST(Format, HexConversionsPrintUpperCaseAndTheRestIsPrintf) {
  const std::pair<std::string, std::string> cases[] = {
      {Format("%x", 0xabcu), "ABC"},
      {Format("%.6xh", 0xabcdeu), "0ABCDEh"},
      {Format("%-4x|%#x", 0xau, 0xffu), "A   |0XFF"},
      {Format("%lx %x", 0xdeadbeefUL, 0xbu), "DEADBEEF B"},
      {Format("100%% %%x %s=%x", "0xab", 0xabu), "100% %x 0xab=AB"},
      {Format("[%s]", std::string(5000, 'z').c_str()), "[" + std::string(5000, 'z') + "]"},
      {HexDump(std::string("\x41\x4b\x00\xff", 4)), "41 4B 00 FF "},
  };
  for (const auto& [got, want] : cases)
    EXPECT_EQ(got, want);
}

TEST(Format, NumbersAsUsersTypeThem) {
  const std::pair<const char*, std::optional<int64_t>> cases[] = {
      // clang-format off
      {"65", 65},   {"41h", 0x41}, {"41H", 0x41}, {"$4b", 0x4B}, {"0x4B", 0x4B}, {"0X10", 16},
      {"999999999999999", 999999999999999}, {"1000000000000000", {}},
      {"", {}},     {"h", {}},     {"0x", {}},    {"$", {}},     {"12a", {}},    {"-1", {}},
      // clang-format on
  };
  for (const auto& [text, value] : cases)
    EXPECT_EQ(ParseNumberText(text), value) << text;
}

TEST(LogRenderer, FlagsShapeTheLines) {
  const struct {
    bool details;
    std::vector<std::pair<uint8_t, std::string>> input;
    std::vector<std::string> lines;
  } cases[] = {
      {false, {{0, "a"}, {1, "b"}, {2, "c"}, {3, "d"}}, {"a", "   b", "      c", "         d"}},
      {false, {{0, "a"}, {4, "d"}, {5, "e"}}, {"a"}},
      {true, {{4, "d"}, {5, "e"}}, {"d", "   e"}},
      {false, {{1, "S"}, {8, "found"}, {8, "done"}, {0, "next"}}, {"   S, found, done", "next"}},
      {false, {{0, "a"}, {9, "b"}}, {"a,    b"}},             // indent after the comma
      {false, {{0, "a"}, {4, "d"}, {8, "b"}}, {"a, b"}},      // hidden detail: no break
      {true, {{0, "a"}, {4, "d"}, {8, "b"}}, {"a", "d, b"}},  // shown detail takes it
      {false, {{0, "a"}, {12, "d"}, {0, "b"}}, {"a", "b"}},   // hidden appended detail
      {true, {{0, "a"}, {12, "d"}}, {"a, d"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> lines;
    {
      TLogRenderer r([&](const std::string& line) { lines.push_back(line); }, c.details);
      for (const auto& [flags, text] : c.input)
        r.Add(flags, text);
    }  // the last line, held back, goes out with the renderer
    EXPECT_EQ(lines, c.lines) << testing::PrintToString(c.input);
  }
}

// A line is held until the next one or a flush shows it is complete.
TEST(LogRenderer, FlushSendsTheHeldLineOnce) {
  std::vector<std::string> lines;
  TLogRenderer r([&](const std::string& line) { lines.push_back(line); }, false);
  r.Add(0, "a");
  EXPECT_TRUE(lines.empty());
  r.Add(0, "b");
  r.Flush();
  r.Flush();
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace vantlebld::test
