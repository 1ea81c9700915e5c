// The HEX file watch: when a rebuilt file counts as finished. Records are
// written out by hand with their checksums worked out here.
#include "engine/file_watch.h"

#include <gtest/gtest.h>

#include "tests/support/files.h"

namespace vantlebld::test {
namespace {

// 02+04 = 06h, so FAh; 04+EF+04+F0 = 1E7h, so 19h.
const std::string kBase = ":020000040000FA";
const std::string kGoto = ":0400000000EF04F019";
const std::string kEnd = ":00000001FF";

TEST(HexTextComplete, OnlyAWholeFileWithItsEndRecordCounts) {
  const struct {
    std::string text;
    bool complete;
  } cases[] = {
      {kBase + "\n" + kGoto + "\n" + kEnd + "\n", true},
      {kBase + "\r\n\r\n" + kGoto + "\r\n" + kEnd, true},  // CR LF, a blank line, no last line end
      {kBase + "\n" + kGoto + "\n", false},                // the end record not written yet
      {kBase + "\n" + kGoto.substr(0, 11), false},         // cut inside a record
      {kBase + "\n:0400000000EF04F018\n" + kEnd, false},   // checksum off by one
      {kBase + "\n:0500000000EF04F019\n" + kEnd, false},   // count says one byte more
      {kBase + "\n:0400000000EF04FG19\n" + kEnd, false},   // not a hex digit
      {"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HexTextComplete(c.text), c.complete) << c.text;
}

// A build rewrites the file in pieces: nothing counts until it has stood
// still for 300 ms, a half-written file is waited for once, and a change
// while settling starts the wait again.
TEST(HexFileWatch, ABuildCountsOnceItHasStoodStill) {
  TempDir dir;
  const std::string whole = kBase + "\n" + kGoto + "\n" + kEnd + "\n";
  const std::string path = dir.Write("prog.hex", whole);
  THexFileWatch watch(path);
  using E = THexFileWatch::TEvent;
  EXPECT_EQ(watch.Poll(0), E::None);

  dir.Write("prog.hex", kBase + "\n" + kGoto.substr(0, 9));
  EXPECT_EQ(watch.Poll(5010), E::Changing);
  EXPECT_EQ(watch.Poll(5309), E::None);
  EXPECT_EQ(watch.Poll(5310), E::Incomplete);

  dir.Write("prog.hex", kBase + "\n" + kGoto + "\n");
  EXPECT_EQ(watch.Poll(6010), E::Changing);
  EXPECT_EQ(watch.Poll(6200), E::None);
  dir.Write("prog.hex", whole);
  EXPECT_EQ(watch.Poll(6250), E::Changing);
  EXPECT_EQ(watch.Poll(6500), E::None);
  EXPECT_EQ(watch.Poll(6550), E::Ready);

  std::filesystem::remove(path);
  EXPECT_EQ(watch.Poll(9010), E::Changing);
  EXPECT_EQ(watch.Poll(9400), E::Incomplete);
}

}  // namespace
}  // namespace vantlebld::test
