// The sidecar-title plug-in: the properties of <media file>.didl merged
// into the item's text, the sidecar's title first.
#include <corda_common/msf_common.h>
#include <corda_didl/corda_didl_limits.h>

#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace {

// Elements that the server owns: a sidecar never replaces or adds them.
// The document's and the objects' own names cannot stand as a property:
// written, they would make the item unreadable.
bool kept_name(const char *name)
{
  static const char *const kKept[] = {"DIDL-Lite",
                                      "item",
                                      "container",
                                      "res",
                                      "upnp:class",
                                      "upnp:searchClass",
                                      "upnp:createClass",
                                      "upnp:writeStatus",
                                      "upnp:storageTotal",
                                      "upnp:storageUsed",
                                      "upnp:storageFree",
                                      "upnp:storageMaxPartition",
                                      "upnp:storageMedium"};
  for (const char *k : kKept)
    if (!std::strcmp(name, k)) return true;
  return false;
}

bool blank(const char *text)
{
  for (const char *p = text ? text : ""; *p; p++)
    if (*p != ' ' && (*p < 9 || *p > 13)) return false;
  return true;
}

std::string sidecar_of(const char *path) { return std::string(path) + ".didl"; }

uint64_t sidecar_time(const sys_file_stat_rec &st)
{
  int64_t t = st.mtime > st.ctime ? st.mtime : st.ctime;
  return t > 0 ? uint64_t(t) : 0;
}

// A failed read is tried again only while it may pass: a sidecar that is
// missing, too big or unreadable stays so, and every try costs a pause
// under the content-database lock.
bool read_sidecar(const std::string &side, sys_stralloc_rec *text)
{
  for (uint32_t attempt = 0; attempt < CORDA_DIDL_READ_TRIES; attempt++) {
    if (attempt) sys_thread_sleep(CORDA_DIDL_RETRY_PAUSE_MS);
    sys_file_stat_rec st;
    if (!msf_regular_file(side.c_str(), &st) || st.size > CORDA_DIDL_SIDECAR_MAX) return false;
    text->len = 0;
    if (file_read_all_max(side.c_str(), text, CORDA_DIDL_SIDECAR_MAX)) return sys_stralloc_append(text, "");
    // The process's own rights, not its real user's: root without the
    // right to override file modes would otherwise retry for nothing.
    if (faccessat(AT_FDCWD, side.c_str(), R_OK, AT_EACCESS) != 0) return false;
  }
  return false;
}

// The one object of the sidecar and its time, and the prefixes that the
// item's text declares, each between blanks.
struct sidecar {
  avcp_didl_object *object = nullptr;
  uint64_t time = 0;
  std::string prefixes = " ";
  ~sidecar() { avcp_didl_object_free(object); }
};

bool load(const char *path, sidecar *s)
{
  std::string side = sidecar_of(path);
  own::stralloc text;
  avcp_didl_object_list list = nullptr;
  if (!read_sidecar(side, &text.s) || !avcp_didl_parse(text.s.buf, &list)) return false;
  bool one = list[0] && !list[1];
  if (one) {
    s->object = list[0];
    list[0] = nullptr;
  }
  avcp_didl_object_list_free(list);
  sys_file_stat_rec st;
  if (!one || !utf8file_stat(side.c_str(), &st)) return false;
  s->time = sidecar_time(st);
  return true;
}

sidecar *side_of(msf_rewrite_rec *f) { return static_cast<sidecar *>(f->user); }

bool object_element(const msf_rewrite_rec *f, const char *name)
{
  return f->depth == 2 && (!std::strcmp(name, "item") || !std::strcmp(name, "container"));
}

