/* Files and folders by UTF-8 path.  The bytes of the path go to the kernel
 * unchanged.  Results are 1/0. */
#ifndef TARVO_UTIL_UTF8FILE_H
#define TARVO_UTIL_UTF8FILE_H

#include <stdint.h>
#include <tarvo_util/sys_file.h>

#ifdef __cplusplus
extern "C" {
#endif

int utf8file_open_read(int *file, const char *path);
int utf8file_open_excl(int *file, const char *path);
int utf8file_open_trunc(int *file, const char *path);
int utf8file_open_write(int *file, const char *path); /* fails on a missing file */
int utf8file_remove(const char *path);
int utf8file_rename(const char *old_path, const char *new_path);
int utf8file_stat(const char *path, sys_file_stat_rec *st);
int utf8file_utime(const char *path, const int64_t *mtime, const int64_t *ctime);
int utf8filesystem_stat(const char *path, sys_filesystem_stat_rec *st);
int utf8dir_make(const char *path);
int utf8dir_remove(const char *path);
/* Listing: utf8dir_read gives 1 and a heap name (free with sys_alloc_free),
 * 0 at the end; sys_dir_close ends it. */
int utf8dir_open(sys_dir_rec *dir, const char *path);
int utf8dir_read(sys_dir_rec *dir, char **name);
const char *utf8file_separator(void);
int utf8file_is_absolute_path(const char *path);
/* Where the dot suffix of length bytes of path begins: the offset of the
 * last "." of its last component, or length when that component has none.
 * The suffix decides a file's type everywhere in the system. */
uint32_t utf8file_dot_suffix_at(const char *path, uint32_t length);
/* The suffix of the path's last component from its last "."; "" when it
 * has none. */
const char *path_dot_suffix(const char *path);

/* Appends the whole file to sa, in reads of the room sa has (at least
 * FILE_READ_ALL_BUFFER bytes, room for the whole file first); 0 for
 * a file of more than max bytes (FILE_READ_ALL_MAX for file_read_all).  On
 * failure sa may hold part of the file. */
int file_read_all(const char *path, sys_stralloc_rec *sa);
int file_read_all_max(const char *path, sys_stralloc_rec *sa, uint64_t max);
/* The whole file mapped for reading, *size bytes at *data (no NUL after
 * them); 0 for a folder, a file of more than max bytes, or one that cannot
 * be opened or mapped.  The file must not shrink while it is mapped.
 * file_unmap gives the pages back. */
int file_map_all(const char *path, uint64_t max, const char **data, uint64_t *size);
void file_unmap(const char *data, uint64_t size);

#ifdef __cplusplus
}
#endif
#endif
