/* Files, folders and buffered file reading and writing.
 *
 * Paths of the plain calls go to the kernel as they are; the _w calls take
 * UTF-16 paths and fail on ill-formed UTF-16 (see utf8file.h for the UTF-8
 * family).  File handles are descriptors, -1 invalid; every one this
 * library opens is close-on-exec.  Results are 1/0. */
#ifndef TARVO_UTIL_SYS_FILE_H
#define TARVO_UTIL_SYS_FILE_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SYS_FILE_INVALID (-1)
#define SYS_FILE_IS_DIR 0x10

typedef struct {
  int32_t is_dir;  /* SYS_FILE_IS_DIR for a folder, else 0 */
  int64_t mtime;   /* last write, seconds since 1970 UTC */
  int64_t ctime;   /* creation (birth where recorded, else change time) */
  uint64_t size;
  int32_t is_regular; /* 1 for a regular file, else 0 */
  uint64_t dev;       /* the device and inode tell files apart however reached */
  uint64_t ino;
} sys_file_stat_rec;

typedef struct {
  uint64_t total;
  uint64_t avail;  /* free for the caller */
  uint64_t used;   /* total - avail */
} sys_filesystem_stat_rec;

/* What a listing tells of an entry without a stat: SYS_DIR_UNKNOWN where
 * the file system does not say. */
#define SYS_DIR_UNKNOWN 0
#define SYS_DIR_FILE 1
#define SYS_DIR_FOLDER 2
#define SYS_DIR_LINK 3
#define SYS_DIR_OTHER 4 /* devices, pipes and sockets */

/* Folder listing in caller storage. */
typedef struct {
  void *handle;
  union {
    char name[256];
    sys_wchar wname[256];
  } find;
  int32_t first_pending;
  int32_t type; /* SYS_DIR_* of the entry last read */
} sys_dir_rec;

/* Buffered reading or writing over a caller's buffer.  Output: p bytes wait
 * at x, n is the buffer size.  Input: p unconsumed bytes lie at x + n, so
 * that n + p is the buffer size. */
typedef struct {
  char *x;
  uint32_t p;
  uint32_t n;
  int fd;
} sys_filebuffer_rec;

int sys_file_open_read(int *file, const char *path);
int sys_file_open_excl(int *file, const char *path);
int sys_file_open_trunc(int *file, const char *path);
int sys_file_open_write(int *file, const char *path); /* creates a missing file */
int sys_file_remove(const char *path);
int sys_file_rename(const char *old_path, const char *new_path);
int sys_file_stat(const char *path, sys_file_stat_rec *st);
/* Whole seconds; NULL leaves that time alone.  Creation times cannot be set
 * on this platform and are left alone. */
int sys_file_utime(const char *path, const int64_t *mtime, const int64_t *ctime);
int sys_filesystem_stat(const char *path, sys_filesystem_stat_rec *st);
int sys_dir_make(const char *path);
int sys_dir_remove(const char *path);
int sys_dir_open(sys_dir_rec *dir, const char *path);
/* The next name inside the record ("." and ".." skipped); NULL at the end. */
char *sys_dir_read(sys_dir_rec *dir);
int sys_dir_close(sys_dir_rec *dir);
/* The entry sys_dir_read gave last, links followed, by one stat relative
 * to the listed folder (no lookup of the whole path); 0 when it has gone. */
int sys_dir_stat(const sys_dir_rec *dir, sys_file_stat_rec *st);
const char *sys_file_separator(void);
int sys_file_is_absolute_path(const char *path);
int sys_dir_supported(void);
int sys_filesystem_supported(void);

