// AES block encryption and decryption (128-, 192- and 256-bit keys).
#include <tarvo_util/digest.h>
#include <tarvo_util/sys_str.h>

#include <array>
#include <cstring>

namespace {

constexpr uint8_t xtime(uint8_t a)
{
  return uint8_t((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
}

constexpr uint8_t gmul(uint8_t a, uint8_t b)
{
  uint8_t r = 0;
  for (; b; b >>= 1, a = xtime(a))
    if (b & 1) r ^= a;
  return r;
}

constexpr uint8_t rotl8(uint8_t x, int n)
{
  return uint8_t((x << n) | (x >> (8 - n)));
}

// The S-box from its definition: the multiplicative inverse in GF(2^8)
// (through powers of the generator 3) followed by the affine map.
constexpr std::array<uint8_t, 256> make_sbox()
{
  std::array<uint8_t, 256> exp{}, log{}, box{};
  uint8_t x = 1;
  for (int i = 0; i < 255; i++) {
    exp[i] = x;
    log[x] = uint8_t(i);
    x = gmul(x, 3);
  }
  for (int i = 0; i < 256; i++) {
    uint8_t inv = i ? exp[(255 - log[i]) % 255] : 0;
    box[i] = uint8_t(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^ rotl8(inv, 4) ^ 0x63);
  }
  return box;
}

constexpr std::array<uint8_t, 256> make_inverse(const std::array<uint8_t, 256> &box)
{
  std::array<uint8_t, 256> inv{};
  for (int i = 0; i < 256; i++) inv[box[i]] = uint8_t(i);
  return inv;
}

constexpr auto SBOX = make_sbox();
constexpr auto INV_SBOX = make_inverse(SBOX);
static_assert(SBOX[0x00] == 0x63 && SBOX[0x53] == 0xed && SBOX[0xff] == 0x16);

constexpr uint8_t MIX[4] = {2, 3, 1, 1};
constexpr uint8_t INV_MIX[4] = {14, 11, 13, 9};

// One column times the circulant matrix whose first row is coef.
void mix_column(unsigned char *col, const uint8_t *coef)
{
  unsigned char a[4];
  std::memcpy(a, col, 4);
  for (int i = 0; i < 4; i++)
    col[i] = gmul(a[0], coef[(4 - i) & 3]) ^ gmul(a[1], coef[(5 - i) & 3]) ^ gmul(a[2], coef[(6 - i) & 3]) ^
             gmul(a[3], coef[(7 - i) & 3]);
}

void add_round_key(unsigned char *s, const uint32_t *k)
{
  for (int c = 0; c < 4; c++) {
    unsigned char kb[4];
    sys_uint32_pack_big(kb, k[c]);
    for (int r = 0; r < 4; r++) s[4 * c + r] ^= kb[r];
  }
}

// The cipher and the equivalent inverse cipher share their shape: the
// decryption keys were prepared so that only the tables and the direction
// of the row shift differ.
void run_rounds(const uint32_t *keys, int rounds, const uint8_t *box, int shift_dir, const uint8_t *coef,
                const unsigned char *in, unsigned char *out)
{
  unsigned char s[16], t[16];
  std::memcpy(s, in, 16);
  add_round_key(s, keys);
  for (int round = 1; round <= rounds; round++) {
    for (int c = 0; c < 4; c++)
      for (int r = 0; r < 4; r++) t[4 * c + r] = box[s[4 * ((c + shift_dir * r + 4) & 3) + r]];
    if (round < rounds)
      for (int c = 0; c < 4; c++) mix_column(t + 4 * c, coef);
    add_round_key(t, keys + 4 * round);
    std::memcpy(s, t, 16);
  }
  std::memcpy(out, s, 16);
  explicit_bzero(s, sizeof s);
  explicit_bzero(t, sizeof t);
}

uint32_t sub_word(uint32_t w)
{
  return uint32_t(SBOX[w >> 24]) << 24 | uint32_t(SBOX[(w >> 16) & 0xff]) << 16 |
         uint32_t(SBOX[(w >> 8) & 0xff]) << 8 | SBOX[w & 0xff];
}

bool has_key(const aes_ctx_rec *ctx)
{
  return ctx->rounds == 10 || ctx->rounds == 12 || ctx->rounds == 14;
}

void derive_decryption_keys(aes_ctx_rec *ctx)
{
  int n = ctx->rounds;
  for (int round = 0; round <= n; round++) {
    for (int c = 0; c < 4; c++) {
      uint32_t w = ctx->enc_keys[4 * (n - round) + c];
      if (round > 0 && round < n) {
        unsigned char b[4];
        sys_uint32_pack_big(b, w);
        mix_column(b, INV_MIX);
        sys_uint32_unpack_big(b, &w);
      }
      ctx->dec_keys[4 * round + c] = w;
    }
  }
  ctx->dec_ready = 1;
}

}  // namespace

extern "C" {

int aes_init(aes_ctx_rec *ctx, const unsigned char *key, uint32_t key_len)
{
  ctx->rounds = 0;
  ctx->dec_ready = 0;
  if (key_len != 16 && key_len != 24 && key_len != 32) return 0;
  int nk = int(key_len / 4);
  int words = 4 * (nk + 7);
  for (int i = 0; i < nk; i++) sys_uint32_unpack_big(key + 4 * i, &ctx->enc_keys[i]);
  uint8_t rcon = 1;
  for (int i = nk; i < words; i++) {
    uint32_t w = ctx->enc_keys[i - 1];
    if (i % nk == 0) {
      w = sub_word((w << 8) | (w >> 24)) ^ (uint32_t(rcon) << 24);
      rcon = xtime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      w = sub_word(w);
    }
    ctx->enc_keys[i] = ctx->enc_keys[i - nk] ^ w;
  }
  ctx->rounds = nk + 6;
  return 1;
}

int aes_encrypt(aes_ctx_rec *ctx, const unsigned char *in, unsigned char *out)
{
  if (!has_key(ctx)) return 0;
  run_rounds(ctx->enc_keys, ctx->rounds, SBOX.data(), 1, MIX, in, out);
  return 1;
}

int aes_decrypt(aes_ctx_rec *ctx, const unsigned char *in, unsigned char *out)
{
  if (!has_key(ctx)) return 0;
  if (!ctx->dec_ready) derive_decryption_keys(ctx);
  run_rounds(ctx->dec_keys, ctx->rounds, INV_SBOX.data(), -1, INV_MIX, in, out);
  return 1;
}

}  // extern "C"
