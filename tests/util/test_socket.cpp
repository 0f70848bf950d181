// Sockets, the socket buffer, socket sets, addresses and the ARP cache.
#include <tarvo_util/sys_socket.h>

#include "../../util/src/sys_socket_impl.h"
#include "net_test.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/utsname.h>
#include <sys/wait.h>

using net_test::ms_since;
using net_test::tcp_pair;
using clk = std::chrono::steady_clock;

namespace {

std::string ip_text(const uint8_t *ip)
{
  char b[16];
  return std::string(b, sys_ip4_fmt(b, ip));
}

std::vector<std::string> addresses(const sys_memalloc_rec &ma)
{
  std::vector<std::string> r;
  for (uint32_t i = 0; i + 4 <= ma.len; i += 4) r.push_back(ip_text(ma.buf + i));
  return r;
}

}  // namespace

TEST(Address, ScanAndFormat)
{
  uint8_t ip[4] = {9, 9, 9, 9};
  EXPECT_EQ(sys_ip4_scan("192.168.0.1", ip), 11u);
  EXPECT_EQ(ip_text(ip), "192.168.0.1");
  EXPECT_EQ(sys_ip4_scan("10.0.0.2:8080", ip), 8u);
  EXPECT_EQ(ip_text(ip), "10.0.0.2");
  EXPECT_EQ(sys_ip4_fmt(nullptr, ip), 8u);
  // Failures leave the address alone.
  for (const char *bad : {"1.2.3", "1.2.3.", ".1.2.3", "256.1.1.1", "1.2.3.300", "4294967297.1.1.1",
                          "99999999999999999999999.1.1.1", "a.b.c.d", ""})
    EXPECT_EQ(sys_ip4_scan(bad, ip), 0u) << bad;
  EXPECT_EQ(ip_text(ip), "10.0.0.2");
  EXPECT_EQ(sys_ip4_scan("255.255.255.255", ip), 15u);

  uint8_t mac[6];
  EXPECT_EQ(sys_mac_scan("00:1A:2b:3c:4D:ff", mac), 17u);
  char b[17];
  EXPECT_EQ(sys_mac_fmt(b, mac), 17u);
  EXPECT_EQ(std::string(b, 17), "00:1a:2b:3c:4d:ff");
  EXPECT_EQ(sys_mac_scan("100:1a:2b:3c:4d:ff", mac), 0u);
  EXPECT_EQ(sys_mac_scan("00:1a:2b:3c:4d", mac), 0u);
  EXPECT_EQ(sys_mac_scan("00-1a-2b-3c-4d-ff", mac), 0u);
  EXPECT_EQ(sys_mac_fmt(nullptr, mac), 17u);
}

namespace {

// A synthetic interface list, as getifaddrs would give it.
struct fake_ifs {
  std::vector<ifaddrs> ifs;
  std::vector<sockaddr_in> addrs;
  std::vector<std::string> names;
  void add(const char *name, const char *ip, unsigned flags, int family = AF_INET)
  {
    names.emplace_back(name);
    sockaddr_in a{};
    a.sin_family = sa_family_t(family);
    inet_pton(AF_INET, ip, &a.sin_addr);
    addrs.push_back(a);
    ifaddrs e{};
    e.ifa_flags = flags;
    ifs.push_back(e);
  }
  const ifaddrs *list()
  {
    for (size_t i = 0; i < ifs.size(); i++) {
      ifs[i].ifa_name = names[i].data();
      ifs[i].ifa_addr = reinterpret_cast<sockaddr *>(&addrs[i]);
      ifs[i].ifa_next = i + 1 < ifs.size() ? &ifs[i + 1] : nullptr;
    }
    return ifs.empty() ? nullptr : ifs.data();
  }
};

std::vector<std::string> list_of(fake_ifs &f, char *const *disabled = nullptr)
{
  sys_memalloc_rec ma{};
  EXPECT_TRUE(tarvo_impl::ip4_list_from(f.list(), &ma, disabled));
  auto r = addresses(ma);
  sys_memalloc_free(&ma);
  return r;
}

}  // namespace

