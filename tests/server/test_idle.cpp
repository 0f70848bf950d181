// The server program at rest, in a network namespace of its own: with no
// client and nothing changing on disk no thread of it wakes, and a stop
// ends it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unistd.h>

#include "helper_client.h"
#include "tarvo_live.h"
#include "tarvo_test.h"
#include "vennard_run.h"

namespace fs = std::filesystem;

namespace {

std::string task_dir(pid_t pid) { return "/proc/" + std::to_string(pid) + "/task"; }

// Each thread of the process with its voluntary context switches so far.
std::map<pid_t, uint64_t> wakeups(pid_t pid)
{
  std::map<pid_t, uint64_t> threads;
  std::error_code ec;
  for (const auto &t : fs::directory_iterator(task_dir(pid), ec)) {
    std::ifstream f(t.path() / "status");
    for (std::string line; std::getline(f, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
        threads[pid_t(std::stol(t.path().filename()))] = std::stoull(line.substr(24));
  }
  return threads;
}

// Whether every thread of the process sleeps in a wait of its own (state
// S): none is on its way to one, which would count one more switch.
bool all_asleep(pid_t pid)
{
  std::error_code ec;
  for (const auto &t : fs::directory_iterator(task_dir(pid), ec)) {
    std::string stat = tarvo_test::read_file(t.path() / "stat");
    size_t end = stat.rfind(')');  // past the name, which may hold anything
    if (end == std::string::npos || stat.compare(end, 3, ") S") != 0) return false;
  }
  return !ec;
}

// Whether the scanner has filed the share: its share-data file names it.
bool share_filed(const tarvo_test::vennard_run &run, const std::string &path)
{
  std::error_code ec;
  for (const auto &f : fs::directory_iterator(run.conf("sync/data"), ec))
    if (std::string text = tarvo_test::read_file(f.path()); text.substr(0, text.find_first_of("\r\n")) == path)
      return true;
  return false;
}

// The server's own word that nothing is left to scan, save or event
// (TARVO_MGMT_SETTLED); answer keeps the state answer.
bool settled(const tarvo_test::vennard_run &run, std::string *answer)
{
  *answer = mgmt_test::get(run.dmsm_port, "/get_server_state");
  return answer->find("\r\nX-TARVO-SETTLED: yes\r\n") != std::string::npos;
}

TEST(Idle, NoThreadWakesWithoutAClientOrAChangeAndTheStopEndsIt)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  ASSERT_EQ(std::system("ip link set lo multicast on"), 0);
  ASSERT_EQ(setenv("TARVO_MGMT_SETTLED", "1", 1), 0);
  tarvo_test::vennard_run run(31340);
  ASSERT_GT(run.pid, 0);
  // A share being watched: its folder, the folders above it and the list,
  // which comes in one step.
  std::string media = run.dir / "media";
  fs::create_directories(media + "/album");
  tarvo_test::write_file(media + "/album/notes.txt", "text");
  tarvo_test::write_file(run.dir / "list", media + "\n");
  fs::rename(run.dir / "list", run.conf("sync/share/list"));

  // Settled: the share filed, and the start, the scan, its save and its
  // event over.  Then the state request's own connection has ended (only
  // threads from before it are left) and every thread waits again.
  std::set<pid_t> earlier;
  std::string state;
  ASSERT_TRUE(tarvo_test::eventually([&] {
    if (!share_filed(run, media)) return false;
    earlier.clear();
    for (const auto &t : wakeups(run.pid)) earlier.insert(t.first);
    return settled(run, &state);
  })) << "the last state: " << state;
  std::map<pid_t, uint64_t> before;
  ASSERT_TRUE(tarvo_test::eventually([&] {
    if (!all_asleep(run.pid)) return false;
    before = wakeups(run.pid);
    for (const auto &t : before)
      if (!earlier.count(t.first)) return false;
    return all_asleep(run.pid) && wakeups(run.pid) == before;
  }));
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
