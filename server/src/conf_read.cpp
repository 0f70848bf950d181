// Reading the configuration store: paths, values, lists, flags and
// folders of records.
#include "conf_util.h"

#include <tarvo_util/charset.h>
#include <tarvo_util/sys_socket.h>

namespace conf {

int path_join(sys_stralloc_rec *sa, const char *data_home, const char *key, const char *name)
{
  if (!sys_stralloc_copys(sa, data_home) || !sys_stralloc_cats(sa, "/conf")) return 0;
  if (key && (!sys_stralloc_cats(sa, "/") || !sys_stralloc_cats(sa, key))) return 0;
  if (name && (!sys_stralloc_cats(sa, "/") || !sys_stralloc_cats(sa, name))) return 0;
  return 1;
}

int path_finish(sys_stralloc_rec *sa, char **out)
{
  if (!sys_stralloc_append(sa, "")) return 0;
  *out = sa->buf;
  *sa = sys_stralloc_rec{};
  return 1;
}

// A record's name becomes a file name: no folder part, and no leading
// dot, which would hide it as a temporary file or climb out of the folder.
bool name_ok(const char *name)
{
  return name && *name && *name != '.' && sys_str_chr(name, '/') == sys_str_len(name);
}

int line_get(sys_filebuffer_rec *fb, sys_stralloc_rec *sa, int *got_line)
{
  sa->len = 0;
  *got_line = 0;
  for (;;) {
    uint32_t avail = 0;
    if (!sys_filebuffer_feed(fb, &avail)) return 0;
    if (!avail) return 1;
    const char *p = sys_filebuffer_peek(fb);
    uint32_t n = sys_str_chrb(p, avail, '\n');
    bool found = n < avail;
    if (found) n++;
    if (sa->len + n > CONF_LINE_MAX) return 0;
    if (!sys_stralloc_catb(sa, p, n)) return 0;
    sys_filebuffer_seek(fb, n);
    if (found) {
      *got_line = 1;
      return 1;
    }
  }
}

void line_trim(sys_stralloc_rec *sa)
{
  if (sa->len && sa->buf[sa->len - 1] == '\n') sa->len--;
  if (sa->len && sa->buf[sa->len - 1] == '\r') sa->len--;
}

// A file read through a buffer of N bytes.
template <uint32_t N> struct buffered_file {
  own::file f;
  char buf[N];
  sys_filebuffer_rec fb;
  int open(const char *path)
  {
    if (!utf8file_open_read(&f.fd, path)) return 0;
    sys_filebuffer_init(&fb, f.fd, buf, N);
    return 1;
  }
};

int first_line(const char *path, sys_stralloc_rec *sa)
{
  buffered_file<CONF_VALUE_BUFFER> file;
  int got;
  if (!file.open(path) || !line_get(&file.fb, sa, &got)) return 0;
  line_trim(sa);
  return 1;
}

int lines_read(const char *path, sys_ptralloc_rec *out)
{
  buffered_file<CONF_FILE_BUFFER> file;
  if (!file.open(path)) return 0;
  own::stralloc line;
  for (;;) {
    int got;
    if (!line_get(&file.fb, &line.s, &got)) return 0;
    line_trim(&line.s);
    if (line.s.len) {
      char *s = nullptr;
      if (!sys_stralloc_append(&line.s, "") || !sys_str_clone(line.s.buf, &s)) return 0;
      if (!sys_ptralloc_append(out, s)) {
        sys_alloc_free(s);
        return 0;
      }
    }
    if (!got) return 1;
  }
}

}  // namespace conf

using namespace conf;

