// The HEX file watch: when a rebuilt file counts as finished. Records are
// written out by hand with their checksums worked out here.
#include "engine/file_watch.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/defaults.h"
#include "tests/support/files.h"

namespace vantlebld::test {
namespace {

// 02+04 = 06h, so FAh; 04+EF+04+F0 = 1E7h, so 19h.
const std::string kBase = ":020000040000FA";
const std::string kGoto = ":0400000000EF04F019";
const std::string kEnd = ":00000001FF";

// A file cut off anywhere waits for the rest; one whose end record is
// there is whole, and its first bad record is told by line (from 1, blank
// lines counted) and reason.
TEST(CheckHexText, TellsAFileBeingWrittenFromACorruptOne) {
  using S = THexTextCheck::TState;
  const struct {
    std::string text;
    S state;
    int64_t line;
    std::string_view reason;
  } cases[] = {
      {kBase + "\n" + kGoto + "\n" + kEnd + "\n", S::Complete, 0, ""},
      // CR LF, a blank line, no last line end
      {kBase + "\r\n\r\n" + kGoto + "\r\n" + kEnd, S::Complete, 0, ""},
      {kBase + "\n" + kGoto + "\n", S::Incomplete, 0, ""},         // the end record not written yet
      {kBase + "\n" + kGoto.substr(0, 11), S::Incomplete, 0, ""},  // cut inside a record
      {"", S::Incomplete, 0, ""},
      // Checksum off by one, then a G: the first bad record counts.
      {kBase + "\n:0400000000EF04F018\n:0400000000EF04FG19\n" + kEnd, S::Corrupt, 2,
       "bad checksum"},
      // The count says one byte more than the line holds.
      {kBase + "\n:0500000000EF04F019\n" + kEnd, S::Corrupt, 2, "wrong length"},
      {kBase + "\n:0400000000EF04FG19\n" + kEnd, S::Corrupt, 2, "not a hex digit"},
      {kBase + "\r\n\r\n0400000000EF04F019\r\n" + kEnd, S::Corrupt, 3, "does not start with ':'"},
      // 01h needs FFh: the end record itself is bad.
      {kBase + "\n" + kGoto + "\n:00000001FE\n", S::Corrupt, 3, "bad checksum"},
      // A bad record but no end record: the build is still writing.
      {kBase + "\n:0400000000EF04F018\n" + kGoto.substr(0, 11), S::Incomplete, 0, ""},
  };
  for (const auto& c : cases) {
    const THexTextCheck check = CheckHexText(c.text);
    EXPECT_EQ(check.State, c.state) << c.text;
    EXPECT_EQ(check.Line, c.line) << c.text;
    EXPECT_EQ(check.Reason, c.reason) << c.text;
  }
}

// A build rewrites the file in pieces: nothing counts until it has stood
// still for 300 ms, a half-written file is told once and waited for, and a
// change while settling starts the wait again. (A corrupt one told once:
// the window's and the CLI's watch tests.)
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

  // Grown past what the reader takes (sparse: no disk used), it is refused
  // unread, not taken for the whole HEX at its start.
  dir.Write("prog.hex", whole);
  std::filesystem::resize_file(path, kMaxHexFileBytes + 1);
  EXPECT_EQ(watch.Poll(10010), E::Changing);
  EXPECT_EQ(watch.Poll(10400), E::Corrupt);
  EXPECT_EQ(watch.LastCheck().Line, 0);
  EXPECT_TRUE(watch.LastCheck().Reason.starts_with("the file is larger than the 64 MiB"));
}

}  // namespace
}  // namespace vantlebld::test
