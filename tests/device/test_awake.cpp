// The keep-awake lock on the login manager stand-in: one "idle" lock for
// all the holds, let go with the last, and holds that do not wait on a bus
// that never answers.
#include <tarvo_device/tarvo_device.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "../server/logind_standin.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

namespace {

TEST(Awake, OneIdleLockIsHeldForAllHoldsAndLetGoWithTheLast)
{
  if (std::string why = tarvo_test::login_standin_problem(); !why.empty()) GTEST_SKIP() << why;
  tarvo_test::login_bus bus;
  ASSERT_TRUE(bus.up());
  tarvo_test::login_standin &logind = bus.logind;

  tarvo_device_awake_hold();
  tarvo_device_awake_hold();
  EXPECT_EQ(logind.line("inhibit ", tarvo_test::kLiveMs), "inhibit tarvo idle block");
  tarvo_device_awake_release();
  tarvo_device_awake_release();
  std::vector<std::string> between;
  EXPECT_EQ(logind.line("released ", tarvo_test::kLiveMs, &between), "released idle");
  EXPECT_TRUE(between.empty()) << between.front();
  // A further release is not a hold of its own.
  tarvo_device_awake_release();
  tarvo_device_awake_hold();
  EXPECT_EQ(logind.line("inhibit ", tarvo_test::kLiveMs), "inhibit tarvo idle block");
  tarvo_device_awake_release();
  EXPECT_EQ(logind.line("released ", tarvo_test::kLiveMs), "released idle");
}

// A bus that takes the connection and never greets: the first hold gives
// up at its deadline, and a client's hold meanwhile is not held up by it.
TEST(Awake, AHoldDoesNotWaitBehindABusThatNeverAnswers)
{
  tarvo_test::silent_bus bus;
  ASSERT_TRUE(bus.listening);

  std::atomic<bool> first_done{false};
  std::thread first([&] {
    tarvo_device_awake_hold();
    first_done = true;
  });
  // The first hold has connected: its call is out.
  ASSERT_TRUE(bus.connected(tarvo_test::kLiveMs));
  tarvo_device_awake_hold();
  EXPECT_FALSE(first_done.load()) << "the second hold waited for the first one's call";
  EXPECT_TRUE(tarvo_test::eventually([&] { return first_done.load(); })) << "the call had no deadline";
  if (first_done) first.join(); else first.detach();
  tarvo_device_awake_release();
  tarvo_device_awake_release();
}

}  // namespace
