// Hashes, AES and base64 against published vectors.
#include <tarvo_util/digest.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string hex(const unsigned char *p, size_t n)
{
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

std::vector<unsigned char> unhex(const std::string &s)
{
  std::vector<unsigned char> v;
  for (size_t i = 0; i + 1 < s.size(); i += 2) v.push_back(uint8_t(std::stoi(s.substr(i, 2), nullptr, 16)));
  return v;
}

// Input whose bytes differ along the message, so that a misplaced byte
// changes the digest.
std::string pattern(size_t n)
{
  std::string s;
  for (size_t i = 0; i < n; i++) s += char((i * 7 + 3) & 255);
  return s;
}

// Feeds data in pieces of at most step bytes (the whole at once when 0).
template <class Ctx, void (*Init)(Ctx *), void (*Write)(Ctx *, const void *, uint32_t),
          void (*Final)(Ctx *, unsigned char *), size_t N>
std::string digest(const std::string &data, size_t step = 0)
{
  Ctx ctx;
  Init(&ctx);
  if (!step) step = data.size() + 1;
  for (size_t i = 0; i < data.size(); i += step)
    Write(&ctx, data.data() + i, uint32_t(std::min(step, data.size() - i)));
  unsigned char d[N];
  Final(&ctx, d);
  return hex(d, N);
}
const auto sha1_hex = digest<sha1_ctx_rec, sha1_init, sha1_write, sha1_final, SHA1_DIGEST_LEN>;
const auto md5_hex = digest<md5_ctx_rec, md5_init, md5_write, md5_final, MD5_DIGEST_LEN>;

TEST(Hash, PublishedVectors)
{
  EXPECT_EQ(sha1_hex("", 0), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(sha1_hex("abc", 0), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1_hex("abc", 1), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 0),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(sha1_hex(std::string(1000000, 'a'), 997), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  const char *md5[][2] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (auto &c : md5) EXPECT_EQ(md5_hex(c[0], 0), c[1]) << c[0];
}

// Lengths around the padding's turning points: 55 bytes still fit the
// length into the last block, 56 need a second padding block, 64 a whole
// block of padding.
TEST(Hash, PaddingBoundaries)
{
  struct { size_t n; const char *md5, *sha1; } cases[] = {
    {55, "52c0e574e1198de5fe3f8f11440dcb1b", "ddf57317ef34bfee3b6df83d359098930eb278bc"},
    {56, "46c9907fc908ee68b1e7b8e71286a518", "a0d492bb0fc889d0eca3bc137066ab6f4f74f369"},
    {63, "a62f6d59e837867693f042f5b8f5a236", "c55856749bef509bdfe6bfebfc7bf4e793e82132"},
    {64, "7160b8fb5e9e4023d549c3971fbaeead", "bede92be29c3874e1b54ddc77988d606fc857a8e"},
    {65, "70bd662e7aefbda85a0f7244167b7897", "b05a80522b053d6dc7e0a517d0e70212c7dad11f"},
    {119, "e84905d4214f4d1ca56c2cdcc152b143", "504e27376a6e0f0dba8295b85cb25dc4dfa17d23"},
    {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc", "82134b02fb3f702491be9bed581eeab59334acb2"},
  };
  for (const auto &c : cases) {
    std::string d = pattern(c.n);
    EXPECT_EQ(md5_hex(d, 0), c.md5) << c.n;
    EXPECT_EQ(sha1_hex(d, 0), c.sha1) << c.n;
  }
}

// Every way of cutting the input gives the digest of the whole.
TEST(Hash, PiecesMatchWhole)
{
  std::string d = pattern(300);
  std::string md5 = md5_hex(d, 0), sha1 = sha1_hex(d, 0);
  for (size_t step = 1; step <= 130; step++) {
    EXPECT_EQ(md5_hex(d, step), md5) << step;
    EXPECT_EQ(sha1_hex(d, step), sha1) << step;
  }
}

// A write without data only settles a full block; the digest stays that of
// the bytes written.
TEST(Hash, WriteWithoutData)
{
  std::string d = pattern(64);
  sha1_ctx_rec s;
  sha1_init(&s);
  sha1_write(&s, nullptr, 10);
  sha1_write(&s, d.data(), 64);
  EXPECT_EQ(s.block_len, 64);
  sha1_write(&s, nullptr, 10);
  EXPECT_EQ(s.block_len, 0);
  EXPECT_EQ(s.blocks, 1u);
  unsigned char out[SHA1_DIGEST_LEN];
  sha1_final(&s, out);
  EXPECT_EQ(hex(out, sizeof out), sha1_hex(d, 0));
}

struct aes_case {
  const char *key, *plain, *cipher;
};

TEST(Aes, PublishedVectorsEveryKeySize)
{
  const aes_case cases[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
  };
  for (const auto &c : cases) {
    auto key = unhex(c.key), plain = unhex(c.plain);
    aes_ctx_rec ctx;
    ASSERT_EQ(aes_init(&ctx, key.data(), uint32_t(key.size())), 1);
    EXPECT_EQ(ctx.rounds, int32_t(key.size() / 4 + 6));
    unsigned char out[AES_BLOCK_LEN], back[AES_BLOCK_LEN];
    ASSERT_EQ(aes_encrypt(&ctx, plain.data(), out), 1);
    EXPECT_EQ(hex(out, 16), c.cipher) << c.key;
    ASSERT_EQ(aes_decrypt(&ctx, out, back), 1);
    EXPECT_EQ(hex(back, 16), c.plain) << c.key;
    // A second block with the keys already derived, in place.
    ASSERT_EQ(aes_decrypt(&ctx, out, out), 1);
    EXPECT_EQ(hex(out, 16), c.plain) << c.key;
  }
}

TEST(Aes, BadKeyLengthLeavesNoUsableContext)
{
  unsigned char key[33] = {}, in[16] = {}, out[16];
  aes_ctx_rec ctx;
  ASSERT_EQ(aes_init(&ctx, key, 16), 1);
  for (uint32_t len : {0u, 15u, 20u, 33u}) {
    EXPECT_EQ(aes_init(&ctx, key, len), 0) << len;
    EXPECT_EQ(aes_encrypt(&ctx, in, out), 0);
    EXPECT_EQ(aes_decrypt(&ctx, in, out), 0);
  }
}

// Keying a context again must not keep the previous key's decryption keys.
TEST(Aes, NewKeyReplacesDecryptionKeys)
{
  auto k1 = unhex("000102030405060708090a0b0c0d0e0f");
  auto k2 = unhex("2b7e151628aed2a6abf7158809cf4f3c");
  auto cipher = unhex("3925841d02dc09fbdc118597196a0b32");
  aes_ctx_rec ctx;
  unsigned char out[16];
  ASSERT_EQ(aes_init(&ctx, k1.data(), 16), 1);
  ASSERT_EQ(aes_decrypt(&ctx, cipher.data(), out), 1);
  ASSERT_EQ(aes_init(&ctx, k2.data(), 16), 1);
  ASSERT_EQ(aes_decrypt(&ctx, cipher.data(), out), 1);
  EXPECT_EQ(hex(out, 16), "3243f6a8885a308d313198a2e0370734");
}

std::string b64(const std::string &data)
{
  sys_stralloc_rec sa{};
  EXPECT_EQ(base64_encode(&sa, data.data(), uint32_t(data.size())), 1);
  std::string s(sa.buf, sa.len);
  sys_stralloc_free(&sa);
  return s;
}

std::string unb64(const std::string &text)
{
  sys_memalloc_rec ma{};
  EXPECT_EQ(base64_decode(&ma, text.data(), uint32_t(text.size())), 1);
  std::string s(reinterpret_cast<char *>(ma.buf), ma.len);
  sys_memalloc_free(&ma);
  return s;
}

TEST(Base64, PublishedVectorsBothWays)
{
  const char *pairs[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
                            {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (auto &p : pairs) {
    EXPECT_EQ(b64(p[0]), p[1]);
    EXPECT_EQ(unb64(p[1]), p[0]);
  }
  std::string all;
  for (int i = 0; i < 256; i++) all += char(i);
  EXPECT_EQ(b64("\xfb\xff"), "+/8=");
  EXPECT_EQ(unb64(b64(all)), all);
}

// Decoding stops at the first character outside the alphabet; what came
// before it is kept, and a lone last character gives no byte.
TEST(Base64, DecodeStopsAtForeignCharacters)
{
  EXPECT_EQ(unb64("Zm9v\r\nYmFy"), "foo");
  EXPECT_EQ(unb64("Zm9 vYmFy"), "fo");
  EXPECT_EQ(unb64("Zm9vYg==Zm9v"), "foob");
  EXPECT_EQ(unb64("Zm9vY"), "foo");
  EXPECT_EQ(unb64("Z"), "");
  EXPECT_EQ(unb64("=Zm9v"), "");
  EXPECT_EQ(unb64(std::string("Zm9v\0Zm9v", 9)), "foo");
  EXPECT_EQ(unb64("Zm\xc3\xa9"), "f");
}

TEST(Base64, ReplacesPreviousContents)
{
  sys_stralloc_rec sa{};
  sys_memalloc_rec ma{};
  ASSERT_TRUE(sys_stralloc_copys(&sa, "previous text") && sys_memalloc_copyb(&ma, "previous", 8));
  ASSERT_TRUE(base64_encode(&sa, "f", 1) && base64_decode(&ma, "Zm8=", 4));
  EXPECT_EQ(std::string(sa.buf, sa.len), "Zg==");
  EXPECT_EQ(std::string(reinterpret_cast<char *>(ma.buf), ma.len), "fo");
  sys_stralloc_free(&sa);
  sys_memalloc_free(&ma);
}

// Text longer than a 32-bit length can hold is refused, not wrapped.
TEST(Base64, EncodeRefusesOverlongResult)
{
  sys_stralloc_rec sa{};
  static const char one = 'x';
  EXPECT_EQ(base64_encode(&sa, &one, UINT32_MAX), 0);
  EXPECT_EQ(sa.buf, nullptr);
}

}  // namespace
