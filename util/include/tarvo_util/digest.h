/* SHA-1, MD5, AES block encryption, base64 and time-based UUIDs. */
#ifndef TARVO_UTIL_DIGEST_H
#define TARVO_UTIL_DIGEST_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SHA1_DIGEST_LEN 20
#define MD5_DIGEST_LEN 16
#define AES_BLOCK_LEN 16
/* 36 characters and the NUL. */
#define UUID_BUF_LEN 37

/* Hash contexts live in caller storage.  A full block is compressed only at
 * the next write or at final, so the count of 64-byte blocks in 32 bits
 * limits a message to 2^38 bytes.
 *
 * byte_order is 1 after init: the standard word order (big-endian for
 * SHA-1, little-endian for MD5).  A caller may set it to 0 before writing:
 * SHA-1 then reads words and writes the digest in the machine's own order,
 * MD5 byte-swapped (big-endian). */
typedef struct {
  int32_t byte_order;
  uint32_t state[5];
  uint32_t blocks;
  unsigned char block[64];
  int32_t block_len;
} sha1_ctx_rec;

typedef struct {
  int32_t byte_order;
  uint32_t state[4];
  uint32_t blocks;
  unsigned char block[64];
  int32_t block_len;
} md5_ctx_rec;

/* data NULL only compresses a full pending block. */
void sha1_init(sha1_ctx_rec *ctx);
void sha1_write(sha1_ctx_rec *ctx, const void *data, uint32_t len);
void sha1_final(sha1_ctx_rec *ctx, unsigned char *digest);

void md5_init(md5_ctx_rec *ctx);
void md5_write(md5_ctx_rec *ctx, const void *data, uint32_t len);
void md5_final(md5_ctx_rec *ctx, unsigned char *digest);

/* One 16-byte block at a time; no chaining mode.  The decryption keys are
 * derived by the first aes_decrypt on the context. */
typedef struct {
  int32_t rounds;
  int32_t dec_ready;
  uint32_t enc_keys[60];
  uint32_t dec_keys[60];
} aes_ctx_rec;

/* key_len 16, 24 or 32; any other length gives 0 and a context that
 * refuses to work. */
int aes_init(aes_ctx_rec *ctx, const unsigned char *key, uint32_t key_len);
/* 0 when the context holds no key. */
int aes_encrypt(aes_ctx_rec *ctx, const unsigned char *in, unsigned char *out);
int aes_decrypt(aes_ctx_rec *ctx, const unsigned char *in, unsigned char *out);

/* Both replace the array's contents, write no NUL and no guard byte, and
 * give 0 only when memory runs out or the result would not fit. */
int base64_encode(sys_stralloc_rec *sa, const void *data, uint32_t len);
/* Stops at the first character outside the alphabet ('=', blanks and line
 * breaks included). */
int base64_decode(sys_memalloc_rec *ma, const char *text, uint32_t len);

/* A new version-1 UUID in buf (UUID_BUF_LEN bytes): 8-4-4-4-12 lower-case
 * hexadecimal digits and a NUL.  Safe from several threads: no two calls of
 * the process give the same UUID. */
int uuid_create(char *buf);

#ifdef __cplusplus
}
#endif
#endif
