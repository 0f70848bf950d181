// The web administration program behind the device stack's real CGI
// runner: installed under the document root, started with the runner's
// bare environment, it finds its libraries and answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "device_test.h"
#include "helper_tollamy.h"

using namespace device_test;

namespace {

reply get(uint16_t port, const char *from, const std::string &query)
{
  int s = connect_to(port, from);
  if (s < 0) return {};
  send_all(s, "GET /admin/tollamy.cgi?" + query + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
  reply r = read_reply(s);
  close(s);
  return r;
}

}  // namespace

TEST(TollamyRunner, FreePassLoginAndNoSessionThroughTheRunner)
{
  device d;
  std::string admin = d.root / "admin";
  std::filesystem::create_directories(admin);
  tollamy_test::folder f(admin);
  // The installed program is the build's, by link: its RUNPATH is taken
  // from where the file really lies.
  std::filesystem::create_symlink(std::string(getenv("TARVO_BIN")) + "/conf/upnp_root/admin/tollamy.cgi",
                                  admin + "/tollamy.cgi");
  ASSERT_TRUE(d.start());

  reply r = get(d.port(), "127.0.0.1", "controller=tollamy_body&action=show&content=partial");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("Content-Type"), "application/xml; charset=UTF-8");
  std::string whole = "Content-Type: application/xml; charset=UTF-8\n\n" + r.body;
  EXPECT_NE(whole.find("<session_id>free-pass</session_id>"), std::string::npos) << r.body;
  EXPECT_EQ(whole.substr(0, whole.find("<body>")),
            tollamy_test::answer("tollamy_body", "show", "success", "").substr(0, whole.find("<body>")));

  // Another loopback address is another host: no free pass.
  r = get(d.port(), "127.0.0.2", "controller=tollamy_body&action=show&content=partial");
  EXPECT_EQ("Content-Type: application/xml; charset=UTF-8\n\n" + r.body,
            tollamy_test::answer("tollamy_body", "show", "no session", "<body>invalid session</body>"));
  r = get(d.port(), "127.0.0.2",
          "controller=tollamy_page_login&action=login&content=partial&tollamy_page_login_password=secret");
  EXPECT_NE(r.body.find("<state>success</state>"), std::string::npos) << r.body;
  EXPECT_EQ(f.sessions().size(), 1u);
}
