// The two DIDL-Lite writers: objects as a client sees them, and objects as
// the content database file keeps them; and the document's framing.
#include "didl_impl.h"

#include <vennard/plugin.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/uri.h>
#include <tarvo_util/xml.h>

#include <cstring>
#include <string_view>

namespace {

using didl::name_at;
using didl::name_of;
using didl::value_at;

// What the client form needs beside the object; nullptr stands for the
// database form, which writes everything as it is.
// Its buffers are the thread's own and kept from one object to the next:
// a page of many objects makes no allocation per object for them.
struct client_view {
  char *const *prefixes;
  const didl_filter *filter;
  bool local;
  sys_stralloc_rec &text;   // a property's text with a prefix
  sys_stralloc_rec &value;  // an attribute's value with a prefix
  sys_stralloc_rec &info;   // the protocolInfo of the internal resource
  const sys_ptralloc_rec *plugins;
};

// The buffers of client_view on this thread; one grown past
// DIDL_SCRATCH_KEEP by a long value is given back after the object.
struct client_scratch {
  sys_stralloc_rec text{}, value{}, info{};
  void trim()
  {
    for (sys_stralloc_rec *b : {&text, &value, &info})
      if (b->a > DIDL_SCRATCH_KEEP) sys_stralloc_free(b);
  }
  ~client_scratch()
  {
    for (sys_stralloc_rec *b : {&text, &value, &info}) sys_stralloc_free(b);
  }
};
thread_local client_scratch scratch;

bool cat(sys_stralloc_rec *out, std::initializer_list<const char *> pieces)
{
  for (const char *p : pieces)
    if (!sys_stralloc_cats(out, p)) return false;
  return true;
}

// Where the document goes: as it is, or escaped as the text of another
// document (a SOAP answer), so that it is written once, in the answer's
// form, and not made and then copied escaped.  Names need no escape: no
// XML name holds a byte that has an entity.
struct sink {
  sys_stralloc_rec *buf;
  bool escaped;

  template <size_t P, size_t E> bool put(const char (&plain)[P], const char (&escape)[E])
  {
    return escaped ? sys_stralloc_catb(buf, escape, E - 1) != 0 : sys_stralloc_catb(buf, plain, P - 1) != 0;
  }
  bool name(const char *n) { return sys_stralloc_cats(buf, n) != 0; }
  bool text(const char *t)
  {
    return escaped ? xml_gen_encode_twice_appendb(buf, t, sys_str_len(t)) != 0 : xml_gen_encode_append(buf, t) != 0;
  }
  // "<element"
  bool open(const char *element) { return put("<", "&lt;") && name(element); }
  // ` name="value"`
  bool attribute(const char *n, const char *value)
  {
    return put(" ", " ") && name(n) && put("=\"", "=&quot;") && text(value) && put("\"", "&quot;");
  }
  bool text_begin() { return put(">", "&gt;"); }
  bool children_begin() { return put(">\r\n", "&gt;\r\n"); }
  // "</element>" and the line's end
  bool close(const char *element) { return put("</", "&lt;/") && name(element) && put(">\r\n", "&gt;\r\n"); }
};


// A value of a URI name that begins with "/" or ":" is written behind the
// first URL prefix: the path on this host, or ":<port>/<path>" on another
// port of it.  *out is the value to write, made in buf where it needs a
// prefix; false when memory runs out.
// The pair's type is looked up last: most values begin otherwise.
bool prefixed(const client_view *c, sys_stralloc_rec *buf, const avcp_didl_name_pair &pair, const char *value,
              const char **out)
{
  *out = value;
  if ((value[0] != '/' && value[0] != ':') || !c->prefixes || !c->prefixes[0] ||
      didl_value_type(&pair) != AVCP_DIDL_TYPE_URI)
    return true;
  const char *prefix = c->prefixes[0];
  uint32_t n = sys_str_len(prefix);
  if (value[0] == ':') {
    uint32_t colon = sys_str_rchr(prefix, ':');
    if (colon < n) n = colon;
  }
  if (!sys_stralloc_copyb(buf, prefix, n) || !sys_stralloc_cats(buf, value) || !sys_stralloc_append(buf, ""))
    return false;
  *out = buf->buf;
  return true;
}

// A value that is not well-formed UTF-8 of XML characters is refused:
// written, it would make the document unreadable.  A file's name is the
// exception: it is written in a form that reads back to its bytes.
bool attribute_put(sink &out, const char *name, const char *value)
{
  if (xml_gen_is_legal_value(value)) return out.attribute(name, value);
  std::string escaped;
  return name == DIDL_NAME(AT_TARVO_FILENAME) && didl::filename_escape(value, &escaped) &&
         out.attribute(name, escaped.c_str());
}

bool object_attribute_shown(const client_view *c, const didl_object *o, const char *name)
{
  if (!c) return true;
  if (name == DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID) || name == DIDL_NAME(AT_TARVO_MAX_OBJECT_ID) ||
      name == DIDL_NAME(AT_TARVO_REFERENCED) || name == DIDL_NAME(AT_TARVO_CHILDREN))
    return false;
  if (name == DIDL_NAME(AT_TARVO_PRIVATE) && !c->local) return false;
  return didl_filter_match(c->filter, o->element, name);
}

