// tarvo_device_end with clients that are silent, idle, or stopped reading,
// and with a CGI program that never answers.
#include "device_test.h"
#include "tarvo_live.h"

#include <tarvo_util/util_limits.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
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

// Whether bytes of the answer wait in socket s.
bool bytes_in(int s)
{
  int n = 0;
  return ioctl(s, FIONREAD, &n) == 0 && n > 0;
}

TEST(DeviceEnd, SilentAndIdleClients)
{
  device d;
  ASSERT_TRUE(d.start());
  auto connected = clock_type::now();
  std::vector<int> socks;
  for (int i = 0; i < 4; i++) socks.push_back(connect_to(d.port()));
  int partial = connect_to(d.port());
  send_all(partial, "GET / HT");
  int idle = connect_to(d.port());
  send_all(idle, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(read_reply(idle).status, "200 OK");
  ASSERT_TRUE(tarvo_test::eventually([&] { return tarvo_test::accept_queue(d.port()) == 0; }));
  end_time(d);
  // Not a speed: done before a silent client's first header was due,
  // which is what an end waiting for them took.
  EXPECT_LT(seconds_since(connected), CONN_HEADER_DUE_MS / 1000.0);
  for (int s : socks) close(s);
  close(partial);
  close(idle);
}

TEST(DeviceEnd, ClientsThatStopReading)
{
  device d;
  int socks[2];
  ASSERT_TRUE(start_with_stalled_readers(d, socks));
  ASSERT_TRUE(tarvo_test::eventually([&] { return bytes_in(socks[0]) && bytes_in(socks[1]); }));
  // An end that waited for them would take the output timeout.
  EXPECT_LT(end_time(d), tarvo_test::kLiveMs / 1000.0);
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
  send_all(s, "GET /hang.cgi HTTP/1.1\r\nHost: localhost\r\n\r\n");
  tarvo_test::eventually([&] { return !tarvo_test::read_file(d.root / "pid").empty(); });
  pid_t child = std::atoi(tarvo_test::read_file(d.root / "pid").c_str());
  ASSERT_GT(child, 0);
  EXPECT_LT(end_time(d), tarvo_test::kLiveMs / 1000.0);  // the program sleeps for ten minutes
  // Killed and reaped.
  EXPECT_NE(kill(child, 0), 0);
  close(s);
}

}  // namespace
