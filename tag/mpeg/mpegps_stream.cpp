// Forward reading of an MPEG file through one buffer: exact seeks, fills,
// skips and the start-code search of the program-stream scans.
#include <cstring>

#include "mpegps_impl.h"

namespace mpegps {

bool stream::seek(uint64_t off)
{
  int64_t got = -1;
  if (off > uint64_t(INT64_MAX) || !sys_file_seek_set(fd, int64_t(off), &got) || uint64_t(got) != off) {
    failed = true;
    return false;
  }
  pos = off;
  sys_filebuffer_init(&fb, fd, buf, sizeof buf);
  return true;
}

bool stream::fill(void *dst, uint32_t n)
{
  auto *d = static_cast<unsigned char *>(dst);
  while (n) {
    uint32_t avail = 0;
    if (!sys_filebuffer_feed(&fb, &avail)) failed = true;
    if (failed || !avail) return false;
    uint32_t k = avail < n ? avail : n;
    std::memcpy(d, sys_filebuffer_peek(&fb), k);
    sys_filebuffer_seek(&fb, k);
    pos += k;
    d += k;
    n -= k;
  }
  return true;
}

bool stream::skip(uint64_t n)
{
  while (n) {
    uint32_t avail = 0;
    if (!sys_filebuffer_feed(&fb, &avail)) failed = true;
    if (failed || !avail) return false;
    uint32_t k = avail < n ? avail : uint32_t(n);
    sys_filebuffer_seek(&fb, k);
    pos += k;
    n -= k;
  }
  return true;
}

// A window of the last four bytes read: a start code once its first three
// are 00 00 01.  The bytes slid over are those read beyond the first four.
bool mpeg_start_code_find(stream &s, uint64_t limit, uint8_t *code)
{
  sys_filebuffer_rec &fb = s.fb;
  uint32_t window = 0xFFFFFFFFu;
  uint64_t taken = 0;
  for (;;) {
    uint32_t avail = 0;
    if (!sys_filebuffer_feed(&fb, &avail)) s.failed = true;
    if (s.failed || !avail) return false;
    const auto *p = reinterpret_cast<const unsigned char *>(sys_filebuffer_peek(&fb));
    for (uint32_t i = 0; i < avail; i++) {
      window = (window << 8) | p[i];
      if (++taken < 4) continue;
      bool found = (window >> 8) == 0x000001u;
      if (found || (limit && taken - 4 >= limit)) {
        sys_filebuffer_seek(&fb, i + 1);
        s.pos += i + 1;
        *code = uint8_t(window);
        return found;
      }
    }
    sys_filebuffer_seek(&fb, avail);
    s.pos += avail;
  }
}

}  // namespace mpegps
