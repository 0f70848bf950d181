// A client that stops reading does not hold its connection thread longer
// than the output timeout.  Slow: it waits out that timeout.
#include "device_test.h"

#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace device_test;

namespace {

uint32_t live_connections(device &d)
{
  sys_mutex_lock(&d.ctx->live_mutex);
  uint32_t n = d.ctx->conn_count;
  sys_mutex_unlock(&d.ctx->live_mutex);
  return n;
}

TEST(DeviceOutputTimeout, SendsToAClientThatStoppedReadingGiveUp)
{
  device d;
  const uint32_t size = 64u << 20;
  std::string big(size, 'z');
  ASSERT_EQ(tarvo_device_add_static_content(&d.ctx, "/big", "application/octet-stream", big.data(), size), 1);
  {
    std::ofstream f(d.root / "big.bin", std::ios::binary);
    f.write(big.data(), size);
  }
  ASSERT_TRUE(d.start());
  int a = connect_to(d.port());
  int b = connect_to(d.port());
  send_all(a, "GET /big HTTP/1.1\r\nHost: x\r\n\r\n");
  send_all(b, "GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(live_connections(d), 2u);
  std::this_thread::sleep_for(std::chrono::milliseconds(DEVICE_OUTPUT_TIMEOUT_MS + 10000));
  EXPECT_EQ(live_connections(d), 0u);
  // What the kernel had taken is still there, then the stream ends short.
  for (int s : {a, b}) {
    std::string got = read_all(s, 20000);
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), size_t(size));
    close(s);
  }
}

}  // namespace
