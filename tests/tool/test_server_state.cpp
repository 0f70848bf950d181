// The server-state monitor against a loopback stand-in of the management
// port: the three-read rule, one start for two quick toggles, auto-run, a
// read on demand, port 0, and stop against a peer that never answers.
#include "server_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "management_peer.h"
#include "tarvo_live.h"

namespace {

// Timers and sleeps run 50 times faster: a poll every 100 ms.
const bool scaled = setenv("TARVO_TIME_SCALE", "50", 1) == 0;

using tarvo_test::management_peer;

struct recorder : CObserverServerState {
  std::mutex m;
  std::vector<int> events;
  void OnServerStateChanged(int event) override
  {
    std::lock_guard<std::mutex> g(m);
    events.push_back(event);
  }
  std::vector<int> seen()
  {
    std::lock_guard<std::mutex> g(m);
    return events;
  }
};

using tarvo_test::eventually;

TEST(ServerState, SettlesAfterThreeReadsAndStartsOnceForTwoToggles)
{
  ASSERT_TRUE(scaled);
  management_peer peer;
  recorder view;
  CSubjectServerState monitor;
  EXPECT_EQ(monitor.Attach(&view), 1);
  EXPECT_EQ(monitor.Attach(&view), 0);
  ASSERT_TRUE(monitor.server_state_start(peer.port));
  EXPECT_EQ(monitor.server_state(), 1);
  EXPECT_EQ(monitor.auto_run_state(), 1);
  ASSERT_TRUE(eventually([&] { return view.seen().size() == 1; }));
  EXPECT_EQ(view.seen()[0], 0);
  // A steady state is told once, not again.
  int polls = peer.count("/get_server_state");
  ASSERT_TRUE(eventually([&] { return peer.count("/get_server_state") >= polls + 4; }));
  EXPECT_EQ(view.seen().size(), 1u);

  peer.hold_start = true;  // the first toggle still runs when the second comes
  EXPECT_EQ(monitor.server_toggle(), 1);
  EXPECT_EQ(monitor.server_toggle(), 0);  // busy from the first
  peer.hold_start = false;
  ASSERT_TRUE(eventually([&] { return view.seen().size() == 2; }));
  EXPECT_EQ(view.seen()[1], 1);
  EXPECT_EQ(peer.count("/start_server"), 1);
  EXPECT_EQ(monitor.server_state(), 2);

  EXPECT_EQ(monitor.set_auto_run(1), 1);
  EXPECT_TRUE(peer.auto_run);
  // A read on demand answers from the server now, not from the last poll.
  peer.active = false;
  int s = -1, a = -1;
  monitor.read_state(&s, &a);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(a, 2);
  EXPECT_EQ(monitor.server_state(), 1);
  EXPECT_EQ(monitor.auto_run_state(), 2);
  EXPECT_EQ(monitor.Detach(&view), 1);
  EXPECT_EQ(monitor.Detach(&view), 0);
  monitor.server_state_stop();
}

TEST(ServerState, PortZeroMakesNoCallsAndStopEndsAgainstASilentPeer)
{
  management_peer peer;
  {
    CSubjectServerState idle;
    ASSERT_TRUE(idle.server_state_start(0));
    EXPECT_EQ(idle.set_auto_run(1), 0);
    EXPECT_EQ(idle.server_toggle(), 0);  // not reachable
    idle.server_state_stop();
  }
  EXPECT_EQ(peer.count("/get_server_state"), 0);

  peer.hang_start = true;
  CSubjectServerState monitor;
  ASSERT_TRUE(monitor.server_state_start(peer.port));
  EXPECT_EQ(monitor.server_toggle(), 1);
  ASSERT_TRUE(eventually([&] { return peer.count("/start_server") == 1; }));
  // Waits out the worker, then cancels its exchange: without the cancel it
  // would wait with the exchange that never ends.
  auto begin = std::chrono::steady_clock::now();
  monitor.server_state_stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, tarvo_test::kLive);
  EXPECT_EQ(monitor.busy(), 0);
}

}  // namespace