// The prefixes that a start tag of the root or the object declares.
bool prefixes_note(sidecar *s, const char *const *attr_names)
{
  try {
    for (uint32_t i = 0; attr_names[i]; i++)
      if (sys_str_start(attr_names[i], "xmlns:")) s->prefixes.append(attr_names[i] + 6).append(" ");
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}

// A name without a prefix, or with one that the item's text declares.
bool bound(const sidecar *s, const char *name)
{
  const char *colon = std::strchr(name, ':');
  if (!colon) return true;
  std::string_view prefix(name, size_t(colon - name));
  if (prefix == "xml") return true;
  if (prefix.empty()) return false;
  for (size_t at = s->prefixes.find(prefix); at != std::string::npos; at = s->prefixes.find(prefix, at + 1))
    if (s->prefixes[at - 1] == ' ' && s->prefixes[at + prefix.size()] == ' ') return true;
  return false;
}

// A sidecar property that the item's text can hold: not one of the names
// the server owns, and every name of it bound to a namespace there.
bool writable(const sidecar *s, const avcp_didl_property *p)
{
  if (kept_name(p->element) || !bound(s, p->element)) return false;
  for (uint32_t i = 0; p->attribute_names && p->attribute_names[i]; i++)
    if (!bound(s, p->attribute_names[i])) return false;
  return true;
}

bool sidecar_has(const sidecar *s, const char *name)
{
  for (avcp_didl_property **p = s->object->properties; p && *p; p++)
    if (!std::strcmp((*p)->element, name) && writable(s, *p)) return true;
  return false;
}

// The start tag, with every tarvo:timestamp raised to the sidecar's time.
int start_tag(msf_rewrite_rec *f, const char *name, const char *const *attr_names, const char *const *attr_values)
{
  if (!sys_stralloc_cats(&f->out, "<") || !sys_stralloc_cats(&f->out, name)) return MSF_TAG_FAIL;
  for (uint32_t i = 0; attr_names[i]; i++) {
    const char *value = attr_values[i];
    char raised[24];
    if (!std::strcmp(attr_names[i], "tarvo:timestamp")) {
      uint64_t t = 0;
      uint32_t n = sys_str_scan_uint64(value, &t);
      if (!n || value[n]) return MSF_TAG_FAIL;
      if (t < side_of(f)->time) {
        raised[sys_str_fmt_uint64(raised, side_of(f)->time)] = 0;
        value = raised;
      }
    }
    if (!xml_gen_attribute_append(&f->out, attr_names[i], value)) return MSF_TAG_FAIL;
  }
  return sys_stralloc_cats(&f->out, ">") ? MSF_TAG_WRITTEN : MSF_TAG_FAIL;
}

// Only properties of the object give way to the sidecar's: the root and
// the object element always stay, whatever the sidecar names.
int on_start(msf_rewrite_rec *f, const char *name, const char *const *attr_names, const char *const *attr_values)
{
  if (f->depth <= 2 && !prefixes_note(side_of(f), attr_names)) return MSF_TAG_FAIL;
  if (f->depth > 2 && sidecar_has(side_of(f), name)) return MSF_TAG_DROP;
  return start_tag(f, name, attr_names, attr_values);
}

int after_start(msf_rewrite_rec *f, const char *name)
{
  if (!object_element(f, name)) return 1;
  avcp_didl_property *title = avcp_didl_property_find(side_of(f)->object, "dc:title");
  return !title || blank(title->text) || !bound(side_of(f), "dc:title") ||
         xml_gen_element_append(&f->out, "dc:title", title->text);
}

bool property_append(sys_stralloc_rec *out, const avcp_didl_property *p)
{
  if (!sys_stralloc_cats(out, "<") || !sys_stralloc_cats(out, p->element)) return false;
  for (uint32_t i = 0; p->attribute_names && p->attribute_names[i]; i++)
    if (!xml_gen_attribute_append(out, p->attribute_names[i], p->attribute_values[i])) return false;
  return sys_stralloc_cats(out, ">") && xml_gen_encode_append(out, p->text) && sys_stralloc_cats(out, "</") &&
         sys_stralloc_cats(out, p->element) && sys_stralloc_cats(out, ">\r\n");
}

int before_end(msf_rewrite_rec *f, const char *name)
{
  if (!object_element(f, name)) return 1;
  for (avcp_didl_property **p = side_of(f)->object->properties; p && *p; p++) {
    const char *element = (*p)->element;
    if (!std::strcmp(element, "dc:title") || !writable(side_of(f), *p) || blank((*p)->text)) continue;
    if (!property_append(&f->out, *p)) return 0;
  }
  return 1;
}

const msf_rewrite_hooks kMerge = {on_start, after_start, before_end, nullptr};

int merge(const char *path, const char *text, char *buffer, uint32_t capacity)
{
  sidecar s;
  if (!path || !load(path, &s)) return 0;
  return msf_rewrite_run(&kMerge, &s, text, buffer, capacity);
}

}  // namespace

extern "C" {

int tarvo_msf_init(void) { return 1; }

void tarvo_msf_free(void) {}

int tarvo_msf_as_is_updated(const char *path, const char *, const uint64_t *timestamp, const didl_object *)
{
  sys_file_stat_rec st;
  if (!path || !msf_regular_file(sidecar_of(path).c_str(), &st)) return 0;
  if (!timestamp) return 1;
  return !(*timestamp && *timestamp >= sidecar_time(st));
}

int tarvo_msf_as_rewrite(const char *path, const char *, const char *text, char *buffer, uint32_t capacity)
{
  return merge(path, text, buffer, capacity);
}

int tarvo_msf_import_xml_db(const char *path, const char *text, char *buffer, uint32_t capacity)
{
  return merge(path, text, buffer, capacity);
}

}  // extern "C"
