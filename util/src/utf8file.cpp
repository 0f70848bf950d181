// Files and folders by UTF-8 path: the bytes go to the kernel unchanged.
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/util_limits.h>

#include "sys_file_path.h"

#include <sys/mman.h>

using namespace tarvo;

extern "C" {

int utf8file_open_read(int *file, const char *path) { return file_open(file, path, open_mode::read); }
int utf8file_open_excl(int *file, const char *path) { return file_open(file, path, open_mode::excl); }
int utf8file_open_trunc(int *file, const char *path) { return file_open(file, path, open_mode::trunc); }
int utf8file_open_write(int *file, const char *path) { return file_open(file, path, open_mode::write_existing); }
int utf8file_remove(const char *path) { return sys_file_remove(path); }
int utf8file_rename(const char *old_path, const char *new_path) { return sys_file_rename(old_path, new_path); }
int utf8file_stat(const char *path, sys_file_stat_rec *st) { return sys_file_stat(path, st); }

int utf8file_utime(const char *path, const int64_t *mtime, const int64_t *ctime)
{
  return sys_file_utime(path, mtime, ctime);
}

int utf8filesystem_stat(const char *path, sys_filesystem_stat_rec *st) { return sys_filesystem_stat(path, st); }
int utf8dir_make(const char *path) { return sys_dir_make(path); }
int utf8dir_remove(const char *path) { return sys_dir_remove(path); }
int utf8dir_open(sys_dir_rec *dir, const char *path) { return sys_dir_open(dir, path); }

int utf8dir_read(sys_dir_rec *dir, char **name)
{
  const char *n = sys_dir_read(dir);
  return n && sys_str_clone(n, name);
}

const char *utf8file_separator(void) { return sys_file_separator(); }
int utf8file_is_absolute_path(const char *path) { return sys_file_is_absolute_path(path); }

uint32_t utf8file_dot_suffix_at(const char *path, uint32_t length)
{
  for (uint32_t i = length; i > 0; i--) {
    if (path[i - 1] == '/') break;
    if (path[i - 1] == '.') return i - 1;
  }
  return length;
}

const char *path_dot_suffix(const char *path)
{
  return path + utf8file_dot_suffix_at(path, sys_str_len(path));
}

int file_read_all_max(const char *path, sys_stralloc_rec *sa, uint64_t max)
{
  int fd;
  if (!utf8file_open_read(&fd, path)) return 0;
  sys_file_stat_rec st;
  // Room for the whole file and the read that finds its end: a file that
  // kept its size is read without the buffer growing (a copy of all of it).
  bool ok = sys_file_fstat(fd, &st) && st.size <= max && st.size + FILE_READ_ALL_BUFFER <= UINT32_MAX &&
            sys_stralloc_readyplus(sa, uint32_t(st.size) + FILE_READ_ALL_BUFFER);
  while (ok) {
    uint32_t got = 0;
    ok = sys_stralloc_readyplus(sa, FILE_READ_ALL_BUFFER);
    // As much as there is room for in one read.
    uint32_t room = ok ? sa->a - sa->len : 0;
    ok = ok && sys_file_read(fd, sa->buf + sa->len, room, &got);
    if (!ok || !got) break;
    // The file may have grown since fstat.
    ok = sa->len + uint64_t(got) <= max;
    if (ok) sa->len += got;
  }
  sys_file_close(fd);
  return ok;
}

int file_read_all(const char *path, sys_stralloc_rec *sa)
{
  return file_read_all_max(path, sa, FILE_READ_ALL_MAX);
}

int file_map_all(const char *path, uint64_t max, const char **data, uint64_t *size)
{
  int fd;
  if (!utf8file_open_read(&fd, path)) return 0;
  sys_file_stat_rec st;
  bool ok = sys_file_fstat(fd, &st) && !st.is_dir && st.size <= max && st.size <= SIZE_MAX;
  void *p = nullptr;
  if (ok && st.size) {
    // The pages of the file itself, mapped at once: no copy of it, and no
    // page of the process's own that it would leave behind.
    p = mmap(nullptr, size_t(st.size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ok = p != MAP_FAILED;
  }
  sys_file_close(fd);
  if (!ok) return 0;
  *data = st.size ? static_cast<const char *>(p) : "";
  *size = st.size;
  return 1;
}

void file_unmap(const char *data, uint64_t size)
{
  if (size) munmap(const_cast<char *>(data), size_t(size));
}

}  // extern "C"
