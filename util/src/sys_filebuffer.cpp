// Buffered reading and writing of a file over a caller's buffer.
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/util_limits.h>

#include "buffer_core.h"

#include <cstring>

namespace {

uint32_t min32(uint64_t a, uint64_t b) { return uint32_t(a < b ? a : b); }

// The source: the file itself.
auto reader(sys_filebuffer_rec *fb)
{
  return [fb](char *dst, uint32_t len, uint32_t *got) { return sys_file_read(fb->fd, dst, len, got); };
}

int get(sys_filebuffer_rec *fb, void *dst, uint32_t len, uint32_t *got, uint32_t direct_max)
{
  return buffer_core::get(fb, dst, len, got, direct_max, reader(fb), sys_filebuffer_feed);
}

}  // namespace

extern "C" {

void sys_filebuffer_init(sys_filebuffer_rec *fb, int file, char *buf, uint32_t size)
{
  fb->x = buf;
  fb->p = 0;
  fb->n = size;
  fb->fd = file;
}

int sys_filebuffer_flush(sys_filebuffer_rec *fb)
{
  if (!fb->p) return 1;
  if (!sys_file_allwrite(fb->fd, fb->x, fb->p)) return 0;
  fb->p = 0;
  return 1;
}

int sys_filebuffer_put(sys_filebuffer_rec *fb, const void *data, uint32_t len)
{
  auto *d = static_cast<const char *>(data);
  if (len > fb->n - fb->p) {
    if (!sys_filebuffer_flush(fb)) return 0;
    uint32_t chunk = fb->n > SYS_FILEBUFFER_CHUNK ? fb->n : SYS_FILEBUFFER_CHUNK;
    while (len > fb->n) {
      uint32_t k = min32(len, chunk);
      if (!sys_file_allwrite(fb->fd, d, k)) return 0;
      d += k;
      len -= k;
    }
  }
  std::memcpy(fb->x + fb->p, d, len);
  fb->p += len;
  return 1;
}

int sys_filebuffer_putalign(sys_filebuffer_rec *fb, const void *data, uint32_t len)
{
  return buffer_core::putalign(fb, static_cast<const char *>(data), len, sys_filebuffer_flush,
                               [fb](const char *d, uint32_t n) { return sys_file_allwrite(fb->fd, d, n); });
}

int sys_filebuffer_putflush(sys_filebuffer_rec *fb, const void *data, uint32_t len)
{
  return sys_filebuffer_flush(fb) && sys_file_allwrite(fb->fd, data, len);
}

int sys_filebuffer_puts(sys_filebuffer_rec *fb, const char *s) { return sys_filebuffer_put(fb, s, sys_str_len(s)); }

int sys_filebuffer_putsalign(sys_filebuffer_rec *fb, const char *s)
{
  return sys_filebuffer_putalign(fb, s, sys_str_len(s));
}

int sys_filebuffer_putsflush(sys_filebuffer_rec *fb, const char *s)
{
  return sys_filebuffer_putflush(fb, s, sys_str_len(s));
}

int sys_filebuffer_feed(sys_filebuffer_rec *fb, uint32_t *avail) { return buffer_core::feed(fb, avail, reader(fb)); }

char *sys_filebuffer_peek(sys_filebuffer_rec *fb) { return buffer_core::peek(fb); }

void sys_filebuffer_seek(sys_filebuffer_rec *fb, uint32_t k) { buffer_core::seek(fb, k); }

int sys_filebuffer_get(sys_filebuffer_rec *fb, void *dst, uint32_t len, uint32_t *got)
{
  return get(fb, dst, len, got, UINT32_MAX);
}

int sys_filebuffer_bget(sys_filebuffer_rec *fb, void *dst, uint32_t len, uint32_t *got)
{
  return get(fb, dst, len, got, fb->n);
}

int sys_filebuffer_fill(sys_filebuffer_rec *fb, void *dst, uint32_t len)
{
  auto *d = static_cast<char *>(dst);
  while (len) {
    uint32_t got;
    if (!sys_filebuffer_get(fb, d, len, &got) || got == 0) return 0;
    d += got;
    len -= got;
  }
  return 1;
}

int sys_filebuffer_skip(sys_filebuffer_rec *fb, uint64_t len)
{
  while (len) {
    uint32_t avail;
    if (!sys_filebuffer_feed(fb, &avail) || avail == 0) return 0;
    uint32_t k = min32(len, avail);
    sys_filebuffer_seek(fb, k);
    len -= k;
  }
  return 1;
}

int sys_filebuffer_copy(sys_filebuffer_rec *in, sys_filebuffer_rec *out)
{
  return buffer_core::copy(in, out, sys_filebuffer_feed, sys_filebuffer_put);
}

int sys_filebuffer_pos(sys_filebuffer_rec *fb, int64_t *pos)
{
  int64_t at;
  if (!sys_file_seek_pos(fb->fd, &at)) return 0;
  *pos = at - fb->p;
  return 1;
}

int sys_filebuffer_getln(sys_filebuffer_rec *fb, sys_stralloc_rec *sa, int *got_line, int terminator)
{
  return buffer_core::getln(fb, sa, got_line, terminator, UINT64_MAX, sys_filebuffer_feed);
}

}  // extern "C"
