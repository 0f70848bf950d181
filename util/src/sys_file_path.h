// Shared by the file, folder and UTF-8 path calls.
#pragma once

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>

namespace tarvo {

// The UTF-8 form of a UTF-16 path in a heap string; empty when the path is
// ill-formed UTF-16 (a lone surrogate) or memory runs out, so that no call
// acts on a path other than the one named.
struct wide_path {
  char *p = nullptr;
  explicit wide_path(const sys_wchar *w);
  wide_path(const wide_path &) = delete;
  wide_path &operator=(const wide_path &) = delete;
  ~wide_path();
  explicit operator bool() const { return p != nullptr; }
};

// Open flavours shared by the three path families.
enum class open_mode { read, excl, trunc, write_create, write_existing };
int file_open(int *file, const char *path, open_mode mode);
// statx of path relative to dirfd (AT_FDCWD: the working folder).
int stat_at(int dirfd, const char *path, int flags, sys_file_stat_rec *st);

}  // namespace tarvo
