// Message formatting (%x prints upper-case digits like %X), numbers as
// users type them, and the rendering of log lines (flags, text) into
// printed lines.
#include "engine/format.h"
#include "engine/log_text.h"
#include "engine/user_text.h"
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

TEST(UserText, NumbersAsUsersTypeThem) {
  const std::pair<const char*, std::optional<int64_t>> cases[] = {
      // clang-format off
      {"65", 65},       {"41h", 0x41},     {"41H", 0x41}, {"$4b", 0x4B},  {"0x4B", 0x4B},
      {"0X10", 16},     {"x41", 0x41},     {"X41", 0x41}, {"-1", -1},     {"+65", 65},
      {"-$10", -16},    {"-41h", -0x41},   {"", {}},      {"h", {}},      {"0x", {}},
      {"$", {}},        {"-", {}},         {"+-1", {}},   {"$-5", {}},    {"12a", {}},
      {" 65", {}},      {"65 ", {}},
      // The signed 64-bit range, and no further.
      {"9223372036854775807", INT64_MAX},  {"9223372036854775808", {}},
      {"-9223372036854775808", INT64_MIN}, {"-9223372036854775809", {}},
      {"$7FFFFFFFFFFFFFFF", INT64_MAX},    {"$8000000000000000", {}},
      {"-$8000000000000000", INT64_MIN},   {"18446744073709551616", {}},
      // clang-format on
  };
  for (const auto& [text, value] : cases)
    EXPECT_EQ(ParseNumber(text), value) << text;
  // Decimal: digits and a sign, no hex form.
  EXPECT_EQ(ParseNumber("-65", TNumberForms::Decimal), -65);
  for (const char* text : {"41h", "$41", "0x41", "x41", "1e3"})
    EXPECT_EQ(ParseNumber(text, TNumberForms::Decimal), std::nullopt) << text;
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
