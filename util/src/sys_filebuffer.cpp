// Buffered reading and writing of a file over a caller's buffer.
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/util_limits.h>

#include <cstring>

namespace {

uint32_t min32(uint64_t a, uint64_t b) { return uint32_t(a < b ? a : b); }

int get(sys_filebuffer_rec *fb, void *dst, uint32_t len, uint32_t *got, uint32_t direct_max)
{
  if (!fb->p && len >= fb->n) return sys_file_read(fb->fd, dst, min32(len, direct_max), got);
  uint32_t avail;
  if (!sys_filebuffer_feed(fb, &avail)) return 0;
  uint32_t k = min32(len, avail);
  std::memcpy(dst, sys_filebuffer_peek(fb), k);
  sys_filebuffer_seek(fb, k);
  *got = k;
  return 1;
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
  if (fb->n == 0) return sys_file_allwrite(fb->fd, data, len);
  auto *d = static_cast<const char *>(data);
  while (len > fb->n - fb->p) {
    uint32_t k = fb->n - fb->p;
    std::memcpy(fb->x + fb->p, d, k);
    fb->p += k;
    d += k;
    len -= k;
    if (!sys_filebuffer_flush(fb)) return 0;
  }
  std::memcpy(fb->x + fb->p, d, len);
  fb->p += len;
  return 1;
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

int sys_filebuffer_feed(sys_filebuffer_rec *fb, uint32_t *avail)
{
  if (fb->p) {
    *avail = fb->p;
    return 1;
  }
  uint32_t got;
  if (!sys_file_read(fb->fd, fb->x, fb->n, &got)) return 0;
  // Unconsumed input always ends at the end of the buffer.
  if (got < fb->n) std::memmove(fb->x + fb->n - got, fb->x, got);
  fb->n -= got;
  fb->p = got;
  *avail = got;
  return 1;
}

char *sys_filebuffer_peek(sys_filebuffer_rec *fb) { return fb->x + fb->n; }

void sys_filebuffer_seek(sys_filebuffer_rec *fb, uint32_t k)
{
  fb->n += k;
  fb->p -= k;
}

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
  for (;;) {
    uint32_t avail;
    if (!sys_filebuffer_feed(in, &avail)) return 0;
    if (!avail) return 1;
    if (!sys_filebuffer_put(out, sys_filebuffer_peek(in), avail)) return 0;
    sys_filebuffer_seek(in, avail);
  }
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
  sa->len = 0;
  *got_line = 0;
  for (;;) {
    uint32_t avail;
    if (!sys_filebuffer_feed(fb, &avail)) return 0;
    if (!avail) return 1;
    const char *x = sys_filebuffer_peek(fb);
    auto *t = static_cast<const char *>(std::memchr(x, char(terminator), avail));
    uint32_t k = t ? uint32_t(t - x) + 1 : avail;
    if (!sys_stralloc_catb(sa, x, k)) return 0;
    sys_filebuffer_seek(fb, k);
    if (t) {
      *got_line = 1;
      return 1;
    }
  }
}

}  // extern "C"
