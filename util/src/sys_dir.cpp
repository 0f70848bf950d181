// Folder listings.
#include <tarvo_util/sys_file.h>

#include <dirent.h>

#include <cstring>

#include "sys_file_path.h"
#include "utf8_seq.h"

using namespace tarvo;

namespace {

int32_t entry_type(unsigned char d_type)
{
  switch (d_type) {
    case DT_REG: return SYS_DIR_FILE;
    case DT_DIR: return SYS_DIR_FOLDER;
    case DT_LNK: return SYS_DIR_LINK;
    case DT_UNKNOWN: return SYS_DIR_UNKNOWN;
    default: return SYS_DIR_OTHER;
  }
}

// The next entry's name other than "." and ".."; NULL at the end.
const char *next_name(sys_dir_rec *dir)
{
  if (!dir->handle) return nullptr;
  while (dirent *e = readdir(static_cast<DIR *>(dir->handle))) {
    const char *n = e->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    dir->type = entry_type(e->d_type);
    return n;
  }
  return nullptr;
}

bool load_name(sys_dir_rec *dir)
{
  for (const char *n; (n = next_name(dir));) {
    size_t len = std::strlen(n);
    if (len >= sizeof dir->find.name) continue;
    std::memcpy(dir->find.name, n, len + 1);
    return true;
  }
  return false;
}

// UTF-16 with surrogate pairs; false for a name that is not well-formed
// UTF-8 or does not fit.
bool to_utf16(const char *n, sys_wchar *w, size_t cap)
{
  auto *s = reinterpret_cast<const unsigned char *>(n);
  size_t len = std::strlen(n), k = 0;
  for (size_t i = 0; i < len;) {
    uint32_t c;
    int step = utf8_seq(s + i, len - i, &c);
    if (step <= 0 || k + 3 > cap) return false;
    if (c >= 0x10000) {
      w[k++] = sys_wchar(0xD800 + ((c - 0x10000) >> 10));
      w[k++] = sys_wchar(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      w[k++] = sys_wchar(c);
    }
    i += size_t(step);
  }
  w[k] = 0;
  return true;
}

bool load_wname(sys_dir_rec *dir)
{
  for (const char *n; (n = next_name(dir));)
    if (to_utf16(n, dir->find.wname, sizeof dir->find.wname / sizeof(sys_wchar))) return true;
  return false;
}

int open_dir(sys_dir_rec *dir, const char *path, bool (*load)(sys_dir_rec *))
{
  dir->handle = nullptr;
  dir->first_pending = 0;
  dir->type = SYS_DIR_UNKNOWN;
  if (!path[0]) return 0;
  DIR *d = opendir(path);
  if (!d) return 0;
  dir->handle = d;
  dir->first_pending = load(dir) ? 1 : 0;
  return 1;
}

}  // namespace

extern "C" {

int sys_dir_open(sys_dir_rec *dir, const char *path) { return open_dir(dir, path, load_name); }

char *sys_dir_read(sys_dir_rec *dir)
{
  if (dir->first_pending) {
    dir->first_pending = 0;
    return dir->find.name;
  }
  return load_name(dir) ? dir->find.name : nullptr;
}

int sys_dir_open_w(sys_dir_rec *dir, const sys_wchar *path)
{
  wide_path p(path);
  return p && open_dir(dir, p.p, load_wname);
}

sys_wchar *sys_dir_read_w(sys_dir_rec *dir)
{
  if (dir->first_pending) {
    dir->first_pending = 0;
    return dir->find.wname;
  }
  return load_wname(dir) ? dir->find.wname : nullptr;
}

int sys_dir_stat(const sys_dir_rec *dir, sys_file_stat_rec *st)
{
  if (!dir->handle) return 0;
  return stat_at(dirfd(static_cast<DIR *>(dir->handle)), dir->find.name, 0, st);
}

int sys_dir_close(sys_dir_rec *dir)
{
  if (!dir->handle) return 1;
  int r = closedir(static_cast<DIR *>(dir->handle)) == 0;
  dir->handle = nullptr;
  dir->first_pending = 0;
  return r;
}

}  // extern "C"
