// The test programs' own machinery: a run's skips reach CTest as their own
// status and never hide a failure, and a program's namespaces are had as
// any user, even once it runs threads.  The DISABLED_ cases are run by the
// others, in a process of their own.
#include <gtest/gtest.h>

#include "tarvo_test.h"

#include <atomic>
#include <climits>
#include <fstream>

namespace {

std::string self()
{
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// This program run again on the tests of filter (behind prefix, a command
// that changes the user); its exit code, and its output in *out.
int run_self(const std::string &filter, std::string *out, const std::string &prefix = "")
{
  int status;
  *out = tarvo_test::command_output(prefix + "'" + self() + "' --gtest_also_run_disabled_tests --gtest_filter='" +
                                        filter + "' 2>&1",
                                    &status);
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(DISABLED_Outcome, Skips) { GTEST_SKIP() << "the reason\non two lines"; }
TEST(DISABLED_Outcome, Fails) { ADD_FAILURE() << "a fault"; }
TEST(DISABLED_Outcome, Passes) {}

TEST(TestMain, SkipsReachCtestWithTheirReasonAndNeverHideAFailure)
{
  std::string out;
  EXPECT_EQ(run_self("DISABLED_Outcome.Skips", &out), tarvo_test::kSkipStatus) << out;
  EXPECT_NE(out.find("\nskipped: DISABLED_Outcome.Skips: the reason on two lines\n"), std::string::npos) << out;
  EXPECT_EQ(run_self("DISABLED_Outcome.Passes:DISABLED_Outcome.Skips", &out), tarvo_test::kSkipStatus) << out;
  EXPECT_EQ(run_self("DISABLED_Outcome.Passes", &out), 0) << out;
  EXPECT_EQ(out.find("skipped: "), std::string::npos) << out;
  EXPECT_EQ(run_self("DISABLED_Outcome.Skips:DISABLED_Outcome.Fails", &out), 1) << out;
}

// Asked for while another thread runs: the user namespace must already be
// there.  Root of its own network, it may take port 80.
TEST(DISABLED_Namespaces, NetworkMountsAndDisk)
{
  std::atomic<bool> done{false};
  std::thread busy([&] {
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  std::string net = tarvo_test::private_net(), mounts = tarvo_test::private_mounts();
  tarvo_test::small_tmpfs disk(1 << 20);
  done = true;
  busy.join();
  if (!net.empty()) GTEST_SKIP() << net;
  ASSERT_EQ(mounts, "");
  ASSERT_EQ(disk.problem, "");
  EXPECT_TRUE(disk.fill());
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(80);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0) << strerror(errno);
  EXPECT_EQ(listen(fd, 1), 0);
  close(fd);
}

// Whether the program runs as root of the machine itself: other users see
// uid 0 too, inside the user namespace the program entered.
bool machine_root()
{
  std::ifstream map("/proc/self/uid_map");
  unsigned long inside = 1, outside = 1, count = 0;
  map >> inside >> outside >> count;
  return geteuid() == 0 && inside == 0 && outside == 0 && count == 4294967295ul;
}

// As this user, and as root also as nobody.  Where the machine lets the
// user make namespaces (`unshare -rn` does), a skip is a fault; a user but
// root is root of the program's own user namespace.
TEST(TestNamespaces, HadAsAnyUser)
{
  std::vector<std::string> as{""};
  int st;
  std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups env TMPDIR=/tmp ";
  if (machine_root()) {
    tarvo_test::command_output(nobody + "test -x '" + self() + "'", &st);
    if (st != 0) GTEST_SKIP() << "nobody cannot run " << self() << " from here";
    as.push_back(nobody);
  }
  for (const std::string &prefix : as) {
    std::string why = tarvo_test::command_output(prefix + "unshare -rn true 2>&1", &st);
    if (st != 0) GTEST_SKIP() << "namespaces are refused to " << (prefix.empty() ? "this user" : "nobody") << ": " << why;
    std::string out;
    EXPECT_EQ(run_self("DISABLED_Namespaces.*", &out, prefix), 0) << prefix << out;
  }
  EXPECT_EQ(geteuid(), 0u) << "not root of a user namespace of the program's own";
}
