// A full data disk (a small tmpfs as the data folder) must stop nobody:
// Browse, media and a client the server has never seen are answered,
// data.xml stays as it was until space returns and is saved soon after,
// and each failure is logged once for the spell, not per connection.
#include <gtest/gtest.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_log.h>
#include <vennard/vennard_limits.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "media_test.h"
#include "tarvo_live.h"

namespace {

using std::chrono::milliseconds;

size_t count(const std::string &text, const std::string &what)
{
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

std::string item(const std::string &title, const std::string &file)
{
  return "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>" + title +
         "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class><res protocolInfo=\"http-get:*:"
         "audio/mpeg:*\" tarvo:filename=\"" + file + "\"></res></item>";
}

TEST(FullDisk, PlayersAreServedAndTheContentTreeKeptUntilSpaceReturns)
{
  // The mount namespace first: it cannot be entered once threads run.
  tarvo_test::scratch_dir logs;
  auto disk = std::make_unique<tarvo_test::small_tmpfs>(4 << 20);
  if (!disk->problem.empty()) GTEST_SKIP() << disk->problem;
  if (!media_test::private_net().empty()) GTEST_SKIP() << media_test::private_net();
  std::string log = logs / "log";
  setenv("SYS_LOG_LEVEL", "5", 1);
  setenv("SYS_LOG_OUTPUT", log.c_str(), 1);
  sys_log_init();
  setenv("TMPDIR", disk->path.c_str(), 1);
  media_test::fixture f;
  unsetenv("TMPDIR");
  std::string file = f.srv.data.dir / "a.mp3";
  tarvo_test::write_file(file, std::string(1000, 'a'));
  ASSERT_TRUE(f.start());
  std::string path = f.res_path(f.create("Container:UserFiles", item("before", file)));
  ASSERT_FALSE(path.empty());
  const std::string get = "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nConnection: close\r\n\r\n";
  const std::vector<std::pair<std::string, std::string>> browse = {
      {"ObjectID", "Container:UserFiles"}, {"BrowseFlag", "BrowseDirectChildren"}, {"Filter", "*"},
      {"StartingIndex", "0"}, {"RequestedCount", "0"}, {"SortCriteria", ""}};
  // The remote client is known, and its file due for a refresh.
  ASSERT_EQ(f.action("Browse", browse, media_test::kRemote).code, 0u);
  std::string allow = f.srv.data.conf + "/access/allow/02-00-00-00-00-02";
  ASSERT_TRUE(f.srv.data.exists("access/allow/02-00-00-00-00-02"));
  const int64_t old = 946684800;
  ASSERT_TRUE(sys_file_utime(allow.c_str(), &old, nullptr));
  std::string data = f.srv.data.conf + "/data.xml", saved;
  ASSERT_TRUE(tarvo_test::eventually([&] { return (saved = tarvo_test::read_file(data)).find(">before<") != std::string::npos; }));

  ASSERT_TRUE(disk->fill());
  ASSERT_FALSE(f.create("Container:UserFiles", item("during", file)).empty());
  auto logged = [&](const char *what) { return count(tarvo_test::read_file(log), what) != 0; };
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(f.action("Browse", browse, media_test::kRemote).code, 0u) << i;
    EXPECT_EQ(media_test::request(f.http_port, get, media_test::kRemote).status(), "200 OK") << i;
    // A client never seen before, under the default "allow".
    EXPECT_EQ(media_test::request(f.http_port, get, "127.0.0.3").status(), "200 OK") << i;
  }
  EXPECT_TRUE(tarvo_test::eventually([&] { return logged("cannot be saved"); }));
  EXPECT_TRUE(logged("cannot be written"));
  // The thing under test: the saves retried meanwhile log nothing more.
  std::this_thread::sleep_for(milliseconds(3 * CONTENT_DB_SAVE_PERIOD_MS));
  EXPECT_EQ(tarvo_test::read_file(data), saved);
  EXPECT_FALSE(f.srv.data.exists("access/allow/02-00-00-00-00-03"));

  disk->free_space();
  EXPECT_TRUE(tarvo_test::eventually([&] { return tarvo_test::read_file(data).find(">during<") != std::string::npos; }));
  EXPECT_EQ(media_test::request(f.http_port, get, "127.0.0.3").status(), "200 OK");
  EXPECT_TRUE(f.srv.data.exists("access/allow/02-00-00-00-00-03"));
  f.stop();
  std::string text = tarvo_test::read_file(log);
  EXPECT_EQ(count(text, "cannot be saved"), 1u) << text;
  EXPECT_EQ(count(text, "cannot be written"), 1u) << text;
}

}  // namespace
