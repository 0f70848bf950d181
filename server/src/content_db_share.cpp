// Shares: the folders of sync/share/list.  Adding one only changes the
// list (the share scanner makes its container); removing one destroys its
// containers first.
#include "content_db_impl.h"

#include <vennard/conf_store.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

#include <string_view>

using namespace cdb;
using namespace srv;

namespace {

// path is folder itself or lies below it.
bool inside(std::string_view path, std::string_view folder)
{
  if (folder.empty() || path.substr(0, folder.size()) != folder) return false;
  return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

// The paths of the list that stay, as a NULL-terminated list that borrows
// its strings.
struct kept_paths {
  sys_ptralloc_rec pa{};
  ~kept_paths() { sys_ptralloc_free(&pa); }
  bool add(const char *path) { return sys_ptralloc_append(&pa, const_cast<char *>(path)); }
  char *const *list() { return sys_ptralloc_append(&pa, nullptr) ? reinterpret_cast<char *const *>(pa.buf) : nullptr; }
};

struct share_lock {
  server_rec *s;
  bool held;
  explicit share_lock(server_rec *srv) : s(srv), held(content_db_share_lock(srv)) {}
  ~share_lock()
  {
    if (held) content_db_share_unlock(s);
  }
};

}  // namespace

extern "C" {

uint32_t content_db_share(server_rec *s, const char *path)
{
  share_lock lock(s);
  if (!lock.held) return kFailed;
  sys_file_stat_rec st;
  if (!path || !*path || !utf8file_stat(path, &st) || !st.is_dir) return kNotFolder;
  own::str_list list;
  if (!conf_share_list_read(s->data_home, &list.l)) return kFailed;
  kept_paths kept;
  for (char **l = list.l; *l; l++) {
    if (inside(path, *l)) return kInsideShare;
    if (!inside(*l, path) && !kept.add(*l)) return kFailed;
  }
  if (kept.pa.len >= CONTENT_DB_SHARES_MAX) return kTooManyShares;
  char *const *paths = kept.add(path) ? kept.list() : nullptr;
  return paths && conf_share_list_write(s->data_home, paths) ? kOk : kFailed;
}

int content_db_unshare(server_rec *s, const char *path)
{
  share_lock lock(s);
  if (!lock.held || !path) return 0;
  own::str_list list, names, values;
  if (!conf_share_list_read(s->data_home, &list.l)) return 0;
  kept_paths kept;
  bool listed = false;
  for (char **l = list.l; *l; l++) {
    if (!sys_str_diff(*l, path)) listed = true;
    else if (!kept.add(*l)) return 0;
  }
  if (!listed || !conf_folder_list(s->data_home, CONF_KEY_SHARE_DATA, &names.l, &values.l)) return 0;
  for (uint32_t i = 0; names.l[i]; i++) {
    if (sys_str_diff(values.l[i], path)) continue;
    if (!content_db_lock(s)) return 0;
    uint32_t r = content_db_destroy(s, names.l[i]);
    content_db_unlock(s);
    // A container that is gone already counts as destroyed.
    if ((r && r != kNoSuchObject) || !conf_share_data_remove(s->data_home, names.l[i])) return 0;
  }
  char *const *paths = kept.list();
  return paths && conf_share_list_write(s->data_home, paths);
}

}  // extern "C"
