// The levelled log.
#include <gtest/gtest.h>

#include <tarvo_util/sys_log.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tarvo_test.h"

namespace {

// Starts the log afresh with the given settings, runs body, and returns
// what the log file holds.
template <class F> std::string logged(const char *level, F body, const std::string &before = "")
{
  tarvo_test::scratch_dir t;
  std::string file = t / "log.txt";
  if (!before.empty()) tarvo_test::write_file(file, before);
  sys_log_end();
  if (level) setenv("SYS_LOG_LEVEL", level, 1);
  else unsetenv("SYS_LOG_LEVEL");
  setenv("SYS_LOG_OUTPUT", file.c_str(), 1);
  body();
  sys_log_end();
  return tarvo_test::read_file(file);
}

std::vector<std::string> lines(const std::string &s)
{
  std::vector<std::string> v;
  size_t at = 0;
  for (size_t e; (e = s.find("\r\n", at)) != std::string::npos; at = e + 2) v.push_back(s.substr(at, e - at));
  EXPECT_EQ(at, s.size()) << "text after the last CR LF";
  return v;
}

// '#' in the pattern stands for a digit.
bool like(const std::string &s, const std::string &pattern)
{
  if (s.size() != pattern.size()) return false;
  for (size_t i = 0; i < s.size(); i++)
    if (pattern[i] == '#' ? !isdigit((unsigned char)s[i]) : s[i] != pattern[i]) return false;
  return true;
}

const char kBanner[] = "[####/##/##-##:##:##]";

}  // namespace

TEST(Log, LineFormatAndLevels)
{
  std::string s = logged("6", [] {
    EXPECT_EQ(sys_log_init(), 1);
    EXPECT_EQ(sys_log_init(), 1);
    sys_log_print(SYS_LOG_WARNING, "disk %s at %d%%", "sda", 97);
    sys_log_print(SYS_LOG_NOTICE, "notice");
    sys_log_print(SYS_LOG_INFO, "too verbose");
    sys_log_print(0, "untagged");
  });
  auto v = lines(s);
  ASSERT_EQ(v.size(), 4u) << s;
  EXPECT_TRUE(like(v[0], kBanner)) << v[0];
  EXPECT_TRUE(like(v[1], "[WARNING] [00:00:0#.###] disk sda at 97%")) << v[1];
  EXPECT_TRUE(like(v[2], "[NOTICE] [00:00:0#.###] notice")) << v[2];
  EXPECT_TRUE(like(v[3], " [00:00:0#.###] untagged")) << v[3];
}

TEST(Log, LevelSetting)
{
  const char *tags[] = {"[EMERGENCY]", "[ALERT]", "[CRITICAL]", "[ERROR]",
                        "[WARNING]",   "[NOTICE]", "[INFO]",    "[DEBUG]"};
  auto all_levels = [] {
    for (int l = 1; l <= 9; l++) sys_log_print(l, "x");
  };
  auto v = lines(logged("12", all_levels));  // above 8 counts as 8
  ASSERT_EQ(v.size(), 9u);
  for (int l = 1; l <= 8; l++) EXPECT_EQ(v[l].rfind(tags[l - 1], 0), 0u) << v[l];

  EXPECT_EQ(lines(logged("3", all_levels)).size(), 4u);
  for (const char *off : {"-1", "0", "abc", (const char *)nullptr}) {
    EXPECT_EQ(logged(off, [&] { EXPECT_EQ(sys_log_init(), 0); all_levels(); }), "") << (off ? off : "unset");
  }
}

TEST(Log, AppendsLongTextAndClosesItsFile)
{
  std::string big(10000, 'z');
  std::string s = logged("8", [&] {
    sys_log_print(SYS_LOG_DEBUG, "%s", big.c_str());
    EXPECT_EQ(sys_log_end(), 1);  // closed the log's own file
    EXPECT_EQ(sys_log_end(), 0);
  }, "earlier\r\n");
  auto v = lines(s);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0], "earlier");
  EXPECT_EQ(v[2].size(), std::string("[DEBUG] [00:00:00.000] ").size() + 8191);
}

TEST(Log, ConcurrentFirstUseAndLines)
{
  // Every thread's first print races to set the log up: one banner, and
  // no line torn by another.
  std::string s = logged("8", [] {
    std::vector<std::thread> ts;
    for (int t = 0; t < 8; t++)
      ts.emplace_back([t] {
        for (int i = 0; i < 200; i++) sys_log_print(SYS_LOG_INFO, "thread %d line %d %s", t, i, "payload");
      });
    for (auto &th : ts) th.join();
  });
  auto v = lines(s);
  ASSERT_EQ(v.size(), 1u + 8 * 200);
  EXPECT_TRUE(like(v[0], kBanner));
  // Each thread's lines arrive whole and in its own order.
  std::vector<int> next(8, 0);
  for (size_t i = 1; i < v.size(); i++) {
    int t = v[i].size() > 30 ? v[i][29] - '0' : -1;
    ASSERT_TRUE(t >= 0 && t < 8) << v[i];
    std::string tail = " thread " + std::to_string(t) + " line " + std::to_string(next[t]++) + " payload";
    ASSERT_TRUE(like(v[i], "[INFO] [##:##:##.###]" + tail)) << v[i];
  }
}
