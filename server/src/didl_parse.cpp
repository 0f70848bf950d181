// The strict DIDL-Lite parser of the server: the content database file,
// objects from clients and from plug-ins.
#include "didl_impl.h"

#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/xml.h>

#include <cstring>

namespace {

using didl::name_of;

bool ns_is(const char *ns, int index) { return ns && !std::strcmp(ns, name_of(index)); }

// Joins prefix and local name and finds it with find; nullptr when it is
// too long to be in the table.
const char *find_prefixed(std::string_view prefix, const char *local, const char *(*find)(std::string_view))
{
  char buf[DIDL_NAME_MAX];
  size_t n = std::strlen(local);
  if (prefix.size() + n > sizeof buf) return nullptr;
  std::memcpy(buf, prefix.data(), prefix.size());
  std::memcpy(buf + prefix.size(), local, n);
  return find(std::string_view(buf, prefix.size() + n));
}

const char *element_map(const xml_name_rec *name)
{
  const char *prefix;
  if (ns_is(name->ns, DIDL_NS_DIDL_LITE)) prefix = "";
  else if (ns_is(name->ns, DIDL_NS_UPNP)) prefix = "upnp:";
  else if (ns_is(name->ns, DIDL_NS_DC)) prefix = "dc:";
  else if (ns_is(name->ns, DIDL_NS_TARVO)) prefix = "tarvo:";
  else if (ns_is(name->ns, DIDL_NS_ARIB)) prefix = "arib:";
  else return nullptr;
  return find_prefixed(prefix, name->local, didl::element_find);
}

// The prefix of an attribute's namespace; nullptr for a namespace whose
// attributes are no concern of the model.
const char *attribute_prefix(const char *ns)
{
  if (!ns || ns_is(ns, DIDL_NS_DIDL_LITE) || ns_is(ns, DIDL_NS_UPNP) || ns_is(ns, DIDL_NS_DC)) return "";
  if (ns_is(ns, DIDL_NS_DLNA)) return "dlna:";
  if (ns_is(ns, DIDL_NS_TARVO)) return "tarvo:";
  if (ns_is(ns, DIDL_NS_ARIB)) return "arib:";
  return nullptr;
}

struct parse_state {
  bool check = false;
  bool fatal = false;
  bool done = false;  // the root has ended
  int64_t depth = 0;
  didl_object *object = nullptr;
  didl_property *property = nullptr;
  sys_stralloc_rec text{};
  sys_ptralloc_rec objects{};

  ~parse_state()
  {
    didl_object_free(object);
    didl_property_free(property);
    didl_object_array_free(&objects);
    sys_stralloc_free(&text);
  }

  bool take_attributes(didl_attributes *to, const xml_name_rec *const *names, const char *const *values)
  {
    uint32_t n = 0;
    while (names[n]) n++;
    if (n && !didl::attributes_ready(to, n)) return false;
    for (uint32_t i = 0; names[i]; i++) {
      const char *prefix = attribute_prefix(names[i]->ns);
      if (!prefix) continue;
      const char *name = find_prefixed(prefix, names[i]->local, didl::attribute_find);
      if (!name || !didl_attribute_add(to, name, values[i])) return false;
    }
    return true;
  }

  bool start(const xml_name_rec *name, const xml_name_rec *const *names, const char *const *values)
  {
    depth++;
    const char *el = element_map(name);
    bool is_object = el == DIDL_NAME(EL_CONTAINER) || el == DIDL_NAME(EL_ITEM);
    if (depth == 1) return el == DIDL_NAME(EL_DIDL_LITE) && !done;
    if (depth == 2) {
      if (!is_object) return false;
      object = static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object)));
      if (!object) return false;
      object->element = el;
      return take_attributes(&object->attributes, names, values);
    }
    if (depth > 3 || !el || is_object || el == DIDL_NAME(EL_DIDL_LITE)) return false;
    property = static_cast<didl_property *>(sys_alloc_zero(sizeof(didl_property)));
    if (!property) return false;
    property->element = el;
    text.len = 0;
    return take_attributes(&property->attributes, names, values);
  }

  bool end()
  {
    if (depth == 3) {
      xml_gen_text_trim(&text);
      if (!sys_stralloc_readyplus(&text, 1)) return false;
      text.buf[text.len] = 0;
      if (!didl::text_new(property->element, text.buf, &property->text) || !didl::property_push(object, property))
        return false;
      property = nullptr;
    } else if (depth == 2) {
      if (check && !didl_object_check(object)) return false;
      didl_object_fit(object);
      if (!sys_ptralloc_append(&objects, object)) return false;
      object = nullptr;
    } else if (depth == 1) {
      done = true;
    } else {
      return false;
    }
    depth--;
    return true;
  }
};

parse_state *state_of(void *user) { return static_cast<parse_state *>(user); }

void on_start(const xml_name_rec *name, const xml_name_rec *const *names, const char *const *values, void *user)
{
  parse_state *st = state_of(user);
  if (!st->fatal && !st->start(name, names, values)) st->fatal = true;
}

void on_end(const xml_name_rec *, void *user)
{
  parse_state *st = state_of(user);
  if (!st->fatal && !st->end()) st->fatal = true;
}

void on_text(const char *data, uint32_t len, void *user)
{
  parse_state *st = state_of(user);
  if (!st->fatal && st->depth == 3 && !sys_stralloc_catb(&st->text, data, len)) st->fatal = true;
}

// One parser over the state; feed hands it the input and returns false on
// a read or parse failure.
template <class Feed> bool parse(parse_state *st, Feed feed)
{
  xml_parse_rec rec;
  if (!xml_parse_create(&rec, st)) return false;
  xml_parse_set_element_handler(&rec, on_start, on_end);
  xml_parse_set_text_handler(&rec, on_text);
  bool ok = feed(&rec);
  xml_parse_free(&rec);
  return ok && !st->fatal && st->done;
}

}  // namespace

extern "C" {

int didl_parse(const char *path, int check, sys_ptralloc_rec *objects)
{
  int fd;
  if (!sys_file_open_read(&fd, path)) return 0;
  char *buf = static_cast<char *>(sys_alloc(DIDL_FILE_PIECE));
  parse_state st;
  st.check = check != 0;
  bool ok = buf && parse(&st, [&](xml_parse_rec *rec) {
    for (;;) {
      uint32_t got = 0;
      if (!sys_file_read(fd, buf, DIDL_FILE_PIECE, &got)) return false;
      if (!xml_parse_feed(rec, buf, got, got == 0)) return false;
      if (!got) return true;
    }
  });
  sys_alloc_free(buf);
  sys_file_close(fd);
  if (!ok) return 0;
  *objects = st.objects;
  st.objects = sys_ptralloc_rec{};
  return 1;
}

int didl_parse_one(const char *text, int check, didl_object **object)
{
  if (!text) return 0;
  size_t n = std::strlen(text);
  if (n > UINT32_MAX) return 0;
  parse_state st;
  st.check = check != 0;
  if (!parse(&st, [&](xml_parse_rec *rec) { return xml_parse_feed(rec, text, uint32_t(n), 1) != 0; }) ||
      st.objects.len != 1)
    return 0;
  *object = static_cast<didl_object *>(st.objects.buf[0]);
  st.objects.len = 0;
  return 1;
}

}  // extern "C"
