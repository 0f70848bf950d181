// The end of a device with idle kept-alive clients: prompt, byebye included.
#include "gena_test.h"
#include "tarvo_live.h"

#include <tarvo_util/util_limits.h>

#include <chrono>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(DeviceStop, IdleKeptAliveClientsDoNotDelayTheEnd)
{
  GENA_NEED_NET();
  gena_test::udp group("127.0.0.1", 1900, true);
  ASSERT_GE(group.sock, 0);
  gena_test::device d;
  ASSERT_TRUE(d.start(true));
  group.collect(tarvo_test::kLiveMs, 20);  // the start's byebyes and alives
  std::vector<int> clients;
  for (int i = 0; i < 4; i++) {
    int s = device_test::connect_to(d.port());
    device_test::send_all(s, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(device_test::read_reply(s).status, "200 OK");
    clients.push_back(s);
  }
  auto begun = std::chrono::steady_clock::now();
  int partial = device_test::connect_to(d.port());
  device_test::send_all(partial, "GET / HT");
  clients.push_back(partial);
  tarvo_device_end(&d.ctx);
  d.started = false;
  // Not a speed (bench_device_gena_ssdp has it): the end came before the
  // begun request's header was due, the least an end waiting for its
  // clients took.
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(CONN_HEADER_DUE_MS));
  size_t byebye = 0;
  for (const gena_test::message &m : group.collect(500, 1))
    if (m.header("NTS") == "ssdp:byebye") byebye++;
  EXPECT_GT(byebye, 0u);
  for (int c : clients) close(c);
}

}  // namespace