// internal: the extra file resource of a local requester, whose
// protocolInfo is that text and which carries no tarvo: attributes.
bool property_attribute_shown(const client_view *c, const didl_property *p, const char *name, bool internal)
{
  if (!c) return true;
  if (name == DIDL_NAME(AT_TARVO_TIMESTAMP)) return false;
  if ((name == DIDL_NAME(AT_TARVO_FILTER) || name == DIDL_NAME(AT_TARVO_FILENAME)) && (!c->local || internal))
    return false;
  return didl_filter_match(c->filter, p->element, name);
}

bool property_put(sink &out, const didl_property *p, const char *text, client_view *c,
                  const char *internal_protocol_info = nullptr)
{
  if (!out.open(p->element)) return false;
  const didl_attributes *a = &p->attributes;
  for (uint32_t i = 0; i < a->names.len; i++) {
    const char *name = name_at(a, i), *value = value_at(a, i);
    if (!property_attribute_shown(c, p, name, internal_protocol_info)) continue;
    if (internal_protocol_info && name == DIDL_NAME(AT_PROTOCOL_INFO)) {
      value = internal_protocol_info;
    } else if (c) {
      if (!prefixed(c, &c->value, {p->element, name}, value, &value)) return false;
    }
    if (!attribute_put(out, name, value)) return false;
  }
  return xml_gen_is_legal_value(text) && out.text_begin() && out.text(text) && out.close(p->element);
}

// The resource of a file once more, for a requester on this host: the
// file's own URI, with "internal" for protocol.  A stored protocolInfo
// without its four fields gives no such resource.
bool internal_resource_put(sink &out, const didl_property *p, const char *filename, client_view *c)
{
  const char *stored = didl_attribute_get(&p->attributes, DIDL_NAME(AT_PROTOCOL_INFO));
  std::string_view format;
  if (!stored || !didl::content_format(stored, &format)) return true;
  char *uri = nullptr;
  bool ok = sys_stralloc_copys(&c->info, "internal:127.0.0.1:") &&
            sys_stralloc_catb(&c->info, format.data(), uint32_t(format.size())) && cat(&c->info, {":*"}) &&
            sys_stralloc_append(&c->info, "") && uri_from_path(filename, &uri) &&
            property_put(out, p, uri, c, c->info.buf);
  sys_alloc_free(uri);
  return ok;
}

bool client_property_put(sink &out, const didl_object *o, const didl_property *p, client_view *c)
{
  if (p->element == DIDL_NAME(EL_TARVO_DYNAMIC) || p->element == DIDL_NAME(EL_TARVO_REFLECT_CHILD_PROPERTY) ||
      !didl_filter_match(c->filter, p->element, nullptr))
    return true;
  const char *filename = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME));
  if (p->element != DIDL_NAME(EL_RES) || !filename) {
    // A res stored as a path (one that CreateObject took with this
    // server's URL) is written with the requester's prefix like any URI.
    const char *text;
    if (!prefixed(c, &c->text, {p->element, nullptr}, p->text, &text)) return false;
    return property_put(out, p, text, c);
  }
  // A resource no plug-in can answer would be the file under a type it is
  // not: a player would play noise.
  if (!plugin_resource_served(c->plugins, o, p)) return true;
  for (char *const *prefix = c->prefixes; prefix && *prefix; prefix++) {
    if (!sys_stralloc_copys(&c->text, *prefix) || !sys_stralloc_cats(&c->text, p->text) ||
        !sys_stralloc_append(&c->text, "") || !property_put(out, p, c->text.buf, c))
      return false;
  }
  if (!c->local || didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILTER))) return true;
  return internal_resource_put(out, p, filename, c);
}

bool object_put(sink &out, const didl_object *o, client_view *c)
{
  if (!out.open(o->element)) return false;
  for (uint32_t i = 0; i < o->attributes.names.len; i++) {
    const char *name = name_at(&o->attributes, i);
    if (object_attribute_shown(c, o, name) && !attribute_put(out, name, value_at(&o->attributes, i))) return false;
  }
  if (!out.children_begin()) return false;
  for (uint32_t i = 0; i < o->properties.len; i++) {
    const didl_property *p = property_at(o, i);
    if (!(c ? client_property_put(out, o, p, c) : property_put(out, p, p->text, nullptr))) return false;
  }
  return out.close(o->element);
}

