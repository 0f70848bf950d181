// Files by path and by handle, disk space, and sending a file over a
// socket.
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/util_limits.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sys_file_path.h"
#include "utf8_seq.h"

namespace tarvo {

wide_path::wide_path(const sys_wchar *w)
{
  for (const sys_wchar *s = w; *s; s++) {
    if (*s >= 0xD800 && *s <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) s++;
    else if (is_surrogate(*s)) return;
  }
  if (!utf8_from_wcs2(w, &p)) p = nullptr;
}

wide_path::~wide_path() { sys_alloc_free(p); }

int file_open(int *file, const char *path, open_mode mode)
{
  int flags = O_CLOEXEC;
  switch (mode) {
  case open_mode::read: flags |= O_RDONLY; break;
  case open_mode::excl: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
  case open_mode::trunc: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
  case open_mode::write_create: flags |= O_WRONLY | O_CREAT; break;
  case open_mode::write_existing: flags |= O_WRONLY; break;
  }
  int fd;
  do fd = open(path, flags, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return 0;
  if (mode == open_mode::read) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  *file = fd;
  return 1;
}

namespace {

void fill_stat(const struct statx &x, sys_file_stat_rec *st)
{
  st->is_dir = S_ISDIR(x.stx_mode) ? SYS_FILE_IS_DIR : 0;
  st->mtime = x.stx_mtime.tv_sec;
  st->ctime = (x.stx_mask & STATX_BTIME) ? x.stx_btime.tv_sec : x.stx_ctime.tv_sec;
  st->size = x.stx_size;
  st->is_regular = S_ISREG(x.stx_mode) ? 1 : 0;
  st->dev = makedev(x.stx_dev_major, x.stx_dev_minor);
  st->ino = x.stx_ino;
}

}  // namespace

int stat_at(int dirfd, const char *path, int flags, sys_file_stat_rec *st)
{
  struct statx x;
  if (statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &x) != 0) return 0;
  fill_stat(x, st);
  return 1;
}

}  // namespace tarvo

using namespace tarvo;

namespace {

// Runs f on the UTF-8 form of a UTF-16 path; 0 for an ill-formed one.
template <class F> int with_wide(const sys_wchar *path, F f)
{
  wide_path p(path);
  return p && f(p.p);
}

// Moves a regular file to another file system: copy into a temporary
// file beside the target, keep the mode and modification time, rename it
// over the target, then delete the source.  A failed copy leaves the target
// as it was.
int move_across(const char *from, const char *to)
{
  int in;
  if (!file_open(&in, from, open_mode::read)) return 0;
  struct stat st;
  char tmp[PATH_MAX + 8];
  int out = -1;
  int ok = fstat(in, &st) == 0 && S_ISREG(st.st_mode) && std::strlen(to) < PATH_MAX;
  if (ok) {
    std::strcpy(tmp, to);
    std::strcat(tmp, ".XXXXXX");
    ok = (out = mkostemp(tmp, O_CLOEXEC)) >= 0 && fchmod(out, st.st_mode & 07777) == 0;
  }
  char buf[SYS_FILE_COPY_BLOCK];
  while (ok) {
    uint32_t got;
    if (!sys_file_read(in, buf, sizeof buf, &got)) ok = 0;
    else if (got == 0) break;
    else ok = sys_file_allwrite(out, buf, got);
  }
  if (ok) {
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ok = futimens(out, times) == 0;
  }
  sys_file_close(in);
  if (out >= 0 && close(out) != 0) ok = 0;
  if (ok) ok = rename(tmp, to) == 0;
  if (!ok) {
    if (out >= 0) unlink(tmp);
    return 0;
  }
  return unlink(from) == 0;
}

}  // namespace

