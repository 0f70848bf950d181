// Internal to the image readers: a file read under a byte budget, with its
// position tracked and every target checked against the file size, and the
// byte-order helpers.
#pragma once

#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>

#include <cstdint>

namespace tag_image {

inline uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
inline uint16_t le16(const uint8_t *p) { return uint16_t(p[1] << 8 | p[0]); }
inline uint32_t le32(const uint8_t *p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }

// Reads all of len bytes unless the file ends first; *got says how many.
int read_full(int file, void *buf, uint32_t len, uint32_t *got);

struct source {
  int file = -1;
  uint64_t size = 0;               // of the file
  uint64_t pos = 0;                // where the next read starts
  uint32_t left = TAG_IMAGE_READ_MAX;  // bytes the walk may still read

  // Takes the file's size and current position.
  bool open(int fd);
  // Exactly n bytes from the budget; false on a short read or when the
  // budget cannot pay for them.
  bool read(void *buf, uint32_t n);
  // Whether n bytes can be read and still leave the header reserve.
  bool affords(uint64_t n) const { return n + TAG_IMAGE_HEADER_RESERVE <= left; }
  // Moves to pos + n; false when that lies past the end of the file.
  bool skip(uint64_t n);
};

}  // namespace tag_image
