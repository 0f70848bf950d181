// The read buffer of the MPEG audio and ID3 readers.
#include <tarvo_util/sys_file.h>

#include <fcntl.h>

#include <algorithm>
#include <cstring>

#include "mp3_impl.h"

namespace mp3 {

thread_local read_observer *window_observer = nullptr;

namespace {

// Fills dst from pos, the file's current position, up to n bytes or its end.
bool read_full(int file, uint64_t pos, unsigned char *dst, uint32_t n, uint32_t *got)
{
  *got = 0;
  while (*got < n) {
    uint32_t k;
    if (!sys_file_read(file, dst + *got, n - *got, &k)) return false;
    if (window_observer) window_observer->on_read(pos + *got, k);
    if (k == 0) break;
    *got += k;
  }
  return true;
}

}  // namespace

const unsigned char *file_window::at(uint64_t pos, uint32_t need, uint32_t *got)
{
  uint64_t end = uint64_t(start) + len;
  if (pos >= uint64_t(start) && (at_eof || (pos <= end && end - pos >= need))) {
    *got = pos < end ? uint32_t(end - pos) : 0;
    return pos < end ? buf + (pos - uint64_t(start)) : buf;
  }
  int64_t now;
  if (pos > uint64_t(INT64_MAX) || !sys_file_seek_set(file, int64_t(pos), &now) || now != int64_t(pos)) return nullptr;
  start = now;
  len = 0;
  at_eof = false;
  uint32_t want = uint32_t(std::min<uint64_t>(sizeof buf, size - std::min(size, pos)));
  if (!read_full(file, pos, buf, want, &len)) return nullptr;
  at_eof = len < sizeof buf;
  *got = len;
  return buf;
}

bool file_window::read(uint64_t pos, void *dst, uint32_t n)
{
  if (n > sizeof buf) return read_direct(pos, dst, n);
  uint32_t got;
  const unsigned char *p = at(pos, n, &got);
  if (!p || got < n) return false;
  std::memcpy(dst, p, n);
  return true;
}

bool file_window::read_direct(uint64_t pos, void *dst, uint32_t n)
{
  uint32_t got;
  int64_t now;
  return pos <= uint64_t(INT64_MAX) && sys_file_seek_set(file, int64_t(pos), &now) && now == int64_t(pos) &&
         read_full(file, pos, static_cast<unsigned char *>(dst), n, &got) && got == n;
}

void file_window::random_reads(bool on)
{
  // Advice only: a file system that ignores it reads the same bytes.
  posix_fadvise(file, 0, 0, on ? POSIX_FADV_RANDOM : POSIX_FADV_NORMAL);
}

void file_window::prefetch(uint64_t pos, uint64_t n)
{
  if (pos <= uint64_t(INT64_MAX) && n <= uint64_t(INT64_MAX))
    posix_fadvise(file, off_t(pos), off_t(n), POSIX_FADV_WILLNEED);
}

}  // namespace mp3
