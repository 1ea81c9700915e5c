// The settings file's INI reader and writer: lookup rules, integers and
// booleans, saves that keep the file as it was read, and saves that fail
// without harming the old file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "app/ini_file.h"
#include "tests/support/files.h"

namespace vantlebld {
namespace {

TEST(IniFile, LookupFollowsTheUsualIniRules) {
  for (const char* eol : {"\n", "\r"}) {
    std::string text =
        "Stray=1|[Files]|  hexfile  =  a b.hex  |; Commented=1|Dup=first|Dup=second|NoEquals|"
        "Empty=|Expr=a=b|[ Pic ] trailing text|COMport=COM3|[FILES]|Later=1";
    for (size_t at = text.find('|'); at != std::string::npos; at = text.find('|'))
      text.replace(at, 1, eol);
    const TIniFile ini = TIniFile::FromText(text);
    const struct {
      const char *section, *key, *expected;
    } cases[] = {{"files", "HEXFILE", "a b.hex"},
                 {"FILES", "Dup", "first"},
                 {"FILES", "Expr", "a=b"},
                 {"FILES", "Empty", ""},  // present but empty is not missing
                 {"PIC", "COMport", "COM3"},
                 {"FILES", "Later", "-"},  // only the first section of a name counts
                 {"", "Stray", "-"}};
    for (const auto& c : cases)
      EXPECT_EQ(ini.ReadString(c.section, c.key, "-"), c.expected)
          << c.section << "/" << c.key << ", line ending of " << strlen(eol);
  }
}

TEST(IniFile, WritesKeepEverythingElseAsItWasRead) {
  const std::string original =
      "\xEF\xBB\xBF; by hand\r\n[FILES]\r\nHexFile = old.hex\r\nUser Key=kept\r\n\r\n"
      "[Mine]\r\nMine=1\r\n";
  TIniFile ini = TIniFile::FromText(original);
  ASSERT_TRUE(ini.WriteString("files", "HEXFILE", "old.hex"));  // same value: line as typed
  EXPECT_EQ(ini.Text(), original);
  ASSERT_TRUE(ini.WriteString("files", "HEXFILE", "new.hex"));
  ASSERT_TRUE(ini.WriteInteger("FILES", " LRU0 ", -3));  // after the last entry, before the blank
  ASSERT_TRUE(ini.WriteBool("PIC", "Flag", true));       // new section at the end
  EXPECT_EQ(ini.Text(),
            "\xEF\xBB\xBF; by hand\r\n[FILES]\r\nHexFile=new.hex\r\nUser Key=kept\r\n"
            "LRU0=-3\r\n\r\n[Mine]\r\nMine=1\r\n\r\n[PIC]\r\nFlag=1\r\n");
  EXPECT_FALSE(ini.WriteString("Mine", "a=b", "v"));  // it could not be read back
}

// A save that fails leaves the old file as it was: no half-written file,
// no temporary beside it.
TEST(IniFile, FailedSavesLeaveTheOldFile) {
  test::TempDir dir;
  const std::string kOld = "[FILES]\nHexFile=old.hex\n";
  const std::string path = dir.Write("settings.ini", kOld);
  // Past the limit below: written at once, or held back until the flush.
  for (const int entries : {500, 120}) {
    TIniFile ini(path);
    for (int i = 0; i < entries; ++i)
      ini.WriteString("TRANSLATE RCV", std::to_string(i), std::string(40, 'x'));
    // A file size limit makes writes fail as a full disk does, also for root.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string reason;
    const bool ok = ini.Save(&reason);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok) << entries << " entries";
    EXPECT_NE(reason.find(path), std::string::npos) << reason;
    EXPECT_EQ(test::ReadText(path), kOld) << entries << " entries";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
  }

  // A file that could not be read is not overwritten with what was not read.
  TIniFile other(dir.Path().string());  // exists, but is no readable file
  other.WriteString("FILES", "HexFile", "a.hex");
  std::string reason;
  EXPECT_FALSE(other.Save(&reason));
  EXPECT_NE(reason.find("could not be read"), std::string::npos) << reason;
}

}  // namespace
}  // namespace vantlebld
