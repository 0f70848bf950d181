// Internal to the RIFF readers: bounded reading of one file and its chunk
// headers.
#pragma once

#include <tarvo_util/sys_alloc.h>

#include <cstdint>
#include <cstring>

namespace riff {

// Reads and skips through a file, never past its end when reading and
// never more than a byte budget in all.
struct cursor {
  int file = -1;
  uint64_t size = 0;  // of the file
  uint64_t pos = 0;
  uint32_t budget = 0;

  // From offset 0 of an open file; false when it cannot be stat'ed.
  bool start(int f, uint32_t read_max);
  // Exactly n bytes at the position.
  bool read(void *buf, uint32_t n);
  // Moves the position n bytes on; false when that leaves the file.
  bool skip(uint64_t n);
  uint64_t left() const { return size - pos; }
};

// A chunk header: its identifier and the size of its body.
struct chunk {
  char id[4];
  uint32_t size;
  bool is(const char *four) const { return std::memcmp(id, four, 4) == 0; }
  // Bytes the body takes in the file: chunks are padded to even sizes.
  uint64_t padded() const { return uint64_t(size) + (size & 1); }
};

bool chunk_read(cursor &c, chunk *ch);
// Reads four bytes and compares them with the identifier.
bool id_read(cursor &c, const char *four);

// "res@duration" of a time in ms; nothing for one past the format's range
// (more than 49 days), which only a damaged header gives.
int duration_add(uint64_t ms, sys_ptralloc_rec *names, sys_ptralloc_rec *values);

inline uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const unsigned char *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace riff
