// The node of a host without any network adapter address.
#include <tarvo_util/digest.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tarvo_test.h"

namespace {

// The first UUID of a process in a network namespace of its own, where
// only the loopback adapter exists, takes a made-up node with the
// multicast bit set.  Several processes, as the other bits are random.
TEST(UuidNoNetwork, MadeUpNodeHasMulticastBit)
{
  for (int round = 0; round < 8; round++) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!tarvo_test::private_net().empty()) _exit(77);
    char a[UUID_BUF_LEN], b[UUID_BUF_LEN];
    if (!uuid_create(a) || !uuid_create(b)) _exit(1);
    unsigned first = unsigned(std::stoul(std::string(a + 24, 2), nullptr, 16));
    if (!(first & 0x01)) _exit(2);
    if (std::string(a + 24) != std::string(b + 24)) _exit(3);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "network namespaces are not allowed here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

}  // namespace
