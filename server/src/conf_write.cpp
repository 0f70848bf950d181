// Writing the configuration store: every file is written in full to a
// temporary file beside it and renamed into place.
#include "conf_util.h"

#include <tarvo_util/digest.h>

using namespace conf;

namespace {

// The temporary file of a key's file: ".tmp." and the key's name, in the
// key's folder.
int tmp_path_of(const char *path, char **tmp)
{
  uint32_t slash = sys_str_rchr(path, '/');
  uint32_t len = sys_str_len(path);
  own::stralloc sa;
  uint32_t base = slash < len ? slash + 1 : 0;
  return sys_stralloc_copyb(&sa.s, path, base) && sys_stralloc_cats(&sa.s, ".tmp.") &&
         sys_stralloc_cats(&sa.s, path + base) && path_finish(&sa.s, tmp);
}

int lines_write(const char *path, const char *tmp, char *const *list)
{
  own::stralloc text;
  for (char *const *l = list; *l; l++)
    if (!sys_stralloc_cats(&text.s, *l) || !sys_stralloc_cats(&text.s, "\n")) return 0;
  if (!sys_stralloc_append(&text.s, "")) return 0;
  return conf_value_write_path(path, tmp, text.s.buf);
}

}  // namespace

extern "C" {

int conf_value_write_path(const char *path, const char *tmp_path, const char *text)
{
  int fd = -1;
  if (!utf8file_open_trunc(&fd, tmp_path)) return 0;
  int ok = sys_file_allwrite(fd, text, sys_str_len(text)) && sys_file_flush(fd);
  ok = sys_file_close(fd) && ok;
  ok = ok && utf8file_rename(tmp_path, path);
  if (!ok) utf8file_remove(tmp_path);
  return ok;
}

int conf_value_write(const char *data_home, const char *key, const char *text)
{
  own::str p, tmp;
  return conf_key_path(data_home, key, &p.s) && tmp_path_of(p.s, &tmp.s) &&
         conf_value_write_path(p.s, tmp.s, text);
}

int conf_access_default_write(const char *data_home, int allow)
{
  return conf_value_write(data_home, CONF_KEY_ACCESS_DEFAULT, allow ? "allow" : "deny");
}

int conf_access_write(const char *data_home, int allow, const char *mac, const char *ip)
{
  char uuid[UUID_BUF_LEN];
  own::str p, tmp;
  return uuid_create(uuid) &&
         conf_key_item_path(data_home, allow ? CONF_KEY_ACCESS_ALLOW : CONF_KEY_ACCESS_DENY, mac, &p.s) &&
         conf_access_tmp_path(data_home, uuid, &tmp.s) && conf_value_write_path(p.s, tmp.s, ip);
}

int conf_filetype_write(const char *data_home, const char *ext, const char *mime)
{
  own::str lower, p, tmp;
  if (!sys_str_clone(ext, &lower.s)) return 0;
  sys_str_case_lower(lower.s);
  return conf_key_item_path(data_home, CONF_KEY_FILETYPE, lower.s, &p.s) && tmp_path_of(p.s, &tmp.s) &&
         conf_value_write_path(p.s, tmp.s, mime);
}

int conf_share_data_write(const char *data_home, const char *object_id, const char *folder)
{
  own::str p, tmp;
  return conf_key_item_path(data_home, CONF_KEY_SHARE_DATA, object_id, &p.s) &&
         tmp_path_of(p.s, &tmp.s) && conf_value_write_path(p.s, tmp.s, folder);
}

int conf_share_data_remove(const char *data_home, const char *object_id)
{
  own::str p;
  return conf_key_item_path(data_home, CONF_KEY_SHARE_DATA, object_id, &p.s) && utf8file_remove(p.s);
}

int conf_share_list_write(const char *data_home, char *const *list)
{
  own::str p, tmp;
  return conf_key_path(data_home, CONF_KEY_SHARE_LIST, &p.s) && tmp_path_of(p.s, &tmp.s) &&
         lines_write(p.s, tmp.s, list);
}

int conf_share_done_write(const char *data_home, char *const *list)
{
  own::str p;
  own::stralloc tmp;
  return conf_key_path(data_home, CONF_KEY_SHARE_DONE, &p.s) && sys_stralloc_copys(&tmp.s, p.s) &&
         sys_stralloc_cats(&tmp.s, ".tmp") && sys_stralloc_append(&tmp.s, "") &&
         lines_write(p.s, tmp.s.buf, list);
}

// A crash while the UDN is written leaves the old file or the whole new
// one, never a short UDN that would give the device a new identity.
int conf_udn_read(const char *data_home, char *buf)
{
  own::str line;
  if (conf_value_read(data_home, CONF_KEY_UDN, &line.s) && sys_str_len(line.s) == CONF_UDN_LENGTH) {
    sys_str_copy(buf, line.s);
    return 1;
  }
  char udn[CONF_UDN_LENGTH + 1] = "uuid:";
  if (!uuid_create(udn + 5) || !conf_value_write(data_home, CONF_KEY_UDN, udn)) return 0;
  sys_str_copy(buf, udn);
  return 1;
}

int conf_auto_run_write(const char *data_home, int on)
{
  int now;
  own::str p;
  if (!conf_flag_read(data_home, CONF_KEY_AUTO_RUN, &now) || !conf_key_path(data_home, CONF_KEY_AUTO_RUN, &p.s))
    return 0;
  if (!now == !on) return 1;
  if (!on) return utf8file_remove(p.s);
  int fd = -1;
  if (!utf8file_open_trunc(&fd, p.s)) return 0;
  return sys_file_close(fd);
}

int conf_dot_entries_remove(const char *folder)
{
  sys_dir_rec dir;
  if (!utf8dir_open(&dir, folder)) return 0;
  own::stralloc path;
  char *name;
  int ok = 1;
  while (utf8dir_read(&dir, &name)) {
    own::str owned{name};
    if (name[0] != '.') continue;
    if (!sys_stralloc_copys(&path.s, folder) || !sys_stralloc_cats(&path.s, "/") ||
        !sys_stralloc_cats(&path.s, name) || !sys_stralloc_append(&path.s, "") ||
        !utf8file_remove(path.s.buf))
      ok = 0;
  }
  sys_dir_close(&dir);
  return ok;
}

}  // extern "C"
