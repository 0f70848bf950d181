// The server program at rest, in a network namespace of its own: with no
// client and nothing changing on disk no thread of it wakes, and a stop
// ends it.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "tarvo_test.h"
#include "vennard_run.h"

namespace fs = std::filesystem;

namespace {

// Voluntary context switches of every thread of the process so far.
uint64_t wakeups(pid_t pid)
{
  uint64_t total = 0;
  std::error_code ec;
  for (const auto &t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream f(t.path() / "status");
    for (std::string line; std::getline(f, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stoull(line.substr(24));
  }
  return total;
}

TEST(Idle, NoThreadWakesWithoutAClientOrAChangeAndTheStopEndsIt)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  ASSERT_EQ(std::system("ip link set lo multicast on"), 0);
  tarvo_test::vennard_run run(31340);
  ASSERT_GT(run.pid, 0);
  // A share being watched: its folder, the folders above it and the list.
  std::string media = run.dir / "media";
  fs::create_directories(media + "/album");
  tarvo_test::write_file(media + "/album/notes.txt", "text");
  tarvo_test::write_file(run.conf("sync/share/list"), media + "\n");
  // Settled: the start, the scan and its save are over once 1.2 s pass
  // without a wake-up.
  uint64_t before = wakeups(run.pid);
  for (int i = 0; i < 8; i++) {
    usleep(1200 * 1000);
    uint64_t now = wakeups(run.pid);
    if (now == before) break;
    before = now;
  }
  // Long enough to catch a thread that looks once a second.  The thread
  // checker's runtime has a thread of its own that wakes on a timer.
  usleep(1500 * 1000);
  if (!tarvo_test::kThreadChecker) {
    EXPECT_EQ(wakeups(run.pid), before);
  }

  // How quick the stop is, is bench_scale's figure ("found"); here it only
  // has to end, cleanly.
  kill(run.pid, SIGTERM);
  EXPECT_EQ(tarvo_test::wait_exit(run.pid, 30000), 0);
  run.pid = -1;
}

}  // namespace
