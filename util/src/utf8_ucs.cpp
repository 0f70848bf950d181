// UTF-8 to and from arrays of 16-bit or 32-bit Unicode units.
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_str.h>

#include <cstring>

#include "heap_result.h"
#include "utf8_seq.h"

using namespace tarvo;

namespace {

bool machine_little()
{
  const uint16_t one = 1;
  unsigned char b;
  std::memcpy(&b, &one, 1);
  return b == 1;
}

// Byte order 0 is the machine's own; anything but 1 and 2 counts as 0.
bool big_order(int order)
{
  if (order == UTF8_ORDER_BIG) return true;
  if (order == UTF8_ORDER_LITTLE) return false;
  return !machine_little();
}

// Units are read and written byte by byte: callers' arrays need not be
// aligned.
void put_unit(unsigned char *d, uint32_t unit_size, bool big, uint32_t v)
{
  if (unit_size == 2) {
    if (big) sys_uint16_pack_big(d, uint16_t(v));
    else sys_uint16_pack(d, uint16_t(v));
  } else {
    if (big) sys_uint32_pack_big(d, v);
    else sys_uint32_pack(d, v);
  }
}

uint32_t get_unit(const unsigned char *s, uint32_t unit_size, bool big)
{
  if (unit_size == 2) {
    uint16_t v;
    if (big) sys_uint16_unpack_big(s, &v);
    else sys_uint16_unpack(s, &v);
    return v;
  }
  uint32_t v;
  if (big) sys_uint32_unpack_big(s, &v);
  else sys_uint32_unpack(s, &v);
  return v;
}

// The next character of a 0-terminated unit array at *s, advancing *s; 0 at
// the end.  A valid surrogate pair is one character; a lone surrogate or a
// value beyond U+10FFFF gives U+FFFD.
uint32_t next_char(const unsigned char **s, uint32_t unit_size, bool big)
{
  uint32_t c = get_unit(*s, unit_size, big);
  if (c == 0) return 0;
  *s += unit_size;
  if (unit_size == 2 && c >= 0xD800 && c <= 0xDBFF) {
    uint32_t lo = get_unit(*s, 2, big);
    if (lo >= 0xDC00 && lo <= 0xDFFF) {
      *s += 2;
      return 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
    }
  }
  if (c > 0x10FFFF || is_surrogate(c)) return kReplacement;
  return c;
}

}  // namespace

extern "C" {

int utf8_to_ucs(uint32_t unit_size, int order, const char *utf8, void *buf, uint32_t count, uint32_t *n)
{
  if (unit_size != 2 && unit_size != 4) return 0;
  bool big = big_order(order);
  auto *s = reinterpret_cast<const unsigned char *>(utf8);
  auto *d = static_cast<unsigned char *>(buf);
  uint32_t units = 0;
  // The NUL is an illegal trailing byte, so no sequence reads past it.
  for (;;) {
    uint32_t c;
    int k = *s ? utf8_seq(s, SIZE_MAX, &c) : 0;
    if (k <= 0) break;
    if (d) {
      if (units + 1 >= count) break;
      if (unit_size == 2 && c > 0xFFFF) c = kReplacement;
      put_unit(d + size_t(units) * unit_size, unit_size, big, c);
    }
    if (++units == UINT32_MAX - 1) return 0;
    s += k;
  }
  if (d && count) put_unit(d + size_t(units) * unit_size, unit_size, big, 0);
  *n = units;
  return 1;
}

int utf8_to_ucs2(uint32_t unit_size, int order, const char *utf8, void **out)
{
  auto convert = [&](void *b, uint32_t count, uint32_t *n) {
    return utf8_to_ucs(unit_size, order, utf8, b, count, n);
  };
  return measure_and_fill(convert, unit_size, 1, out);
}

int utf8_to_wcs(const char *utf8, sys_wchar *buf, uint32_t count, uint32_t *n)
{
  return utf8_to_ucs(2, UTF8_ORDER_MACHINE, utf8, buf, count, n);
}

int utf8_to_wcs2(const char *utf8, sys_wchar **out)
{
  void *b;
  if (!utf8_to_ucs2(2, UTF8_ORDER_MACHINE, utf8, &b)) return 0;
  *out = static_cast<sys_wchar *>(b);
  return 1;
}

int utf8_from_ucs(uint32_t unit_size, int order, const void *units, char *buf, uint32_t size, uint32_t *n)
{
  if (buf && size == 0) return 0;
  if (unit_size != 2) unit_size = 4;
  bool big = big_order(order);
  auto *s = static_cast<const unsigned char *>(units);
  auto *d = reinterpret_cast<unsigned char *>(buf);
  uint64_t len = 0;
  for (;;) {
    uint32_t c = next_char(&s, unit_size, big);
    if (c == 0) break;
    int k = utf8_len(c);
    if (d) {
      if (len + k >= size) break;
      utf8_put(d + len, c);
    }
    len += k;
    if (len > UINT32_MAX - 4) return 0;
  }
  if (d) d[len] = 0;
  *n = uint32_t(len);
  return 1;
}

int utf8_from_ucs2(uint32_t unit_size, int order, const void *units, char **out)
{
  auto convert = [&](char *b, uint32_t size, uint32_t *n) {
    return utf8_from_ucs(unit_size, order, units, b, size, n);
  };
  return measure_and_fill(convert, 1, 1, out);
}

int utf8_from_wcs(const sys_wchar *wcs, char *buf, uint32_t size, uint32_t *n)
{
  return utf8_from_ucs(2, UTF8_ORDER_MACHINE, wcs, buf, size, n);
}

int utf8_from_wcs2(const sys_wchar *wcs, char **out)
{
  return utf8_from_ucs2(2, UTF8_ORDER_MACHINE, wcs, out);
}

}  // extern "C"
