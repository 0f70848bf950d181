// SHA-1.
#include <tarvo_util/digest.h>
#include <tarvo_util/sys_str.h>

#include "hash_block.h"

#include <cstring>

namespace {

using tarvo_hash::rol;

uint32_t load(const sha1_ctx_rec *ctx, const unsigned char *p)
{
  uint32_t v;
  if (ctx->byte_order)
    sys_uint32_unpack_big(p, &v);
  else
    std::memcpy(&v, p, 4);
  return v;
}

void compress(sha1_ctx_rec *ctx)
{
  // The message schedule is kept as a 16-word ring.
  uint32_t w[16];
  for (int i = 0; i < 16; i++) w[i] = load(ctx, ctx->block + 4 * i);
  uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3], e = ctx->state[4];
  for (int t = 0; t < 80; t++) {
    if (t >= 16) w[t & 15] = rol(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5a827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ed9eba1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d;
      k = 0xca62c1d6;
    }
    uint32_t tmp = rol(a, 5) + f + e + k + w[t & 15];
    e = d;
    d = c;
    c = rol(b, 30);
    b = a;
    a = tmp;
  }
  tarvo_hash::add_state(ctx, {a, b, c, d, e});
  // The schedule holds message words; leave none of it on the stack.
  explicit_bzero(w, sizeof w);
}

}  // namespace

extern "C" {

void sha1_init(sha1_ctx_rec *ctx)
{
  static const uint32_t iv[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  tarvo_hash::start(ctx, iv);
}

void sha1_write(sha1_ctx_rec *ctx, const void *data, uint32_t len)
{
  tarvo_hash::write<sha1_ctx_rec, compress>(ctx, data, len);
}

void sha1_final(sha1_ctx_rec *ctx, unsigned char *digest)
{
  tarvo_hash::pad<sha1_ctx_rec, compress>(ctx, true);
  for (int i = 0; i < 5; i++) {
    if (ctx->byte_order)
      sys_uint32_pack_big(digest + 4 * i, ctx->state[i]);
    else
      std::memcpy(digest + 4 * i, &ctx->state[i], 4);
  }
}

}  // extern "C"