extern "C" {

int sys_file_open_read(int *file, const char *path) { return file_open(file, path, open_mode::read); }
int sys_file_open_excl(int *file, const char *path) { return file_open(file, path, open_mode::excl); }
int sys_file_open_trunc(int *file, const char *path) { return file_open(file, path, open_mode::trunc); }
int sys_file_open_write(int *file, const char *path) { return file_open(file, path, open_mode::write_create); }

int sys_file_remove(const char *path) { return unlink(path) == 0; }

int sys_file_rename(const char *old_path, const char *new_path)
{
  if (rename(old_path, new_path) == 0) return 1;
  return errno == EXDEV && move_across(old_path, new_path);
}

int sys_file_stat(const char *path, sys_file_stat_rec *st) { return stat_at(AT_FDCWD, path, 0, st); }

int sys_file_utime(const char *path, const int64_t *mtime, const int64_t *)
{
  timespec t[2];
  t[0].tv_nsec = UTIME_OMIT;
  t[0].tv_sec = 0;
  t[1].tv_sec = mtime ? time_t(*mtime) : 0;
  t[1].tv_nsec = mtime ? 0 : UTIME_OMIT;
  return utimensat(AT_FDCWD, path, t, 0) == 0;
}

int sys_filesystem_stat(const char *path, sys_filesystem_stat_rec *st)
{
  struct statvfs v;
  if (statvfs(path, &v) != 0) return 0;
  st->total = uint64_t(v.f_blocks) * v.f_frsize;
  st->avail = uint64_t(v.f_bavail) * v.f_frsize;
  st->used = st->total - st->avail;
  return 1;
}

int sys_dir_make(const char *path) { return mkdir(path, 0777) == 0; }
int sys_dir_remove(const char *path) { return rmdir(path) == 0; }
const char *sys_file_separator(void) { return "/"; }
int sys_file_is_absolute_path(const char *path) { return path[0] == '/'; }
int sys_dir_supported(void) { return 1; }
int sys_filesystem_supported(void) { return 1; }

int sys_file_open_read_w(int *file, const sys_wchar *path)
{
  return with_wide(path, [&](const char *p) { return file_open(file, p, open_mode::read); });
}

int sys_file_open_excl_w(int *file, const sys_wchar *path)
{
  return with_wide(path, [&](const char *p) { return file_open(file, p, open_mode::excl); });
}

int sys_file_open_trunc_w(int *file, const sys_wchar *path)
{
  return with_wide(path, [&](const char *p) { return file_open(file, p, open_mode::trunc); });
}

int sys_file_open_write_w(int *file, const sys_wchar *path)
{
  return with_wide(path, [&](const char *p) { return file_open(file, p, open_mode::write_existing); });
}

int sys_file_remove_w(const sys_wchar *path)
{
  return with_wide(path, [&](const char *p) { return sys_file_remove(p); });
}

int sys_file_rename_w(const sys_wchar *old_path, const sys_wchar *new_path)
{
  wide_path o(old_path), n(new_path);
  return o && n && sys_file_rename(o.p, n.p);
}

int sys_file_stat_w(const sys_wchar *path, sys_file_stat_rec *st)
{
  return with_wide(path, [&](const char *p) { return sys_file_stat(p, st); });
}

int sys_file_utime_w(const sys_wchar *path, const int64_t *mtime, const int64_t *ctime)
{
  return with_wide(path, [&](const char *p) { return sys_file_utime(p, mtime, ctime); });
}

int sys_filesystem_stat_w(const sys_wchar *path, sys_filesystem_stat_rec *st)
{
  return with_wide(path, [&](const char *p) { return sys_filesystem_stat(p, st); });
}

int sys_dir_make_w(const sys_wchar *path)
{
  return with_wide(path, [&](const char *p) { return sys_dir_make(p); });
}

int sys_dir_remove_w(const sys_wchar *path)
{
  return with_wide(path, [&](const char *p) { return sys_dir_remove(p); });
}

const sys_wchar *sys_file_separator_w(void)
{
  static const sys_wchar sep[] = {u'/', 0};
  return sep;
}

int sys_file_is_absolute_path_w(const sys_wchar *path) { return path[0] == u'/'; }
int sys_dir_supported_w(void) { return 1; }
int sys_filesystem_supported_w(void) { return 1; }

int sys_file_read(int file, void *buf, uint32_t len, uint32_t *got)
{
  ssize_t r;
  do r = read(file, buf, len);
  while (r < 0 && errno == EINTR);
  if (r < 0 && errno != EPIPE) return 0;
  *got = r < 0 ? 0 : uint32_t(r);
  return 1;
}

int sys_file_write(int file, const void *data, uint32_t len, uint32_t *put)
{
  ssize_t r;
  do r = write(file, data, len);
  while (r < 0 && errno == EINTR);
  if (r < 0) return 0;
  *put = uint32_t(r);
  return 1;
}

int sys_file_allwrite(int file, const void *data, uint32_t len)
{
  auto *d = static_cast<const char *>(data);
  while (len) {
    uint32_t put;
    if (!sys_file_write(file, d, len, &put) || put == 0) return 0;
    d += put;
    len -= put;
  }
  return 1;
}

int sys_file_close(int file)
{
  if (file == SYS_FILE_INVALID) return 1;
  // The descriptor is gone even when close reports EINTR.
  return close(file) == 0 || errno == EINTR;
}

int sys_file_flush(int file)
{
  // Pipes and sockets have nothing to flush.
  return fsync(file) == 0 || errno == EINVAL || errno == EROFS;
}

int sys_file_seek_set(int file, int64_t offset, int64_t *newpos)
{
  off_t r = lseek(file, off_t(offset), SEEK_SET);
  if (r < 0) return 0;
  if (newpos) *newpos = r;
  return 1;
}

int sys_file_seek_pos(int file, int64_t *pos)
{
  off_t r = lseek(file, 0, SEEK_CUR);
  if (r < 0) return 0;
  *pos = r;
  return 1;
}

int sys_file_fstat(int file, sys_file_stat_rec *st) { return stat_at(file, "", AT_EMPTY_PATH, st); }

int sys_file_stdin(int *file)
{
  *file = STDIN_FILENO;
  return 1;
}

int sys_file_stdout(int *file)
{
  *file = STDOUT_FILENO;
  return 1;
}

int sys_file_stderr(int *file)
{
  *file = STDERR_FILENO;
  return 1;
}

int sys_file_send(int socket, int file, int64_t offset, int64_t length, int64_t *sent)
{
  return sys_socket_sendfile(socket, file, offset, length, sent);
}

}  // extern "C"