int sys_file_open_read_w(int *file, const sys_wchar *path);
int sys_file_open_excl_w(int *file, const sys_wchar *path);
int sys_file_open_trunc_w(int *file, const sys_wchar *path);
int sys_file_open_write_w(int *file, const sys_wchar *path); /* fails on a missing file */
int sys_file_remove_w(const sys_wchar *path);
int sys_file_rename_w(const sys_wchar *old_path, const sys_wchar *new_path);
int sys_file_stat_w(const sys_wchar *path, sys_file_stat_rec *st);
int sys_file_utime_w(const sys_wchar *path, const int64_t *mtime, const int64_t *ctime);
int sys_filesystem_stat_w(const sys_wchar *path, sys_filesystem_stat_rec *st);
int sys_dir_make_w(const sys_wchar *path);
int sys_dir_remove_w(const sys_wchar *path);
int sys_dir_open_w(sys_dir_rec *dir, const sys_wchar *path);
/* Names that are not well-formed UTF-8 are skipped. */
sys_wchar *sys_dir_read_w(sys_dir_rec *dir);
const sys_wchar *sys_file_separator_w(void);
int sys_file_is_absolute_path_w(const sys_wchar *path);
int sys_dir_supported_w(void);
int sys_filesystem_supported_w(void);

/* Handles. */
int sys_file_read(int file, void *buf, uint32_t len, uint32_t *got);
int sys_file_write(int file, const void *data, uint32_t len, uint32_t *put);
int sys_file_allwrite(int file, const void *data, uint32_t len);
int sys_file_close(int file);
int sys_file_flush(int file);
int sys_file_seek_set(int file, int64_t offset, int64_t *newpos);
int sys_file_seek_pos(int file, int64_t *pos);
int sys_file_fstat(int file, sys_file_stat_rec *st);
int sys_file_stdin(int *file);
int sys_file_stdout(int *file);
int sys_file_stderr(int *file);
/* Sends length bytes of the file from offset (0: from the current position)
 * over a socket; stops early with success at the end of the file.  sent may
 * be NULL.  The socket is left in non-blocking mode. */
int sys_file_send(int socket, int file, int64_t offset, int64_t length, int64_t *sent);

/* File buffer. */
void sys_filebuffer_init(sys_filebuffer_rec *fb, int file, char *buf, uint32_t size);
int sys_filebuffer_put(sys_filebuffer_rec *fb, const void *data, uint32_t len);
int sys_filebuffer_putalign(sys_filebuffer_rec *fb, const void *data, uint32_t len);
int sys_filebuffer_putflush(sys_filebuffer_rec *fb, const void *data, uint32_t len);
int sys_filebuffer_puts(sys_filebuffer_rec *fb, const char *s);
int sys_filebuffer_putsalign(sys_filebuffer_rec *fb, const char *s);
int sys_filebuffer_putsflush(sys_filebuffer_rec *fb, const char *s);
int sys_filebuffer_flush(sys_filebuffer_rec *fb);
int sys_filebuffer_feed(sys_filebuffer_rec *fb, uint32_t *avail);
char *sys_filebuffer_peek(sys_filebuffer_rec *fb);
void sys_filebuffer_seek(sys_filebuffer_rec *fb, uint32_t k);
int sys_filebuffer_get(sys_filebuffer_rec *fb, void *dst, uint32_t len, uint32_t *got);
int sys_filebuffer_bget(sys_filebuffer_rec *fb, void *dst, uint32_t len, uint32_t *got);
int sys_filebuffer_fill(sys_filebuffer_rec *fb, void *dst, uint32_t len);
int sys_filebuffer_skip(sys_filebuffer_rec *fb, uint64_t len);
int sys_filebuffer_copy(sys_filebuffer_rec *in, sys_filebuffer_rec *out);
int sys_filebuffer_pos(sys_filebuffer_rec *fb, int64_t *pos);
/* Empties sa and appends the bytes up to and including terminator; got_line
 * 0 at the end of the file (sa then holds the unterminated rest).  sa is not
 * NUL-terminated. */
int sys_filebuffer_getln(sys_filebuffer_rec *fb, sys_stralloc_rec *sa, int *got_line, int terminator);

#ifdef __cplusplus
}
#endif
#endif
