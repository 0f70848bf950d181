#include <vennard/conf_store.h>

#include <gtest/gtest.h>

#include <tarvo_util/sys_alloc.h>

#include <filesystem>
#include <string>

#include "tarvo_test.h"

TEST(conf_store, mimetype_by_extension)
{
  tarvo_test::scratch_dir dir;
  std::string home = dir.path.string();
  std::filesystem::create_directories(dir.path / "conf/filetype");
  ASSERT_EQ(conf_filetype_write(home.c_str(), "MP3", "audio/mpeg"), 1);
  char *type = nullptr;
  ASSERT_EQ(conf_mimetype(home.c_str(), "/music/Song.Mp3", &type), 1);
  EXPECT_STREQ(type, "audio/mpeg");
  sys_alloc_free(type);
  EXPECT_EQ(conf_mimetype(home.c_str(), "/music/song.ogg", &type), 0);
}
