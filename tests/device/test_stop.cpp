// The end of a device with idle kept-alive clients: prompt, byebye included.
#include "gena_test.h"

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
  group.collect(1500);
  std::vector<int> clients;
  for (int i = 0; i < 4; i++) {
    int s = device_test::connect_to(d.port());
    device_test::send_all(s, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(device_test::read_reply(s).status, "200 OK");
    clients.push_back(s);
  }
  int partial = device_test::connect_to(d.port());
  device_test::send_all(partial, "GET / HT");
  clients.push_back(partial);
  auto t = std::chrono::steady_clock::now();
  tarvo_device_end(&d.ctx);
  d.started = false;
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  EXPECT_LT(s, 0.5);
  size_t byebye = 0;
  for (const gena_test::message &m : group.collect(500))
    if (m.header("NTS") == "ssdp:byebye") byebye++;
  EXPECT_GT(byebye, 0u);
  for (int c : clients) close(c);
}

}  // namespace
