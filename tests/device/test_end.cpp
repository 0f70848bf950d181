// tarvo_device_end with clients that are silent, idle, or stopped reading,
// and with a CGI program that never answers.
#include "device_test.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <thread>
#include <unistd.h>

using namespace device_test;
using clock_type = std::chrono::steady_clock;

namespace {

double seconds_since(clock_type::time_point t)
{
  return std::chrono::duration<double>(clock_type::now() - t).count();
}

// Ends the device and returns how long that took.
double end_time(device &d)
{
  auto t = clock_type::now();
  tarvo_device_end(&d.ctx);
  d.started = false;
  EXPECT_EQ(d.ctx, nullptr);
  return seconds_since(t);
}

void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(500)); }

TEST(DeviceEnd, SilentAndIdleClients)
{
  device d;
  ASSERT_TRUE(d.start());
  std::vector<int> socks;
  for (int i = 0; i < 4; i++) socks.push_back(connect_to(d.port()));
  int partial = connect_to(d.port());
  send_all(partial, "GET / HT");
  int idle = connect_to(d.port());
  send_all(idle, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(read_reply(idle).status, "200 OK");
  settle();
  EXPECT_LT(end_time(d), 2.5);
  for (int s : socks) close(s);
  close(partial);
  close(idle);
}

TEST(DeviceEnd, ClientsThatStopReading)
{
  device d;
  int socks[2];
  ASSERT_TRUE(start_with_stalled_readers(d, socks));
  settle();
  EXPECT_LT(end_time(d), 2.5);
  close(socks[0]);
  close(socks[1]);
}

TEST(DeviceEnd, ProgramThatNeverAnswers)
{
  device d;
  std::string path = d.root / "hang.cgi";
  tarvo_test::write_file(path, "#!/bin/sh\necho $$ > \"" + (d.root / "pid") + "\"\nexec sleep 600\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  ASSERT_TRUE(d.start());
  int s = connect_to(d.port());
  send_all(s, "GET /hang.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  for (int i = 0; i < 50 && tarvo_test::read_file(d.root / "pid").empty(); i++) settle();
  pid_t child = std::atoi(tarvo_test::read_file(d.root / "pid").c_str());
  ASSERT_GT(child, 0);
  EXPECT_LT(end_time(d), 2.5);
  // Killed and reaped.
  EXPECT_NE(kill(child, 0), 0);
  close(s);
}

}  // namespace