TEST(AddressList, TakesUpNonLoopbackInOrderAndLoopbackLast)
{
  fake_ifs f;
  f.add("lo", "127.0.0.1", IFF_UP | IFF_LOOPBACK);
  f.add("eth0", "192.168.0.2", IFF_UP);
  f.add("eth1", "10.0.0.2", 0);            // down
  f.add("eth2", "0.0.0.0", IFF_UP);        // no address
  f.add("eth3", "10.1.0.2", IFF_UP, AF_INET6);
  f.add("wlan0", "172.16.0.9", IFF_UP | IFF_RUNNING);
  EXPECT_EQ(list_of(f), (std::vector<std::string>{"192.168.0.2", "172.16.0.9", "127.0.0.1"}));

  char e1[] = "wlan0", e2[] = " 192.168.0.2\r", *dis[] = {e1, e2, nullptr};
  EXPECT_EQ(list_of(f, dis), std::vector<std::string>{"127.0.0.1"});
  char *none[] = {nullptr};
  EXPECT_EQ(list_of(f, none).size(), 3u);

  fake_ifs empty;
  EXPECT_EQ(list_of(empty), std::vector<std::string>{"127.0.0.1"});

  // Only the first ten IPv4 entries are looked at.
  fake_ifs many;
  for (int i = 1; i <= 12; i++) many.add("eth", ("10.0.0." + std::to_string(i)).c_str(), IFF_UP);
  auto l = list_of(many);
  ASSERT_EQ(l.size(), 11u);
  EXPECT_EQ(l[9], "10.0.0.10");
}

// In a network namespace of its own the machine has only a loopback
// interface: the list is 127.0.0.1 alone.  In a child, so that the other
// tests keep the machine's network.
TEST(AddressList, RealListInEmptyNamespace)
{
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!tarvo_test::private_net().empty()) _exit(77);
    sys_memalloc_rec ma{};
    uint8_t ip[4] = {};
    bool ok = sys_ip4_list(&ma) && ma.len == 4 && !std::memcmp(ma.buf, sys_ip4_loopback(), 4) &&
              sys_ip4_get(ip) && !std::memcmp(ip, sys_ip4_loopback(), 4);
    _exit(ok ? 0 : 1);
  }
  int st;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  if (WEXITSTATUS(st) == 77) GTEST_SKIP() << "network namespaces are not allowed here";
  EXPECT_EQ(WEXITSTATUS(st), 0);
}

TEST(Arp, CompleteEntriesFromTheCacheFile)
{
  tarvo_test::scratch_dir d;
  std::string arp =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "192.168.0.7      0x1         0x0         00:00:00:00:00:00     *        eth0\n"
      "192.168.0.8      0x1         0x2         aa:bb:cc:dd:ee:01     *        eth0\n"
      "192.168.0.9      0x20        0x2         80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0a:bc:de *  ib0\n"
      "192.168.0.10     0x1         0x6         aa:bb:cc:dd:ee:02     *        eth0\n" +
      std::string(SYS_ARP_LINE_MAX + 10, 'x') + " 192.168.0.11 0x1 0x2 aa:bb:cc:dd:ee:03 * eth0\n" +
      "192.168.0.8      0x1         0x2         aa:bb:cc:dd:ee:04     *        eth1\n";
  tarvo_test::write_file(d / "arp", arp);
  setenv("TARVO_ARP_FILE", (d / "arp").c_str(), 1);

  auto mac_of = [](const char *ip_s, std::string *out) {
    uint8_t ip[4], mac[6];
    sys_ip4_scan(ip_s, ip);
    if (!sys_mac_from_ip_cache4(mac, ip)) return false;
    char b[17];
    *out = std::string(b, sys_mac_fmt(b, mac));
    return true;
  };
  std::string m;
  EXPECT_FALSE(mac_of("192.168.0.7", &m));  // incomplete
  ASSERT_TRUE(mac_of("192.168.0.8", &m));   // the first entry wins
  EXPECT_EQ(m, "aa:bb:cc:dd:ee:01");
  EXPECT_FALSE(mac_of("192.168.0.9", &m));  // not a 6-byte address
  ASSERT_TRUE(mac_of("192.168.0.10", &m));  // complete with other flags
  EXPECT_EQ(m, "aa:bb:cc:dd:ee:02");
  EXPECT_FALSE(mac_of("192.168.0.11", &m)); // tail of an over-long line
  EXPECT_FALSE(mac_of("192.168.0.99", &m));

  uint8_t mac[6], ip[4];
  sys_mac_scan("aa:bb:cc:dd:ee:04", mac);
  ASSERT_TRUE(sys_mac_to_ip_cache4(mac, ip));
  EXPECT_EQ(ip_text(ip), "192.168.0.8");
  sys_mac_scan("00:00:00:00:00:00", mac);
  EXPECT_FALSE(sys_mac_to_ip_cache4(mac, ip));

  setenv("TARVO_ARP_FILE", (d / "missing").c_str(), 1);
  EXPECT_FALSE(mac_of("192.168.0.8", &m));
  unsetenv("TARVO_ARP_FILE");
}

