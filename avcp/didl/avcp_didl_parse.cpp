// The DIDL-Lite parser (expat, namespace separator '|') and the document's
// start and end tags.
#include "avcp_didl_impl.h"

#include <tarvo_avcp/avcp_limits.h>
#include <tarvo_util/xml.h>

#include <expat.h>

#include <cstring>

namespace {

using avcp_didl::element_find;
using avcp_didl::attribute_find;

constexpr int kFatal = -1;

const char *name_of(int index) { return avcp_didl_name_table[index]; }

bool ns_starts(std::string_view ns, int index) { return ns.starts_with(name_of(index)); }

// Splits expat's "URI|local" (or a bare name) into namespace and local name.
void split_expanded(const char *name, std::string_view *ns, std::string_view *local, bool *has_ns)
{
  std::string_view n(name);
  size_t bar = n.rfind('|');
  *has_ns = bar != std::string_view::npos;
  *ns = *has_ns ? n.substr(0, bar) : std::string_view();
  *local = *has_ns ? n.substr(bar + 1) : n;
}

// Joins prefix and local name and finds it with find; nullptr when it is
// too long to be in the table.
const char *find_prefixed(std::string_view prefix, std::string_view local,
                          const char *(*find)(std::string_view))
{
  char buf[AVCP_DIDL_NAME_MAX];
  if (prefix.size() + local.size() > sizeof buf) return nullptr;
  std::memcpy(buf, prefix.data(), prefix.size());
  std::memcpy(buf + prefix.size(), local.data(), local.size());
  return find(std::string_view(buf, prefix.size() + local.size()));
}

const char *element_name_map(const char *name)
{
  std::string_view ns, local;
  bool has_ns;
  split_expanded(name, &ns, &local, &has_ns);
  if (!has_ns) return nullptr;
  const char *prefix;
  if (ns_starts(ns, AVCP_DIDL_NS_DIDL_LITE_BARE)) prefix = "";
  else if (ns_starts(ns, AVCP_DIDL_NS_UPNP_BARE)) prefix = "upnp:";
  else if (ns_starts(ns, AVCP_DIDL_NS_DC)) prefix = "dc:";
  else if (ns_starts(ns, AVCP_DIDL_NS_DLNA)) prefix = "dlna:";
  else if (ns_starts(ns, AVCP_DIDL_NS_ARIB)) prefix = "arib:";
  else return nullptr;
  return find_prefixed(prefix, local, element_find);
}

const char *attribute_name_map(const char *name)
{
  std::string_view ns, local;
  bool has_ns;
  split_expanded(name, &ns, &local, &has_ns);
  const char *prefix;
  if (!has_ns || ns_starts(ns, AVCP_DIDL_NS_DIDL_LITE) || ns_starts(ns, AVCP_DIDL_NS_UPNP) ||
      ns_starts(ns, AVCP_DIDL_NS_DC))
    prefix = "";
  else if (ns_starts(ns, AVCP_DIDL_NS_DLNA)) prefix = "dlna:";
  else if (ns_starts(ns, AVCP_DIDL_NS_TARVO)) prefix = "tarvo:";
  else if (ns_starts(ns, AVCP_DIDL_NS_ARIB)) prefix = "arib:";
  else return nullptr;
  return find_prefixed(prefix, local, attribute_find);
}

// Hands the entries of a growing pointer array out as an exact,
// NULL-terminated copy; the array is emptied but keeps its room for the
// next record.
template <class T> bool close_array(sys_ptralloc_rec *pa, T ***out)
{
  auto **copy = static_cast<T **>(sys_alloc((size_t(pa->len) + 1) * sizeof(T *)));
  if (!copy) return false;
  if (pa->len) std::memcpy(static_cast<void *>(copy), pa->buf, size_t(pa->len) * sizeof(T *));
  copy[pa->len] = nullptr;
  pa->len = 0;
  *out = copy;
  return true;
}

void free_values(sys_ptralloc_rec *pa)
{
  for (uint32_t i = 0; i < pa->len; i++) sys_alloc_free(pa->buf[i]);
  sys_ptralloc_free(pa);
  *pa = sys_ptralloc_rec{};
}

struct parse_state {
  XML_Parser parser = nullptr;
  int mode = 0;  // 0 normal, > 0 skipping until that depth ends, kFatal
  int64_t depth = 0;
  avcp_didl_object *object = nullptr;
  avcp_didl_property *property = nullptr;
  sys_stralloc_rec text{};
  sys_ptralloc_rec objects{};
  sys_ptralloc_rec properties{};
  sys_ptralloc_rec names{};
  sys_ptralloc_rec values{};
  avcp_didl_object_list result = nullptr;

