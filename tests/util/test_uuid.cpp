// Time-based UUIDs: text form, fields, node and uniqueness across threads.
#include <tarvo_util/digest.h>

#include "tarvo_test.h"
#include "../../util/src/uuid_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string make()
{
  char buf[UUID_BUF_LEN];
  std::fill(buf, buf + sizeof buf, 'X');
  EXPECT_EQ(uuid_create(buf), 1);
  EXPECT_EQ(buf[36], '\0');
  return std::string(buf, 36);
}

struct fields {
  uint64_t ts;
  uint32_t seq;
  std::string node;
};

fields parse(const std::string &u)
{
  auto x = [&](size_t pos, size_t n) { return std::stoull(u.substr(pos, n), nullptr, 16); };
  fields f;
  f.ts = x(0, 8) | x(9, 4) << 32 | (x(14, 4) & 0x0fff) << 48;
  f.seq = uint32_t(x(19, 4) & 0x1fff);
  f.node = u.substr(24);
  return f;
}

TEST(Uuid, TextForm)
{
  for (int i = 0; i < 50; i++) {
    std::string u = make();
    for (size_t k = 0; k < u.size(); k++) {
      if (k == 8 || k == 13 || k == 18 || k == 23)
        EXPECT_EQ(u[k], '-') << u;
      else
        EXPECT_TRUE((u[k] >= '0' && u[k] <= '9') || (u[k] >= 'a' && u[k] <= 'f')) << u;
    }
    EXPECT_EQ(u[14], '1') << u;
    EXPECT_TRUE(u[19] == '8' || u[19] == '9') << u;
  }
  EXPECT_EQ(uuid_create(nullptr), 0);
}

// The timestamp counts 100 ns from 1582-10-15 and stands for now.
TEST(Uuid, TimestampIsNow)
{
  const uint64_t to_1970 = 122192928000000000ull;
  auto now = [] {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count());
  };
  uint64_t before = now();
  fields f = parse(make());
  uint64_t after = now();
  ASSERT_GE(f.ts, to_1970);
  uint64_t ms = (f.ts - to_1970) / 10000;
  EXPECT_EQ((f.ts - to_1970) % 10000, 0u);
  EXPECT_GE(ms + 1000, before);
  EXPECT_LE(ms, after + 1000);
}

// Each call takes the next clock sequence; the node stays.
TEST(Uuid, ClockSequenceCountsOnAndNodeStays)
{
  fields a = parse(make()), b = parse(make()), c = parse(make());
  EXPECT_EQ(b.seq, (a.seq + 1) % 0x2000);
  EXPECT_EQ(c.seq, (b.seq + 1) % 0x2000);
  EXPECT_EQ(a.node, b.node);
  EXPECT_EQ(b.node, c.node);
  EXPECT_LE(a.ts, b.ts);
  EXPECT_LE(b.ts, c.ts);
}

// The node is the address of the first adapter that is up, not loopback and
// has a hardware address.
TEST(Uuid, NodeIsFirstAdapterAddress)
{
  namespace fs = std::filesystem;
  long best_index = -1;
  std::string best;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator("/sys/class/net", ec)) {
    auto rd = [&](const char *name) {
      std::string s = tarvo_test::read_file((e.path() / name).string());
      while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
      return s;
    };
    unsigned long flags = std::strtoul(rd("flags").c_str(), nullptr, 16);
    std::string addr = rd("address");
    long index = std::strtol(rd("ifindex").c_str(), nullptr, 10);
    if (!(flags & 0x1) || (flags & 0x8) || addr.size() != 17 || addr == "00:00:00:00:00:00") continue;
    if (best_index < 0 || index < best_index) {
      best_index = index;
      best = addr;
    }
  }
  if (best_index < 0) GTEST_SKIP() << "no adapter with a hardware address is up";
  best.erase(std::remove(best.begin(), best.end(), ':'), best.end());
  EXPECT_EQ(parse(make()).node, best);
}

// With the clock standing still, or stepped back, the timestamp moves on
// a millisecond once every clock sequence has been given with it.
TEST(UuidClock, NoPairRepeatsWhileTheClockStands)
{
  using namespace tarvo_uuid;
  const uint64_t t = 1000 * TICKS_PER_MS;
  clock_rec c{};
  std::set<std::pair<uint64_t, uint16_t>> seen;
  EXPECT_EQ(clock_next(&c, t, 5), t);
  EXPECT_EQ(c.seq, 5);
  seen.insert({t, c.seq});
  for (uint32_t i = 1; i < 3 * CLOCK_SEQ_SPAN; i++) {
    uint64_t ts = clock_next(&c, t, 0);
    EXPECT_EQ(c.seq, (5 + i) % CLOCK_SEQ_SPAN);
    EXPECT_EQ(ts, t + i / CLOCK_SEQ_SPAN * TICKS_PER_MS) << i;
    seen.insert({ts, c.seq});
  }
  EXPECT_EQ(seen.size(), size_t(3 * CLOCK_SEQ_SPAN));

  // Stepped back: the run of the last timestamp goes on.
  uint64_t last = t + 2 * TICKS_PER_MS;
  EXPECT_EQ(clock_next(&c, t - 50 * TICKS_PER_MS, 0), last + TICKS_PER_MS);
  EXPECT_EQ(clock_next(&c, t, 0), last + TICKS_PER_MS);
  // A clock that has caught up starts a run of its own.
  EXPECT_EQ(clock_next(&c, t + 10 * TICKS_PER_MS, 0), t + 10 * TICKS_PER_MS);
  EXPECT_EQ(c.first_seq, c.seq);
}

TEST(Uuid, ThreadsNeverShareOne)
{
  const int threads = 4, each = 1250;
  std::vector<std::vector<std::string>> got(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; t++)
    pool.emplace_back([&, t] {
      for (int i = 0; i < each; i++) {
        char buf[UUID_BUF_LEN];
        uuid_create(buf);
        got[t].emplace_back(buf);
      }
    });
  for (auto &th : pool) th.join();
  std::set<std::string> seen;
  for (auto &v : got) seen.insert(v.begin(), v.end());
  EXPECT_EQ(seen.size(), size_t(threads * each));
}

}  // namespace
