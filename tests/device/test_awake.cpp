// The keep-awake lock on the login manager stand-in: one "idle" lock for
// all the holds, let go with the last, and holds that do not wait on a bus
// that never answers.
#include <tarvo_device/tarvo_device.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <vector>

#include "../server/logind_standin.h"
#include "tarvo_test.h"

namespace {

constexpr int kLiveMs = 20000;

std::string standin_problem()
{
  int status = -1;
  tarvo_test::command_output("command -v dbus-daemon && /usr/bin/python3 -c 'from gi.repository import Gio'", &status);
  return status == 0 ? "" : "dbus-daemon or /usr/bin/python3 with python3-gi is missing";
}

struct bus_address {
  explicit bus_address(const std::string &path)
  {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
  }
  ~bus_address() { unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }
};

TEST(Awake, OneIdleLockIsHeldForAllHoldsAndLetGoWithTheLast)
{
  if (std::string why = standin_problem(); !why.empty()) GTEST_SKIP() << why;
  tarvo_test::scratch_dir dir;
  bus_address addr(dir / "bus");
  tarvo_test::login_standin logind;
  ASSERT_TRUE(logind.start(dir.path.string(), 60));
  ASSERT_FALSE(logind.line("bus ", kLiveMs).empty());

  tarvo_device_awake_hold();
  tarvo_device_awake_hold();
  EXPECT_EQ(logind.line("inhibit ", kLiveMs), "inhibit tarvo idle block");
  tarvo_device_awake_release();
  tarvo_device_awake_release();
  std::vector<std::string> between;
  EXPECT_EQ(logind.line("released ", kLiveMs, &between), "released idle");
  EXPECT_TRUE(between.empty()) << between.front();
  // A further release is not a hold of its own.
  tarvo_device_awake_release();
  tarvo_device_awake_hold();
  EXPECT_EQ(logind.line("inhibit ", kLiveMs), "inhibit tarvo idle block");
  tarvo_device_awake_release();
  EXPECT_EQ(logind.line("released ", kLiveMs), "released idle");
}

// A bus that takes the connection and never greets: the first hold gives
// up at its deadline, and a client's hold meanwhile is not held up by it.
TEST(Awake, AHoldDoesNotWaitBehindABusThatNeverAnswers)
{
  tarvo_test::scratch_dir dir;
  std::string path = dir / "bus";
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  path.copy(sa.sun_path, sizeof sa.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  bus_address addr(path);

  std::atomic<bool> first_done{false};
  std::thread first([&] {
    tarvo_device_awake_hold();
    first_done = true;
  });
  // The first hold has connected: its call is out.
  pollfd p{listener, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, kLiveMs), 1);
  tarvo_device_awake_hold();
  EXPECT_FALSE(first_done.load()) << "the second hold waited for the first one's call";
  auto t0 = std::chrono::steady_clock::now();
  while (!first_done && std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(kLiveMs))
    poll(nullptr, 0, 50);
  EXPECT_TRUE(first_done.load()) << "the call had no deadline";
  if (first_done) first.join(); else first.detach();
  tarvo_device_awake_release();
  tarvo_device_awake_release();
  close(listener);
}

}  // namespace