TEST(Platform, InitAndProductToken)
{
  EXPECT_TRUE(platform_init());
  EXPECT_TRUE(platform_init());
  struct sigaction sa;
  sigaction(SIGPIPE, nullptr, &sa);
  EXPECT_EQ(sa.sa_handler, SIG_IGN);

  utsname u;
  uname(&u);
  unsigned major = 0, minor = 0;
  sscanf(u.release, "%u.%u", &major, &minor);
  char *s;
  ASSERT_TRUE(platform_server_name(&s));
  EXPECT_EQ(std::string(s), "Windows/" + std::to_string(major) + "." + std::to_string(minor) +
                                " UPnP/1.0 Kelmar Tarvo UPnP/1.0");
  sys_alloc_free(s);

  sys_memalloc_rec ma{};
  ASSERT_TRUE(sys_host_ip4("10.1.2.3", &ma));
  EXPECT_EQ(addresses(ma), std::vector<std::string>{"10.1.2.3"});
  EXPECT_FALSE(sys_host_ip4("no-such-host.invalid", &ma));
  EXPECT_EQ(ma.len, 0u);
  sys_memalloc_free(&ma);
}

TEST(Socket, CloseOnExecWouldBlockAndNoSigpipe)
{
  tcp_pair t;
  ASSERT_TRUE(t.ok());
  uint8_t ip[4];
  uint16_t lport, rport;
  ASSERT_TRUE(sys_socket_local4(t.b, ip, &lport) && sys_socket_remote4(t.a, ip, &rport));
  EXPECT_EQ(lport, rport);
  EXPECT_EQ(ip_text(ip), "127.0.0.1");
  EXPECT_NE(fcntl(t.a, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(fcntl(t.b, F_GETFD) & FD_CLOEXEC, 0);

  // Non-blocking: nothing to read is "would block"; the peer's close is 0.
  char buf[16];
  uint32_t n;
  ASSERT_TRUE(sys_socket_ndelay_on(t.a));
  EXPECT_FALSE(sys_socket_recv(t.a, buf, sizeof buf, &n));
  EXPECT_TRUE(sys_socket_would_block());
  EXPECT_FALSE(sys_socket_read_wait(t.a, 50));
  ASSERT_TRUE(sys_socket_shutdown(t.b, 1));
  ASSERT_TRUE(sys_socket_read_wait(t.a, 2000) && sys_socket_recv(t.a, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);

  // A send to a peer that has gone fails instead of raising SIGPIPE.
  sys_socket_close(t.a);
  t.a = -1;
  std::string big(1 << 20, 'x');
  signal(SIGPIPE, SIG_DFL);
  EXPECT_FALSE(sys_socket_allsend(t.b, big.data(), uint32_t(big.size())));
  platform_init();

}

// A server that answers before it has read the whole request and then
// closes must not reset the connection under its own answer.
TEST(Socket, LingerKeepsTheAnswerOfAnUnreadRequest)
{
  tcp_pair t;
  ASSERT_TRUE(t.ok());
  std::string body(4 << 20, 'x'), answer;
  std::thread client([&] {
    sys_socket_allsend(t.b, body.data(), uint32_t(body.size()));
    answer = net_test::recv_all(t.b);
    sys_socket_close(t.b);
    t.b = -1;
  });
  char buf[65536];
  uint32_t n;
  ASSERT_TRUE(sys_socket_read_wait(t.a, 2000) && sys_socket_recv(t.a, buf, sizeof buf, &n));
  net_test::send_all(t.a, "413 too large");
  auto t0 = std::chrono::steady_clock::now();
  sys_socket_linger(t.a);
  // Not a speed: the peer's close ends the wait before its longest.
  EXPECT_LT(ms_since(t0), SYS_SOCKET_LINGER_MS);
  sys_socket_close(t.a);
  t.a = -1;
  client.join();
  EXPECT_EQ(answer, "413 too large");

  // Nothing waiting: no wait at all.
  tcp_pair idle;
  ASSERT_TRUE(idle.ok());
  t0 = std::chrono::steady_clock::now();
  sys_socket_linger(idle.a);
  EXPECT_LT(ms_since(t0), SYS_SOCKET_LINGER_MS);
}

TEST(SocketSet, KeepsOneEntryAndReportsReadySockets)
{
  tcp_pair t1, t2;
  ASSERT_TRUE(t1.ok() && t2.ok());
  sys_select_rec rd, wr;
  sys_select_init(&rd);
  sys_select_set(&rd, t1.a);
  sys_select_set(&rd, t1.a);
  sys_select_set(&rd, t2.a);
  EXPECT_EQ(rd.count, 2u);
  EXPECT_TRUE(sys_select_is_set(&rd, t2.a));
  EXPECT_FALSE(sys_select_is_set(&rd, t2.b));
  for (int i = 0; i < SYS_SELECT_MAX + 5; i++) sys_select_set(&rd, 1000 + i);
  EXPECT_EQ(rd.count, uint32_t(SYS_SELECT_MAX));

  sys_select_init(&rd);
  sys_select_set(&rd, t1.a);
  sys_select_set(&rd, t2.a);
  sys_select_init(&wr);
  sys_select_set(&wr, t1.a);
  net_test::send_all(t2.b, "x");
  uint32_t n = 0;
  ASSERT_TRUE(sys_select_check(&rd, &wr, nullptr, 2000, &n));
  EXPECT_EQ(n, 2u);
  ASSERT_EQ(rd.count, 1u);
  EXPECT_EQ(rd.fd[0], t2.a);
  EXPECT_EQ(wr.count, 1u);

  sys_select_init(&rd);
  sys_select_set(&rd, t1.a);
  auto t0 = clk::now();
  ASSERT_TRUE(sys_select_check(&rd, nullptr, nullptr, 100, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(rd.count, 0u);
  EXPECT_GE(ms_since(t0), 90);
}

TEST(SocketBuffer, TimeoutIsTheSumOfItsSlices)
{
  tcp_pair t;
  ASSERT_TRUE(t.ok());
  sys_socket_ndelay_on(t.a);
  char store[64], buf[8];
  uint32_t got;
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, t.a, store, sizeof store, 1200);
  auto t0 = clk::now();
  EXPECT_FALSE(sys_socketbuffer_get(&sb, buf, 1, &got));
  long long ms = ms_since(t0);
  EXPECT_TRUE(sys_socketbuffer_is_timeout(&sb));
  EXPECT_FALSE(sys_socketbuffer_is_canceled(&sb));
  EXPECT_GE(ms, 1150);
  EXPECT_LT(ms, tarvo_test::kLiveMs);

  sys_socketbuffer_set_timeout(&sb, 0);
  t0 = clk::now();
  EXPECT_FALSE(sys_socketbuffer_get(&sb, buf, 1, &got));
  EXPECT_TRUE(sys_socketbuffer_is_timeout(&sb));
  EXPECT_LT(ms_since(t0), tarvo_test::kLiveMs);  // no timeout is no wait, not one without end

  // A later wait that succeeds clears the flag.
  sys_socketbuffer_set_timeout(&sb, 2000);
  std::thread w([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    net_test::send_all(t.b, "z");
  });
  ASSERT_TRUE(sys_socketbuffer_get(&sb, buf, 1, &got));
  w.join();
  EXPECT_EQ(got, 1u);
  EXPECT_FALSE(sys_socketbuffer_is_timeout(&sb));
}

TEST(SocketBuffer, CancelFromAnotherThreadIsSeenWithinASlice)
{
  tcp_pair t;
  ASSERT_TRUE(t.ok());
  sys_socket_ndelay_on(t.a);
  char store[64], buf[8];
  uint32_t got;
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, t.a, store, sizeof store, 30000);
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sys_socketbuffer_set_cancel(&sb, 1);
  });
  auto t0 = clk::now();
  EXPECT_FALSE(sys_socketbuffer_get(&sb, buf, 1, &got));
  long long ms = ms_since(t0);
  other.join();
  EXPECT_TRUE(sys_socketbuffer_is_canceled(&sb));
  EXPECT_FALSE(sys_socketbuffer_is_timeout(&sb));
  EXPECT_LT(ms, 30000);  // not waited out
  // A cancelled buffer refuses at once, writing too, until cleared.
  EXPECT_FALSE(sys_socketbuffer_putflush(&sb, "x", 1));
  sys_socketbuffer_set_cancel(&sb, 0);
  EXPECT_TRUE(sys_socketbuffer_putflush(&sb, "x", 1));
}

TEST(SocketBuffer, WritesArriveInOrder)
{
  tcp_pair t;
  ASSERT_TRUE(t.ok());
  sys_socket_ndelay_on(t.a);
  char store[16];
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, t.a, store, sizeof store, 5000);
  std::string big;
  for (int i = 0; i < 20000; i++) big += char('a' + i % 26);
  std::string expect;
  auto put = [&](const std::string &s, int (*fn)(sys_socketbuffer_rec *, const void *, uint32_t)) {
    ASSERT_TRUE(fn(&sb, s.data(), uint32_t(s.size())));
    expect += s;
  };
  std::string got;
  std::thread reader([&] { got = net_test::recv_all(t.b); });
  put("abc", sys_socketbuffer_put);
  EXPECT_EQ(sb.p, 3u);
  put(big, sys_socketbuffer_put);
  put("0123456789", sys_socketbuffer_putalign);
  put(big, sys_socketbuffer_putalign);
  EXPECT_LE(sb.p, 16u);
  put("xyz", sys_socketbuffer_put);
  put(big, sys_socketbuffer_putflush);
  EXPECT_EQ(sb.p, 0u);
  ASSERT_TRUE(sys_socketbuffer_puts(&sb, "tail") && sys_socketbuffer_putsalign(&sb, "+") &&
              sys_socketbuffer_putsflush(&sb, "!") && sys_socketbuffer_flush(&sb));
  expect += "tail+!";
  sys_socket_shutdown(t.a, 1);
  reader.join();
  EXPECT_EQ(got.size(), expect.size());
  EXPECT_TRUE(got == expect);
}

