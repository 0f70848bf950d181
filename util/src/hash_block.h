// Block buffering and padding shared by the hashes of 64-byte blocks.
#pragma once

#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace tarvo_hash {

template <class Ctx, size_t N> void start(Ctx *ctx, const uint32_t (&iv)[N])
{
  static_assert(sizeof ctx->state == sizeof iv);
  ctx->byte_order = 1;
  std::memcpy(ctx->state, iv, sizeof iv);
  ctx->blocks = 0;
  ctx->block_len = 0;
}

// Adds a compression's working variables to the chaining state.
template <class Ctx> void add_state(Ctx *ctx, std::initializer_list<uint32_t> v)
{
  uint32_t *s = ctx->state;
  for (uint32_t x : v) *s++ += x;
}

// A full block waits in the context until more input or the final padding
// needs the room.
template <class Ctx, void (*Compress)(Ctx *)> void flush_full(Ctx *ctx)
{
  if (ctx->block_len < 64) return;
  Compress(ctx);
  ctx->blocks++;
  ctx->block_len = 0;
}

template <class Ctx, void (*Compress)(Ctx *)> void write(Ctx *ctx, const void *data, uint32_t len)
{
  flush_full<Ctx, Compress>(ctx);
  if (!data) return;
  auto *p = static_cast<const unsigned char *>(data);
  while (len) {
    flush_full<Ctx, Compress>(ctx);
    uint32_t n = std::min<uint32_t>(len, uint32_t(64 - ctx->block_len));
    std::memcpy(ctx->block + ctx->block_len, p, n);
    ctx->block_len += int32_t(n);
    p += n;
    len -= n;
  }
}

// Appends 0x80, zeros and the message length in bits, compressing one or
// two blocks.
template <class Ctx, void (*Compress)(Ctx *)> void pad(Ctx *ctx, bool big_endian_length)
{
  flush_full<Ctx, Compress>(ctx);
  uint64_t bits = (uint64_t(ctx->blocks) * 64 + uint64_t(ctx->block_len)) * 8;
  ctx->block[ctx->block_len++] = 0x80;
  if (ctx->block_len > 56) {
    std::memset(ctx->block + ctx->block_len, 0, size_t(64 - ctx->block_len));
    Compress(ctx);
    ctx->block_len = 0;
  }
  std::memset(ctx->block + ctx->block_len, 0, size_t(56 - ctx->block_len));
  if (big_endian_length)
    sys_uint64_pack_big(ctx->block + 56, bits);
  else
    sys_uint64_pack(ctx->block + 56, bits);
  Compress(ctx);
  ctx->block_len = 0;
}

inline uint32_t rol(uint32_t x, int n)
{
  return (x << n) | (x >> (32 - n));
}

}  // namespace tarvo_hash