extern "C" {

int conf_dir_path(const char *data_home, char **path)
{
  own::stralloc sa;
  return path_join(&sa.s, data_home, nullptr, nullptr) && path_finish(&sa.s, path);
}

int conf_key_path(const char *data_home, const char *key, char **path)
{
  own::stralloc sa;
  return path_join(&sa.s, data_home, key, nullptr) && path_finish(&sa.s, path);
}

int conf_key_item_path(const char *data_home, const char *key, const char *name, char **path)
{
  own::stralloc sa;
  return name_ok(name) && path_join(&sa.s, data_home, key, name) && path_finish(&sa.s, path);
}

int conf_access_tmp_path(const char *data_home, const char *name, char **path)
{
  own::stralloc sa;
  return name_ok(name) && path_join(&sa.s, data_home, CONF_KEY_ACCESS, nullptr) &&
         sys_stralloc_cats(&sa.s, "/.tmp.") && sys_stralloc_cats(&sa.s, name) &&
         path_finish(&sa.s, path);
}

int conf_value_read_path(const char *path, char **value)
{
  own::stralloc sa;
  return first_line(path, &sa.s) && path_finish(&sa.s, value);
}

int conf_value_read(const char *data_home, const char *key, char **value)
{
  own::str p;
  return conf_key_path(data_home, key, &p.s) && conf_value_read_path(p.s, value);
}

int conf_port_read(const char *data_home, const char *key, uint16_t *port)
{
  own::str v;
  if (!conf_value_read(data_home, key, &v.s)) return 0;
  uint32_t n = 0;
  for (const char *c = v.s; *c >= '0' && *c <= '9'; c++) n = n * 10 + uint32_t(*c - '0');
  *port = uint16_t(n);
  return 1;
}

int conf_max_age_read(const char *data_home, uint32_t *seconds)
{
  own::str v;
  if (!conf_value_read(data_home, CONF_KEY_MAX_AGE, &v.s)) {
    *seconds = CONF_MAX_AGE_DEFAULT;
    return 1;
  }
  uint32_t n = 0;
  sys_str_scan_uint32(v.s, &n);
  *seconds = n;
  return 1;
}

int conf_list_append(const char *data_home, const char *key, sys_ptralloc_rec *pa)
{
  own::str p;
  if (!conf_key_path(data_home, key, &p.s)) return 0;
  sys_file_stat_rec st;
  if (!utf8file_stat(p.s, &st) || st.is_dir) return 1;
  own::str_list_build l;
  if (!lines_read(p.s, &l.pa)) return 0;
  if (!sys_ptralloc_readyplus(pa, l.pa.len)) return 0;
  for (uint32_t i = 0; i < l.pa.len; i++) sys_ptralloc_append(pa, l.pa.buf[i]);
  l.pa.len = 0;
  return 1;
}

int conf_list_read(const char *data_home, const char *key, sys_str_list *list)
{
  own::str_list_build l;
  return conf_list_append(data_home, key, &l.pa) && l.release(list);
}

int conf_share_list_read(const char *data_home, sys_str_list *list)
{
  own::str p;
  own::str_list_build l;
  return conf_key_path(data_home, CONF_KEY_SHARE_LIST, &p.s) && lines_read(p.s, &l.pa) && l.release(list);
}

int conf_share_done_read(const char *data_home, sys_str_list *list)
{
  own::str p;
  if (!conf_key_path(data_home, CONF_KEY_SHARE_DONE, &p.s)) return 0;
  own::str_list_build l;
  sys_file_stat_rec st;
  if (utf8file_stat(p.s, &st) && !lines_read(p.s, &l.pa)) return 0;
  return l.release(list);
}

int conf_flag_read(const char *data_home, const char *key, int *on)
{
  own::str p;
  if (!conf_key_path(data_home, key, &p.s)) return 0;
  sys_file_stat_rec st;
  *on = utf8file_stat(p.s, &st) && !st.is_dir;
  return 1;
}

int conf_access_default_read(const char *data_home, int *allow)
{
  own::str v;
  if (!conf_value_read(data_home, CONF_KEY_ACCESS_DEFAULT, &v.s)) return 0;
  uint32_t n = sys_str_len(v.s);
  *allow = n <= 5 && sys_byte_diff(v.s, n, "allow") == 0;
  return 1;
}

int conf_folder_list(const char *data_home, const char *key, sys_str_list *names,
                     sys_str_list *values)
{
  own::str folder;
  if (!conf_key_path(data_home, key, &folder.s)) return 0;
  sys_dir_rec dir;
  if (!utf8dir_open(&dir, folder.s)) return 0;
  // Name and value side by side, so that one sort keeps them paired.
  own::str_list_build pairs;
  int ok = 1;
  char *name;
  while (ok && utf8dir_read(&dir, &name)) {
    own::str owned{name}, item, value;
    if (!name_ok(name)) continue;
    ok = conf_key_item_path(data_home, key, name, &item.s);
    // A record removed since the listing began is no longer one.
    if (!ok || !conf_value_read_path(item.s, &value.s)) continue;
    ok = sys_ptralloc_readyplus(&pairs.pa, 2);
    if (!ok) break;
    sys_ptralloc_append(&pairs.pa, owned.s);
    sys_ptralloc_append(&pairs.pa, value.s);
    owned.s = value.s = nullptr;
  }
  sys_dir_close(&dir);
  if (!ok) return 0;
  // Listings come in the file system's order; records are given by name.
  uint32_t count = pairs.pa.len / 2;
  sort_quick(pairs.pa.buf, count, 2 * sizeof(void *), nullptr, [](const void *a, const void *b, void *) {
    return sys_str_diff(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
  });
  own::str_list_build n, v;
  if (!sys_ptralloc_ready(&n.pa, count + 1) || !sys_ptralloc_ready(&v.pa, count + 1)) return 0;
  for (uint32_t i = 0; i < count; i++) {
    sys_ptralloc_append(&n.pa, pairs.pa.buf[2 * i]);
    sys_ptralloc_append(&v.pa, pairs.pa.buf[2 * i + 1]);
  }
  pairs.pa.len = 0;
  n.release(names);
  v.release(values);
  return 1;
}

int conf_description_read(const char *data_home, sys_stralloc_rec *sa)
{
  own::str p;
  return conf_key_path(data_home, CONF_KEY_DESCRIPTION, &p.s) && file_read_all(p.s, sa);
}

int conf_friendly_name_default(const char *description_name, char **name)
{
  own::str host, utf8;
  own::stralloc sa;
  if (sys_host_local(&host.s) && utf8_from_native2(host.s, &utf8.s)) {
    if (!sys_stralloc_copys(&sa.s, utf8.s) || !sys_stralloc_cats(&sa.s, " ")) return 0;
  }
  return sys_stralloc_cats(&sa.s, description_name) && path_finish(&sa.s, name);
}

}  // extern "C"