TEST(SocketBuffer, ReadsLinesAndBlocks)
{
  tcp_pair t;
  ASSERT_TRUE(t.ok());
  sys_socket_ndelay_on(t.a);
  char store[8];
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, t.a, store, sizeof store, 2000);
  net_test::send_all(t.b, "first line\nsecond\nabcdefghijklmnopqrstuvwxyz-rest");
  sys_stralloc_rec sa{};
  int got_line;
  ASSERT_TRUE(sys_socketbuffer_getln(&sb, &sa, &got_line, '\n'));
  EXPECT_EQ(got_line, 1);
  EXPECT_EQ(std::string(sa.buf, sa.len), "first line\n");
  ASSERT_TRUE(sys_socketbuffer_getln(&sb, &sa, &got_line, '\n'));
  EXPECT_EQ(std::string(sa.buf, sa.len), "second\n");
  EXPECT_EQ(sb.n + sb.p, 8u);

  char buf[64];
  uint32_t got;
  ASSERT_TRUE(sys_socketbuffer_get(&sb, buf, 3, &got));
  std::string r(buf, got);
  while (r.size() < 26) {
    ASSERT_TRUE(sys_socketbuffer_bget(&sb, buf, 64, &got));
    ASSERT_GT(got, 0u);
    EXPECT_LE(got, 8u);
    r.append(buf, got);
  }
  EXPECT_EQ(r.substr(0, 26), "abcdefghijklmnopqrstuvwxyz");
  sys_socket_close(t.b);
  t.b = -1;
  ASSERT_TRUE(sys_socketbuffer_getln(&sb, &sa, &got_line, '\n'));
  EXPECT_EQ(got_line, 0);
  EXPECT_EQ(r + std::string(sa.buf, sa.len), "abcdefghijklmnopqrstuvwxyz-rest");
  uint32_t avail = 9;
  ASSERT_TRUE(sys_socketbuffer_feed(&sb, &avail));
  EXPECT_EQ(avail, 0u);
  ASSERT_TRUE(sys_socketbuffer_get(&sb, buf, 64, &got));
  EXPECT_EQ(got, 0u);
  sys_stralloc_free(&sa);
}

