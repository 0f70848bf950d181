// The vendor actions of shares and file types, through the share scanner's
// locks and the configuration store.
#include "cds_impl.h"

#include <vennard/conf_store.h>
#include <vennard/share_scanner.h>

#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <string>
#include <string_view>

using namespace cds;

namespace {

using scanner_lock = scoped_lock<share_scanner_lock, share_scanner_unlock>;
using share_list_lock = scoped_lock<content_db_share_lock, content_db_share_unlock>;

// path is folder or lies below it.
bool inside(std::string_view path, std::string_view folder)
{
  if (!path.starts_with(folder)) return false;
  return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

bool csv_join(char *const *list, own::stralloc *out)
{
  for (char *const *l = list; l && *l; l++)
    if (!csv_append(&out->s, *l)) return false;
  csv_end(&out->s);
  return sys_stralloc_append(&out->s, "");
}

// A file-type extension as the store keeps it: checked and in lower case.
bool extension_arg(const char *text, std::string *ext)
{
  if (!text || !conf_extension_valid(text)) return false;
  *ext = text;
  sys_str_case_lower(ext->data());
  return true;
}

// A MIME type that the store keeps as the first line of a file and that
// goes into XML answers: no control characters at all.
bool mime_arg(const char *text)
{
  if (!text || !*text || !xml_gen_is_legal_value(text)) return false;
  for (const char *p = text; *p; p++)
    if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F) return false;
  return true;
}

bool file_type_exists(server_rec *s, const std::string &ext, bool *exists)
{
  char *path = nullptr;
  if (!conf_key_item_path(s->data_home, CONF_KEY_FILETYPE, ext.c_str(), &path)) return false;
  sys_file_stat_rec st;
  *exists = utf8file_stat(path, &st) != 0;
  sys_alloc_free(path);
  return true;
}

}  // namespace

namespace cds {

uint32_t share_list(call &c)
{
  share_list_lock lock(c.s);
  if (!lock.held) return kFailed;
  own::str_list list;
  own::stralloc joined;
  if (!conf_share_list_read(c.s->data_home, &list.l) || !csv_join(list.l, &joined)) return kFailed;
  return respond(c, {{"PathList", joined.s.buf}});
}

uint32_t share_state(call &c)
{
  const char *path = c.arg("Path");
  if (!path || !share_path_check(path)) return kInvalidArgs;
  share_list_lock lock(c.s);
  if (!lock.held) return kFailed;
  sys_file_stat_rec st;
  if (!utf8file_stat(path, &st) || !st.is_dir) return kNotFolder;
  own::str_list list;
  if (!conf_share_list_read(c.s->data_home, &list.l)) return kFailed;
  bool shared = false;
  for (char **l = list.l; *l && !shared; l++) shared = inside(path, *l);
  return respond(c, {{"State", shared ? "1" : "0"}});
}

uint32_t share(call &c)
{
  const char *path = c.arg("Path");
  if (!path || !share_path_check(path)) return kInvalidArgs;
  scanner_lock lock(c.s);
  if (!lock.held) return kFailed;
  if (uint32_t code = content_db_share(c.s, path)) return code;
  return respond(c, {});
}

uint32_t unshare(call &c)
{
  const char *path = c.arg("Path");
  if (!path || !share_path_check(path)) return kInvalidArgs;
  // The count of lists the scanner has read is taken before the change and
  // the notification mutex held until the wait: the scanner's reading of
  // the changed list cannot slip past unseen.
  uint64_t generation;
  if (!share_notify_lock(c.s, &generation)) return kFailed;
  bool ok;
  {
    scanner_lock lock(c.s);
    ok = lock.held && content_db_unshare(c.s, path);
  }
  if (ok) {
    share_scanner_rescan(c.s);
    ok = share_notify_wait(c.s, generation);
  }
  share_notify_unlock(c.s);
  return ok ? respond(c, {}) : kFailed;
}

uint32_t file_type_list(call &c)
{
  scanner_lock lock(c.s);
  if (!lock.held) return kFailed;
  own::str_list names, values;
  own::stralloc extensions, types;
  if (!conf_folder_list(c.s->data_home, CONF_KEY_FILETYPE, &names.l, &values.l) || !csv_join(names.l, &extensions) ||
      !csv_join(values.l, &types))
    return kFailed;
  uint32_t n = 0;
  while (names.l[n]) n++;
  char count[CONTENT_DB_NUMBER_SIZE];
  count[sys_str_fmt_uint32(count, n)] = 0;
  return respond(c, {{"FileExtensionList", extensions.s.buf},
                     {"MimeTypeList", types.s.buf},
                     {"NumberOfFileTypes", count}});
}

uint32_t file_type_add(call &c)
{
  std::string ext;
  const char *mime = c.arg("MimeType");
  if (!extension_arg(c.arg("FileExtension"), &ext) || !mime_arg(mime))
    return kInvalidArgs;
  {
    scanner_lock lock(c.s);
    bool exists;
    if (!lock.held || !file_type_exists(c.s, ext, &exists)) return kFailed;
    if (exists) return kFileTypeExists;
    if (!conf_filetype_write(c.s->data_home, ext.c_str(), mime)) return kFailed;
  }
  share_scanner_recheck(c.s);
  return respond(c, {});
}

uint32_t file_type_remove(call &c)
{
  std::string ext;
  if (!extension_arg(c.arg("FileExtension"), &ext)) return kInvalidArgs;
  {
    scanner_lock lock(c.s);
    bool exists;
    if (!lock.held || !file_type_exists(c.s, ext, &exists)) return kFailed;
    if (!exists) return kNoSuchFileType;
    char *path = nullptr;
    bool removed = conf_key_item_path(c.s->data_home, CONF_KEY_FILETYPE, ext.c_str(), &path) &&
                   utf8file_remove(path);
    sys_alloc_free(path);
    if (!removed) return kFailed;
  }
  share_scanner_recheck(c.s);
  return respond(c, {});
}

}  // namespace cds
