// The server-state monitor against a loopback stand-in of the management
// port: the three-read rule, one start for two quick toggles, auto-run,
// port 0, and stop against a peer that never answers.
#include "server_state.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Timers and sleeps run 50 times faster: a poll every 100 ms.
const bool scaled = setenv("TARVO_TIME_SCALE", "50", 1) == 0;

// Answers the management requests from its own state; /start_server can be
// left unanswered.
struct management_peer {
  std::atomic<bool> active{false}, auto_run{false}, hang_start{false}, stop{false};
  std::mutex m;
  std::vector<std::string> paths;
  std::vector<int> hung;
  int fd = -1;
  uint16_t port = 0;
  std::thread t;

  management_peer()
  {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) || listen(fd, 16) ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len))
      std::abort();
    port = ntohs(a.sin_port);
    t = std::thread([this] { run(); });
  }
  ~management_peer()
  {
    stop = true;
    t.join();
    for (int c : hung) close(c);
    close(fd);
  }
  int count(const std::string &path)
  {
    std::lock_guard<std::mutex> g(m);
    int n = 0;
    for (auto &p : paths) n += p == path;
    return n;
  }
  void run()
  {
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) serve(c);
    }
  }
  void serve(int c)
  {
    std::string in;
    char buf[1024];
    while (in.find("\r\n\r\n") == std::string::npos) {
      pollfd p{c, POLLIN, 0};
      ssize_t n = poll(&p, 1, 1000) == 1 ? recv(c, buf, sizeof buf, 0) : 0;
      if (n <= 0) return (void)close(c);
      in.append(buf, size_t(n));
    }
    std::string path = in.substr(4, in.find(' ', 4) - 4), extra;
    {
      std::lock_guard<std::mutex> g(m);
      paths.push_back(path);
    }
    if (path == "/start_server" && hang_start) return hung.push_back(c);
    if (path == "/start_server") active = true;
    if (path == "/stop_server") active = false;
    if (path == "/set_auto_run_state") auto_run = in.find("X-AUTO-RUN-STATE: active") != std::string::npos;
    if (path == "/get_server_state") extra = std::string("X-DUV-STATE: ") + (active ? "active" : "inactive") + "\r\n";
    if (path == "/get_auto_run_state")
      extra = std::string("X-AUTO-RUN-STATE: ") + (auto_run ? "active" : "inactive") + "\r\n";
    std::string answer = "HTTP/1.1 200 OK\r\n" + extra + "Content-Length: 0\r\n\r\n";
    send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
    close(c);
  }
};

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

template <typename F> bool eventually(F f)
{
  for (int i = 0; i < 400 && !f(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return f();
}

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

  EXPECT_EQ(monitor.server_toggle(), 1);
  EXPECT_EQ(monitor.server_toggle(), 0);  // busy from the first
  ASSERT_TRUE(eventually([&] { return view.seen().size() == 2; }));
  EXPECT_EQ(view.seen()[1], 1);
  EXPECT_EQ(peer.count("/start_server"), 1);
  EXPECT_EQ(monitor.server_state(), 2);

  EXPECT_EQ(monitor.set_auto_run(1), 1);
  EXPECT_TRUE(peer.auto_run);
  ASSERT_TRUE(eventually([&] { return monitor.auto_run_state() == 2; }));
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
  auto begin = std::chrono::steady_clock::now();
  monitor.server_state_stop();  // waits out the worker, then cancels its exchange
  auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(monitor.busy(), 0);
}

}  // namespace
