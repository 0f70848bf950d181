// The MP4 walk's file buffer and box headers.
#include <tarvo_util/sys_file.h>

#include <cstring>

#include "mp4_impl.h"

namespace mp4 {

bool source::start(int f, uint64_t file_size)
{
  int64_t at;
  if (!sys_file_seek_set(f, 0, &at) || at != 0) return false;
  file = f;
  size = file_size;
  sys_filebuffer_init(&fb, f, buf, sizeof buf);
  return true;
}

bool source::read(void *dst, uint32_t n)
{
  auto *d = static_cast<char *>(dst);
  while (n) {
    uint32_t avail = fb.p;
    if (!avail) {
      // A refill may read a whole buffer: it must fit in what is allowed.
      if (fetched + TAG_MP4_BUFFER_SIZE > allowance) {
        refused = true;
        return false;
      }
      if (!sys_filebuffer_feed(&fb, &avail) || !avail) return false;
      fetched += avail;
    }
    uint32_t k = n < avail ? n : avail;
    std::memcpy(d, sys_filebuffer_peek(&fb), k);
    sys_filebuffer_seek(&fb, k);
    d += k;
    n -= k;
    pos += k;
  }
  return true;
}

bool source::skip_to(uint64_t end)
{
  if (end < pos) return false;
  if (end - pos <= fb.p) {
    sys_filebuffer_seek(&fb, uint32_t(end - pos));
  } else {
    // Past the buffer: seek and start it afresh, reading nothing between.
    int64_t at;
    if (end > uint64_t(INT64_MAX) || !sys_file_seek_set(file, int64_t(end), &at) || uint64_t(at) != end) return false;
    sys_filebuffer_init(&fb, file, buf, sizeof buf);
  }
  pos = end;
  return true;
}

bool in_box::u8(uint32_t *v)
{
  unsigned char b;
  if (!get(&b, 1)) return false;
  *v = b;
  return true;
}

bool in_box::u16(uint32_t *v)
{
  unsigned char b[2];
  if (!get(b, 2)) return false;
  *v = be16(b);
  return true;
}

bool in_box::u32(uint32_t *v)
{
  unsigned char b[4];
  if (!get(b, 4)) return false;
  *v = be32(b);
  return true;
}

bool in_box::u64(uint64_t *v)
{
  unsigned char b[8];
  if (!get(b, 8)) return false;
  *v = uint64_t(be32(b)) << 32 | be32(b + 4);
  return true;
}

bool box_read(source &s, box *b, uint64_t limit)
{
  *b = box{};
  b->start = s.pos;
  in_box r{s, limit};
  uint32_t size32;
  if (!r.u32(&size32) || !r.get(b->type, 4)) return false;
  b->header = 8;
  b->size = size32;
  if (size32 == 1) {
    if (!r.u64(&b->size)) return false;
    b->header = 16;
  } else if (size32 == 0) {
    // Runs to the end of the file.
    if (s.size < b->start) return false;
    b->size = s.size - b->start;
  }
  if (b->is("uuid")) {
    if (!r.get(b->extended, 16)) return false;
    b->header += 16;
  }
  if (b->size < b->header || limit < b->start || b->size > limit - b->start) return false;
  b->end = b->start + b->size;
  return true;
}

}  // namespace mp4
