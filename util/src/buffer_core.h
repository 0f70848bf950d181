// The buffer core behind the file and the socket buffers: one caller's
// array, with the sink or source passed in.  Output waits in x[0, p);
// unread input is x[n, n + p), always ending at the end of the array.
#pragma once

#include <tarvo_util/sys_alloc.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace buffer_core {

template <typename B> char *peek(B *b) { return b->x + b->n; }

template <typename B> void seek(B *b, uint32_t k)
{
  b->n += k;
  b->p -= k;
}

// What is unread, refilled through read(dst, size, &got) when nothing is.
template <typename B, typename Read> int feed(B *b, uint32_t *avail, Read read)
{
  if (b->p) {
    *avail = b->p;
    return 1;
  }
  uint32_t got;
  if (!read(b->x, b->n, &got)) return 0;
  if (got && got < b->n) std::memmove(b->x + b->n - got, b->x, got);
  b->n -= got;
  b->p = got;
  *avail = got;
  return 1;
}

// Up to len bytes; a read as large as the buffer bypasses it, taking at
// most direct_max.
template <typename B, typename Read, typename Feed>
int get(B *b, void *dst, uint32_t len, uint32_t *got, uint32_t direct_max, Read read, Feed feed_one)
{
  if (!b->p && len >= b->n) return read(static_cast<char *>(dst), std::min(len, direct_max), got);
  uint32_t avail;
  if (!feed_one(b, &avail)) return 0;
  uint32_t k = std::min(len, avail);
  std::memcpy(dst, peek(b), k);
  seek(b, k);
  *got = k;
  return 1;
}

// Fills the buffer to the brim before each flush, so that the sink sees
// whole buffers; direct writes when the buffer has no room at all.
template <typename B, typename Flush, typename Direct>
int putalign(B *b, const char *d, uint32_t len, Flush flush, Direct direct)
{
  if (!b->n) return direct(d, len);
  while (len > b->n - b->p) {
    uint32_t k = b->n - b->p;
    std::memcpy(b->x + b->p, d, k);
    b->p += k;
    d += k;
    len -= k;
    if (!flush(b)) return 0;
  }
  std::memcpy(b->x + b->p, d, len);
  b->p += len;
  return 1;
}

// All that in gives, put to out.
template <typename In, typename Out, typename Feed, typename Put> int copy(In *in, Out *out, Feed feed_one, Put put)
{
  for (;;) {
    uint32_t avail;
    if (!feed_one(in, &avail)) return 0;
    if (!avail) return 1;
    if (!put(out, peek(in), avail)) return 0;
    seek(in, avail);
  }
}

// One line, the terminator included, of max bytes at the most.
template <typename B, typename Feed>
int getln(B *b, sys_stralloc_rec *sa, int *got_line, int terminator, uint64_t max, Feed feed_one)
{
  sa->len = 0;
  *got_line = 0;
  for (;;) {
    uint32_t avail;
    if (!feed_one(b, &avail)) return 0;
    if (!avail) return 1;
    const char *s = peek(b);
    const void *t = std::memchr(s, terminator, avail);
    uint32_t k = t ? uint32_t(static_cast<const char *>(t) - s) + 1 : avail;
    if (uint64_t(sa->len) + k > max) return 0;
    if (!sys_stralloc_catb(sa, s, k)) return 0;
    seek(b, k);
    if (t) {
      *got_line = 1;
      return 1;
    }
  }
}

}  // namespace buffer_core
