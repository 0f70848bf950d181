// Internal to the MPEG audio and ID3 readers: a read buffer over a file
// addressed by absolute offsets.
#pragma once

#include <tarvo_tag/tag_limits.h>

#include <cstdint>

namespace mp3 {

// Told of every read call the windows of its thread make while it is set,
// so that tests and benchmarks can count what a tag read costs.
struct read_observer {
  virtual void on_read(uint64_t pos, uint32_t bytes) = 0;

 protected:
  ~read_observer() = default;
};
extern thread_local read_observer *window_observer;

// A read that falls inside what is buffered costs nothing; one outside it
// refills the buffer from its own offset, so that hopping from frame to
// frame reads each stretch of the file once.  Reads stop at the size the
// file had when it was looked at, so that a buffer ending there costs one
// call and not a second one to learn of the end.
struct file_window {
  int file;
  uint64_t size;      // of the file, where the caller knows it
  int64_t start = 0;  // offset of buf[0]
  uint32_t len = 0;   // bytes buffered
  bool at_eof = false;  // the file ends at start + len
  unsigned char buf[TAG_MP3_BUFFER_SIZE];

  explicit file_window(int f, uint64_t file_size = UINT64_MAX) : file(f), size(file_size) {}
  file_window(const file_window &) = delete;
  file_window &operator=(const file_window &) = delete;

  // The bytes from pos: at least need of them (need at most the buffer
  // size) unless the file ends first; *got counts all that are buffered
  // from pos.  NULL when the read fails.
  const unsigned char *at(uint64_t pos, uint32_t need, uint32_t *got);
  // Exactly n bytes from pos; false when the file ends first.  Large reads
  // bypass the buffer.
  bool read(uint64_t pos, void *dst, uint32_t n);
  // Exactly n bytes from pos, read on their own and the buffer left as it
  // is: a few bytes at points far apart cost what they are, not a buffer
  // each.
  bool read_direct(uint64_t pos, void *dst, uint32_t n);
  // Tells the kernel that the reads to come hop about the file (no
  // readahead: a few bytes at a point cost a page, not a stretch), or that
  // they no longer do.
  void random_reads(bool on);
  // Asks the kernel to start reading n bytes from pos and returns at once:
  // reads far apart that are known in advance then wait on the disk or the
  // share together, not one after another.
  void prefetch(uint64_t pos, uint64_t n);
};

// The syncsafe number of ID3v2: 7 bits from each of 4 bytes.
inline uint32_t syncsafe(const unsigned char *b)
{
  return uint32_t(b[0] & 0x7F) << 21 | uint32_t(b[1] & 0x7F) << 14 | uint32_t(b[2] & 0x7F) << 7 | (b[3] & 0x7F);
}

// Where an ID3v2 tag whose 10-byte header stands at `at` ends: its header,
// its body and the footer that version 2.4 may add.
inline uint64_t id3v2_end(uint64_t at, const unsigned char *h)
{
  return at + 10 + syncsafe(h + 6) + (h[3] == 4 && (h[5] & 0x10) ? 10 : 0);
}

inline uint32_t big32(const unsigned char *b)
{
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

}  // namespace mp3
