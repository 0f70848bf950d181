// Base64 text of the standard alphabet, "=" padded.
#include <tarvo_util/digest.h>

#include <cstdint>

namespace {

const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of c, or -1 outside the alphabet.
int value(unsigned char c)
{
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

extern "C" {

int base64_encode(sys_stralloc_rec *sa, const void *data, uint32_t len)
{
  uint64_t out_len = (uint64_t(len) + 2) / 3 * 4;
  if (out_len > UINT32_MAX) return 0;
  if (!sys_stralloc_ready(sa, uint32_t(out_len))) return 0;
  auto *p = static_cast<const unsigned char *>(data);
  char *o = sa->buf;
  uint32_t i = 0;
  for (; len - i >= 3; i += 3) {
    uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8 | p[i + 2];
    *o++ = ALPHABET[v >> 18];
    *o++ = ALPHABET[(v >> 12) & 63];
    *o++ = ALPHABET[(v >> 6) & 63];
    *o++ = ALPHABET[v & 63];
  }
  if (len - i) {
    uint32_t v = uint32_t(p[i]) << 16 | (len - i == 2 ? uint32_t(p[i + 1]) << 8 : 0);
    *o++ = ALPHABET[v >> 18];
    *o++ = ALPHABET[(v >> 12) & 63];
    *o++ = len - i == 2 ? ALPHABET[(v >> 6) & 63] : '=';
    *o++ = '=';
  }
  sa->len = uint32_t(out_len);
  return 1;
}

int base64_decode(sys_memalloc_rec *ma, const char *text, uint32_t len)
{
  auto *t = reinterpret_cast<const unsigned char *>(text);
  uint32_t n = 0;
  while (n < len && value(t[n]) >= 0) n++;
  // A last lone character carries fewer than 8 bits: it gives no byte.
  uint32_t out_len = n / 4 * 3 + (n % 4 ? n % 4 - 1 : 0);
  if (!sys_memalloc_ready(ma, out_len)) return 0;
  unsigned char *o = ma->buf;
  uint32_t v = 0, bits = 0;
  for (uint32_t i = 0; i < n; i++) {
    v = (v << 6) | uint32_t(value(t[i]));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      *o++ = uint8_t(v >> bits);
    }
  }
  ma->len = out_len;
  return 1;
}

}  // extern "C"
