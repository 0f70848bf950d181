// The media port's keep-awake lock on the login manager stand-in: a
// player's keep-alive connection holds it once for all its requests, and
// lets it go as it ends.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "logind_standin.h"
#include "media_test.h"
#include "tarvo_live.h"

namespace {

constexpr int kRequests = 8;

TEST(MediaAwake, RequestsOnOneKeepAliveConnectionAskForTheLockOnce)
{
  if (!media_test::private_net().empty()) GTEST_SKIP() << media_test::private_net();
  if (std::string why = tarvo_test::login_standin_problem(); !why.empty()) GTEST_SKIP() << why;
  tarvo_test::login_bus bus;
  ASSERT_TRUE(bus.up());
  tarvo_test::login_standin &logind = bus.logind;

  media_test::fixture f;
  std::string file = f.srv.data.dir / "a.mp3";
  tarvo_test::write_file(file, std::string(1000, 'a'));
  ASSERT_TRUE(f.start());
  std::atomic_ref<int32_t>(f.srv.s.suspend_transport).store(1);
  std::string path = f.res_path(f.create(
      "Container:UserFiles", "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>a</dc:title>"
                             "<upnp:class>object.item.audioItem.musicTrack</upnp:class><res protocolInfo=\"http-get:*:"
                             "audio/mpeg:*\" tarvo:filename=\"" + file + "\"></res></item>"));
  ASSERT_FALSE(path.empty());

  std::vector<std::string> seen;
  {
    media_test::client c(f.http_port);
    for (int i = 0; i < kRequests; i++) {
      ASSERT_TRUE(c.send("GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n\r\n"));
      media_test::client::answer a = c.read_answer();
      ASSERT_EQ(a.status(), "200 OK") << i;
    }
    // Each lock asked for is said before it is granted, so every one the
    // requests took is among the lines already written.
    logind.line("\n", 0, &seen);
  }
  int inhibits = 0;
  for (const std::string &l : seen) {
    EXPECT_EQ(l.rfind("released ", 0), std::string::npos) << "let go while the connection was open";
    inhibits += l == "inhibit tarvo idle block";
  }
  EXPECT_EQ(inhibits, 1);
  EXPECT_EQ(logind.line("released ", tarvo_test::kLiveMs), "released idle");
}

}  // namespace
