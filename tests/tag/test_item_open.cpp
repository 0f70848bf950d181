// Opening a media file: a missing file fails at once; an open refused for
// want of descriptors is tried again a second apart.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_limits.h>
#include <tarvo_live.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "tag_test.h"

using namespace std::chrono;

namespace {

// Whether the thread whose system-call file is open as fd sleeps: the
// pause before an open is tried again.  The file is read again from its
// start, as no descriptor may be free to open it.
bool in_sleep(int fd)
{
  char call[64] = {};
  if (pread(fd, call, sizeof call - 1, 0) <= 0) return false;
  long number = std::strtol(call, nullptr, 10);
  return std::isdigit(static_cast<unsigned char>(call[0])) && (number == SYS_clock_nanosleep || number == SYS_nanosleep);
}

}  // namespace

TEST(TagOpen, AMissingFileFailsAtOnce)
{
  tarvo_test::scratch_dir d;
  auto start = steady_clock::now();
  EXPECT_EQ(tag_test::item(d / "never.mp3", "audio/mpeg"), "<failed>");
  // Not a speed: less than the pause that a second try would cost.
  EXPECT_LT(steady_clock::now() - start, milliseconds(TAG_OPEN_RETRY_PAUSE_MS));
}

TEST(TagOpen, AnOpenRefusedForWantOfDescriptorsIsTriedAgain)
{
  tarvo_test::scratch_dir d;
  std::string p = d / "late.mp3";
  tarvo_test::write_file(p, "late");

  // Use up the descriptors below a lowered limit, then give them back once
  // the reader sleeps before its second try.  The releasing thread starts
  // first, and opens the reader's system-call file first: starting a
  // thread or opening a file may itself need a descriptor.
  std::vector<int> held;
  std::promise<void> filled;
  std::atomic<bool> waited{false};
  int call = open(("/proc/self/task/" + std::to_string(gettid()) + "/syscall").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(call, 0);
  std::thread release([&, ready = filled.get_future()]() mutable {
    ready.wait();
    waited = tarvo_test::eventually([&] { return in_sleep(call); });
    for (int fd : held) close(fd);
  });
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  for (int fd; (fd = dup(0)) >= 0;) held.push_back(fd);
  filled.set_value();
  std::string text = tag_test::item(p, "audio/mpeg");
  release.join();
  setrlimit(RLIMIT_NOFILE, &old);
  close(call);
  EXPECT_TRUE(waited) << "the reader gave up without a pause";
  EXPECT_NE(text.find("<dc:title>late</dc:title>"), std::string::npos) << text;
}
