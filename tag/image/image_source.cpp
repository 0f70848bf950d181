// The budgeted file reads that the image readers share.
#include <tarvo_util/sys_file.h>

#include "image_impl.h"

namespace tag_image {

int read_full(int file, void *buf, uint32_t len, uint32_t *got)
{
  auto *p = static_cast<char *>(buf);
  uint32_t done = 0;
  while (done < len) {
    uint32_t n;
    if (!sys_file_read(file, p + done, len - done, &n)) return 0;
    if (n == 0) break;
    done += n;
  }
  *got = done;
  return 1;
}

bool source::open(int fd)
{
  sys_file_stat_rec st;
  int64_t at;
  if (!sys_file_fstat(fd, &st) || !sys_file_seek_pos(fd, &at) || at < 0) return false;
  file = fd;
  size = st.size;
  pos = uint64_t(at);
  return true;
}

bool source::read(void *buf, uint32_t n)
{
  uint32_t got;
  if (n > left || !read_full(file, buf, n, &got) || got != n) return false;
  left -= n;
  pos += n;
  return true;
}

bool source::skip(uint64_t n)
{
  if (n > size || pos > size - n) return false;
  int64_t now;
  if (!sys_file_seek_set(file, int64_t(pos + n), &now) || uint64_t(now) != pos + n) return false;
  pos += n;
  return true;
}

}  // namespace tag_image