TEST(SocketBuffer, LineReadingIsBounded)
{
  tcp_pair t;
  ASSERT_TRUE(t.ok());
  sys_socket_ndelay_on(t.a);
  char store[4096];
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, t.a, store, sizeof store, 2000);
  std::thread w([&] {
    std::string s(SYS_SOCKET_LINE_MAX + 10, 'a');
    sys_socket_allsend(t.b, s.data(), uint32_t(s.size()));
  });
  sys_stralloc_rec sa{};
  int got_line;
  EXPECT_FALSE(sys_socketbuffer_getln(&sb, &sa, &got_line, '\n'));
  EXPECT_LE(sa.len, uint32_t(SYS_SOCKET_LINE_MAX));
  w.join();
  sys_stralloc_free(&sa);
}

TEST(SendFile, SendsTheRangeAndFallsBackWithoutSendfile)
{
  tarvo_test::scratch_dir d;
  std::string data;
  for (int i = 0; i < 100000; i++) data += char(i * 7);
  tarvo_test::write_file(d / "f", data);
  int fd = open((d / "f").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);

  auto run = [&](int file, int64_t off, int64_t len, int64_t *sent) {
    tcp_pair t;
    EXPECT_TRUE(t.ok());
    sys_socket_ndelay_on(t.a);
    std::string got;
    std::thread r([&] { got = net_test::recv_all(t.b); });
    EXPECT_TRUE(sys_socket_sendfile(t.a, file, off, len, sent));
    EXPECT_NE(fcntl(t.a, F_GETFL) & O_NONBLOCK, 0);  // left non-blocking
    sys_socket_shutdown(t.a, 2);
    r.join();
    return got;
  };
  int64_t sent;
  EXPECT_EQ(run(fd, 10, 70000, &sent), data.substr(10, 70000));
  EXPECT_EQ(sent, 70000);
  // Offset 0 goes on from the file's position; past the end is the rest.
  EXPECT_EQ(run(fd, 0, 1 << 30, &sent), data.substr(70010));
  EXPECT_EQ(sent, int64_t(data.size() - 70010));
  EXPECT_EQ(run(fd, 99990, 0, nullptr), "");
  close(fd);

  // A pipe cannot feed sendfile: the block copy takes over.
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  std::thread w([&] {
    ssize_t k = write(p[1], data.data(), 50000);
    EXPECT_EQ(k, 50000);
    close(p[1]);
  });
  EXPECT_EQ(run(p[0], 0, 60000, &sent), data.substr(0, 50000));
  EXPECT_EQ(sent, 50000);
  w.join();
  close(p[0]);
}
