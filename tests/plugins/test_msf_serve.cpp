// The plug-ins inside the running server program: a playlist served as
// entry URLs and its entries under them, the request reader's refusals,
// and the playlist plug-in mapped once although the server also links it.
#include "plugin_server.h"

#include <set>
#include <sstream>

namespace {

using namespace plugin_test;

// The three plug-ins on a share with a playlist and the files it names.
struct playlist_server : plugin_test::running_server {
  playlist_server() : plugin_test::running_server("corda_m3u\ncorda_didl\ncorda_album_art\n")
  {
    fs::create_directories(media + "/sub");
    tarvo_test::write_file(media + "/a.mp3", "first entry's bytes");
    tarvo_test::write_file(media + "/sub/b.ogg", "third entry");
    tarvo_test::write_file(media + "/notes.txt", "not media");
    tarvo_test::write_file(media + "/list.m3u", "#EXTM3U\n\na.mp3\nmissing.mp3\nsub/b.ogg\nnotes.txt\n");
  }
  // The URL path of the playlist's resource once the share is scanned.
  std::string playlist_path()
  {
    std::regex res("<res [^>]*>http://127\\.0\\.0\\.1:30001(/[^<]*\\.m3u)</res>");
    std::smatch m;
    std::string children = children_when([&](const std::string &c) { return std::regex_search(c, m, res); });
    return std::regex_search(children, m, res) ? std::string(m[1]) : "";
  }
};

// The distinct files mapped under a name in a process.
std::set<std::string> mapped(pid_t pid, const std::string &name)
{
  std::set<std::string> files;
  std::istringstream maps(tarvo_test::read_file("/proc/" + std::to_string(pid) + "/maps"));
  for (std::string line; std::getline(maps, line);) {
    if (line.find(name) == std::string::npos) continue;
    std::istringstream f(line);
    std::string range, perms, offset, dev, inode;
    f >> range >> perms >> offset >> dev >> inode;
    files.insert(dev + ":" + inode);
  }
  return files;
}

}  // namespace

TEST(PlaylistServing, EntriesAsUrlsTheirFilesAndTheRefusals)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  playlist_server srv;
  ASSERT_TRUE(srv.start());
  std::string path = srv.playlist_path();
  ASSERT_FALSE(path.empty());

  // Entry 2 names no file and entry 4 is no media file: both are counted,
  // neither is listed.
  std::string base = "http://127.0.0.1:30001" + path;
  std::string listed = base + "/1.mp3\r\n" + base + "/3.ogg\r\n";
  reply whole = get(path);
  EXPECT_EQ(whole.status(), "HTTP/1.1 200 OK");
  EXPECT_EQ(whole.body(), listed);
  EXPECT_EQ(whole.header("CONTENT-LENGTH"), std::to_string(listed.size()));
  reply part = get(path, "RANGE: bytes=7-16\r\n");
  EXPECT_EQ(part.status(), "HTTP/1.1 206 partial content");
  EXPECT_EQ(part.body(), listed.substr(7, 10));
  EXPECT_EQ(get(path, "TimeSeekRange.dlna.org: npt=0-\r\n").status(), "HTTP/1.1 400 bad request");

  reply first = get(path + "/1.mp3");
  EXPECT_EQ(first.status(), "HTTP/1.1 200 OK");
  EXPECT_EQ(first.body(), "first entry's bytes");
  EXPECT_EQ(first.header("CONTENT-TYPE"), "audio/mpeg");
  reply third = get(path + "/3.ogg", "RANGE: bytes=6-\r\n");
  EXPECT_EQ(third.status(), "HTTP/1.1 206 partial content");
  EXPECT_EQ(third.body(), "entry");
  EXPECT_EQ(third.header("CONTENT-TYPE"), "application/ogg");
  EXPECT_EQ(get(path + "/3.ogg", "PlaySpeed.dlna.org: speed=2\r\n").status(), "HTTP/1.1 406 not acceptable");
  // A playlist line may name any file the server can read, such as
  // /etc/shadow: only media files are served.
  for (const char *missing : {"/2.mp3", "/4.txt", "/9.mp3"})
    EXPECT_EQ(get(path + missing).status(), "HTTP/1.1 404 file not found") << missing;

  // The reader's refusals, with the length of their bodies, after the
  // pause.
  reply no_host = talk(kHttpPort, "GET " + path + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(no_host.status(), "HTTP/1.1 400 HTTP/1.1 requests must include a host name");
  EXPECT_EQ(no_host.header("CONTENT-LENGTH"), "74");
  EXPECT_EQ(no_host.header("SERVER"), "Tarvo Media Server");
  EXPECT_GE(no_host.seconds, 0.9);
  EXPECT_TRUE(no_host.closed);
  reply expect = get(path, "EXPECT: 100-continue\r\n");
  EXPECT_EQ(expect.status(), "HTTP/1.1 417 I do not accept Expect");
  EXPECT_EQ(expect.header("CONTENT-LENGTH"), std::to_string(std::string("417 I do not accept Expect").size() + 28));
  EXPECT_EQ(get(path, "RANGE: bytes=0-1\r\nRANGE: bytes=3-4\r\n").status(), "HTTP/1.1 400 multipart range not supported");
  EXPECT_EQ(get(path, "getcontentFeatures.dlna.org: 2\r\n").status(), "HTTP/1.1 400 bad request");
  EXPECT_EQ(get(path, "getcontentFeatures.dlna.org: 1\r\n").status(), "HTTP/1.1 200 OK");
  // HTTP/1.0 needs no Host.
  EXPECT_EQ(talk(kHttpPort, "GET " + path + " HTTP/1.0\r\n\r\n").body(), listed);

  // Loaded by name from the filter, the plug-in is the library the
  // server links, not a second copy.
  EXPECT_EQ(mapped(srv.pid, "libcorda_m3u.so").size(), 1u);
  EXPECT_EQ(mapped(srv.pid, "libcorda_didl.so").size(), 1u);
}
