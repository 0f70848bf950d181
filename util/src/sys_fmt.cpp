// Number formatting and scanning, and byte-order packing.
#include <tarvo_util/sys_str.h>

namespace {

const char kDigits[] = "0123456789abcdef";

// Decimal, the commonest by far: a constant divisor is a multiplication.
uint32_t fmt_dec(char *buf, uint64_t v, uint32_t width)
{
  uint32_t n = 1;
  for (uint64_t t = v; t >= 10; t /= 10) n++;
  uint32_t total = n < width ? width : n;
  if (!buf) return total;
  for (uint32_t i = 0; i < total - n; i++) buf[i] = '0';
  for (uint32_t i = total; i > total - n; i--) {
    buf[i - 1] = char('0' + v % 10);
    v /= 10;
  }
  return total;
}

// Writes v in the given base, left-padded with '0' to width; buf NULL only
// measures.
uint32_t fmt_u(char *buf, uint64_t v, unsigned base, uint32_t width)
{
  if (base == 10) return fmt_dec(buf, v, width);
  uint32_t n = 1;
  for (uint64_t t = v; t >= base; t /= base) n++;
  uint32_t total = n < width ? width : n;
  if (!buf) return total;
  for (uint32_t i = 0; i < total - n; i++) buf[i] = '0';
  for (uint32_t i = total; i > total - n; i--) {
    buf[i - 1] = kDigits[v % base];
    v /= base;
  }
  return total;
}

uint32_t fmt_s(char *buf, int64_t v)
{
  if (v >= 0) return fmt_u(buf, uint64_t(v), 10, 0);
  // Negating in unsigned arithmetic keeps the most negative value right.
  uint64_t mag = 0 - uint64_t(v);
  if (!buf) return 1 + fmt_u(nullptr, mag, 10, 0);
  buf[0] = '-';
  return 1 + fmt_u(buf + 1, mag, 10, 0);
}

uint32_t scan_u(const char *s, uint64_t *out)
{
  uint64_t v = 0;
  uint32_t i = 0;
  for (; s[i] >= '0' && s[i] <= '9'; i++) v = v * 10 + uint64_t(s[i] - '0');
  *out = v;
  return i;
}

uint32_t scan_x(const char *s, uint64_t *out)
{
  uint64_t v = 0;
  uint32_t i = 0;
  for (int d; (d = sys_str_hex_digit(s[i])) >= 0; i++) v = (v << 4) | uint64_t(d);
  *out = v;
  return i;
}

// The signed scan: nothing stored for an empty string, 0 for a lone sign.
uint32_t scan_s(const char *s, int64_t *out, bool *stored)
{
  *stored = false;
  uint32_t i = 0;
  bool neg = false;
  if (s[0] == '+' || s[0] == '-') {
    neg = s[0] == '-';
    i = 1;
  }
  uint64_t mag;
  uint32_t n = scan_u(s + i, &mag);
  if (!i && !n) return 0;
  *out = int64_t(neg ? 0 - mag : mag);
  *stored = true;
  return i + n;
}

template <class T> uint32_t scan_signed(const char *s, T *out)
{
  int64_t v;
  bool stored;
  uint32_t n = scan_s(s, &v, &stored);
  if (stored) *out = T(v);
  return n;
}

template <class T> uint32_t scan_unsigned(const char *s, T *out, bool hex)
{
  uint64_t v;
  uint32_t n = hex ? scan_x(s, &v) : scan_u(s, &v);
  *out = T(v);
  return n;
}

template <class T> void pack_le(unsigned char *b, T v)
{
  for (unsigned i = 0; i < sizeof(T); i++) b[i] = (unsigned char)(v >> (8 * i));
}

template <class T> void pack_be(unsigned char *b, T v)
{
  for (unsigned i = 0; i < sizeof(T); i++) b[sizeof(T) - 1 - i] = (unsigned char)(v >> (8 * i));
}

template <class T> void unpack_le(const unsigned char *b, T *v)
{
  T r = 0;
  for (unsigned i = sizeof(T); i > 0; i--) r = T((r << 8) | b[i - 1]);
  *v = r;
}

template <class T> void unpack_be(const unsigned char *b, T *v)
{
  T r = 0;
  for (unsigned i = 0; i < sizeof(T); i++) r = T((r << 8) | b[i]);
  *v = r;
}

}  // namespace

