// The M3U playlist reader.
#include <corda_m3u/corda_m3u.h>
#include <corda_m3u/corda_m3u_limits.h>
#include <gtest/gtest.h>
#include <tarvo_test.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using tarvo_test::scratch_dir;
using tarvo_test::write_file;
using Strings = std::vector<std::string>;

namespace {

Strings take(sys_str_list l)
{
  Strings r;
  for (char **p = l; p && *p; p++) r.push_back(*p);
  sys_str_list_free(l);
  return r;
}

struct parsed {
  int ok = 0;
  Strings paths, names;
};

parsed parse(const std::string &path, const char *prefix = "/p")
{
  sys_str_list p = nullptr, n = nullptr;
  parsed r;
  r.ok = corda_m3u_parse(path.c_str(), prefix, &p, &n);
  r.paths = take(p);
  r.names = take(n);
  return r;
}

struct playlist_dir : scratch_dir {
  std::string root = path.string();
  playlist_dir()
  {
    std::filesystem::create_directories(path / "sub" / "folder.mp3");
    for (const char *f : {"a.mp3", "sub/b.flac", "c", "last.mp3", "x\x01.mp3", "other.mp3"}) write_file(*this / f, "");
  }
};

}  // namespace

TEST(M3u, EntriesCommentsCountersAndLineEnds)
{
  playlist_dir d;
  write_file(d / "list.m3u", "#EXTM3U\r\n"
                             "a.mp3\r\n"            // 1
                             "\r\n"
                             "missing.mp3\n"        // 2, no file
                             "sub/../sub//b.flac\n" // 3
                             "\n" + d.root + "/./c\n" // 4, absolute
                             " a.mp3\n"
                             "\ta.mp3\n"
                             "#a.mp3\n"
                             "sub/folder.mp3\n"     // 5, a folder
                             "x\x01.mp3\n"          // 6, control byte
                             "other.mp3\r\r\n"      // 7, only one CR goes
                             "last.mp3");           // 8, unterminated
  parsed r = parse(d / "list.m3u");
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.paths, (Strings{d.root + "/a.mp3", d.root + "/sub/b.flac", d.root + "/c", d.root + "/last.mp3"}));
  EXPECT_EQ(r.names, (Strings{"/p/1.mp3", "/p/3.flac", "/p/4", "/p/8.mp3"}));
}

TEST(M3u, EntriesOutsideTheFolderAndRelativePlaylists)
{
  playlist_dir d;
  std::filesystem::create_directories(d.path / "lists");
  write_file(d / "lists/up.m3u", "../a.mp3\n../../../../" + d.root.substr(1) + "/sub/b.flac\n");
  parsed r = parse(d / "lists/up.m3u", "");
  EXPECT_EQ(r.paths, (Strings{d.root + "/a.mp3", d.root + "/sub/b.flac"}));
  EXPECT_EQ(r.names, (Strings{"/1.mp3", "/2.flac"}));

  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(d.root.c_str()), 0);
  parsed rel = parse("lists/up.m3u");
  parsed bare = parse("up.m3u");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(rel.paths, r.paths);
  EXPECT_EQ(bare.ok, 0);
}

TEST(M3u, UnusableLinesAreCountedAndDropped)
{
  playlist_dir d;
  std::string nul("a.mp3\0.x\n", 9);
  write_file(d / "odd.m3u", std::string(70000, 'a') + "\n" + nul + "a.mp3\n");
  parsed r = parse(d / "odd.m3u");
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.names, (Strings{"/p/3.mp3"}));
}

TEST(M3u, FailuresHandNothingOut)
{
  playlist_dir d;
  ASSERT_EQ(mkfifo((d / "fifo.m3u").c_str(), 0600), 0);
  for (std::string p : {d / "none.m3u", d / "sub", d / "fifo.m3u"}) {
    sys_str_list paths = reinterpret_cast<sys_str_list>(1);
    EXPECT_EQ(corda_m3u_parse(p.c_str(), "", &paths, nullptr), 0) << p;
    EXPECT_EQ(paths, reinterpret_cast<sys_str_list>(1));
  }
}

TEST(M3u, EitherListMayBeLeftOut)
{
  playlist_dir d;
  write_file(d / "l.m3u", "c\n");
  sys_str_list p = nullptr;
  ASSERT_EQ(corda_m3u_parse((d / "l.m3u").c_str(), "/q", &p, nullptr), 1);
  EXPECT_EQ(take(p), Strings{d.root + "/c"});
  EXPECT_EQ(corda_m3u_parse((d / "l.m3u").c_str(), "/q", nullptr, nullptr), 1);
}

TEST(M3u, ALongPlaylistIsCutAtTheEntryLimit)
{
  playlist_dir d;
  std::string text = "#EXTM3U\n";
  for (uint32_t i = 0; i < CORDA_M3U_ENTRIES_MAX + 10; i++) text += (i % 2 ? "a.mp3\n" : "missing.mp3\n");
  write_file(d / "long.m3u", text);
  parsed r = parse(d / "long.m3u");
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.paths.size(), CORDA_M3U_ENTRIES_MAX / 2);
  EXPECT_EQ(r.names.back(), "/p/" + std::to_string(CORDA_M3U_ENTRIES_MAX) + ".mp3");
}