  ~parse_state()
  {
    avcp_didl_object_free(object);
    avcp_didl_property_free(property);
    for (uint32_t i = 0; i < objects.len; i++) avcp_didl_object_free(static_cast<avcp_didl_object *>(objects.buf[i]));
    sys_ptralloc_free(&objects);
    for (uint32_t i = 0; i < properties.len; i++)
      avcp_didl_property_free(static_cast<avcp_didl_property *>(properties.buf[i]));
    sys_ptralloc_free(&properties);
    sys_ptralloc_free(&names);
    free_values(&values);
    sys_stralloc_free(&text);
    avcp_didl_object_list_free(result);
  }

  void fail()
  {
    mode = kFatal;
    XML_StopParser(parser, XML_FALSE);
  }

  void skip_from_here() { mode = int(depth > INT32_MAX ? INT32_MAX : depth); }

  // Fills the pending name and value arrays from expat's attributes and
  // moves them into the record's two fields.
  bool take_attributes(const char **atts, const char ***names_out, sys_str_list *values_out)
  {
    for (const char **a = atts; *a; a += 2) {
      const char *name = attribute_name_map(a[0]);
      if (!name) continue;
      char *value;
      if (!sys_ptralloc_append(&names, const_cast<char *>(name))) return false;
      if (!sys_str_clone(a[1], &value)) return false;
      if (!sys_ptralloc_append(&values, value)) {
        sys_alloc_free(value);
        return false;
      }
    }
    return close_array(&names, names_out) && close_array(&values, values_out);
  }

  void start(const char *name, const char **atts)
  {
    if (mode == kFatal) return;
    depth++;
    if (mode > 0) return;
    const char *el = element_name_map(name);
    if (depth == 1) {
      if (el != name_of(AVCP_DIDL_EL_DIDL_LITE)) return fail();
    } else if (depth == 2) {
      if (el != name_of(AVCP_DIDL_EL_CONTAINER) && el != name_of(AVCP_DIDL_EL_ITEM)) return skip_from_here();
      object = static_cast<avcp_didl_object *>(sys_alloc_zero(sizeof *object));
      if (!object) return fail();
      object->element = el;
      if (!take_attributes(atts, &object->attribute_names, &object->attribute_values)) return fail();
    } else if (depth == 3) {
      if (!el || el == name_of(AVCP_DIDL_EL_CONTAINER) || el == name_of(AVCP_DIDL_EL_ITEM)) return skip_from_here();
      property = static_cast<avcp_didl_property *>(sys_alloc_zero(sizeof *property));
      if (!property) return fail();
      property->element = el;
      if (!take_attributes(atts, &property->attribute_names, &property->attribute_values)) return fail();
    } else {
      return skip_from_here();
    }
    text.len = 0;
  }

