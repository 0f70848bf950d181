// RFC 1123 dates out, RFC 822/1123 dates in.
#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_time.h>

#include <cstring>

namespace {

const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct zone_name { const char *name; int hours; };
// Three-letter names first, so that "GMT" is not read as the letter G.
const zone_name kZones[] = {{"GMT", 0}, {"EDT", 4}, {"EST", 5}, {"CDT", 5}, {"CST", 6},
                            {"MDT", 6}, {"MST", 7}, {"PDT", 7}, {"PST", 8}, {"UT", 0}};

// A cursor over the date text.
struct scanner {
  const char *s;
  uint32_t i = 0;

  // Blanks, tabs and parenthesised comments (nested); false on an
  // unbalanced '('.
  bool ws(bool required)
  {
    uint32_t start = i;
    for (;;) {
      if (s[i] == ' ' || s[i] == '\t') {
        i++;
      } else if (s[i] == '(') {
        for (uint32_t depth = 0;; i++) {
          if (!s[i]) return false;
          if (s[i] == '(') depth++;
          if (s[i] == ')' && --depth == 0) break;
        }
        i++;
      } else {
        return !required || i > start;
      }
    }
  }

  // min to max digits; false otherwise (also when more digits follow).
  bool digits(uint32_t min, uint32_t max, int32_t *v)
  {
    uint32_t n = 0;
    int32_t r = 0;
    while (s[i + n] >= '0' && s[i + n] <= '9') {
      if (++n > max) return false;
      r = r * 10 + (s[i + n - 1] - '0');
    }
    if (n < min) return false;
    i += n;
    *v = r;
    return true;
  }

  bool lit(char c)
  {
    if (s[i] != c) return false;
    i++;
    return true;
  }

  // The index of the name of the table that the text starts with, or -1.
  template <size_t N> int name(const char (&table)[N][4])
  {
    for (size_t k = 0; k < N; k++)
      if (!std::strncmp(s + i, table[k], 3)) {
        i += 3;
        return int(k);
      }
    return -1;
  }

  // The zone's correction to UTC in seconds.
  bool zone(int64_t *corr)
  {
    char c = s[i];
    if (c == '+' || c == '-') {
      i++;
      int32_t hhmm;
      if (!digits(4, 4, &hhmm)) return false;
      int64_t off = int64_t(hhmm / 100) * 3600 + (hhmm % 100) * 60;
      *corr = c == '+' ? -off : off;
      return true;
    }
    for (const zone_name &z : kZones) {
      size_t n = std::strlen(z.name);
      if (!std::strncmp(s + i, z.name, n)) {
        i += uint32_t(n);
        *corr = int64_t(z.hours) * 3600;
        return true;
      }
    }
    char u = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    int h;
    if (u >= 'A' && u <= 'I') h = -(u - 'A' + 1);
    else if (u >= 'K' && u <= 'M') h = -(u - 'K' + 10);
    else if (u >= 'N' && u <= 'Y') h = u - 'N' + 1;
    else if (u == 'Z') h = 0;
    else return false;
    i++;
    *corr = int64_t(h) * 3600;
    return true;
  }
};

}  // namespace

extern "C" {

uint32_t http_date_fmt(char *buf, const int64_t *t)
{
  sys_caltime_rec c{};
  sys_caltime_utc_from(&c, t);
  const char *day = kDays[c.weekday >= 0 && c.weekday < 7 ? c.weekday : 0];
  const char *mon = kMonths[c.month >= 1 && c.month <= 12 ? c.month - 1 : 11];
  uint32_t n = 0;
  auto put = [&](const char *s, uint32_t k) {
    if (buf) std::memcpy(buf + n, s, k);
    n += k;
  };
  auto num = [&](int32_t v, uint32_t width) {
    n += width ? sys_str_fmt_0uint32(buf ? buf + n : nullptr, uint32_t(v), width)
               : sys_str_fmt_int32(buf ? buf + n : nullptr, v);
  };
  put(day, 3);
  put(", ", 2);
  num(c.day, 2);
  put(" ", 1);
  put(mon, 3);
  put(" ", 1);
  num(c.year, 0);
  put(" ", 1);
  num(c.hour, 2);
  put(":", 1);
  num(c.minute, 2);
  put(":", 1);
  num(c.second, 2);
  put(" GMT", 4);
  return n;
}

uint32_t http_date_scan(const char *s, int64_t *t)
{
  scanner p{s};
  sys_caltime_rec c{};
  if (!p.ws(false)) return 0;
  if (p.name(kDays) >= 0 && !(p.ws(false) && p.lit(',') && p.ws(false))) return 0;
  if (!p.digits(1, 2, &c.day) || !p.ws(true)) return 0;
  int mon = p.name(kMonths);
  if (mon < 0 || !p.ws(true)) return 0;
  c.month = mon + 1;
  uint32_t y0 = p.i;
  if (!p.digits(2, 9, &c.year)) return 0;
  uint32_t ydigits = p.i - y0;
  if (ydigits == 2) c.year += c.year < 50 ? 2000 : 1900;
  else if (ydigits == 3) c.year += 1900;
  if (!p.ws(true) || !p.digits(2, 2, &c.hour) || !p.ws(false) || !p.lit(':') || !p.ws(false) ||
      !p.digits(2, 2, &c.minute))
    return 0;
  uint32_t before_seconds = p.i;
  if (!p.ws(false)) return 0;
  if (p.lit(':')) {
    if (!p.ws(false) || !p.digits(2, 2, &c.second)) return 0;
  } else {
    p.i = before_seconds;
  }
  int64_t corr;
  if (!p.ws(true) || !p.zone(&corr)) return 0;
  if (s[p.i] && !p.ws(true)) return 0;
  int64_t v;
  if (!sys_caltime_utc_to(&c, &v)) return 0;
  *t = v + corr;
  return p.i;
}

}  // extern "C"
