// dc:date values normalised to YYYY-MM-DDTHH:MM:SS.mmm in local time.
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_time.h>

namespace {

// Exactly n digits at *s, moved past; false otherwise.
bool fixed(const char *&s, int n, int32_t *v)
{
  int32_t x = 0;
  for (int i = 0; i < n; i++) {
    if (s[i] < '0' || s[i] > '9') return false;
    x = x * 10 + (s[i] - '0');
  }
  s += n;
  *v = x;
  return true;
}

bool lit(const char *&s, char c)
{
  if (*s != c) return false;
  s++;
  return true;
}

// Digits of v, zero-padded to n, then the separator (none when 0).
char *put(char *o, int32_t v, int n, char sep)
{
  for (int i = n - 1; i >= 0; i--, v /= 10) o[i] = char('0' + v % 10);
  o += n;
  if (sep) *o++ = sep;
  return o;
}

void write(char *out, const sys_caltime_rec &c, int32_t ms)
{
  char *o = put(out, c.year, 4, '-');
  o = put(o, c.month, 2, '-');
  o = put(o, c.day, 2, 'T');
  o = put(o, c.hour, 2, ':');
  o = put(o, c.minute, 2, ':');
  o = put(o, c.second, 2, '.');
  o = put(o, ms, 3, 0);
  *o = '\0';
}

}  // namespace

extern "C" {

int dc_date_normalize(const char *in, char *out)
{
  if (!in || !out) return 0;
  sys_caltime_rec c{};
  int32_t ms = 0;
  const char *s = in;
  if (!fixed(s, 4, &c.year) || !lit(s, '-') || !fixed(s, 2, &c.month) || !lit(s, '-') || !fixed(s, 2, &c.day))
    return 0;
  bool zoned = false;
  int32_t zone = 0;  // seconds east of UTC
  if (lit(s, 'T')) {
    if (!fixed(s, 2, &c.hour) || !lit(s, ':') || !fixed(s, 2, &c.minute) || !lit(s, ':') || !fixed(s, 2, &c.second))
      return 0;
    if (lit(s, '.') && !fixed(s, 3, &ms)) return 0;
    if (lit(s, 'Z')) {
      zoned = true;
    } else if (*s == '+' || *s == '-') {
      int sign = *s++ == '+' ? 1 : -1;
      int32_t zh, zm;
      if (!fixed(s, 2, &zh) || !lit(s, ':') || !fixed(s, 2, &zm)) return 0;
      zoned = true;
      zone = sign * (zh * 3600 + zm * 60);
    }
  }
  if (*s) return 0;

  int32_t utc_minus_local = 0;
  if (zoned && !sys_caltime_get_local_time_offset(&utc_minus_local)) utc_minus_local = 0;
  if (!zoned || zone == -utc_minus_local) {
    write(out, c, ms);
    return 1;
  }
  int64_t t;
  if (!sys_caltime_utc_to(&c, &t)) return 0;
  t -= zone;
  if (t < 0) t = 0;
  sys_caltime_rec local{};
  // A zone far west can carry the last day of 9999 into a fifth year digit.
  if (!sys_caltime_local_from(&local, &t) || local.year > 9999) return 0;
  write(out, local, ms);
  return 1;
}

}  // extern "C"
