// Normal play time: sec[.frac] and h:mm:ss[.frac], in milliseconds.
#include <tarvo_util/dlna.h>

namespace {

// Values beyond this many seconds are refused rather than wrapped.
constexpr uint64_t kMaxSeconds = uint64_t(INT64_MAX) / 1000 - 1;

bool blank(char c) { return c == ' ' || c == '\t'; }

uint32_t skip_blanks(const char *s)
{
  uint32_t i = 0;
  while (blank(s[i])) i++;
  return i;
}

// Decimal digits at s; the count, 0 when none or when the value passes
// kMaxSeconds.
uint32_t digits(const char *s, uint64_t *v)
{
  uint64_t x = 0;
  uint32_t i = 0;
  for (; s[i] >= '0' && s[i] <= '9'; i++) {
    x = x * 10 + uint64_t(s[i] - '0');
    if (x > kMaxSeconds) return 0;
  }
  *v = x;
  return i;
}

// An optional '.' and 1 to 3 digits, scaled to milliseconds; the count, or
// UINT32_MAX for a bad fraction.
uint32_t fraction(const char *s, uint64_t *ms)
{
  *ms = 0;
  if (*s != '.') return 0;
  uint32_t n = 0;
  uint64_t v = 0;
  while (n < 4 && s[1 + n] >= '0' && s[1 + n] <= '9') v = v * 10 + uint64_t(s[1 + n++] - '0');
  if (n == 0 || n > 3) return UINT32_MAX;
  for (uint32_t i = n; i < 3; i++) v *= 10;
  *ms = v;
  return n + 1;
}

}  // namespace

extern "C" {

uint32_t npt_scan_sec(const char *s, int64_t *ms)
{
  uint64_t sec, frac;
  uint32_t i = digits(s, &sec);
  if (!i) return 0;
  uint32_t f = fraction(s + i, &frac);
  if (f == UINT32_MAX) return 0;
  i += f;
  // A ':' means the value is h:mm:ss, for the other scanner.
  if (s[i + skip_blanks(s + i)] == ':') return 0;
  *ms = int64_t(sec * 1000 + frac);
  return i;
}

uint32_t npt_scan_hhmmss(const char *s, int64_t *ms)
{
  uint64_t h, m, sec, frac;
  uint32_t i = digits(s, &h), n;
  if (!i) return 0;
  i += skip_blanks(s + i);
  if (s[i++] != ':') return 0;
  i += skip_blanks(s + i);
  if (!(n = digits(s + i, &m))) return 0;
  i += n;
  if (s[i++] != ':') return 0;
  i += skip_blanks(s + i);
  if (!(n = digits(s + i, &sec))) return 0;
  i += n;
  if ((n = fraction(s + i, &frac)) == UINT32_MAX) return 0;
  i += n;
  if (h > kMaxSeconds / 3600) return 0;
  // Each field is now small enough that the sum cannot wrap 64 bits.
  uint64_t total = h * 3600 + m * 60 + sec;
  if (total > kMaxSeconds) return 0;
  *ms = int64_t(total * 1000 + frac);
  return i;
}

}  // extern "C"
