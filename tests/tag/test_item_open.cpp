// Opening a media file: a missing file fails at once; an open refused for
// want of descriptors is tried again a second apart.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_limits.h>
#include <tarvo_test.h>

#include <sys/resource.h>

#include <chrono>
#include <future>
#include <thread>

#include "tag_test.h"

using namespace std::chrono;

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

  // Use up the descriptors below a lowered limit, then give them back while
  // the reader waits.  The releasing thread starts first: starting a thread
  // may itself need a descriptor.
  std::vector<int> held;
  std::promise<void> filled;
  std::thread release([&, ready = filled.get_future()]() mutable {
    ready.wait();
    std::this_thread::sleep_for(milliseconds(1500));
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
  EXPECT_NE(text.find("<dc:title>late</dc:title>"), std::string::npos) << text;
}
