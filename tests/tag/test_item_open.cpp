// A file that cannot be opened is tried again, a second apart, ten times.
#include <gtest/gtest.h>
#include <tarvo_test.h>

#include <chrono>
#include <thread>

#include "tag_test.h"

using namespace std::chrono;

TEST(TagOpen, RetriesForAboutTenSecondsThenFails)
{
  tarvo_test::scratch_dir d;
  auto start = steady_clock::now();
  EXPECT_EQ(tag_test::item(d / "never.mp3", "audio/mpeg"), "<failed>");
  auto took = steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(9500));
  EXPECT_LT(took, seconds(20));
}

TEST(TagOpen, AFileThatAppearsMeanwhileIsRead)
{
  tarvo_test::scratch_dir d;
  std::string p = d / "late.mp3";
  std::thread writer([&] {
    std::this_thread::sleep_for(milliseconds(1500));
    tarvo_test::write_file(p, "late");
  });
  std::string text = tag_test::item(p, "audio/mpeg");
  writer.join();
  EXPECT_NE(text.find("<dc:title>late</dc:title>"), std::string::npos) << text;
}