  void end()
  {
    if (mode == kFatal) return;
    if (mode > 0) {
      if (depth == mode) mode = 0;
      depth--;
      return;
    }
    if (depth == 1) {
      if (!close_array(&objects, &result)) return fail();
    } else if (depth == 2) {
      if (!close_array(&properties, &object->properties)) return fail();
      if (!sys_ptralloc_append(&objects, object)) return fail();
      object = nullptr;
      text.len = 0;
    } else if (depth == 3) {
      xml_gen_text_trim(&text);
      if (!sys_ptralloc_append(&properties, property)) return fail();
      // Appended first, so that the property is freed with the others
      // should the copy fail.
      avcp_didl_property *p = property;
      property = nullptr;
      p->text = static_cast<char *>(sys_alloc(size_t(text.len) + 1));
      if (!p->text) return fail();
      if (text.len) std::memcpy(p->text, text.buf, text.len);
      p->text[text.len] = 0;
    }
    depth--;
  }

  void chars(const char *s, int n)
  {
    if (mode != 0 || n <= 0) return;
    if (!sys_stralloc_catb(&text, s, uint32_t(n))) fail();
  }
};

extern "C" void on_start(void *user, const XML_Char *name, const XML_Char **atts)
{
  static_cast<parse_state *>(user)->start(name, atts);
}

extern "C" void on_end(void *user, const XML_Char *)
{
  static_cast<parse_state *>(user)->end();
}

extern "C" void on_chars(void *user, const XML_Char *s, int n)
{
  static_cast<parse_state *>(user)->chars(s, n);
}

}  // namespace

bool avcp_didl::feed(XML_Parser parser, const char *text, size_t n)
{
  while (n > AVCP_DIDL_PARSE_PIECE) {
    if (XML_Parse(parser, text, int(AVCP_DIDL_PARSE_PIECE), XML_FALSE) != XML_STATUS_OK) return false;
    text += AVCP_DIDL_PARSE_PIECE;
    n -= AVCP_DIDL_PARSE_PIECE;
  }
  return XML_Parse(parser, text, int(n), XML_TRUE) == XML_STATUS_OK;
}

extern "C" {

int avcp_didl_parse(const char *text, avcp_didl_object_list *list_out)
{
  if (!text || !list_out) return 0;
  parse_state st;
  st.parser = XML_ParserCreateNS(nullptr, '|');
  if (!st.parser) return 0;
  XML_SetUserData(st.parser, &st);
  XML_SetElementHandler(st.parser, on_start, on_end);
  XML_SetCharacterDataHandler(st.parser, on_chars);
  bool ok = avcp_didl::feed(st.parser, text, std::strlen(text)) && st.mode != kFatal && st.result;
  XML_ParserFree(st.parser);
  if (!ok) return 0;
  *list_out = st.result;
  st.result = nullptr;
  return 1;
}

int avcp_didl_xml_begin(sys_stralloc_rec *out)
{
  const char *pieces[] = {"<",
                          name_of(AVCP_DIDL_EL_DIDL_LITE),
                          " xmlns=\"",
                          name_of(AVCP_DIDL_NS_DIDL_LITE),
                          "\"\r\nxmlns:upnp=\"",
                          name_of(AVCP_DIDL_NS_UPNP),
                          "\"\r\nxmlns:dc=\"",
                          name_of(AVCP_DIDL_NS_DC),
                          "\"\r\nxmlns:dlna=\"",
                          name_of(AVCP_DIDL_NS_DLNA),
                          "\"\r\nxmlns:tarvo=\"",
                          name_of(AVCP_DIDL_NS_TARVO),
                          "\"\r\nxmlns:arib=\"",
                          name_of(AVCP_DIDL_NS_ARIB),
                          "\">\r\n"};
  for (const char *p : pieces)
    if (!sys_stralloc_cats(out, p)) return 0;
  return 1;
}

int avcp_didl_xml_end(sys_stralloc_rec *out)
{
  return sys_stralloc_cats(out, "</") && sys_stralloc_cats(out, name_of(AVCP_DIDL_EL_DIDL_LITE)) &&
         sys_stralloc_cats(out, ">\r\n");
}

}  // extern "C"
