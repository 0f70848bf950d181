// Clocks and calendar conversions.
#include <tarvo_util/sys_time.h>
#include <tarvo_util/util_limits.h>

#include <chrono>
#include <ctime>
#include <mutex>

namespace {

using namespace std::chrono;

constexpr int64_t kDay = 86400;

// tzset and mktime renew the C library's zone state on every call.  The
// library guards it with a lock of its own that the thread checker cannot
// see, so calls from several threads at once (the scanner's tagging
// threads) take this one as well.
std::mutex g_zone_lock;

// Seconds of the first and past the last instant of the convertible years.
constexpr int64_t kFirst = sys_days{year{SYS_CALTIME_YEAR_MIN} / January / 1}.time_since_epoch().count() * kDay;
constexpr int64_t kEnd = sys_days{year{SYS_CALTIME_YEAR_MAX + 1} / January / 1}.time_since_epoch().count() * kDay;

bool year_ok(int64_t y)
{
  return y >= SYS_CALTIME_YEAR_MIN && y <= SYS_CALTIME_YEAR_MAX;
}

// The date as days since 1970, when the fields make a valid date and time.
bool fields_ok(const sys_caltime_rec *cal, sys_days *date)
{
  if (!year_ok(cal->year) || cal->month < 1 || cal->month > 12 || cal->day < 1 || cal->day > 31) return false;
  if (cal->hour < 0 || cal->hour > 23 || cal->minute < 0 || cal->minute > 59 || cal->second < 0 || cal->second > 59)
    return false;
  year_month_day ymd{year{cal->year}, month{unsigned(cal->month)}, day{unsigned(cal->day)}};
  if (!ymd.ok()) return false;
  *date = sys_days{ymd};
  return true;
}

int zero(sys_caltime_rec *cal)
{
  *cal = sys_caltime_rec{};
  return 0;
}

int from_tm(sys_caltime_rec *cal, const tm &t)
{
  if (!year_ok(int64_t(t.tm_year) + 1900)) return zero(cal);
  *cal = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday};
  return 1;
}

}  // namespace

extern "C" {

int sys_timems_now(int64_t *t)
{
  timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts)) return 0;
  *t = int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  return 1;
}

int sys_time_now(int64_t *t)
{
  int64_t ms;
  if (!sys_timems_now(&ms)) return 0;
  *t = ms / 1000;
  return 1;
}

int sys_caltime_utc_from(sys_caltime_rec *cal, const int64_t *t)
{
  if (*t < kFirst || *t >= kEnd) return zero(cal);
  int64_t days = *t / kDay, secs = *t % kDay;
  if (secs < 0) {
    secs += kDay;
    days--;
  }
  sys_days d{std::chrono::days{days}};
  year_month_day ymd{d};
  *cal = {int32_t(ymd.year()), int32_t(unsigned(ymd.month())), int32_t(unsigned(ymd.day())), int32_t(secs / 3600),
          int32_t(secs / 60 % 60), int32_t(secs % 60), int32_t(weekday{d}.c_encoding())};
  return 1;
}

int sys_caltime_utc_to(const sys_caltime_rec *cal, int64_t *t)
{
  sys_days d;
  if (!fields_ok(cal, &d)) return 0;
  *t = d.time_since_epoch().count() * kDay + cal->hour * 3600 + cal->minute * 60 + cal->second;
  return 1;
}

int sys_caltime_local_from(sys_caltime_rec *cal, const int64_t *t)
{
  if (*t < kFirst - kDay || *t >= kEnd + kDay) return zero(cal);
  time_t tt = time_t(*t);
  tm out;
  {
    std::lock_guard<std::mutex> zone(g_zone_lock);
    // The zone is looked up again on each call, so that a changed TZ counts.
    tzset();
    if (!localtime_r(&tt, &out)) return zero(cal);
  }
  return from_tm(cal, out);
}

int sys_caltime_local_to(const sys_caltime_rec *cal, int64_t *t)
{
  sys_days d;
  if (!fields_ok(cal, &d)) return 0;
  tm in{};
  in.tm_year = cal->year - 1900;
  in.tm_mon = cal->month - 1;
  in.tm_mday = cal->day;
  in.tm_hour = cal->hour;
  in.tm_min = cal->minute;
  in.tm_sec = cal->second;
  in.tm_isdst = -1;
  // mktime's -1 is also a valid instant; an untouched weekday tells failure.
  in.tm_wday = -1;
  time_t r;
  {
    std::lock_guard<std::mutex> zone(g_zone_lock);
    r = mktime(&in);
  }
  if (in.tm_wday < 0) return 0;
  *t = int64_t(r);
  return 1;
}

int sys_caltime_get_local_time_offset(int32_t *seconds)
{
  std::lock_guard<std::mutex> zone(g_zone_lock);
  tzset();
  *seconds = int32_t(timezone);
  return 1;
}

}  // extern "C"
