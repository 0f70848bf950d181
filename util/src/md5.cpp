// MD5.
#include <tarvo_util/digest.h>
#include <tarvo_util/sys_str.h>

#include "hash_block.h"

#include <cstring>

namespace {

using tarvo_hash::rol;

// floor(abs(sin(i + 1)) * 2^32)
const uint32_t K[64] = {
  0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
  0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
  0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
  0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
  0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
  0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
  0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
  0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

const int S[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void put_word(const md5_ctx_rec *ctx, unsigned char *p, uint32_t v)
{
  if (ctx->byte_order)
    sys_uint32_pack(p, v);
  else
    sys_uint32_pack_big(p, v);
}

void compress(md5_ctx_rec *ctx)
{
  uint32_t x[16];
  for (int i = 0; i < 16; i++) {
    if (ctx->byte_order)
      sys_uint32_unpack(ctx->block + 4 * i, &x[i]);
    else
      sys_uint32_unpack_big(ctx->block + 4 * i, &x[i]);
  }
  uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3];
  for (int i = 0; i < 64; i++) {
    int round = i / 16;
    uint32_t f;
    int g;
    switch (round) {
      case 0: f = (b & c) | (~b & d); g = i; break;
      case 1: f = (d & b) | (~d & c); g = (5 * i + 1) & 15; break;
      case 2: f = b ^ c ^ d; g = (3 * i + 5) & 15; break;
      default: f = c ^ (b | ~d); g = (7 * i) & 15; break;
    }
    uint32_t tmp = d;
    d = c;
    c = b;
    b = b + rol(a + f + K[i] + x[g], S[round][i & 3]);
    a = tmp;
  }
  tarvo_hash::add_state(ctx, {a, b, c, d});
  explicit_bzero(x, sizeof x);
}

}  // namespace

extern "C" {

void md5_init(md5_ctx_rec *ctx)
{
  static const uint32_t iv[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  tarvo_hash::start(ctx, iv);
}

void md5_write(md5_ctx_rec *ctx, const void *data, uint32_t len)
{
  tarvo_hash::write<md5_ctx_rec, compress>(ctx, data, len);
}

void md5_final(md5_ctx_rec *ctx, unsigned char *digest)
{
  tarvo_hash::pad<md5_ctx_rec, compress>(ctx, false);
  for (int i = 0; i < 4; i++) put_word(ctx, digest + 4 * i, ctx->state[i]);
}

}  // extern "C"
