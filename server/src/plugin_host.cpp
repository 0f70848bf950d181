// The plug-in host: loading the plug-ins named in filter, and the calls
// through which the content database and the scanner use them.
#include "didl_impl.h"
#include "server_util.h"

#include <vennard/conf_store.h>
#include <vennard/plugin.h>
#include <vennard/server.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_log.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>

#include <cstring>
#include <string_view>
#include <strings.h>

namespace {

template <class Fn> Fn entry_point(plugin_record *r, const char *name)
{
  sys_dlib_fn fn = nullptr;
  if (!sys_dlib_name(&r->library, name, &fn)) return nullptr;
  return reinterpret_cast<Fn>(fn);
}

plugin_record *record_at(const sys_ptralloc_rec *plugins, uint32_t i)
{
  return static_cast<plugin_record *>(plugins->buf[i]);
}

// A line that names the library by its path stands for the plug-in of
// that file's name: resources name "corda_lpcm", never a path.
std::string_view identity_of(std::string_view line)
{
  size_t slash = line.rfind('/');
  if (slash == line.npos) return line;
  std::string_view name = line.substr(slash + 1);
  if (name.starts_with("lib")) name.remove_prefix(3);
  if (name.ends_with(".so")) name.remove_suffix(3);
  return name.empty() ? line.substr(slash + 1) : name;
}

// The MIME type that a resource is served under; false when it has no
// protocolInfo of four fields.
bool served_type(const didl_property *p, std::string_view *type)
{
  const char *info = didl_attribute_get(&p->attributes, DIDL_NAME(AT_PROTOCOL_INFO));
  return info && didl::content_format(info, type);
}

bool same_type(std::string_view a, std::string_view b)
{
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

extern "C" {

plugin_record *plugin_load(const char *name)
{
  auto *r = static_cast<plugin_record *>(sys_alloc_zero(sizeof(plugin_record)));
  if (!r) return nullptr;
  std::string_view id = identity_of(name);
  if ((r->name = static_cast<char *>(sys_alloc(id.size() + 1)))) {
    std::memcpy(r->name, id.data(), id.size());
    r->name[id.size()] = 0;
  }
  if (!r->name || !sys_dlib_load(&r->library, name)) {
    sys_alloc_free(r->name);
    sys_alloc_free(r);
    return nullptr;
  }
  auto init = entry_point<tarvo_msf_init_fn>(r, "tarvo_msf_init");
  if (!init || !init()) {
    // Not ready: its tarvo_msf_free is never called.
    plugin_unload(r);
    return nullptr;
  }
  r->free = entry_point<tarvo_msf_free_fn>(r, "tarvo_msf_free");
  if (!r->free) {
    plugin_unload(r);
    return nullptr;
  }
  r->get_dot_suffix = entry_point<tarvo_msf_get_dot_suffix_fn>(r, "tarvo_msf_get_dot_suffix");
  r->http_get = entry_point<tarvo_msf_http_get_fn>(r, "tarvo_msf_http_get");
  r->export_xml = entry_point<tarvo_msf_export_xml_fn>(r, "tarvo_msf_export_xml");
  r->export_xml_db = entry_point<tarvo_msf_export_xml_db_fn>(r, "tarvo_msf_export_xml_db");
  r->import_xml_db = entry_point<tarvo_msf_import_xml_db_fn>(r, "tarvo_msf_import_xml_db");
  r->get_size = entry_point<tarvo_msf_get_size_fn>(r, "tarvo_msf_get_size");
  r->as_is_updated = entry_point<tarvo_msf_as_is_updated_fn>(r, "tarvo_msf_as_is_updated");
  r->as_rewrite = entry_point<tarvo_msf_as_rewrite_fn>(r, "tarvo_msf_as_rewrite");
  return r;
}

void plugin_unload(plugin_record *r)
{
  if (!r) return;
  if (r->free) r->free();
  if (r->library) sys_dlib_free(&r->library);
  sys_alloc_free(r->name);
  sys_alloc_free(r);
}

int plugins_load(server_rec *s)
{
  sys_str_list lines = nullptr;
  if (!conf_list_read(s->data_home, CONF_KEY_FILTER, &lines)) return 0;
  int ok = 1;
  for (char **l = lines; ok && *l; l++) {
    plugin_record *r = plugin_load(*l);
    if (r && !sys_ptralloc_append(&s->content.plugins, r)) {
      plugin_unload(r);
      ok = 0;
    }
  }
  sys_str_list_free(lines);
  if (!ok) plugins_unload(s);
  return ok;
}

void plugins_unload(server_rec *s)
{
  sys_ptralloc_rec *p = &s->content.plugins;
  while (p->len) plugin_unload(record_at(p, --p->len));
  sys_ptralloc_free(p);
  *p = sys_ptralloc_rec{};
}

plugin_record *plugin_find(const sys_ptralloc_rec *plugins, const char *name)
{
  for (uint32_t i = 0; name && i < plugins->len; i++)
    if (!sys_str_diff(record_at(plugins, i)->name, name)) return record_at(plugins, i);
  return nullptr;
}

int plugin_resource_served(const sys_ptralloc_rec *plugins, const didl_object *o, const didl_property *p)
{
  const char *filter = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILTER));
  const char *file = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME));
  if (!filter || !file) return 1;
  const plugin_record *r = plugins ? plugin_find(plugins, filter) : nullptr;
  if (r && r->http_get) return 1;
  // The host sends the file: right only under the file's own type, which
  // its first resource carries (a playlist's is that first one).
  if (!didl_attribute_get(&p->attributes, DIDL_NAME(AT_PROTOCOL_INFO))) return 1;
  std::string_view type, own;
  if (!served_type(p, &type)) return 0;
  for (uint32_t i = 0; i < o->properties.len; i++) {
    const didl_property *q = property_at(o, i);
    const char *name = didl_attribute_get(&q->attributes, DIDL_NAME(AT_TARVO_FILENAME));
    if (q->element != DIDL_NAME(EL_RES) || !name || sys_str_diff(name, file)) continue;
    return q == p || (served_type(q, &own) && same_type(own, type));
  }
  return 1;
}

