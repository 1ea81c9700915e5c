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
      {Format("100%% %%x %s=%x", "0xab", 0xabu), "100% %x 0xab=AB"},
      {Format("[%s]", std::string(5000, 'z').c_str()), "[" + std::string(5000, 'z') + "]"},
  };
  for (const auto& [got, want] : cases)
    EXPECT_EQ(got, want);
}

TEST(UserText, NumbersAsUsersTypeThem) {
  // clang-format off
  const std::pair<const char*, std::optional<int64_t>> cases[] = {
      {"65", 65}, {"41h", 0x41}, {"$4b", 0x4B}, {"0X10", 16}, {"x41", 0x41}, {"-$10", -16},
      {"", {}}, {"0x", {}}, {"12a", {}}, {" 65", {}}, {"$8000000000000000", {}},
      {"-9223372036854775808", INT64_MIN}};
  // clang-format on
  for (const auto& [text, value] : cases)
    EXPECT_EQ(ParseNumber(text), value) << text;
  // Decimal: digits and a sign, no hex form.
  EXPECT_EQ(ParseNumber("-65", TNumberForms::Decimal), -65);
  EXPECT_EQ(ParseNumber("41h", TNumberForms::Decimal), std::nullopt);
}

TEST(LogRenderer, FlagsShapeTheLines) {
  const struct {
    bool details;
    std::vector<std::pair<uint8_t, std::string>> input;
    std::vector<std::string> lines;
  } cases[] = {
      {false, {{0, "a"}, {1, "b"}, {2, "c"}, {3, "d"}}, {"a", "   b", "      c", "         d"}},
      {true, {{4, "d"}, {5, "e"}}, {"d", "   e"}},
      {false, {{1, "S"}, {8, "found"}, {8, "done"}, {0, "next"}}, {"   S, found, done", "next"}},
      {false, {{0, "a"}, {4, "d"}, {8, "b"}}, {"a, b"}},      // hidden detail: no break
      {true, {{0, "a"}, {4, "d"}, {8, "b"}}, {"a", "d, b"}},  // shown detail takes it
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

}  // namespace
}  // namespace vantlebld::test
