// Guessing the charset of text that carries no label.
#include <tarvo_util/charset.h>
#include <tarvo_util/util_limits.h>

#include "utf8_seq.h"

namespace {

// Each validator drops out at its first failure.  A multi-byte character
// cut off by the end of the examined bytes is not a failure: the window is
// an arbitrary cut of longer text.

bool ascii_ok(const unsigned char *s, size_t len)
{
  for (size_t i = 0; i < len; i++)
    if (!((s[i] >= 0x09 && s[i] <= 0x0D) || (s[i] >= 0x20 && s[i] <= 0x7E))) return false;
  return true;
}

bool utf8_ok(const unsigned char *s, size_t len)
{
  for (size_t i = 0; i < len;) {
    uint32_t c;
    int k = tarvo::utf8_seq(s + i, len - i, &c);
    if (k < 0) return true;
    if (k == 0) return false;
    i += size_t(k);
  }
  return true;
}

// Shift-JIS without single-byte katakana; *high counts the bytes
// 0x80-0x9F, which EUC-JP text seldom holds.
bool sjis_ok(const unsigned char *s, size_t len, size_t *high)
{
  *high = 0;
  for (size_t i = 0; i < len; i++)
    if (s[i] >= 0x80 && s[i] <= 0x9F) ++*high;
  for (size_t i = 0; i < len; i++) {
    unsigned c = s[i];
    if (c < 0x80) continue;
    if (!((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) return false;
    if (++i == len) return true;
    unsigned d = s[i];
    if (!((d >= 0x40 && d <= 0x7E) || (d >= 0x80 && d <= 0xFC))) return false;
  }
  return true;
}

bool eucjp_ok(const unsigned char *s, size_t len)
{
  for (size_t i = 0; i < len; i++) {
    unsigned c = s[i];
    if (c < 0x80) continue;
    size_t trail;
    unsigned lo;
    if (c >= 0xA1 && c <= 0xFE) {
      trail = 1;
      lo = 0xA1;
    } else if (c == 0x8E) {
      trail = 1;
      lo = 0x81;
    } else if (c == 0x8F) {
      trail = 2;
      lo = 0x81;
    } else {
      return false;
    }
    for (size_t t = 0; t < trail; t++) {
      if (++i == len) return true;
      if (s[i] < lo || (c >= 0xA1 && s[i] == 0xFF)) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" const char *charencoding_autodetect(const char *data, uint32_t len)
{
  auto *s = reinterpret_cast<const unsigned char *>(data);
  size_t n = 0;
  size_t window = len < CHARSET_DETECT_WINDOW ? len : CHARSET_DETECT_WINDOW;
  while (n < window && s[n]) n++;
  if (ascii_ok(s, n)) return "ASCII";
  // Every 7-bit text passes the UTF-8 test, so 7-bit escapes (ISO-2022-JP)
  // come out as UTF-8 too.
  if (utf8_ok(s, n)) return "UTF-8";
  size_t high;
  if (sjis_ok(s, n, &high) && high * 20 > window) return "SHIFT-JIS";
  if (eucjp_ok(s, n)) return "EUC-JP";
  return "ISO-8859-1";
}
