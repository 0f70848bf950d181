// Named objects across processes and threads, and path composition.
#include "tarvo_test.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <tarvo_platform/named.h>
#include <tarvo_platform/path.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

std::string unique_name(const char *base) { return std::string(base) + " " + std::to_string(getpid()); }

// A child that takes the mutex, reports through the pipe, answers one
// activation request with its exit code, or waits to be killed.
pid_t mutex_owner(const std::string &name, int report)
{
  pid_t pid = fork();
  if (pid != 0) return pid;
  int fd = -1, exists = 0;
  char ok = named_mutex_create(name.c_str(), NAMED_SCOPE_USER, &fd, &exists) ? 'y' : 'n';
  if (write(report, &ok, 1) != 1) _exit(3);
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 10000) != 1) _exit(4);
  _exit(named_mutex_take_request(fd) ? 0 : 5);
}

TEST(NamedObjects, MutexHeldByOneProcessAndFreedWhenItDies)
{
  std::string name = unique_name("Tarvo Media Server Tool");
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t first = mutex_owner(name, pipefd[1]);
  char ok = 0;
  ASSERT_EQ(read(pipefd[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');

  int fd = -1, exists = 0;
  EXPECT_FALSE(named_mutex_create(name.c_str(), NAMED_SCOPE_USER, &fd, &exists));
  EXPECT_EQ(exists, 1);
  // The other scope is another name.
  EXPECT_TRUE(named_mutex_create(name.c_str(), NAMED_SCOPE_GLOBAL, &fd, &exists));
  named_mutex_close(fd);
  // The second instance asks the first to show itself; the first sees it.
  EXPECT_TRUE(named_mutex_activate(name.c_str(), NAMED_SCOPE_USER));
  int status = 0;
  ASSERT_EQ(waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // A killed owner leaves nothing behind.
  pid_t second = mutex_owner(name, pipefd[1]);
  ASSERT_EQ(read(pipefd[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  kill(second, SIGKILL);
  waitpid(second, &status, 0);
  EXPECT_TRUE(named_mutex_create(name.c_str(), NAMED_SCOPE_USER, &fd, &exists));
  EXPECT_FALSE(named_mutex_activate("no such instance", NAMED_SCOPE_USER));
  named_mutex_close(fd);
  close(pipefd[0]);
  close(pipefd[1]);
}

TEST(NamedObjects, EventIsAutoResetAndSharedByName)
{
  named_event_rec *waiter = named_event_open("InfoDlgCloseEvent");
  named_event_rec *setter = named_event_open("InfoDlgCloseEvent");
  named_event_rec *other = named_event_open("Other");
  EXPECT_FALSE(named_event_wait(waiter, 0));
  std::thread t([&] { named_event_set(setter); });
  EXPECT_TRUE(named_event_wait(waiter, 5000));
  t.join();
  EXPECT_FALSE(named_event_wait(waiter, 0));  // reset by the wait
  named_event_set(other);
  EXPECT_FALSE(named_event_wait(setter, 0));
  named_event_close(setter);
  named_event_set(waiter);
  named_event_rec *again = named_event_open("InfoDlgCloseEvent");  // still the same event
  EXPECT_TRUE(named_event_wait(again, 0));
  named_event_close(again);
  named_event_close(waiter);
  named_event_close(other);
}

TEST(NamedObjects, SectionSeenByAnotherProcessAndRemovedWithItsCreator)
{
  std::string name = unique_name("HaldorHwnd");
  void *map = nullptr;
  named_section_rec *s = named_section_create(name.c_str(), NAMED_SCOPE_USER, &map);
  ASSERT_TRUE(s);
  std::memcpy(map, "\x2a\0\0\0", 4);
  pid_t pid = fork();
  if (pid == 0) {
    const void *view = nullptr;
    named_section_rec *r = named_section_open(name.c_str(), NAMED_SCOPE_USER, &view);
    _exit(r && std::memcmp(view, "\x2a\0\0\0", 4) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  named_section_close(s);
  const void *view = nullptr;
  EXPECT_FALSE(named_section_open(name.c_str(), NAMED_SCOPE_USER, &view));
  EXPECT_FALSE(named_section_create("bad/name", NAMED_SCOPE_USER, &map));
}

TEST(Path, AppendJoinsOnceAndResolvesDots)
{
  char buf[64] = "/opt/tarvo/bin/";
  ASSERT_TRUE(path_append(buf, sizeof buf, "/text/./text_en.xml"));
  EXPECT_STREQ(buf, "/opt/tarvo/bin/text/text_en.xml");
  ASSERT_TRUE(path_append(buf, sizeof buf, "../../../../../../etc"));
  EXPECT_STREQ(buf, "/etc");
  char small[8] = "/a";
  EXPECT_FALSE(path_append(small, sizeof small, "longer-name"));
  EXPECT_STREQ(small, "/a");
}

}  // namespace
