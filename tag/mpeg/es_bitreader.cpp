// The bit reader and the searches every elementary-stream parser uses.
#include "es_impl.h"

extern "C" {

void es_bitreader_init(es_bitreader *r, const unsigned char *data, uint32_t length)
{
  r->data = data;
  r->length = length;
  r->loaded = 0;
  r->bits_left = 0;
}

// Up to 32 bits gathered in 64 so that no shift reaches the width.
static int read_bits(es_bitreader *r, uint32_t n, uint32_t *value)
{
  uint64_t v = 0;
  while (n > 0) {
    if (r->bits_left == 0) {
      if (r->loaded >= r->length) return 0;
      r->loaded++;
      r->bits_left = 8;
    }
    uint32_t take = n < r->bits_left ? n : r->bits_left;
    uint32_t byte = r->data[r->loaded - 1];
    uint32_t part = (byte >> (r->bits_left - take)) & ((1u << take) - 1);
    v = (v << take) | part;
    r->bits_left = uint8_t(r->bits_left - take);
    n -= take;
  }
  *value = uint32_t(v);
  return 1;
}

int es_bitreader_read8(es_bitreader *r, uint32_t n, uint8_t *value)
{
  uint32_t v;
  if (n > 8 || !read_bits(r, n, &v)) return 0;
  *value = uint8_t(v);
  return 1;
}

int es_bitreader_read16(es_bitreader *r, uint32_t n, uint16_t *value)
{
  uint32_t v;
  if (n > 16 || !read_bits(r, n, &v)) return 0;
  *value = uint16_t(v);
  return 1;
}

int es_bitreader_read32(es_bitreader *r, uint32_t n, uint32_t *value)
{
  if (n > 32) return 0;
  return read_bits(r, n, value);
}

int es_bitreader_skip(es_bitreader *r, uint32_t n)
{
  if (n <= r->bits_left) {
    r->bits_left = uint8_t(r->bits_left - n);
    return 1;
  }
  uint64_t rest = uint64_t(n) - r->bits_left;
  uint64_t bytes = (rest + 7) / 8;
  if (bytes > r->length - r->loaded) return 0;
  r->loaded += uint32_t(bytes);
  r->bits_left = uint8_t(bytes * 8 - rest);
  return 1;
}

const unsigned char *es_bitreader_position(const es_bitreader *r)
{
  return r->data + r->loaded;
}

}  // extern "C"

namespace es {

uint32_t bits::ue()
{
  uint32_t zeros = 0;
  while (ok() && !flag()) {
    if (++zeros > 31) {
      fail();
      return 0;
    }
  }
  uint32_t rest = get(zeros);
  return ok() ? uint32_t((uint64_t(1) << zeros) - 1 + rest) : 0;
}

uint32_t next_start_code_after_zeros(const unsigned char *p, uint32_t len, uint32_t pos, bool *more)
{
  uint32_t zeros = 0;
  for (uint32_t i = pos; i < len; i++) {
    if (p[i] == 0) {
      zeros++;
      continue;
    }
    *more = false;
    if (p[i] != 1 || zeros < 2) return UINT32_MAX;
    if (i + 1 >= len) break;
    return i - 2;
  }
  *more = true;
  return UINT32_MAX;
}

int lock_ring_add(es_lock_ring *ring, const unsigned char *candidate, bool (*equal)(const unsigned char *, const unsigned char *))
{
  unsigned char *slot = ring->slot[ring->count % 5];
  for (int k = 0; k < 4; k++) slot[k] = candidate[k];
  if (ring->count < UINT32_MAX) ring->count++;
  if (ring->count < 5) return -1;
  for (int i = 0; i < 5; i++) {
    int same = 0;
    for (int j = i; j < 5; j++) same += equal(ring->slot[i], ring->slot[j]);
    if (same >= 3) return i;
  }
  return -1;
}

}  // namespace es
