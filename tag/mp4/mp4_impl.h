// Internal to the MP4 reader: the file buffer of the box walk, box headers,
// bounded field reads, the sample-entry record and the bit reader of the
// decoder configurations.
#pragma once

#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_util/sys_file.h>

#include <cstdint>
#include <cstring>

namespace mp4 {

// The file read forward through one buffer.  Skips that leave the buffer
// seek instead of reading, so that media data and large boxes cost
// nothing; every byte read counts against an allowance that grows by the
// size of each moov box entered.
struct source {
  int file = -1;
  uint64_t size = 0;  // of the file
  uint64_t pos = 0;   // logical position
  uint64_t fetched = 0;
  uint64_t allowance = TAG_MP4_READ_MAX;
  bool refused = false;  // a refill went beyond the allowance
  sys_filebuffer_rec fb{};
  char buf[TAG_MP4_BUFFER_SIZE];

  bool start(int f, uint64_t file_size);
  // Exactly n bytes; false when the file or the allowance ends first.
  bool read(void *dst, uint32_t n);
  // Moves forward to an absolute position.
  bool skip_to(uint64_t end);
};

// Reads bounded by the end of a box or descriptor: a field that would reach
// past it fails.
struct in_box {
  source &s;
  uint64_t end;
  uint64_t left() const { return s.pos < end ? end - s.pos : 0; }
  bool get(void *dst, uint32_t n) { return n <= left() && s.read(dst, n); }
  bool skip(uint64_t n) { return n <= left() && s.skip_to(s.pos + n); }
  bool u8(uint32_t *v);
  bool u16(uint32_t *v);
  bool u32(uint32_t *v);
  bool u64(uint64_t *v);
};

struct box {
  uint64_t start = 0;
  uint64_t size = 0;
  uint64_t end = 0;
  uint32_t header = 0;
  char type[4] = {};
  unsigned char extended[16] = {};
  bool is(const char *t) const { return std::memcmp(type, t, 4) == 0; }
  in_box body(source &s) const { return in_box{s, end}; }
};

// The header at the position; the box must end by limit (its parent's
// end).  A box smaller than its own header fails.
bool box_read(source &s, box *b, uint64_t limit);

// What a child whose header does not fit in its container does: fail the
// file, or end the container there, keeping the children before it.
enum class misfit { fails, ends };

// Reads the children of a container that ends at end: each must fit in it,
// the handler (bool(box &)) reads what it knows, and the walk then moves to
// the child's end.  The children must fill the container exactly.
template <class F>
bool children(source &s, uint64_t end, F &&each, misfit on_misfit = misfit::fails)
{
  while (s.pos < end) {
    box b;
    if (!box_read(s, &b, end)) return on_misfit == misfit::ends && !s.refused && s.skip_to(end);
    if (!each(b) || !s.skip_to(b.end)) return false;
  }
  return s.pos == end;
}

// A descriptor's tag and the length that follows it in up to four bytes
// of 7 bits.
bool descriptor_header(in_box &r, uint32_t *tag, uint32_t *len);

// One entry of a sample description.
struct sample_entry {
  uint32_t codec = MP4_CODEC_NONE;
  uint32_t priority = 0;
  uint32_t channels = 0;
  uint32_t sample_size = 0;
  uint32_t sample_rate = 0;
  uint32_t max_bitrate = 0;
  uint32_t avg_bitrate = 0;
  uint32_t object_type = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 0;
};

enum handler { HANDLER_OTHER = 0, HANDLER_SOUND = 1, HANDLER_VIDEO = 2, HANDLER_HINT = 3 };

// Reads a sample description box (at its payload) of a track with that
// handler into the entry of the highest stream priority.
bool stsd_read(source &s, const box &stsd, uint32_t handler, sample_entry *chosen, bool *found);
// Reads the children of udta into the info's texts and track number.
bool udta_read(source &s, const box &udta, mp4_info *info);

// Bits of a heap copy, most significant first.
struct bitreader {
  const unsigned char *data;
  uint32_t len;
  uint32_t byte = 0;
  uint32_t bits_left = 8;  // in data[byte]

  // n (at most 32) bits; false past the end.
  bool read(uint32_t n, uint32_t *v);
  bool skip(uint32_t n);
  void align();
  // The byte after the next 00 00 01 prefix from the byte-aligned
  // position, which is left after it; false at the end of the data or,
  // with a limit, after that many one-byte slides.
  bool start_code(uint32_t *code, int64_t limit = -1);
};

// The MPEG-4 visual configuration scanned for its object layer; false when
// the data ends inside a visual object or layer.
bool visual_config(const unsigned char *data, uint32_t len);

inline uint32_t be16(const unsigned char *p) { return uint32_t(p[0]) << 8 | p[1]; }
inline uint32_t be32(const unsigned char *p)
{
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace mp4
