// Connection caps of the device's HTTP server: a flood of idle connections
// from one address, idle connections giving way at the cap, connections
// closed by the client whose threads are still busy, and refused requests
// whose pause holds no slot.
#include "device_test.h"
#include "tarvo_live.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace device_test;

namespace {

#define NEED_NET()                                                        \
  do {                                                                    \
    const std::string &why_ = tarvo_test::private_net();                  \
    if (!why_.empty()) GTEST_SKIP() << "no private network: " << why_;    \
  } while (0)

size_t thread_count()
{
  size_t n = 0;
  for (auto &e : std::filesystem::directory_iterator("/proc/self/task")) n += e.exists() ? 1 : 0;
  return n;
}

// Waits until the process has at most n threads; false after timeout_ms.
bool threads_back_to(size_t n, int timeout_ms)
{
  return tarvo_test::eventually([&] { return thread_count() <= n; }, timeout_ms);
}

// Waits until n listed connections have their whole header; false after
// the liveness bound.
bool busy_connections(device &d, uint32_t n)
{
  return tarvo_test::eventually([&] {
    uint32_t busy = 0;
    sys_mutex_lock(&d.ctx->live_mutex);
    for (uint32_t i = 0; i < d.ctx->conns.conns.len; i++)
      busy += !__atomic_load_n(&static_cast<conn_policy_entry *>(d.ctx->conns.conns.buf[i])->idle, __ATOMIC_ACQUIRE);
    sys_mutex_unlock(&d.ctx->live_mutex);
    return busy >= n;
  });
}

std::string browse_like()
{
  return soap_request("/control/test", kServiceType, "Echo", "<In>x</In>");
}

struct sockets {
  std::vector<int> s;
  ~sockets() { reset(); }
  void reset()
  {
    for (int x : s) close(x);
    s.clear();
  }
};

TEST(DeviceFlood, IdleFloodFromOneAddressLeavesOthersServed)
{
  NEED_NET();
  device d;
  ASSERT_TRUE(d.start());
  size_t idle = thread_count();
  std::atomic<bool> done{false};
  std::atomic<size_t> peak{0};
  std::thread sampler([&] {
    while (!done) {
      peak = std::max<size_t>(peak, thread_count());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  sockets flood;
  for (int i = 0; i < 500; i++) {
    int s = connect_to(d.port(), "127.0.0.1");
    ASSERT_GE(s, 0) << i;
    flood.s.push_back(s);
  }
  // Beyond its share the address's own oldest connections gave way.
  EXPECT_EQ(read_all(flood.s.front(), 2000), "");
  // Another address is served: the flood holds no more than its share.
  int other = connect_to(d.port(), "127.0.0.2");
  send_all(other, browse_like());
  reply r = read_reply(other, tarvo_test::kLiveMs);
  close(other);
  EXPECT_EQ(r.status, "200 OK");
  flood.reset();
  // The sampler is one more than at the start.
  EXPECT_TRUE(threads_back_to(idle + 1, tarvo_test::kLiveMs)) << thread_count() << " threads, idle " << idle;
  done = true;
  sampler.join();
  // The sampler itself is one; the other connection another; those that
  // gave way may not have ended yet, as many as the connection threads'
  // own bound.
  EXPECT_LE(peak, idle + 1 + 2 * DEVICE_CONNS_MAX + 1);
}

TEST(DeviceFlood, IdleConnectionsGiveWayAtTheCap)
{
  NEED_NET();
  device d;
  ASSERT_TRUE(d.start());
  sockets held;
  const uint32_t per = CONN_PER_ADDRESS_MAX;
  for (uint32_t i = 0; held.s.size() < DEVICE_CONNS_MAX; i++) {
    std::string from = "127.0.1." + std::to_string(1 + i / per);
    held.s.push_back(connect_to(d.port(), from.c_str()));
  }
  // One kept-alive connection that has been served, idle like the others.
  send_all(held.s[0], "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(read_reply(held.s[0]).status, "200 OK");
  // Whether it is back to waiting yet or not, a silent one gives way.
  int s = connect_to(d.port(), "127.0.2.1");
  send_all(s, browse_like());
  EXPECT_EQ(read_reply(s, tarvo_test::kLiveMs).status, "200 OK");
  close(s);
  // The one that gave way was closed without an answer.
  int closed = 0;
  for (int h : held.s)
    if (read_all(h, 50).empty() && recv(h, nullptr, 0, MSG_DONTWAIT) == 0) closed++;
  EXPECT_GE(closed, 1);
}

// A client that closed its connections has their slots back while their
// threads still wait in the handler: its next connection is no 503.
TEST(DeviceFlood, ClosedConnectionsGiveBackTheirSlotsAtOnce)
{
  NEED_NET();
  device d;
  ASSERT_TRUE(d.start());
  sockets busy;
  {
    // The handler waits for the lock of what it saw: every action stalls.
    std::lock_guard<std::mutex> stall(d.seen.mu);
    for (uint32_t i = 0; i < CONN_PER_ADDRESS_MAX; i++) {
      busy.s.push_back(connect_to(d.port()));
      send_all(busy.s.back(), browse_like());
    }
    ASSERT_TRUE(busy_connections(d, CONN_PER_ADDRESS_MAX));
    int over = connect_to(d.port());
    EXPECT_EQ(read_reply(over, tarvo_test::kLiveMs).status, "503 Service Unavailable");
    close(over);
    busy.reset();
    int s = connect_to(d.port());
    send_all(s, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(read_reply(s, 2000).status, "200 OK");
    close(s);
  }
}

TEST(DeviceFlood, RefusedRequestsPauseWithoutHoldingASlot)
{
  NEED_NET();
  device d;
  ASSERT_TRUE(d.start());
  std::string refused = browse_like();
  refused.replace(refused.find("HOST: 127.0.0.1"), 15, "HOST: evil.example");
  sockets paused;
  for (uint32_t i = 0; i < CONN_PER_ADDRESS_MAX; i++) {
    int s = connect_to(d.port(), "127.0.0.3");
    send_all(s, refused);
    EXPECT_EQ(read_reply(s).status, "400 Bad Request");
    paused.s.push_back(s);
  }
  // The same address is served again, not told 503 for paused slots.
  for (uint32_t i = 0; i < CONN_PER_ADDRESS_MAX; i++) {
    int s = connect_to(d.port(), "127.0.0.3");
    send_all(s, browse_like());
    EXPECT_EQ(read_reply(s, tarvo_test::kLiveMs).status, "200 OK") << i;
    close(s);
  }
  // The pause itself is kept: the refused connections close after it.
  for (int s : paused.s) EXPECT_EQ(read_all(s, tarvo_test::kLiveMs), "");
}

}  // namespace
