// Neighbours that hold their share of the media and device ports with
// silent and trickling connections, reopening each one the server closes,
// must leave a fourth address served at once on both ports.
#include <vennard/vennard_limits.h>

#include <gtest/gtest.h>

#include <tarvo_device/device_limits.h>
#include <tarvo_util/sys_file.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "media_test.h"

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A non-blocking connection from `from` to 127.0.0.1:port; -1 on failure.
int open_from(uint16_t port, const char *from)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, from, &a.sin_addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  a.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  return fd;
}

// One neighbour: `share` connections to each port, every other one
// trickling a request a byte at a time, the rest silent; each that the
// server ends (a close, or a 503 before it) is opened again.
struct neighbour {
  const char *from;
  std::vector<uint16_t> ports;
  std::vector<uint32_t> shares;
  std::atomic<bool> stop{false};
  std::atomic<int> ended{0};
  std::thread t;

  void run()
  {
    const std::string trickle = "GET /x HTTP/1.1\r\nHOST: 127.0.0.1\r\n\r\n";
    struct conn {
      uint16_t port;
      int fd;
      bool trickles;
      size_t sent;
    };
    std::vector<conn> conns;
    for (size_t p = 0; p < ports.size(); p++)
      for (uint32_t i = 0; i < shares[p]; i++) conns.push_back({ports[p], open_from(ports[p], from), i % 2 == 1, 0});
    while (!stop) {
      for (conn &c : conns) {
        pollfd pfd{c.fd, POLLIN, 0};
        char buf[512];
        if (c.fd < 0 || poll(&pfd, 1, 0) == 1) {
          if (c.fd >= 0) {
            (void)!recv(c.fd, buf, sizeof buf, 0);
            close(c.fd);
            ended++;
          }
          c = {c.port, open_from(c.port, from), c.trickles, 0};
        } else if (c.trickles && c.sent < trickle.size() &&
                   send(c.fd, trickle.data() + c.sent, 1, MSG_NOSIGNAL) == 1) {
          c.sent++;
        }
      }
      std::this_thread::sleep_for(milliseconds(250));
    }
    for (conn &c : conns)
      if (c.fd >= 0) close(c.fd);
  }
};

std::string item(const std::string &file)
{
  return "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>a</dc:title>"
         "<upnp:class>object.item.audioItem.musicTrack</upnp:class><res protocolInfo=\"http-get:*:audio/mpeg:*\" "
         "tarvo:filename=\"" + file + "\"></res></item>";
}

TEST(MediaFlood, NeighboursHoldingTheirShareLeaveAFourthServedOnBothPorts)
{
  if (!media_test::private_net().empty()) GTEST_SKIP() << media_test::private_net();
  media_test::fixture f;
  std::string file = f.srv.data.dir / "a.mp3";
  tarvo_test::write_file(file, std::string(1000, 'a'));
  ASSERT_TRUE(f.start());
  std::string path = f.res_path(f.create("Container:UserFiles", item(file)));
  ASSERT_FALSE(path.empty());
  const std::string get = "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nConnection: close\r\n\r\n";
  const std::vector<std::pair<std::string, std::string>> browse = {
      {"ObjectID", "0"}, {"BrowseFlag", "BrowseMetadata"}, {"Filter", "*"},
      {"StartingIndex", "0"}, {"RequestedCount", "0"}, {"SortCriteria", ""}};

  neighbour n[3];
  const char *froms[] = {"127.0.0.3", "127.0.0.4", "127.0.0.5"};
  for (int i = 0; i < 3; i++) {
    n[i].from = froms[i];
    n[i].ports = {f.http_port, f.upnp_port};
    n[i].shares = {MEDIA_HTTP_CONNS_PER_ADDRESS, DEVICE_CONNS_PER_CLIENT_MAX};
    n[i].t = std::thread(&neighbour::run, &n[i]);
  }
  // Long enough for every connection of the flood to reach its header's
  // bound and be opened again; TARVO_TEST_FLOOD_SECONDS runs it longer.
  const char *seconds = std::getenv("TARVO_TEST_FLOOD_SECONDS");
  auto end = clock_type::now() + (seconds ? milliseconds(1000 * std::atoi(seconds)) : milliseconds(4500));
  clock_type::duration worst_media{}, worst_device{};
  int probes = 0, media_ok = 0, device_ok = 0;
  std::this_thread::sleep_for(milliseconds(300));
  while (clock_type::now() < end) {
    auto t0 = clock_type::now();
    media_ok += media_test::request(f.http_port, get, media_test::kRemote).status() == "200 OK";
    auto t1 = clock_type::now();
    device_ok += f.action("Browse", browse, media_test::kRemote).code == 0;
    auto t2 = clock_type::now();
    worst_media = std::max(worst_media, t1 - t0);
    worst_device = std::max(worst_device, t2 - t1);
    probes++;
    std::this_thread::sleep_for(milliseconds(50));
  }
  int ended = 0;
  for (auto &x : n) {
    x.stop = true;
    x.t.join();
    ended += x.ended;
  }
  EXPECT_EQ(media_ok, probes);
  EXPECT_EQ(device_ok, probes);
  EXPECT_LT(worst_media, milliseconds(100));
  EXPECT_LT(worst_device, milliseconds(100));
  // Silent and trickling connections are closed at their header's bound,
  // far sooner than the long input timeout.
  EXPECT_GE(ended, int(3 * (MEDIA_HTTP_CONNS_PER_ADDRESS + DEVICE_CONNS_PER_CLIENT_MAX)));
  auto ms = [](clock_type::duration d) { return (long long)std::chrono::duration_cast<milliseconds>(d).count(); };
  std::printf("flood: %d probes, media %d ok (worst %lld ms), device %d ok (worst %lld ms), %d flood ends\n", probes,
              media_ok, ms(worst_media), device_ok, ms(worst_device), ended);
}

}  // namespace
