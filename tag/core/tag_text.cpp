// UTF-16 text of tags (ID3, ASF) to UTF-8, bounded by the length the
// container gives rather than by a terminator that may be missing.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_alloc.h>

namespace {

// Writes c as UTF-8 at d; the bytes written.
uint32_t utf8_put(unsigned char *d, uint32_t c)
{
  if (c < 0x80) {
    d[0] = uint8_t(c);
    return 1;
  }
  if (c < 0x800) {
    d[0] = uint8_t(0xC0 | c >> 6);
    d[1] = uint8_t(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    d[0] = uint8_t(0xE0 | c >> 12);
    d[1] = uint8_t(0x80 | (c >> 6 & 0x3F));
    d[2] = uint8_t(0x80 | (c & 0x3F));
    return 3;
  }
  d[0] = uint8_t(0xF0 | c >> 18);
  d[1] = uint8_t(0x80 | (c >> 12 & 0x3F));
  d[2] = uint8_t(0x80 | (c >> 6 & 0x3F));
  d[3] = uint8_t(0x80 | (c & 0x3F));
  return 4;
}

bool is_high(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

extern "C" int tag_utf16_decode(const unsigned char *data, uint32_t len, int order, char **out)
{
  uint32_t units = len / 2, i = 0;
  bool big = order == UTF8_ORDER_BIG;
  auto unit = [&](uint32_t k) {
    return big ? uint32_t(data[2 * k] << 8 | data[2 * k + 1]) : uint32_t(data[2 * k + 1] << 8 | data[2 * k]);
  };
  if (units && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE))) {
    big = data[0] == 0xFE;
    i = 1;
  }
  // A unit gives at most 3 bytes; a pair of units 4.
  auto *d = static_cast<unsigned char *>(sys_alloc(size_t(units) * 3 + 1));
  if (!d) return 0;
  uint32_t n = 0;
  for (; i < units; i++) {
    uint32_t c = unit(i);
    if (c == 0) break;
    if (is_high(c) && i + 1 < units && is_low(unit(i + 1))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      i++;
    } else if (is_high(c) || is_low(c)) {
      continue;
    }
    n += utf8_put(d + n, c);
  }
  d[n] = 0;
  *out = reinterpret_cast<char *>(d);
  return 1;
}
