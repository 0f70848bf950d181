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
  uint32_t n = d.ctx->conns.count;
  sys_mutex_unlock(&d.ctx->live_mutex);
  return n;
}

TEST(DeviceOutputTimeout, SendsToAClientThatStoppedReadingGiveUp)
{
  device d;
  int socks[2];
  ASSERT_TRUE(start_with_stalled_readers(d, socks));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(live_connections(d), 2u);
  std::this_thread::sleep_for(std::chrono::milliseconds(DEVICE_OUTPUT_TIMEOUT_MS + 10000));
  EXPECT_EQ(live_connections(d), 0u);
  // What the kernel had taken is still there, then the stream ends short.
  for (int s : socks) {
    std::string got = read_all(s, 20000);
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), size_t(64u << 20));
    close(s);
  }
}

}  // namespace
