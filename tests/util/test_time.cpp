// Clocks and calendar conversions, in UTC and in two time zones.
#include <tarvo_util/sys_time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

namespace {

sys_caltime_rec cal(int y, int mo, int d, int h, int mi, int s, int wd = 0)
{
  return {y, mo, d, h, mi, s, wd};
}

void expect_cal(const sys_caltime_rec &c, int y, int mo, int d, int h, int mi, int s, int wd)
{
  EXPECT_EQ(c.year, y);
  EXPECT_EQ(c.month, mo);
  EXPECT_EQ(c.day, d);
  EXPECT_EQ(c.hour, h);
  EXPECT_EQ(c.minute, mi);
  EXPECT_EQ(c.second, s);
  EXPECT_EQ(c.weekday, wd);
}

// In local time t is the given fields, and they convert back to t.
void expect_local(int64_t t, int y, int mo, int d, int h, int mi, int s, int wd)
{
  sys_caltime_rec c;
  int64_t back = 0;
  ASSERT_EQ(sys_caltime_local_from(&c, &t), 1);
  expect_cal(c, y, mo, d, h, mi, s, wd);
  ASSERT_EQ(sys_caltime_local_to(&c, &back), 1);
  EXPECT_EQ(back, t);
}

int32_t zone_offset()
{
  int32_t off = 12345;
  EXPECT_EQ(sys_caltime_get_local_time_offset(&off), 1);
  return off;
}

// Sets TZ for one test and puts the old value back.
struct zone {
  std::string old;
  bool had;
  explicit zone(const char *tz)
  {
    const char *o = std::getenv("TZ");
    had = o != nullptr;
    if (had) old = o;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~zone()
  {
    if (had)
      setenv("TZ", old.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
};

TEST(Clock, FollowsTheSystemClock)
{
  int64_t ms = 0, s = 0;
  ASSERT_EQ(sys_timems_now(&ms), 1);
  ASSERT_EQ(sys_time_now(&s), 1);
  int64_t ref = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  EXPECT_LE(ms, ref);
  EXPECT_GT(ms, ref - 2000);
  EXPECT_GE(s, ms / 1000);
  EXPECT_LE(s, ref / 1000);
}

TEST(Calendar, UtcKnownInstants)
{
  sys_caltime_rec c;
  int64_t t = 0, back = -7;
  ASSERT_EQ(sys_caltime_utc_from(&c, &t), 1);
  expect_cal(c, 1970, 1, 1, 0, 0, 0, 4);
  ASSERT_EQ(sys_caltime_utc_to(&c, &back), 1);
  EXPECT_EQ(back, 0);

  t = -1;  // before 1970 the seconds count down into the previous day
  ASSERT_EQ(sys_caltime_utc_from(&c, &t), 1);
  expect_cal(c, 1969, 12, 31, 23, 59, 59, 3);

  t = 951782400 + 3723;
  ASSERT_EQ(sys_caltime_utc_from(&c, &t), 1);
  expect_cal(c, 2000, 2, 29, 1, 2, 3, 2);

  // The weekday of the input plays no part.
  c = cal(2000, 2, 29, 1, 2, 3, 6);
  ASSERT_EQ(sys_caltime_utc_to(&c, &back), 1);
  EXPECT_EQ(back, 951782400 + 3723);
}

TEST(Calendar, UtcRangeEnds)
{
  sys_caltime_rec c;
  int64_t t = -11644473600, back;  // 1601-01-01, a Monday
  ASSERT_EQ(sys_caltime_utc_from(&c, &t), 1);
  expect_cal(c, 1601, 1, 1, 0, 0, 0, 1);
  ASSERT_EQ(sys_caltime_utc_to(&c, &back), 1);
  EXPECT_EQ(back, t);

  t--;
  c = cal(1, 1, 1, 1, 1, 1, 1);
  EXPECT_EQ(sys_caltime_utc_from(&c, &t), 0);
  expect_cal(c, 0, 0, 0, 0, 0, 0, 0);

  c = cal(30827, 12, 31, 23, 59, 59);
  ASSERT_EQ(sys_caltime_utc_to(&c, &t), 1);
  ASSERT_EQ(sys_caltime_utc_from(&c, &t), 1);
  EXPECT_EQ(c.year, 30827);
  t++;
  EXPECT_EQ(sys_caltime_utc_from(&c, &t), 0);
  t = INT64_MAX;
  EXPECT_EQ(sys_caltime_utc_from(&c, &t), 0);
  t = INT64_MIN;
  EXPECT_EQ(sys_caltime_utc_from(&c, &t), 0);
}

TEST(Calendar, InvalidFieldsAreRefused)
{
  const sys_caltime_rec bad[] = {
      cal(2001, 2, 29, 0, 0, 0), cal(1900, 2, 29, 0, 0, 0), cal(2000, 13, 1, 0, 0, 0), cal(2000, 0, 1, 0, 0, 0),
      cal(2000, 4, 31, 0, 0, 0), cal(2000, 1, 0, 0, 0, 0),  cal(2000, 1, 1, 24, 0, 0), cal(2000, 1, 1, 0, 60, 0),
      cal(2000, 1, 1, 0, 0, 60), cal(2000, 1, 1, -1, 0, 0), cal(1600, 12, 31, 23, 59, 59), cal(30828, 1, 1, 0, 0, 0),
  };
  for (const auto &c : bad) {
    int64_t t = 12345;
    EXPECT_EQ(sys_caltime_utc_to(&c, &t), 0) << c.year << "-" << c.month << "-" << c.day << " " << c.hour;
    EXPECT_EQ(sys_caltime_local_to(&c, &t), 0);
    EXPECT_EQ(t, 12345);
  }
  int64_t t;
  auto leap = cal(2000, 2, 29, 0, 0, 0);
  EXPECT_EQ(sys_caltime_utc_to(&leap, &t), 1);
}

TEST(Calendar, UtcAgreesWithTheCLibraryBothWays)
{
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int64_t> d(-11644473600, 253402300799);  // 1601 .. 9999
  for (int i = 0; i < 20000; i++) {
    int64_t t = d(rng), back = 0;
    time_t tt = time_t(t);
    tm ref;
    ASSERT_NE(gmtime_r(&tt, &ref), nullptr);
    sys_caltime_rec c;
    ASSERT_EQ(sys_caltime_utc_from(&c, &t), 1);
    expect_cal(c, ref.tm_year + 1900, ref.tm_mon + 1, ref.tm_mday, ref.tm_hour, ref.tm_min, ref.tm_sec, ref.tm_wday);
    ASSERT_EQ(sys_caltime_utc_to(&c, &back), 1);
    ASSERT_EQ(back, t);
  }
}

TEST(Calendar, LocalInUtc)
{
  zone z("UTC");
  EXPECT_EQ(zone_offset(), 0);
  expect_local(951782400, 2000, 2, 29, 0, 0, 0, 2);
}

TEST(Calendar, LocalInTokyo)
{
  zone z("Asia/Tokyo");
  EXPECT_EQ(zone_offset(), -32400);
  expect_local(0, 1970, 1, 1, 9, 0, 0, 4);
  // Early morning in Tokyo is the previous day in UTC.
  sys_caltime_rec c = cal(2024, 1, 1, 8, 59, 59);
  int64_t t;
  ASSERT_EQ(sys_caltime_local_to(&c, &t), 1);
  ASSERT_EQ(sys_caltime_utc_from(&c, &t), 1);
  expect_cal(c, 2023, 12, 31, 23, 59, 59, 0);
}

TEST(Calendar, LocalInNewYorkAcrossDaylightSaving)
{
  zone z("America/New_York");
  EXPECT_EQ(zone_offset(), 18000);  // standard time, also in summer

  // 2024-03-10: 02:00 EST became 03:00 EDT, at 07:00 UTC.
  const int64_t shift = 1710054000;
  expect_local(shift - 1, 2024, 3, 10, 1, 59, 59, 0);
  expect_local(shift, 2024, 3, 10, 3, 0, 0, 0);

  sys_caltime_rec c = cal(2024, 7, 1, 12, 0, 0);
  int64_t t;
  ASSERT_EQ(sys_caltime_local_to(&c, &t), 1);
  EXPECT_EQ(t, 1719849600);  // 16:00 UTC
  c = cal(2024, 1, 15, 12, 0, 0);
  ASSERT_EQ(sys_caltime_local_to(&c, &t), 1);
  EXPECT_EQ(t, 1705338000);  // 17:00 UTC

  // 01:30 on 2024-11-03 happens twice; either reading is a right answer.
  c = cal(2024, 11, 3, 1, 30, 0);
  ASSERT_EQ(sys_caltime_local_to(&c, &t), 1);
  EXPECT_TRUE(t == 1730611800 || t == 1730615400) << t;
}

TEST(Calendar, ZoneChangesAreSeenWithoutRestart)
{
  int64_t t = 0;
  sys_caltime_rec c;
  {
    zone z("Asia/Tokyo");
    ASSERT_EQ(sys_caltime_local_from(&c, &t), 1);
    EXPECT_EQ(c.hour, 9);
  }
  // Only TZ changes here; the calls themselves must notice it.
  setenv("TZ", "America/New_York", 1);
  ASSERT_EQ(sys_caltime_local_from(&c, &t), 1);
  EXPECT_EQ(c.hour, 19);
  unsetenv("TZ");
  tzset();
}

}  // namespace
