// UTF-8 sequence rules shared by the Unicode array conversions, the
// charset guess and the strict path conversions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo {

constexpr uint32_t kReplacement = 0xFFFD;

inline bool is_surrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The well-formed UTF-8 sequence at p, of which at most avail bytes exist:
// its length (1-4) with *cp set, 0 when it is illegal, -1 when the bytes
// run out before it ends.  Overlong forms, surrogates and values above
// U+10FFFF are illegal.
inline int utf8_seq(const unsigned char *p, size_t avail, uint32_t *cp)
{
  unsigned c = p[0];
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  int len;
  uint32_t v;
  unsigned lo = 0x80, hi = 0xBF;
  if (c < 0xC2) return 0;
  if (c < 0xE0) {
    len = 2;
    v = c & 0x1F;
  } else if (c < 0xF0) {
    len = 3;
    v = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c < 0xF5) {
    len = 4;
    v = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (int i = 1; i < len; i++) {
    if (size_t(i) >= avail) return -1;
    unsigned b = p[i];
    if (b < lo || b > hi) return 0;
    lo = 0x80;
    hi = 0xBF;
    v = (v << 6) | (b & 0x3F);
  }
  *cp = v;
  return len;
}

// Bytes that encode c (a value that is not a code point counts as U+FFFD).
inline int utf8_len(uint32_t c)
{
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c < 0x10000 && !is_surrogate(c)) return 3;
  if (c >= 0x10000 && c <= 0x10FFFF) return 4;
  return 3;
}

// Writes c (or U+FFFD) and returns the byte count.
inline int utf8_put(unsigned char *d, uint32_t c)
{
  if (c > 0x10FFFF || is_surrogate(c)) c = kReplacement;
  if (c < 0x80) {
    d[0] = uint8_t(c);
    return 1;
  }
  if (c < 0x800) {
    d[0] = uint8_t(0xC0 | (c >> 6));
    d[1] = uint8_t(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    d[0] = uint8_t(0xE0 | (c >> 12));
    d[1] = uint8_t(0x80 | ((c >> 6) & 0x3F));
    d[2] = uint8_t(0x80 | (c & 0x3F));
    return 3;
  }
  d[0] = uint8_t(0xF0 | (c >> 18));
  d[1] = uint8_t(0x80 | ((c >> 12) & 0x3F));
  d[2] = uint8_t(0x80 | ((c >> 6) & 0x3F));
  d[3] = uint8_t(0x80 | (c & 0x3F));
  return 4;
}

}  // namespace tarvo