// The object's text, from start to the end of out, passes through every
// plug-in that has the hook (call returns -1 for one that has none); a
// plug-in's answer replaces it when the plug-in says so and the answer
// ends inside the buffer.
template <class Call> bool hooks_apply(sys_stralloc_rec *out, uint32_t start, const sys_ptralloc_rec *plugins, Call call)
{
  char *buf = nullptr;
  bool ok = true;
  for (uint32_t i = 0; ok && plugins && i < plugins->len; i++) {
    if (!(ok = sys_stralloc_readyplus(out, 1))) break;
    out->buf[out->len] = 0;
    if (!buf && !(ok = (buf = static_cast<char *>(sys_alloc_zero(DIDL_PLUGIN_BUFFER))) != nullptr)) break;
    int r = call(static_cast<const plugin_record *>(plugins->buf[i]), out->buf + start, buf);
    if (r <= 0 || !std::memchr(buf, 0, DIDL_PLUGIN_BUFFER)) continue;
    out->len = start;
    ok = sys_stralloc_cats(out, buf);
  }
  sys_alloc_free(buf);
  return ok;
}

}  // namespace

extern "C" {

int didl_write_for_client(sys_stralloc_rec *out, const didl_object *object, char *const *url_prefixes,
                          const didl_filter *filter, int local, const connection_addresses *connection,
                          const sys_ptralloc_rec *plugins)
{
  uint32_t start = out->len;
  client_view c{url_prefixes, filter, local != 0, scratch.text, scratch.value, scratch.info, plugins};
  connection_addresses none{};
  const connection_addresses *addresses = connection ? connection : &none;
  sink to{out, false};
  bool ok = object_put(to, object, &c) &&
            (!didl_property_first(object, DIDL_NAME(EL_TARVO_DYNAMIC)) ||
             hooks_apply(out, start, plugins, [addresses](const plugin_record *r, const char *text, char *buf) {
               return r->export_xml ? r->export_xml(addresses, text, buf, DIDL_PLUGIN_BUFFER) != 0 : -1;
             }));
  scratch.trim();
  if (!ok) out->len = start;
  return ok;
}

int didl_write_for_client_escaped(sys_stralloc_rec *out, const didl_object *object, char *const *url_prefixes,
                                  const didl_filter *filter, int local, const connection_addresses *connection,
                                  const sys_ptralloc_rec *plugins)
{
  if (didl_property_first(object, DIDL_NAME(EL_TARVO_DYNAMIC))) {
    // The plug-ins read and rewrite the object's text as it is: it is
    // made so first.
    own::stralloc plain;
    return didl_write_for_client(&plain.s, object, url_prefixes, filter, local, connection, plugins) &&
           xml_gen_encode_appendb(out, plain.s.buf, plain.s.len);
  }
  uint32_t start = out->len;
  client_view c{url_prefixes, filter, local != 0, scratch.text, scratch.value, scratch.info, plugins};
  sink to{out, true};
  bool ok = object_put(to, object, &c);
  scratch.trim();
  if (!ok) out->len = start;
  return ok;
}

int didl_write(sys_stralloc_rec *out, const didl_object *object, const sys_ptralloc_rec *plugins)
{
  uint32_t start = out->len;
  sink to{out, false};
  bool ok = object_put(to, object, nullptr) &&
            (!didl_property_first(object, DIDL_NAME(EL_TARVO_DYNAMIC)) ||
             hooks_apply(out, start, plugins, [](const plugin_record *r, const char *text, char *buf) {
               return r->export_xml_db ? r->export_xml_db(text, buf, DIDL_PLUGIN_BUFFER) != 0 : -1;
             }));
  if (!ok) out->len = start;
  return ok;
}

int didl_xml_begin(sys_stralloc_rec *out, int with_private)
{
  out->len = 0;
  const struct {
    const char *prefix;
    int ns;
  } lines[] = {{" xmlns=\"", DIDL_NS_DIDL_LITE}, {"\"\r\nxmlns:upnp=\"", DIDL_NS_UPNP},
               {"\"\r\nxmlns:dc=\"", DIDL_NS_DC},  {"\"\r\nxmlns:dlna=\"", DIDL_NS_DLNA},
               {"\"\r\nxmlns:tarvo=\"", DIDL_NS_TARVO}, {"\"\r\nxmlns:arib=\"", DIDL_NS_ARIB}};
  if (!cat(out, {"<", DIDL_NAME(EL_DIDL_LITE)})) return 0;
  for (const auto &l : lines)
    if ((l.ns != DIDL_NS_TARVO || with_private) && !cat(out, {l.prefix, name_of(l.ns)})) return 0;
  return cat(out, {"\">\r\n"});
}

int didl_xml_end(sys_stralloc_rec *out) { return cat(out, {"</", DIDL_NAME(EL_DIDL_LITE), ">\r\n"}); }

}  // extern "C"