extern "C" {

int sys_str_hex_digit(char c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t sys_str_fmt_uint(char *b, uint32_t v) { return fmt_u(b, v, 10, 0); }
uint32_t sys_str_fmt_uint16(char *b, uint32_t v) { return fmt_u(b, uint16_t(v), 10, 0); }
uint32_t sys_str_fmt_uint32(char *b, uint32_t v) { return fmt_u(b, v, 10, 0); }
uint32_t sys_str_fmt_uint64(char *b, uint64_t v) { return fmt_u(b, v, 10, 0); }
uint32_t sys_str_fmt_int(char *b, int32_t v) { return fmt_s(b, v); }
uint32_t sys_str_fmt_int16(char *b, int32_t v) { return fmt_s(b, int16_t(v)); }
uint32_t sys_str_fmt_int32(char *b, int32_t v) { return fmt_s(b, v); }
uint32_t sys_str_fmt_int64(char *b, int64_t v) { return fmt_s(b, v); }
uint32_t sys_str_fmt_xint(char *b, uint32_t v) { return fmt_u(b, v, 16, 0); }
uint32_t sys_str_fmt_xint16(char *b, uint32_t v) { return fmt_u(b, uint16_t(v), 16, 0); }
uint32_t sys_str_fmt_xint32(char *b, uint32_t v) { return fmt_u(b, v, 16, 0); }
uint32_t sys_str_fmt_xint64(char *b, uint64_t v) { return fmt_u(b, v, 16, 0); }
uint32_t sys_str_fmt_0uint(char *b, uint32_t v, uint32_t w) { return fmt_u(b, v, 10, w); }
uint32_t sys_str_fmt_0uint16(char *b, uint32_t v, uint32_t w) { return fmt_u(b, uint16_t(v), 10, w); }
uint32_t sys_str_fmt_0uint32(char *b, uint32_t v, uint32_t w) { return fmt_u(b, v, 10, w); }
uint32_t sys_str_fmt_0uint64(char *b, uint64_t v, uint32_t w) { return fmt_u(b, v, 10, w); }
uint32_t sys_str_fmt_0xint(char *b, uint32_t v, uint32_t w) { return fmt_u(b, v, 16, w); }
uint32_t sys_str_fmt_0xint16(char *b, uint32_t v, uint32_t w) { return fmt_u(b, uint16_t(v), 16, w); }
uint32_t sys_str_fmt_0xint32(char *b, uint32_t v, uint32_t w) { return fmt_u(b, v, 16, w); }
uint32_t sys_str_fmt_0xint64(char *b, uint64_t v, uint32_t w) { return fmt_u(b, v, 16, w); }

uint32_t sys_str_scan_uint(const char *s, uint32_t *o) { return scan_unsigned(s, o, false); }
uint32_t sys_str_scan_uint16(const char *s, uint16_t *o) { return scan_unsigned(s, o, false); }
uint32_t sys_str_scan_uint32(const char *s, uint32_t *o) { return scan_unsigned(s, o, false); }
uint32_t sys_str_scan_uint64(const char *s, uint64_t *o) { return scan_unsigned(s, o, false); }
uint32_t sys_str_scan_int(const char *s, int32_t *o) { return scan_signed(s, o); }
uint32_t sys_str_scan_int16(const char *s, int16_t *o) { return scan_signed(s, o); }
uint32_t sys_str_scan_int32(const char *s, int32_t *o) { return scan_signed(s, o); }
uint32_t sys_str_scan_int64(const char *s, int64_t *o) { return scan_signed(s, o); }
uint32_t sys_str_scan_xint(const char *s, uint32_t *o) { return scan_unsigned(s, o, true); }
uint32_t sys_str_scan_xint16(const char *s, uint16_t *o) { return scan_unsigned(s, o, true); }
uint32_t sys_str_scan_xint32(const char *s, uint32_t *o) { return scan_unsigned(s, o, true); }
uint32_t sys_str_scan_xint64(const char *s, uint64_t *o) { return scan_unsigned(s, o, true); }

void sys_uint16_pack(unsigned char *b, uint16_t v) { pack_le(b, v); }
void sys_uint32_pack(unsigned char *b, uint32_t v) { pack_le(b, v); }
void sys_uint64_pack(unsigned char *b, uint64_t v) { pack_le(b, v); }
void sys_uint16_pack_big(unsigned char *b, uint16_t v) { pack_be(b, v); }
void sys_uint32_pack_big(unsigned char *b, uint32_t v) { pack_be(b, v); }
void sys_uint64_pack_big(unsigned char *b, uint64_t v) { pack_be(b, v); }
void sys_uint16_unpack(const unsigned char *b, uint16_t *v) { unpack_le(b, v); }
void sys_uint32_unpack(const unsigned char *b, uint32_t *v) { unpack_le(b, v); }
void sys_uint64_unpack(const unsigned char *b, uint64_t *v) { unpack_le(b, v); }
void sys_uint16_unpack_big(const unsigned char *b, uint16_t *v) { unpack_be(b, v); }
void sys_uint32_unpack_big(const unsigned char *b, uint32_t *v) { unpack_be(b, v); }
void sys_uint64_unpack_big(const unsigned char *b, uint64_t *v) { unpack_be(b, v); }

}  // extern "C"

uint32_t sys_str_format_texts(char *out, uint32_t size, const char *format, const char *a1, const char *a2)
{
  uint32_t n = 0;
  auto put = [&](char c) {
    if (out && size && n + 1 < size) out[n] = c;
    ++n;
  };
  const char *args[2] = {a1 ? a1 : "", a2 ? a2 : ""};
  int used = 0;
  for (const char *p = format ? format : ""; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      put('%');
      ++p;
    } else if (p[0] == '%' && p[1] == 's' && used < 2) {
      for (const char *a = args[used]; *a; ++a) put(*a);
      ++used;
      ++p;
    } else put(*p);
  }
  if (out && size) out[n < size ? n : size - 1] = '\0';
  return n;
}