int plugins_any_is_updated(const sys_ptralloc_rec *plugins, const char *path, const char *mime,
                           const uint64_t *timestamp, const didl_object *object)
{
  for (uint32_t i = 0; i < plugins->len; i++) {
    plugin_record *r = record_at(plugins, i);
    if (r->as_is_updated && r->as_is_updated(path, mime, timestamp, object)) return 1;
  }
  return 0;
}

int plugins_rewrite(const sys_ptralloc_rec *plugins, const char *path, const char *mime, didl_object **object)
{
  bool any = false;
  for (uint32_t i = 0; i < plugins->len && !any; i++)
    any = record_at(plugins, i)->as_is_updated && record_at(plugins, i)->as_rewrite;
  if (!any) return 1;

  sys_stralloc_rec text{};
  own::str buffer;
  srv::object_owner fresh;
  bool ok = didl_xml_begin(&text, 1) && didl_write(&text, *object, plugins) && didl_xml_end(&text) &&
            sys_stralloc_append(&text, "") &&
            (buffer.s = static_cast<char *>(sys_alloc_zero(TARVO_MSF_BUFFER_SIZE))) != nullptr;
  for (uint32_t i = 0; ok && i < plugins->len; i++) {
    plugin_record *r = record_at(plugins, i);
    if (!r->as_is_updated || !r->as_rewrite || !r->as_is_updated(path, mime, nullptr, *object)) continue;
    if (!r->as_rewrite(path, mime, text.buf, buffer.s, TARVO_MSF_BUFFER_SIZE)) continue;
    // An answer without its NUL inside the buffer is no answer.
    if (!std::memchr(buffer.s, 0, TARVO_MSF_BUFFER_SIZE)) continue;
    // An answer that is not one object would lose the item: the next
    // plug-in gets the text from before this one.
    srv::object_owner parsed;
    if (!didl_parse_one(buffer.s, 0, &parsed.p)) {
      sys_log_print(SYS_LOG_WARNING, "%s: plug-in %s gave no object; its rewrite is left out", path, r->name);
      continue;
    }
    didl_object_free(fresh.p);
    fresh.p = parsed.release();
    ok = sys_stralloc_copys(&text, buffer.s) && sys_stralloc_append(&text, "");
  }
  if (ok && fresh.p) {
    didl_object_free(*object);
    *object = fresh.release();
  }
  sys_stralloc_free(&text);
  return ok;
}

int plugin_dot_suffix(const sys_ptralloc_rec *plugins, const char *filter, const char *protocol_info,
                      char *buf, uint32_t size)
{
  plugin_record *r = plugin_find(plugins, filter);
  const char *suffix = r && r->get_dot_suffix ? r->get_dot_suffix(protocol_info) : nullptr;
  if (!suffix || suffix[0] != '.') return 0;
  uint32_t len = sys_str_len(suffix);
  // The suffix ends a URL path: no folder steps in it.
  if (len >= size || sys_str_chr(suffix, '/') < len) return 0;
  sys_str_copy(buf, suffix);
  return 1;
}

}  // extern "C"
