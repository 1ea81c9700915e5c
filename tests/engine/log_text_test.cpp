// Rendering log lines (flags, text) into printed lines.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/log_text.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {
namespace {

using Input = std::vector<std::pair<uint8_t, std::string>>;

// Every line that reaches the sink, including the one the renderer still
// holds when it goes away.
std::vector<std::string> Render(bool showDetails, const Input& input) {
  std::vector<std::string> lines;
  {
    TLogRenderer r([&](const std::string& line) { lines.push_back(line); }, showDetails);
    for (const auto& [flags, text] : input)
      r.Add(flags, text);
  }
  return lines;
}

TEST(LogRenderer, FlagsShapeTheLines) {
  const struct {
    const char* name;
    bool details;
    Input input;
    std::vector<std::string> lines;
  } cases[] = {
      {"indents",
       false,
       {{0, "a"}, {1, "b"}, {2, "c"}, {3, "d"}},
       {"a", "   b", "      c", "         d"}},
      {"detail hidden", false, {{0, "a"}, {4, "d"}, {5, "e"}}, {"a"}},
      {"detail shown", true, {{4, "d"}, {5, "e"}}, {"d", "   e"}},
      {"append joins",
       false,
       {{1, "Searching"}, {8, "found"}, {8, "done"}, {0, "next"}},
       {"   Searching, found, done", "next"}},
      {"indent after the comma", false, {{0, "a"}, {9, "b"}}, {"a,    b"}},
      {"hidden detail does not break the append", false, {{0, "a"}, {4, "d"}, {8, "b"}}, {"a, b"}},
      {"shown detail takes the append", true, {{0, "a"}, {4, "d"}, {8, "b"}}, {"a", "d, b"}},
      {"hidden appended detail leaves the line",
       false,
       {{0, "a"}, {12, "d"}, {0, "b"}},
       {"a", "b"}},
      {"shown appended detail joins", true, {{0, "a"}, {12, "d"}}, {"a, d"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Render(c.details, c.input), c.lines) << c.name;
}

TEST(LogRenderer, HoldsTheLastLineUntilFlushed) {
  std::vector<std::string> lines;
  TLogRenderer r([&](const std::string& line) { lines.push_back(line); }, false);
  r.Add(0, "a");
  EXPECT_TRUE(lines.empty());
  r.Add(0, "b");
  EXPECT_EQ(lines, std::vector<std::string>{"a"});
  r.Flush();
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
  r.Flush();
  EXPECT_EQ(lines.size(), 2u);
}

}  // namespace
}  // namespace vantlebld
