// The common folders: variables that override them, and the user's folders
// read from user-dirs.dirs.
#include "tarvo_test.h"

#include <gtest/gtest.h>
#include <tarvo_platform/special_folder.h>

namespace {

// Sets the variables for the life of the object and restores them.
struct env_set {
  std::vector<std::pair<std::string, std::string>> saved;
  std::vector<std::string> unset;
  void set(const char *name, const char *value)
  {
    const char *old = getenv(name);
    if (old)
      saved.emplace_back(name, old);
    else
      unset.emplace_back(name);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~env_set()
  {
    for (auto &[n, v] : saved) setenv(n.c_str(), v.c_str(), 1);
    for (auto &n : unset) unsetenv(n.c_str());
  }
};

std::string media(int kind)
{
  char buf[256];
  return special_folder_common_media(kind, buf, sizeof buf) ? buf : "(none)";
}

TEST(SpecialFolder, AppdataFromTheVariableElseVarLib)
{
  env_set env;
  char buf[16];
  env.set("TARVO_COMMON_APPDATA", nullptr);
  ASSERT_EQ(special_folder_common_appdata(buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/var/lib");
  env.set("TARVO_COMMON_APPDATA", "/srv/data");
  ASSERT_EQ(special_folder_common_appdata(buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/srv/data");
  EXPECT_EQ(special_folder_common_appdata(buf, 9), 0);  // "/srv/data" and its NUL need 10
}

TEST(SpecialFolder, MediaFromVariablesThenUserDirs)
{
  tarvo_test::scratch_dir home;
  env_set env;
  env.set("HOME", home.path.c_str());
  env.set("XDG_CONFIG_HOME", nullptr);
  env.set("TARVO_COMMON_MUSIC", nullptr);
  env.set("TARVO_COMMON_PICTURES", nullptr);
  env.set("TARVO_COMMON_VIDEO", nullptr);
  std::filesystem::create_directories(home.path / ".config");
  tarvo_test::write_file(home / ".config/user-dirs.dirs",
                         "# written by a test\n"
                         "XDG_MUSIC_DIR=\"$HOME/Music/\"\n"
                         "XDG_PICTURES_DIR=\"$HOME\"\n"
                         "XDG_VIDEOS_DIR=\"$HOMEVideos\"\n");
  EXPECT_EQ(media(SPECIAL_FOLDER_MUSIC), home / "Music");
  // The home folder itself, or a value that is no folder under it, is none.
  EXPECT_EQ(media(SPECIAL_FOLDER_PICTURES), "(none)");
  EXPECT_EQ(media(SPECIAL_FOLDER_VIDEO), "(none)");
  EXPECT_EQ(media(42), "(none)");

  env.set("TARVO_COMMON_MUSIC", "/media/music");
  env.set("TARVO_COMMON_PICTURES", "");  // set but empty: none
  EXPECT_EQ(media(SPECIAL_FOLDER_MUSIC), "/media/music");
  EXPECT_EQ(media(SPECIAL_FOLDER_PICTURES), "(none)");
}

}  // namespace
