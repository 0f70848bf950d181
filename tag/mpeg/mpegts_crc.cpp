// CRC-32/MPEG-2 of PSI sections and the descriptor loops they carry.
#include "mpegts_impl.h"

namespace {

struct crc_table {
  uint32_t v[256];
  constexpr crc_table() : v{}
  {
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t c = i << 24;
      for (int k = 0; k < 8; k++) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      v[i] = c;
    }
  }
};

constexpr crc_table kCrc;

}  // namespace

extern "C" {

uint32_t crc32_mpeg2(const unsigned char *data, uint32_t length)
{
  uint32_t crc = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < length; i++) crc = (crc << 8) ^ kCrc.v[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}

int crc32_mpeg2_check(const unsigned char *section, uint32_t length)
{
  return length > 0 && crc32_mpeg2(section, length) == 0;
}

void crc32_mpeg2_store(unsigned char *out, uint32_t crc)
{
  out[0] = uint8_t(crc >> 24);
  out[1] = uint8_t(crc >> 16);
  out[2] = uint8_t(crc >> 8);
  out[3] = uint8_t(crc);
}

int descriptor_walk(const descriptor_handler_row *table, const unsigned char *bytes, uint32_t length,
                    mpegts_info *info)
{
  uint32_t at = 0;
  while (at < length) {
    if (length - at < 2) return 0;
    uint32_t size = 2u + bytes[at + 1];
    if (size > length - at) return 0;
    for (const descriptor_handler_row *row = table; row->handler; row++)
      if (row->tag == bytes[at]) {
        row->handler(bytes + at, size, info);
        break;
      }
    at += size;
  }
  return 1;
}

int descriptor_find(const sys_memalloc_rec *descriptors, uint8_t tag, const unsigned char **d, uint32_t *len)
{
  const unsigned char *p = descriptors->buf;
  uint32_t at = 0, length = descriptors->len;
  while (length - at >= 2) {
    uint32_t size = 2u + p[at + 1];
    if (size > length - at) return 0;
    if (p[at] == tag) {
      *d = p + at;
      *len = size;
      return 1;
    }
    at += size;
  }
  return 0;
}

}  // extern "C"
