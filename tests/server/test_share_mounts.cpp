// The server program and the mounts made while it runs, in a mount and a
// network namespace of the test's own that it shares: a mount beside a
// share walks nothing, one on a folder of a share shows its files in
// Browse until it goes and walks no other share.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

#include "media_test.h"
#include "scan_test.h"
#include "tarvo_test.h"
#include "vennard_run.h"

namespace fs = std::filesystem;

namespace {

// Both namespaces, entered before the server starts so that it shares
// them; the reason when they cannot be had.
std::string namespaces()
{
  std::string why = tarvo_test::private_mounts();
  return why.empty() ? tarvo_test::private_net() : why;
}

// A short WAV file, made by ffmpeg where it is installed.
void track_write(const std::string &path)
{
  std::string cmd = "ffmpeg -nostdin -loglevel error -f lavfi -i sine=duration=0.1 -y '" + path + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) scan_test::wav_write(path);
}

// The children of an object as Browse gives them: title -> id.
std::map<std::string, std::string> children(uint16_t port, const std::string &id)
{
  std::string body = media_test::request(port, scan_test::browse_request(id)).body;
  for (auto [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
    for (size_t at = 0; (at = body.find(from, at)) != std::string::npos; at += std::strlen(to))
      body.replace(at, std::strlen(from), to);
  static const std::regex object(R"re(<(?:container|item) id="([^"]*)"[^>]*>[\s\S]*?<dc:title>([^<]*)</dc:title>)re");
  std::map<std::string, std::string> out;
  for (std::sregex_iterator it(body.begin(), body.end(), object), end; it != end; ++it)
    out[(*it)[2]] = (*it)[1];
  return out;
}

// Titles below Container:UserFiles along path, joined by ","; "" while a
// step is missing.
std::string titles(uint16_t port, const std::vector<std::string> &path)
{
  std::string id = "Container:UserFiles";
  for (const std::string &step : path) {
    auto c = children(port, id);
    if (!c.count(step)) return "";
    id = c[step];
  }
  std::string out;
  for (auto &[title, child] : children(port, id)) out += (out.empty() ? "" : ",") + title;
  return out;
}

// The openings of the share folders themselves (a walk lists them) and
// the server's reads of the share list, as inotify reports them.
struct opens {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  std::map<int, int> folder;  // watch -> openings
  int list_wd = -1, list_reads = 0;
  ~opens() { close(fd); }
  int watch(const std::string &path)
  {
    int wd = inotify_add_watch(fd, path.c_str(), IN_OPEN);
    folder[wd] = 0;
    return wd;
  }
  void take()
  {
    alignas(inotify_event) char buf[8192];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
      for (ssize_t at = 0; at < n;) {
        const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
        at += ssize_t(sizeof(inotify_event) + e->len);
        if (!e->len && folder.count(e->wd)) folder[e->wd]++;
        if (e->wd == list_wd && e->len && !std::strcmp(e->name, "list")) list_reads++;
      }
  }
};

// The server sharing media (and other, when asked), its first scan done.
struct shares_run {
  tarvo_test::vennard_run run;
  std::string media = run.dir / "media", other = run.dir / "other", list = run.conf("sync/share/list");
  std::string list_text;
  opens seen;

  shares_run(uint16_t port, bool two) : run(port)
  {
    fs::create_directories(media + "/album");
    fs::create_directories(other);
    track_write(media + "/album/a.wav");
    track_write(other + "/o.wav");
    list_text = media + "\n" + (two ? other + "\n" : "");
    seen.list_wd = inotify_add_watch(seen.fd, run.conf("sync/share").c_str(), IN_CLOSE_NOWRITE);
    list_write();
  }
  std::string album() { return titles(run.upnp_port, {"media", "album"}); }
  // Puts the list in place whole, as the share actions do: a reader never
  // sees it cut short.
  void list_write()
  {
    tarvo_test::write_file(list + ".new", list_text);
    fs::rename(list + ".new", list);
  }
  // Puts the unchanged list in place again and waits for the server to
  // read it: it has then handled the mounts made before, and the walks
  // they led to.
  bool settled()
  {
    seen.take();
    int before = seen.list_reads;
    list_write();
    return tarvo_test::eventually([&] {
      seen.take();
      return seen.list_reads > before;
    });
  }
};

TEST(ShareMounts, MountsBesideAShareWalkNothing)
{
  if (!namespaces().empty()) GTEST_SKIP() << namespaces();
  shares_run r(31350, false);
  ASSERT_GT(r.run.pid, 0);
  std::string beside = r.run.dir / "beside";
  fs::create_directories(beside);
  ASSERT_TRUE(tarvo_test::eventually([&] { return r.album() == "a"; }));
  int media = r.seen.watch(r.media);
  for (int i = 0; i < 10; i++) {
    ASSERT_EQ(mount("tarvo-test", beside.c_str(), "tmpfs", 0, "size=64k"), 0) << strerror(errno);
    ASSERT_TRUE(r.settled());
    ASSERT_EQ(umount2(beside.c_str(), 0), 0);
    ASSERT_TRUE(r.settled());
  }
  EXPECT_EQ(r.seen.folder[media], 0) << "walks of the share";
  // A change in the share is walked all the same.
  track_write(r.media + "/album/b.wav");
  EXPECT_TRUE(tarvo_test::eventually([&] { return r.album() == "a,b"; }));
}

TEST(ShareMounts, AMountOnAFolderOfAShareShowsItsFilesUntilItGoesAndWalksNoOtherShare)
{
  if (!namespaces().empty()) GTEST_SKIP() << namespaces();
  shares_run r(31360, true);
  ASSERT_GT(r.run.pid, 0);
  ASSERT_TRUE(tarvo_test::eventually(
      [&] { return r.album() == "a" && titles(r.run.upnp_port, {"other"}) == "o"; }));
  int other = r.seen.watch(r.other);

  // A stick filled beside the shares, then mounted whole on a folder of one.
  std::string stick = r.run.dir / "stick", album = r.media + "/album";
  fs::create_directories(stick);
  ASSERT_EQ(mount("tarvo-test", stick.c_str(), "tmpfs", 0, "size=1m"), 0) << strerror(errno);
  fs::create_directories(stick + "/disc");
  for (const char *name : {"x.wav", "disc/y.wav"}) track_write(stick + "/" + name);
  ASSERT_EQ(mount(stick.c_str(), album.c_str(), nullptr, MS_BIND, nullptr), 0) << strerror(errno);
  EXPECT_TRUE(tarvo_test::eventually([&] {
    return r.album() == "disc,x" && titles(r.run.upnp_port, {"media", "album", "disc"}) == "y";
  }));
  ASSERT_EQ(umount2(album.c_str(), 0), 0);
  EXPECT_TRUE(tarvo_test::eventually([&] { return r.album() == "a"; }));
  ASSERT_TRUE(r.settled());
  EXPECT_EQ(r.seen.folder[other], 0) << "walks of the other share";
  umount2(stick.c_str(), MNT_DETACH);
}

}  // namespace
