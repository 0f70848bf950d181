// Ini files: lookups without case, defaults, quotes, and rewrites that keep
// every other line and the file's own line ends.
#include "tarvo_test.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tarvo_platform/profile.h>

using namespace tarvo_test;

namespace {

std::string get(const char *section, const char *key, const std::string &path, const char *def = "dflt")
{
  char buf[64];
  profile_get_string(section, key, def, buf, sizeof buf, path.c_str());
  return buf;
}

TEST(Profile, ReadsAndRewritesACrLfFileKeepingItsOtherLines)
{
  scratch_dir dir;
  std::string ini = dir / "tool.ini";
  write_file(ini,
             "; kept comment\r\n"
             "[General]\r\n"
             "  Lang =  ja  \r\n"
             "Title=\"  spaced  \"\r\n"
             "Count=42abc\r\n"
             "lang=second\r\n"
             "\r\n"
             "[Other]\r\n"
             "Lang=en\r\n");
  EXPECT_EQ(get("general", "LANG", ini), "ja");  // first occurrence, no case
  EXPECT_EQ(get("General", "Title", ini), "  spaced  ");
  EXPECT_EQ(get("General", "missing", ini, "def  "), "def");
  EXPECT_EQ(get("Missing", "Lang", ini), "dflt");
  EXPECT_EQ(profile_get_int("General", "Count", 7, ini.c_str()), 42);
  EXPECT_EQ(profile_get_int("General", "Title", 7, ini.c_str()), 0);
  EXPECT_EQ(profile_get_int("General", "nope", 7, ini.c_str()), 7);
  char small[3];
  EXPECT_EQ(profile_get_string("Other", "Lang", "", small, sizeof small, ini.c_str()), 2u);

  ASSERT_TRUE(profile_write_string("GENERAL", "lang", "en", ini.c_str()));
  ASSERT_TRUE(profile_write_string("General", "NoMsg:ConnectAllow", "0", ini.c_str()));
  ASSERT_TRUE(profile_write_string("New", "Key", "v", ini.c_str()));
  EXPECT_EQ(read_file(ini),
            "; kept comment\r\n"
            "[General]\r\n"
            "lang=en\r\n"
            "Title=\"  spaced  \"\r\n"
            "Count=42abc\r\n"
            "lang=second\r\n"
            "NoMsg:ConnectAllow=0\r\n"
            "\r\n"
            "[Other]\r\n"
            "Lang=en\r\n"
            "[New]\r\n"
            "Key=v\r\n");

  ASSERT_TRUE(profile_write_string("General", "Title", nullptr, ini.c_str()));
  ASSERT_TRUE(profile_write_string("other", nullptr, nullptr, ini.c_str()));
  EXPECT_EQ(read_file(ini),
            "; kept comment\r\n"
            "[General]\r\n"
            "lang=en\r\n"
            "Count=42abc\r\n"
            "lang=second\r\n"
            "NoMsg:ConnectAllow=0\r\n"
            "\r\n"
            "[New]\r\n"
            "Key=v\r\n");
  // A value that would break the line structure is refused.
  EXPECT_FALSE(profile_write_string("General", "Lang", "en\n[Evil]", ini.c_str()));
}

TEST(Profile, CreatesANewFileAndNeverWritesThroughALink)
{
  scratch_dir dir;
  std::string ini = dir / "new.ini", target = dir / "target", link = dir / "link.ini";
  ASSERT_TRUE(profile_write_string("General", "Setting:ConnectClient", "0", ini.c_str()));
  EXPECT_EQ(read_file(ini), "[General]\nSetting:ConnectClient=0\n");
  struct stat st;
  ASSERT_EQ(stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  write_file(target, "[General]\nLang=en\n");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_FALSE(profile_write_string("General", "Lang", "ja", link.c_str()));
  EXPECT_EQ(get("General", "Lang", link), "dflt");
  EXPECT_EQ(read_file(target), "[General]\nLang=en\n");
}

}  // namespace
