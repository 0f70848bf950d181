// The device's HTTP server: description, static contents, files under the
// document root, access control and request-line handling.
#include "device_test.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace device_test;

namespace {

std::string get(const std::string &path, const std::string &extra = "")
{
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extra + "\r\n";
}

TEST(DeviceHttp, ServesTheDescriptionOnAKeptConnection)
{
  device d;
  ASSERT_TRUE(d.start());
  int s = connect_to(d.port());
  ASSERT_GE(s, 0);
  // Blank lines before a request line are skipped.
  ASSERT_TRUE(send_all(s, "\r\n\r\nGET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  reply r = read_reply(s);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("CONTENT-TYPE"), "text/xml;charset=\"utf-8\"");
  EXPECT_EQ(r.header("CONNECTION"), "");
  EXPECT_EQ(r.body, description());
  ASSERT_TRUE(send_all(s, "HEAD / HTTP/1.0\r\n\r\n"));
  r = read_reply(s);
  close(s);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("CONNECTION"), "close");
  EXPECT_EQ(r.header("CONTENT-LENGTH"), std::to_string(description().size()));
  EXPECT_EQ(r.body, "");
}

TEST(DeviceHttp, StaticContentWithRangesAndReplacement)
{
  device d;
  ASSERT_EQ(tarvo_device_add_static_content(&d.ctx, "/icon.png", "image/png", "0123456789", 10), 1);
  // The first registration for a path is the one served.
  ASSERT_EQ(tarvo_device_add_static_content(&d.ctx, "/icon.png", "image/gif", "xx", 2), 1);
  ASSERT_TRUE(d.start());
  reply r = exchange(d.port(), get("/icon.png", "Range: bytes=2-5\r\n"));
  EXPECT_EQ(r.status, "206 partial content");
  EXPECT_EQ(r.header("CONTENT-RANGE"), "bytes 2-5/10");
  EXPECT_EQ(r.header("CONTENT-TYPE"), "image/png");
  EXPECT_EQ(r.body, "2345");
  // Exact paths only.
  EXPECT_EQ(exchange(d.port(), get("/icon.png/")).status, "404 file does not exist");

  ASSERT_EQ(tarvo_device_replace_static_content(&d.ctx, "/", "<new/>", 6), 1);
  r = exchange(d.port(), get("/"));
  EXPECT_EQ(r.body, "<new/>");
  EXPECT_EQ(r.header("CONTENT-TYPE"), "text/xml;charset=\"utf-8\"");
  EXPECT_EQ(tarvo_device_replace_static_content(&d.ctx, "/missing", "x", 1), 0);
}

TEST(DeviceHttp, ReplacingTheDescriptionWhileClientsFetchIt)
{
  device d;
  ASSERT_TRUE(d.start());
  const std::string a(200000, 'a'), b(100000, 'b');
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, fetched{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; i++)
    clients.emplace_back([&] {
      while (!done) {
        reply r = exchange(d.port(), get("/"));
        fetched++;
        if (r.body != description() && r.body != a && r.body != b) bad++;
      }
    });
  for (int i = 0; fetched < 40; i++) {
    const std::string &next = i % 2 ? a : b;
    ASSERT_EQ(tarvo_device_replace_static_content(&d.ctx, "/", next.data(), uint32_t(next.size())), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  done = true;
  for (auto &t : clients) t.join();
  EXPECT_EQ(bad, 0);
}

TEST(DeviceHttp, FilesUnderTheDocumentRoot)
{
  device d;
  std::filesystem::create_directories(d.root.path / "a" / "dir");
  tarvo_test::write_file(d.root / "a/b.txt", "hello world");
  tarvo_test::write_file(d.root / "a/noext", "plain");
  tarvo_test::write_file(d.root / "a/x+y.html", "plus");
  tarvo_test::write_file(d.root / ".hidden", "secret");
  const char *map[] = {"txt:text/x-test", ":application/x-none", nullptr};
  ASSERT_EQ(tarvo_device_set_mimetype(&d.ctx, const_cast<char *const *>(map)), 1);
  ASSERT_TRUE(d.start());

  reply r = exchange(d.port(), get("/a/b.txt"));
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("CONTENT-TYPE"), "text/x-test");
  EXPECT_EQ(r.body, "hello world");

  r = exchange(d.port(), get("/a//b.txt", "Range: bytes=-5\r\n"));
  EXPECT_EQ(r.status, "206 partial content");
  EXPECT_EQ(r.header("CONTENT-RANGE"), "bytes 6-10/11");
  EXPECT_EQ(r.body, "world");

  EXPECT_EQ(exchange(d.port(), get("/a/noext")).header("CONTENT-TYPE"), "application/x-none");
  r = exchange(d.port(), get("/a/x+y.html"));
  EXPECT_EQ(r.body, "plus");
  EXPECT_EQ(r.header("CONTENT-TYPE"), "text/html");
  EXPECT_EQ(exchange(d.port(), get("/a/x%2By.html")).body, "plus");
  EXPECT_EQ(exchange(d.port(), get("/a/x%2by.html")).body, "plus");

  for (const char *path : {"/a/dir", "/a/missing", "/a/../a/b.txt", "/a/%2e%2e/a/b.txt",
                           "/.hidden", "/a/%2F..%2F.hidden", "*"}) {
    r = exchange(d.port(), get(path));
    EXPECT_EQ(r.status, "404 file does not exist") << path;
    EXPECT_NE(r.body.find("404 file does not exist"), std::string::npos) << path;
  }
  r = exchange(d.port(), "HEAD /a/missing HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(r.status, "404 file does not exist");
  EXPECT_EQ(r.body, "");
}

struct access_seen {
  std::mutex mu;
  int calls = 0;
  uint8_t last[6] = {};
};

int refuse_remote(const uint8_t *remote, void *user)
{
  auto *seen = static_cast<access_seen *>(user);
  std::lock_guard<std::mutex> lock(seen->mu);
  std::copy(remote, remote + 6, seen->last);
  seen->calls++;
  return remote[3] == 1;  // only 127.0.0.1
}

TEST(DeviceHttp, AccessControlRefusesWithoutReply)
{
  device d;
  access_seen seen;
  tarvo_device_set_access_control_handler(&d.ctx, refuse_remote, &seen);
  ASSERT_TRUE(d.start());
  int s = connect_to(d.port(), "127.0.0.2");
  ASSERT_GE(s, 0);
  send_all(s, get("/"));
  EXPECT_EQ(read_all(s, 5000), "");
  sockaddr_in local{};
  socklen_t len = sizeof local;
  getsockname(s, reinterpret_cast<sockaddr *>(&local), &len);
  close(s);
  {
    std::lock_guard<std::mutex> lock(seen.mu);
    EXPECT_EQ(seen.last[0], 127);
    EXPECT_EQ(seen.last[3], 2);
    uint16_t port;
    std::memcpy(&port, seen.last + 4, 2);
    EXPECT_EQ(port, ntohs(local.sin_port));
  }
  EXPECT_EQ(exchange(d.port(), get("/")).status, "200 OK");
  std::lock_guard<std::mutex> lock(seen.mu);
  EXPECT_EQ(seen.calls, 2);
}

TEST(DeviceHttp, RequestLinesAndMethods)
{
  device d;
  ASSERT_TRUE(d.start());
  reply r = exchange(d.port(), "DELETE / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(r.status, "501 method not implemented");
  EXPECT_EQ(r.header("CONNECTION"), "close");
  EXPECT_EQ(exchange(d.port(), "GET a:b HTTP/1.1\r\n\r\n").status, "400 bad request");
  // A foreign protocol gets no answer at all.
  int s = connect_to(d.port());
  send_all(s, "GET / ICY/1.0\r\n\r\n");
  EXPECT_EQ(read_all(s, 5000), "");
  close(s);
}

TEST(DeviceHttp, StartSettingsAndFailures)
{
  tarvo_device_ctx *ctx = nullptr;
  tarvo_device_disable_ssdp(&ctx);
  // A description that does not parse fails the start and frees the context.
  EXPECT_EQ(tarvo_device_start(&ctx, nullptr, 0, nullptr, "<root", 0, nullptr), 0);
  EXPECT_EQ(ctx, nullptr);

  device d;
  ASSERT_TRUE(d.start());
  EXPECT_EQ(d.ctx->max_age, 1800u);
  tarvo_device_ctx *other = nullptr;
  tarvo_device_disable_ssdp(&other);
  std::string xml = description();
  // The port is taken.
  EXPECT_EQ(tarvo_device_start(&other, nullptr, d.port(), nullptr, xml.c_str(), 59, nullptr), 0);
  EXPECT_EQ(other, nullptr);
  tarvo_device_disable_ssdp(&other);
  ASSERT_EQ(tarvo_device_start(&other, nullptr, 0, nullptr, xml.c_str(), 59, nullptr), 1);
  EXPECT_EQ(other->max_age, 60u);
  tarvo_device_end(&other);
  EXPECT_EQ(other, nullptr);
}

}  // namespace
