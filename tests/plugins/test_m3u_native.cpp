// Playlist lines are in the native charset, here Latin-1.
#include <corda_m3u/corda_m3u.h>
#include <gtest/gtest.h>
#include <tarvo_test.h>

#include <cstdlib>

TEST(M3uNative, LinesAreConvertedToUtf8)
{
  // Read once per process, before the first conversion.
  setenv("CHARACTER_ENCODING", "ISO-8859-1", 1);
  tarvo_test::scratch_dir d;
  tarvo_test::write_file(d / "caf\xc3\xa9.mp3", "");
  tarvo_test::write_file(d / "list.m3u", "caf\xe9.mp3\r\ncaf\xc3\xa9.mp3\r\n");
  sys_str_list paths = nullptr, names = nullptr;
  ASSERT_EQ(corda_m3u_parse((d / "list.m3u").c_str(), "", &paths, &names), 1);
  ASSERT_TRUE(paths[0] && !paths[1]);
  EXPECT_EQ(std::string(paths[0]), d.path.string() + "/caf\xc3\xa9.mp3");
  EXPECT_STREQ(names[0], "/1.mp3");
  sys_str_list_free(paths);
  sys_str_list_free(names);
}
